// Shared pieces of the action tests run on the platform double: an installer context over
// a MockPlatform, and small doubles of the objects the platform hands out.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "context/installer_context.h"
#include "platform/platform_services.h"
#include "support/mock_platform.h"

namespace autorun::testing {

class MockRegistryKey : public RegistryKey {
 public:
  MOCK_METHOD(bool, setDword, (const std::u16string& name, std::uint32_t value), (override));
  MOCK_METHOD(bool, setString, (const std::u16string& name, const std::u16string& value),
              (override));
  MOCK_METHOD(bool, queryValue,
              (const std::u16string& name, std::uint32_t& type, std::vector<std::uint8_t>& data),
              (override));
  MOCK_METHOD(bool, deleteSubkeyTree, (const std::u16string& name), (override));
  MOCK_METHOD(void, flush, (), (override));
};

// A file that keeps what is written to it; `accept` caps how many bytes one write takes.
class RecordingFile : public File {
 public:
  explicit RecordingFile(std::string& sink, std::uint32_t accept = UINT32_MAX)
      : sink_(sink), accept_(accept) {}
  bool read(void*, std::uint32_t, std::uint32_t& got) override {
    got = 0;
    return true;
  }
  bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) override {
    written = std::min(count, accept_);
    sink_.append(static_cast<const char*>(buffer), written);
    return true;
  }
  std::optional<std::uint64_t> size() override { return sink_.size(); }
  bool seek(std::uint64_t) override { return true; }

 private:
  std::string& sink_;
  std::uint32_t accept_;
};

class ListEnumeration : public DirectoryEnumeration {
 public:
  explicit ListEnumeration(std::vector<FindEntry> rest) : rest_(std::move(rest)) {}
  bool next(FindEntry& entry) override {
    if (index_ >= rest_.size()) return false;
    entry = rest_[index_++];
    return true;
  }

 private:
  std::vector<FindEntry> rest_;
  std::size_t index_ = 0;
};

inline FindEntry fileEntry(std::u16string name, std::uint64_t size = 1) {
  return FindEntry{std::move(name), 0, size};
}
inline FindEntry folderEntry(std::u16string name) {
  return FindEntry{std::move(name), kAttributeDirectory, 0};
}

class ActionsTest : public ::testing::Test {
 protected:
  ActionsTest() : context(platform, "ARN20261208053700") {
    context.installerPath = u"\\storage card\\2577\\autorun.exe";
  }

  void set(std::u16string_view key, std::u16string_view value) {
    context.config.setValue(key, value);
  }

  // Answers findFirstFile from a table of search patterns; an unknown pattern matches
  // nothing.
  void serveDirectories(std::map<std::u16string, std::vector<FindEntry>> listings) {
    listings_ = std::move(listings);
    ON_CALL(platform, findFirstFile)
        .WillByDefault([this](const std::u16string& pattern,
                              FindEntry& first) -> std::unique_ptr<DirectoryEnumeration> {
          const auto found = listings_.find(pattern);
          if (found == listings_.end() || found->second.empty()) return nullptr;
          first = found->second.front();
          return std::make_unique<ListEnumeration>(
              std::vector<FindEntry>(found->second.begin() + 1, found->second.end()));
        });
  }

  ::testing::NiceMock<MockPlatform> platform;
  InstallerContext context;

 private:
  std::map<std::u16string, std::vector<FindEntry>> listings_;
};

}  // namespace autorun::testing
