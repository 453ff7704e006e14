// A device held in memory for the fuzzers: files served from a map, one storage card, the
// usual special folders, and harmless answers for everything else. Fast enough to run a
// reader tens of thousands of times a second, with no host files involved.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/null_platform.h"

namespace autorun::fuzz {

class MemoryPlatform : public NullPlatform {
 public:
  // Device paths as the installer spells them (matched exactly) -> contents.
  std::map<std::u16string, std::vector<std::uint8_t>> files;
  std::u16string modulePath = u"\\Storage Card\\2577\\autorun.exe";
  int messageBoxes = 0;

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override {
    if (mode == FileOpenMode::WriteTruncate) return nullptr;
    const auto it = files.find(path);
    if (it == files.end()) return nullptr;
    return std::make_unique<MemoryFile>(it->second);
  }
  std::uint32_t fileAttributes(const std::u16string& path) override {
    return files.count(path) != 0 ? 0x20u : kInvalidAttributes;
  }
  std::optional<std::uint64_t> freeBytes(const std::u16string&) override { return 1u << 30; }

  std::u16string moduleFileName(ModuleHandle) override { return modulePath; }
  std::u16string specialFolderPath(int number) override {
    switch (number) {
      case 2:
        return u"\\Windows\\Start Menu\\Programs";
      case 5:
        return u"\\My Documents";
      case 36:
        return u"\\Windows";
      case 38:
        return u"\\Program Files";
      default:
        return {};
    }
  }
  std::unique_ptr<CardEnumeration> findFirstCard(std::u16string& firstCard) override {
    struct OneCard : CardEnumeration {
      bool next(std::u16string&) override { return false; }
    };
    firstCard = u"Storage Card";
    return std::make_unique<OneCard>();
  }

  int messageBox(const std::u16string&, const std::u16string&, std::uint32_t) override {
    ++messageBoxes;
    return kIdOk;
  }
};

}  // namespace autorun::fuzz
