// A small device for the configuration and discovery tests: files in memory, storage
// cards, the module path, special folders and message boxes, over the gmock platform.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/wide_text.h"
#include "support/mock_platform.h"

namespace autorun::testing {

class FakeDevice {
 public:
  using Bytes = std::vector<std::uint8_t>;

  struct Box {
    std::u16string text;
    std::u16string caption;
    std::uint32_t style = 0;
  };

  std::u16string moduleFileName = u"\\Storage Card\\2577\\autorun.exe";
  std::vector<std::u16string> cards;
  std::map<int, std::u16string> specialFolders = {{2, u"\\Windows\\Start Menu\\Programs"},
                                                  {5, u"\\My Documents"},
                                                  {36, u"\\Windows"},
                                                  {38, u"\\Program Files"}};
  std::vector<Box> boxes;
  std::vector<std::pair<std::u16string, FileOpenMode>> opens;
  int cardsFetched = 0;  // successful and failed fetches after the first card

  ::testing::NiceMock<MockPlatform> platform;

  FakeDevice() {
    using ::testing::_;
    using ::testing::Invoke;
    ON_CALL(platform, openFile(_, _))
        .WillByDefault(Invoke(
            [this](const std::u16string& path, FileOpenMode mode) { return open(path, mode); }));
    ON_CALL(platform, fileAttributes(_)).WillByDefault(Invoke([this](const std::u16string& p) {
      return files_.count(foldLower(p)) ? std::uint32_t{0x20} : kInvalidAttributes;
    }));
    ON_CALL(platform, moduleFileName(_)).WillByDefault(Invoke([this](ModuleHandle) {
      return moduleFileName;
    }));
    ON_CALL(platform, specialFolderPath(_)).WillByDefault(Invoke([this](int number) {
      auto it = specialFolders.find(number);
      return it == specialFolders.end() ? std::u16string() : it->second;
    }));
    ON_CALL(platform, findFirstCard(_)).WillByDefault(Invoke([this](std::u16string& first) {
      std::unique_ptr<CardEnumeration> none;
      if (cards.empty()) return none;
      first = cards[0];
      return std::unique_ptr<CardEnumeration>(new Cards(*this));
    }));
    ON_CALL(platform, messageBox(_, _, _))
        .WillByDefault(Invoke(
            [this](const std::u16string& text, const std::u16string& caption, std::uint32_t style) {
              boxes.push_back({text, caption, style});
              return kIdOk;
            }));
  }

  void addFile(const std::u16string& path, Bytes bytes) {
    files_[foldLower(path)] = std::move(bytes);
  }
  // Held open by another program: exclusively (no one may open it), or for shared reading
  // (an exclusive open fails, a shared one works).
  void holdExclusively(const std::u16string& path) { heldExclusive_.insert(foldLower(path)); }
  void holdShared(const std::u16string& path) { heldShared_.insert(foldLower(path)); }

 private:
  class Cards : public CardEnumeration {
   public:
    explicit Cards(FakeDevice& device) : device_(device) {}
    bool next(std::u16string& folderName) override {
      ++device_.cardsFetched;
      if (position_ >= device_.cards.size()) return false;
      folderName = device_.cards[position_++];
      return true;
    }

   private:
    FakeDevice& device_;
    std::size_t position_ = 1;
  };

  class MemoryFile : public File {
   public:
    explicit MemoryFile(const Bytes& bytes) : bytes_(bytes) {}
    bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
      const std::size_t n = std::min<std::size_t>(count, bytes_.size() - position_);
      std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), n,
                  static_cast<std::uint8_t*>(buffer));
      position_ += n;
      got = static_cast<std::uint32_t>(n);
      return true;
    }
    bool write(const void*, std::uint32_t, std::uint32_t&) override { return false; }
    std::optional<std::uint64_t> size() override { return bytes_.size(); }
    bool seek(std::uint64_t offset) override {
      position_ = std::min<std::size_t>(offset, bytes_.size());
      return true;
    }

   private:
    Bytes bytes_;
    std::size_t position_ = 0;
  };

  std::unique_ptr<File> open(const std::u16string& path, FileOpenMode mode) {
    opens.emplace_back(path, mode);
    const std::u16string key = foldLower(path);
    auto it = files_.find(key);
    if (it == files_.end() || heldExclusive_.count(key) ||
        (mode == FileOpenMode::ReadExclusive && heldShared_.count(key))) {
      return nullptr;
    }
    return std::make_unique<MemoryFile>(it->second);
  }

  std::map<std::u16string, Bytes> files_;
  std::set<std::u16string> heldExclusive_;
  std::set<std::u16string> heldShared_;
};

}  // namespace autorun::testing
