// The installer's own entry run on a scratch device (see scratch_device.h): the
// configuration loaded as at start, an installation from the card answered Yes, then
// uninstall.exe answered Yes, with what each run did.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/scratch_device.h"
#include "context/installer_context.h"

namespace autorun::host {

class Rehearsal {
 public:
  // Loads the card's configuration on the fresh device as the installer does at start,
  // with the folder variables published, and gives the stand-ins of the logo and of the
  // executable with the version stamp their bytes. Throws CardError.
  Rehearsal(ScratchDevice& device, std::string key);
  ~Rehearsal();

  // The load result (0 when the configuration loaded).
  int loadResult() const { return loadResult_; }
  // The loaded configuration on the fresh device, before any run: for planning.
  InstallerContext& planning() { return *planningContext_; }
  ScratchPlatform& planningPlatform() { return *planning_; }

  // Runs "install" on the fresh device: the install question is answered Yes, every other
  // question No. Returns the installer's exit code.
  int install();
  const std::vector<nlohmann::json>& installTrace() const;
  // The device as the installation left it, and the installation's context.
  ScratchPlatform& installed() { return *installing_; }
  InstallerContext& installedContext() { return *installContext_; }

  // Then runs uninstall.exe, its question answered Yes. Returns the exit code.
  int uninstall();
  const std::vector<nlohmann::json>& uninstallTrace() const;
  // Whether "registry/installed" reads 1 after the uninstallation.
  bool installedAfterUninstall();

 private:
  ScratchDevice& device_;
  std::string key_;
  std::unique_ptr<ScratchPlatform> planning_;
  std::unique_ptr<InstallerContext> planningContext_;
  int loadResult_ = 0;
  std::unique_ptr<ScratchPlatform> installing_;
  std::unique_ptr<InstallerContext> installContext_;
  std::unique_ptr<ScratchPlatform> uninstalling_;
  std::unique_ptr<InstallerContext> uninstallContext_;
};

}  // namespace autorun::host
