// The copy plan of a large card tree (enumeration through the simulated device) and its
// performance. The plan's cost must grow with the number of files and folders, no faster.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "actions/copy_actions.h"
#include "bench_support.h"
#include "configuration_key.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "entry/entry.h"

namespace {

using autorun::CopyPlan;
using autorun::InstallerContext;

constexpr const char* kConfiguration =
    "[common]\n"
    "brand = \"Atlas Navigator\"\n"
    "website = \"www.atlas-nav.example\"\n"
    "[install_actions]\n"
    "makedir_1 = \"%PROGRAM_FILES%\\\\Maps\"\n"
    "src_1 = \"\\\\Maps\"\n"
    "dst_1 = \"${makedir_1}\"\n";

// A device whose card holds \Maps as autorun::bench::makeCardTree makes it, loaded and
// ready.
class TreeDevice {
 public:
  TreeDevice(int files, std::size_t fileBytes) {
    image_.writeConfiguration(kConfiguration);
    const autorun::bench::CardTree tree = autorun::bench::makeCardTree(image_, files, fileBytes);
    files_ = tree.files;
    folders_ = tree.folders;
    platform_ = image_.platform();
    context_ =
        std::make_unique<InstallerContext>(*platform_, std::string(autorun::kConfigurationKey));
    loaded_ = autorun::loadConfiguration(*context_) == autorun::kLoadOk;
    autorun::publishFolderVariables(*context_);
  }

  bool loaded() const { return loaded_; }
  int files() const { return files_; }
  int folders() const { return folders_; }
  InstallerContext& context() { return *context_; }

  // The install flow's plan: the "makedir" folders first, then the copy actions.
  CopyPlan plan() {
    CopyPlan plan;
    autorun::planInstallCopies(*context_, plan);
    return plan;
  }

 private:
  autorun::testing::DeviceImage image_;
  int files_ = 0;
  int folders_ = 0;
  std::unique_ptr<autorun::sim::SimPlatform> platform_;
  std::unique_ptr<InstallerContext> context_;
  bool loaded_ = false;
};

// Trees are made once per size and kept for every run of that size.
TreeDevice& treeDevice(int files, std::size_t fileBytes) {
  static std::map<std::pair<int, std::size_t>, std::unique_ptr<TreeDevice>> devices;
  auto& device = devices[{files, fileBytes}];
  if (!device) device = std::make_unique<TreeDevice>(files, fileBytes);
  return *device;
}

bool planIsWhole(const TreeDevice& device, const CopyPlan& plan) {
  // The makedir folder, the planned folders, and every file.
  return plan.jobs.size() == static_cast<std::size_t>(device.files()) &&
         plan.directories.size() == static_cast<std::size_t>(device.folders()) + 1;
}

void BM_PlanCopy(benchmark::State& state) {
  TreeDevice& device = treeDevice(static_cast<int>(state.range(0)), 0);
  if (!device.loaded()) {
    state.SkipWithError("the configuration did not load");
    return;
  }
  std::size_t jobs = 0;
  for (auto _ : state) {
    CopyPlan plan = device.plan();
    jobs = plan.jobs.size();
    benchmark::DoNotOptimize(jobs);
  }
  if (!planIsWhole(device, device.plan())) state.SkipWithError("the plan is incomplete");
  const auto entries = device.files() + device.folders();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * entries);
  state.SetComplexityN(entries);
  state.counters["files"] = device.files();
  state.counters["folders"] = device.folders();
}
BENCHMARK(BM_PlanCopy)
    ->Arg(2000)
    ->Arg(20000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_PerformCopyPlan(benchmark::State& state) {
  constexpr std::size_t kFileBytes = 16 * 1024;
  TreeDevice& device = treeDevice(static_cast<int>(state.range(0)), kFileBytes);
  if (!device.loaded()) {
    state.SkipWithError("the configuration did not load");
    return;
  }
  const CopyPlan plan = device.plan();
  if (!planIsWhole(device, plan)) {
    state.SkipWithError("the plan is incomplete");
    return;
  }
  for (auto _ : state) {
    // Every run replaces the files of the one before, as a reinstallation does.
    if (!autorun::performCopyPlan(device.context(), plan, 0)) {
      state.SkipWithError("the copy failed");
      return;
    }
  }
  const auto entries = device.files() + device.folders();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * entries);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * device.files() *
                          static_cast<std::int64_t>(kFileBytes));
  state.SetComplexityN(entries);
}
BENCHMARK(BM_PerformCopyPlan)
    ->Arg(200)
    ->Arg(2000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
