#include "common/rehearsal.h"

#include "context/card_discovery.h"
#include "context/config_loader.h"
#include "entry/entry.h"
#include "ui/question_dialog.h"

namespace autorun::host {

namespace {

constexpr std::u16string_view kUninstaller = u"\\Storage Card\\2577\\uninstall.exe";

}  // namespace

Rehearsal::Rehearsal(ScratchDevice& device, std::string key)
    : device_(device), key_(std::move(key)) {
  planning_ = device_.platform();
  planningContext_ = std::make_unique<InstallerContext>(*planning_, key_);
  InstallerContext& context = *planningContext_;
  context.moduleHandle = sim::SimPlatform::kModuleHandle;
  context.commandLine = u"install";
  loadResult_ = loadConfiguration(context);
  publishFolderVariables(context);
  if (loadResult_ != kLoadOk) return;
  // The files whose bytes the installer reads.
  device_.provideContent(planning_->sim(), logoPath(context));
  const std::u16string stamped = context.config.getString(u"upgrade/application_dat", u"");
  if (!stamped.empty()) device_.provideContent(planning_->sim(), findCardFolder(context) + stamped);
}

Rehearsal::~Rehearsal() {
  // Each context goes before the device it runs on.
  uninstallContext_.reset();
  installContext_.reset();
  planningContext_.reset();
}

int Rehearsal::install() {
  sim::SimOptions options;
  options.answers = {true};
  installing_ = device_.platform(std::move(options));
  installContext_ = std::make_unique<InstallerContext>(*installing_, key_);
  return runEntry(*installContext_, sim::SimPlatform::kModuleHandle, u"install");
}

const std::vector<nlohmann::json>& Rehearsal::installTrace() const {
  return installing_->sim().trace();
}

int Rehearsal::uninstall() {
  sim::SimOptions options;
  options.answers = {true};
  options.installerPath = std::u16string(kUninstaller);
  uninstalling_ = device_.platform(std::move(options));
  uninstallContext_ = std::make_unique<InstallerContext>(*uninstalling_, key_);
  return runEntry(*uninstallContext_, sim::SimPlatform::kModuleHandle, u"");
}

const std::vector<nlohmann::json>& Rehearsal::uninstallTrace() const {
  return uninstalling_->sim().trace();
}

bool Rehearsal::installedAfterUninstall() {
  return isInstalled(*uninstallContext_);
}

}  // namespace autorun::host
