// autorun-plan --device DIR: loads the configuration of a simulated device as the entry
// does and plans "install_actions" as the install flow does (the "makedir" folders, then
// the copy actions), without changing the device. Prints what the plan holds.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "actions/copy_actions.h"
#include "configuration_key.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "platform/sim/sim_platform.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--device") != 0) {
    std::fprintf(stderr, "usage: autorun-plan --device DIR\n");
    return 64;
  }
  try {
    autorun::sim::SimOptions options;
    options.deviceDir = argv[2];
    options.keepTrace = false;
    autorun::sim::SimPlatform platform(std::move(options));
    autorun::InstallerContext context(platform, std::string(autorun::kConfigurationKey));
    const int loaded = autorun::loadConfiguration(context);
    if (loaded != autorun::kLoadOk) {
      std::fprintf(stderr, "autorun-plan: the configuration did not load (%d)\n", loaded);
      return loaded;
    }
    autorun::publishFolderVariables(context);

    autorun::CopyPlan plan;
    autorun::planInstallCopies(context, plan);
    std::printf("folders %zu files %zu bytes %llu\n", plan.directories.size(), plan.jobs.size(),
                static_cast<unsigned long long>(plan.totalBytes));
    return 0;
  } catch (const std::exception& problem) {
    std::fprintf(stderr, "autorun-plan: %s\n", problem.what());
    return 70;
  }
}
