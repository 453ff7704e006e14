// The fixture and small helpers of the contract tests: a fresh device for each test and
// plain ways to write, read and list files through the platform under test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "contract/contract_device.h"
#include "support/platform_files.h"

namespace autorun::contract {

// ASCII text of a path for failure messages.
inline std::string shown(std::u16string_view text) {
  std::string result;
  for (const char16_t unit : text) result += unit < 0x80 ? static_cast<char>(unit) : '?';
  return result;
}

inline std::u16string upper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return text;
}

using autorun::testing::writeFile;

// The whole content of a file, or nothing when it cannot be opened for shared reading.
inline std::optional<std::string> readText(PlatformServices& platform, const std::u16string& path) {
  auto file = platform.openFile(path, FileOpenMode::ReadShared);
  if (!file) return std::nullopt;
  return autorun::testing::readAll(*file);
}

// The entries a pattern finds, without "." and "..", sorted.
inline std::vector<FindEntry> entries(PlatformServices& platform, const std::u16string& pattern) {
  std::vector<FindEntry> found;
  FindEntry entry;
  auto search = platform.findFirstFile(pattern, entry);
  if (!search) return found;
  do {
    if (entry.name != u"." && entry.name != u"..") found.push_back(entry);
  } while (search->next(entry));
  std::sort(found.begin(), found.end(),
            [](const FindEntry& a, const FindEntry& b) { return upper(a.name) < upper(b.name); });
  return found;
}

inline std::vector<std::u16string> names(PlatformServices& platform,
                                         const std::u16string& pattern) {
  std::vector<std::u16string> result;
  for (const FindEntry& entry : entries(platform, pattern)) result.push_back(entry.name);
  return result;
}

class Contract : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    device_ = makeContractDevice(std::string(info->test_suite_name()) + "." + info->name());
  }

  PlatformServices& platform() { return device_->platform(); }
  ContractDevice& device() { return *device_; }
  // A path below the test's scratch folder.
  std::u16string at(std::u16string_view relative) const {
    return device_->scratch() + u"\\" + std::u16string(relative);
  }
  // The same path without its leading backslash: the device resolves it from the root.
  std::u16string unrooted(std::u16string_view relative) const { return at(relative).substr(1); }

  bool isFile(const std::u16string& path) {
    const std::uint32_t attributes = platform().fileAttributes(path);
    return attributes != kInvalidAttributes && (attributes & kAttributeDirectory) == 0;
  }
  bool isFolder(const std::u16string& path) {
    const std::uint32_t attributes = platform().fileAttributes(path);
    return attributes != kInvalidAttributes && (attributes & kAttributeDirectory) != 0;
  }

 private:
  std::unique_ptr<ContractDevice> device_;
};

}  // namespace autorun::contract
