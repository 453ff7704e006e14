// The installer's peak heap on the simulated device. A Windows CE 5 process has 32 MB of
// address space, its libraries included, so the installer keeps within 16 MiB loading the
// largest configuration and within 4 MiB planning and installing a card of 20000 files.
//
// heap_counter.cpp replaces the program's operator new and delete and counts every block;
// simulator_heap.h gives the simulated device's own blocks to the simulator. Each run is
// measured once: a byte count does not vary from run to run.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "actions/copy_actions.h"
#include "bench_support.h"
#include "configuration_key.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "heap_counter.h"
#include "simulator_heap.h"

namespace {

using autorun::InstallerContext;
using autorun::bench::HeapMeasure;
using autorun::bench::HeapOwner;
using autorun::bench::HeapOwnerScope;
using autorun::bench::HeapPeak;
using autorun::bench::SimulatorHeapPlatform;
using autorun::sim::SimPlatform;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
constexpr std::size_t kConfigurationBytes = 100000;
constexpr std::size_t kLoadingBound = 16 * kMiB;
constexpr std::size_t kInstallingBound = 4 * kMiB;

constexpr const char* kCardConfiguration =
    "[common]\n"
    "brand = \"Atlas Navigator\"\n"
    "website = \"www.atlas-nav.example\"\n"
    "[install]\n"
    "title = \"%s Setup\"\n"
    "question = \"Install %s on this device?\"\n"
    "[registry]\n"
    "installed = \"HKLM\\\\Software\\\\Atlas\\\\Navigator\\\\Installed\"\n"
    "[install_actions]\n"
    "makedir_1 = \"%PROGRAM_FILES%\\\\Maps\"\n"
    "src_1 = \"\\\\Maps\"\n"
    "dst_1 = \"${makedir_1}\"\n";

// The simulated device over the image, made and later freed as the simulator's.
class Device {
 public:
  Device(const autorun::testing::DeviceImage& image, autorun::sim::SimOptions options) {
    const HeapOwnerScope simulator(HeapOwner::Simulator);
    sim_ = image.platform(std::move(options));
    platform_ = std::make_unique<SimulatorHeapPlatform>(*sim_);
  }
  ~Device() {
    const HeapOwnerScope simulator(HeapOwner::Simulator);
    platform_.reset();
    sim_.reset();
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  autorun::PlatformServices& platform() { return *platform_; }

 private:
  std::unique_ptr<SimPlatform> sim_;
  std::unique_ptr<SimulatorHeapPlatform> platform_;
};

void report(benchmark::State& state, const HeapMeasure& measure, std::size_t bound) {
  const HeapPeak installer = measure.installer();
  const HeapPeak total = measure.total();
  state.counters["installer_KiB"] = static_cast<double>(installer.bytes) / kKiB;
  state.counters["installer_blocks"] = static_cast<double>(installer.blocks);
  state.counters["with_simulator_KiB"] = static_cast<double>(total.bytes) / kKiB;
  state.counters["bound_KiB"] = static_cast<double>(bound) / kKiB;
  // Nothing counted means the counting operator new is not the one in use.
  if (installer.bytes == 0) state.SkipWithError("no heap block was counted");
  if (installer.bytes > bound) state.SkipWithError("the installer's peak heap is over its bound");
}

// Loads the configuration and publishes the folder variables, as the entry does first.
bool loadAsEntry(benchmark::State& state, InstallerContext& context) {
  const bool loaded = autorun::loadConfiguration(context) == autorun::kLoadOk;
  autorun::publishFolderVariables(context);
  if (!loaded) state.SkipWithError("the configuration did not load");
  return loaded;
}

// Loading at start-up as the entry does: read, decipher and parse the file, fill the
// message texts, publish the folder variables.
void peakOfLoading(benchmark::State& state, const std::string& text) {
  autorun::testing::DeviceImage image;
  image.writeConfiguration(text);
  const auto written = image.readFile(u"\\Storage Card\\2577\\autorun_8.qlm");
  if (!written || written->size() != kConfigurationBytes) {
    state.SkipWithError("the configuration file does not have the wanted size");
    return;
  }
  for (auto _ : state) {
    const HeapMeasure measure;
    std::size_t storedUnits = 0;
    {
      Device device(image, {});
      InstallerContext context(device.platform(), std::string(autorun::kConfigurationKey));
      if (!loadAsEntry(state, context)) return;
      for (const auto& [key, value] : context.config.entries()) storedUnits += value.size();
    }
    state.counters["stored_units"] = static_cast<double>(storedUnits);
    report(state, measure, kLoadingBound);
  }
}

void BM_PeakHeapLoadConfiguration(benchmark::State& state) {
  peakOfLoading(state, autorun::bench::typicalConfiguration(kConfigurationBytes));
}
BENCHMARK(BM_PeakHeapLoadConfiguration)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PeakHeapLoadConfigurationWorstCase(benchmark::State& state) {
  peakOfLoading(state, autorun::bench::worstCaseConfiguration(kConfigurationBytes));
}
BENCHMARK(BM_PeakHeapLoadConfigurationWorstCase)->Iterations(1)->Unit(benchmark::kMillisecond);

// The install flow's plan alone: the "makedir" folders, then the copy actions walked on
// the card.
void BM_PeakHeapPlan(benchmark::State& state) {
  autorun::testing::DeviceImage image;
  image.writeConfiguration(kCardConfiguration);
  const auto tree = autorun::bench::makeCardTree(image, static_cast<int>(state.range(0)), 0);
  for (auto _ : state) {
    const HeapMeasure measure;
    std::size_t jobs = 0;
    {
      Device device(image, {});
      InstallerContext context(device.platform(), std::string(autorun::kConfigurationKey));
      if (!loadAsEntry(state, context)) return;
      autorun::CopyPlan plan;
      autorun::planInstallCopies(context, plan);
      jobs = plan.jobs.size();
    }
    if (jobs != static_cast<std::size_t>(tree.files)) state.SkipWithError("the plan is incomplete");
    report(state, measure, kInstallingBound);
  }
  state.counters["files"] = tree.files;
}
BENCHMARK(BM_PeakHeapPlan)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole installation as the device's shell starts it from the card: "install",
// the question answered Yes, the status dialog, the plan, the free-space check, every
// copy, the registry and the card-insert work.
void BM_PeakHeapInstall(benchmark::State& state) {
  autorun::testing::DeviceImage image;
  image.writeConfiguration(kCardConfiguration);
  const auto tree = autorun::bench::makeCardTree(image, static_cast<int>(state.range(0)), 64);
  for (auto _ : state) {
    const HeapMeasure measure;
    int exitCode = -1;
    {
      autorun::sim::SimOptions options;
      options.answers = {true, false, false, false};
      options.keepTrace = false;
      Device device(image, std::move(options));
      InstallerContext context(device.platform(), std::string(autorun::kConfigurationKey));
      exitCode = autorun::runEntry(context, SimPlatform::kModuleHandle, u"install");
    }
    std::size_t copied = 0;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(image.hostPath(u"\\Program Files\\Maps"))) {
      copied += entry.is_regular_file() ? 1 : 0;
    }
    if (exitCode != autorun::kExitOk || copied != static_cast<std::size_t>(tree.files)) {
      state.SkipWithError("the installation did not copy the whole card");
      return;
    }
    report(state, measure, kInstallingBound);
  }
  state.counters["files"] = tree.files;
}
BENCHMARK(BM_PeakHeapInstall)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
