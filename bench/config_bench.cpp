// Loading the configuration at start-up: read and decipher the file, parse it, fill the
// message texts and publish the five folder variables, as the entry does.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench_support.h"
#include "configuration_key.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "entry/entry.h"

namespace {

using autorun::InstallerContext;

constexpr std::size_t kFileSize = 100000;

void loadOnDevice(benchmark::State& state, const std::string& text) {
  autorun::testing::DeviceImage image;
  image.writeConfiguration(text);
  const auto written = image.readFile(u"\\Storage Card\\2577\\autorun_8.qlm");
  if (!written || written->size() != kFileSize) {
    state.SkipWithError("the configuration file does not have the wanted size");
    return;
  }
  const auto platform = image.platform();
  std::size_t entries = 0;
  for (auto _ : state) {
    InstallerContext context(*platform, std::string(autorun::kConfigurationKey));
    if (autorun::loadConfiguration(context) != autorun::kLoadOk) {
      state.SkipWithError("the configuration did not load");
      return;
    }
    autorun::publishFolderVariables(context);
    entries = context.config.entries().size();
    benchmark::DoNotOptimize(entries);
  }
  // A check that the work was done: the brand was filled in and the variables replaced.
  InstallerContext context(*platform, std::string(autorun::kConfigurationKey));
  autorun::loadConfiguration(context);
  autorun::publishFolderVariables(context);
  if (context.config.getString(u"install/title", u"") != u"Atlas Navigator Setup")
    state.SkipWithError("the message texts were not filled");
  std::size_t storedUnits = 0;
  for (const auto& [key, value] : context.config.entries()) {
    if (value.starts_with(u"%PROGRAM_FILES%"))
      state.SkipWithError("a folder variable was not replaced");
    storedUnits += value.size();
  }
  state.counters["stored_units"] = static_cast<double>(storedUnits);
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["file_bytes"] = static_cast<double>(kFileSize);
}

void BM_LoadConfiguration(benchmark::State& state) {
  loadOnDevice(state, autorun::bench::typicalConfiguration(kFileSize));
}
BENCHMARK(BM_LoadConfiguration)->Unit(benchmark::kMicrosecond);

void BM_LoadConfigurationWorstCase(benchmark::State& state) {
  loadOnDevice(state, autorun::bench::worstCaseConfiguration(kFileSize));
}
BENCHMARK(BM_LoadConfigurationWorstCase)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
