// The entry's tests with the later steps replaced by a recorder.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "context/installer_context.h"
#include "entry/entry.h"
#include "support/atlas_card.h"

namespace autorun::testing {

inline constexpr char16_t kMarkKey[] = u"Software\\Atlas";
inline constexpr char16_t kMarkName[] = u"Installed";
inline constexpr char16_t kCardConfiguration[] = u"\\Storage Card\\2577\\autorun_8.qlm";

// Stands in for the loader and the flows; records what the entry asked for.
class RecordingSteps : public StartupSteps {
 public:
  int loadResult = 0;
  std::u16string installerPath = u"\\storage card\\2577\\autorun.exe";
  std::map<std::u16string, std::u16string> values;
  std::vector<std::string> calls;
  // What the flow saw of a value that held the card placeholder.
  std::u16string cardValueSeenByFlow;

  int loadConfiguration(InstallerContext& context) override {
    context.installerPath = installerPath;
    for (const auto& [key, value] : values) context.config.setValue(key, value);
    calls.push_back("load");
    return loadResult;
  }
  bool runInstall(InstallerContext& context, bool interactive) override {
    record(context, interactive ? "install interactive" : "install silent");
    return true;
  }
  void runUninstall(InstallerContext& context, bool interactive) override {
    record(context, interactive ? "uninstall interactive" : "uninstall silent");
  }
  void askReinstall(InstallerContext& context) override { record(context, "reinstall"); }
  void onCardInserted(InstallerContext& context) override { record(context, "inserted"); }
  void onCardRemoved(InstallerContext& context) override { record(context, "removed"); }

 private:
  void record(InstallerContext& context, const char* call) {
    calls.push_back(call);
    cardValueSeenByFlow = context.config.getString(u"upgrade/application_dat", u"");
  }
};

}  // namespace autorun::testing
