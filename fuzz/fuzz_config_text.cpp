// The configuration text parser: decoded bytes (UTF-16LE after the byte-order mark) into a
// store, and what loading and the entry then do with the entries.
#include <cstddef>
#include <cstdint>

#include "actions/action_list.h"
#include "base/config_store.h"
#include "base/wide_text.h"
#include "context/config_loader.h"
#include "fuzz_check.h"

using autorun::ConfigStore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ConfigStore store;
  const bool hasMark = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  const bool parsed = store.parseText(data, size);
  FUZZ_CHECK(parsed == hasMark);
  if (!parsed) {
    FUZZ_CHECK(store.entries().empty());
    return 0;
  }

  for (const auto& [key, value] : store.entries()) {
    FUZZ_CHECK(autorun::foldLower(key) == key);
    FUZZ_CHECK(key.find(u'/') != std::u16string::npos);
  }

  // What loading and the entry do with a parsed text.
  autorun::fillMessageTexts(store);
  store.applyVariable(u"PERSONAL", u"\\My Documents");
  store.applyVariable(u"PROGRAM_FILES", u"\\Program Files");
  store.applyVariable(u"WINDOWS", u"\\Windows");
  store.applyVariable(u"PROGRAMS", u"\\Windows\\Start Menu\\Programs");
  store.applyVariable(u"SDCARD", u"\\Storage Card");
  for (const std::u16string& key : store.listKeys(u"*")) {
    (void)store.getInt(key, -1);
    (void)store.hasKey(key);
  }
  (void)store.listKeys(u"install_actions");
  autorun::walkActionList(
      store, u"install_actions", u"src", [&store](std::uint32_t n, const std::u16string&) {
        (void)store.getString(autorun::actionKey(u"install_actions", u"dst", n), u"");
      });

  // A second text after clear starts in the section where the first ended.
  store.clear();
  FUZZ_CHECK(store.parseText(data, size));
  return 0;
}
