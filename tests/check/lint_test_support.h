// Helpers for the checker's tests: linting a text, a temporary folder, finding rules.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <sys/wait.h>

#include "common/config_lint.h"
#include "common/config_text.h"

namespace autorun::testing {

class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("autorun-check-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  std::filesystem::path write(const std::string& relative, std::string_view bytes) const {
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::filesystem::path path_;
};

// Lints configuration source text through a file, as `autorun-config check` reads it.
inline std::vector<host::Finding> lintSource(std::string_view source,
                                             const host::LintOptions& options = {}) {
  TempFolder folder;
  const std::filesystem::path file = folder.write("config.txt", source);
  std::string error;
  const auto read = host::readConfigurationForLint(file, "", error);
  if (!read) return {};
  std::vector<host::Finding> findings = host::lintConfigurationFile(*read, options);
  for (host::Finding& finding : findings) finding.file = "config.txt";
  return findings;
}

// Lints the text of an enciphered file: exactly these code units after the mark.
inline std::vector<host::Finding> lintEnciphered(std::u16string text) {
  host::LintInput input;
  input.fileName = "autorun_8.qlm";
  input.form = host::SourceForm::Enciphered;
  input.installedSize = 2 + 2 * text.size();
  input.text = std::move(text);
  return host::lintConfiguration(input, {});
}

inline std::vector<std::string> rulesOf(const std::vector<host::Finding>& findings) {
  std::vector<std::string> rules;
  for (const host::Finding& finding : findings) rules.push_back(finding.rule);
  std::sort(rules.begin(), rules.end());
  return rules;
}

inline const host::Finding* findRule(const std::vector<host::Finding>& findings,
                                     std::string_view rule) {
  for (const host::Finding& finding : findings) {
    if (finding.rule == rule) return &finding;
  }
  return nullptr;
}

inline std::string describe(const std::vector<host::Finding>& findings) {
  std::string out;
  for (const host::Finding& finding : findings) out += host::formatFinding(finding) + "\n";
  return out;
}

// An uncompressed 24-bit BMP of one colour, rows bottom-up.
inline std::string bitmap(int width, int height, std::uint8_t red = 0x40, std::uint8_t green = 0x40,
                          std::uint8_t blue = 0x40) {
  const auto put = [](std::string& out, std::uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
  };
  const std::uint32_t stride = (24 * static_cast<std::uint32_t>(width) + 31) / 32 * 4;
  const std::uint32_t size = stride * static_cast<std::uint32_t>(height);
  std::string out = "BM";
  put(out, 54 + size, 4);
  put(out, 0, 4);
  put(out, 54, 4);  // pixel data offset
  put(out, 40, 4);  // info header size
  put(out, static_cast<std::uint32_t>(width), 4);
  put(out, static_cast<std::uint32_t>(height), 4);
  put(out, 1, 2);   // planes
  put(out, 24, 2);  // bits per pixel
  put(out, 0, 4);   // no compression
  put(out, size, 4);
  put(out, 2835, 4);
  put(out, 2835, 4);
  put(out, 0, 4);
  put(out, 0, 4);
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x)
      row += {static_cast<char>(blue), static_cast<char>(green), static_cast<char>(red)};
    row.resize(stride, '\0');
    out += row;
  }
  return out;
}

// A host program's exit code and its standard output and error together.
struct ProgramRun {
  int exitCode;
  std::string output;
};

inline ProgramRun run(const std::string& command) {
  ProgramRun result{-1, {}};
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
    result.output.append(buffer, got);
  }
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline std::string quote(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

// 1-based line of the first occurrence of `needle` in `text`.
inline int lineOf(std::string_view text, std::string_view needle) {
  const std::size_t at = text.find(needle);
  if (at == std::string_view::npos) return 0;
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
}

}  // namespace autorun::testing
