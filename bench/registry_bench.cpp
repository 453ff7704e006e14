// Reading and writing the simulated device's registry.reg: one large binary value, many
// sibling keys, deep keys, and a large registry of ordinary keys in each encoding. Each
// size series ends with its fit to N and that fit's RMS: a small RMS says the time is
// linear in the size (on a virtual machine, page faults on fresh memory add some spread).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"

namespace {

using autorun::sim::RegistryFormat;
using autorun::sim::RegistryTree;

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00\n\n";

// One binary value of `bytes` bytes, written as the registry editor wraps it.
std::string binaryValue(std::size_t bytes) {
  RegistryTree tree;
  auto key = tree.roots[0]->addChild(u"Software")->addChild(u"Atlas");
  std::vector<std::uint8_t> data(bytes);
  for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  key->setValue({u"Blob", 3, std::move(data)});
  return *autorun::sim::formatRegistryText(tree);
}

// `count` keys side by side, each with one value.
std::string siblingKeys(std::size_t count) {
  std::string text(kHeader);
  for (std::size_t i = 0; i < count; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\Software\\Atlas\\Key" + std::to_string(i) +
            "]\n\"Value\"=dword:0000002a\n\n";
  }
  return text;
}

// `count` keys 512 levels deep, side by side at the bottom.
std::string deepKeys(std::size_t count) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (std::size_t i = 1; i < autorun::sim::kMaxRegistryDepth; ++i) path += "\\L";
  std::string text(kHeader);
  for (std::size_t i = 0; i < count; ++i) {
    text += "[" + path + "\\K" + std::to_string(i) + "]\n\"V\"=\"x\"\n\n";
  }
  return text;
}

// What an application's registry looks like, `bytes` long: keys of a few levels with texts,
// numbers and binary values.
std::string ordinaryRegistry(std::size_t bytes) {
  std::string text(kHeader);
  for (std::size_t n = 0; text.size() < bytes; ++n) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "[HKEY_CURRENT_USER\\Software\\Vendor%zu\\Product%zu\\Settings%zu]\n", n % 97,
                  n % 13, n);
    text += line;
    for (int v = 0; v < 8; ++v) {
      std::snprintf(line, sizeof line, "\"Text%d\"=\"C:\\\\Program Files\\\\Атлас %zu\"\n", v, n);
      text += line;
      std::snprintf(line, sizeof line, "\"Number%d\"=dword:%08zx\n", v, n * 8 + v);
      text += line;
    }
    text +=
        "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
        "  17,18,19,1a,1b,1c,1d,1e,1f\n\n";
  }
  return text;
}

// The same registry in another encoding, as the writer puts it.
std::string encoded(const std::string& utf8, const RegistryFormat& format) {
  return *autorun::sim::formatRegistryText(autorun::sim::parseRegistryText(utf8, "r"), format);
}

const std::string& cached(const std::string& name, std::size_t n,
                          std::string (*make)(std::size_t)) {
  static std::map<std::pair<std::string, std::size_t>, std::string> texts;
  auto& text = texts[{name, n}];
  if (text.empty()) text = make(n);
  return text;
}

void load(benchmark::State& state, const std::string& text, std::int64_t n) {
  for (auto _ : state) {
    RegistryTree tree = autorun::sim::parseRegistryText(text, "registry.reg");
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.SetComplexityN(n);
  state.counters["file_bytes"] = static_cast<double>(text.size());
}

void save(benchmark::State& state, const std::string& text, std::int64_t n) {
  RegistryFormat format;
  const RegistryTree tree = autorun::sim::parseRegistryText(text, "registry.reg", 1252, &format);
  std::size_t size = 0;
  for (auto _ : state) {
    const auto written = autorun::sim::formatRegistryText(tree, format);
    size = written->size();
    benchmark::DoNotOptimize(size);
  }
  if (size != text.size()) state.SkipWithError("the registry was not written back as read");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
  state.SetComplexityN(n);
}

void BM_LoadBinaryValue(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  load(state, cached("binary", n, binaryValue), state.range(0));
}
BENCHMARK(BM_LoadBinaryValue)
    ->RangeMultiplier(4)
    ->Range(64 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_SaveBinaryValue(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  save(state, cached("binary", n, binaryValue), state.range(0));
}
BENCHMARK(BM_SaveBinaryValue)
    ->RangeMultiplier(4)
    ->Range(64 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_LoadSiblingKeys(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  load(state, cached("siblings", n, siblingKeys), state.range(0));
}
BENCHMARK(BM_LoadSiblingKeys)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_SaveSiblingKeys(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  save(state, cached("siblings", n, siblingKeys), state.range(0));
}
BENCHMARK(BM_SaveSiblingKeys)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_LoadDeepKeys(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  load(state, cached("deep", n, deepKeys), state.range(0));
}
BENCHMARK(BM_LoadDeepKeys)
    ->RangeMultiplier(4)
    ->Range(16, 1024)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Arguments: the size in MB and the encoding (0 UTF-8, 1 UTF-16 as the registry editor
// writes it, 2 REGEDIT4 in code page 1251).
std::string ordinaryIn(std::int64_t megabytes, std::int64_t encoding) {
  const std::string& utf8 =
      cached("ordinary", static_cast<std::size_t>(megabytes) << 20, ordinaryRegistry);
  if (encoding == 0) return utf8;
  RegistryFormat format = RegistryFormat::utf16();
  if (encoding == 2) {
    format = RegistryFormat{RegistryFormat::Charset::CodePage, 1251, false, true, true};
  }
  return encoded(utf8, format);
}

void BM_LoadOrdinaryRegistry(benchmark::State& state) {
  const std::string text = ordinaryIn(state.range(0), state.range(1));
  for (auto _ : state) {
    RegistryTree tree = autorun::sim::parseRegistryText(text, "registry.reg", 1251);
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.SetComplexityN(state.range(0));
  state.counters["file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadOrdinaryRegistry)
    ->ArgsProduct({{5, 50}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

void BM_SaveOrdinaryRegistry(benchmark::State& state) {
  const std::string text = ordinaryIn(state.range(0), state.range(1));
  RegistryFormat format;
  const RegistryTree tree = autorun::sim::parseRegistryText(text, "registry.reg", 1251, &format);
  std::size_t size = 0;
  for (auto _ : state) {
    size = autorun::sim::formatRegistryText(tree, format)->size();
    benchmark::DoNotOptimize(size);
  }
  if (size != text.size()) state.SkipWithError("the registry was not written back as read");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}
BENCHMARK(BM_SaveOrdinaryRegistry)
    ->ArgsProduct({{5, 50}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
