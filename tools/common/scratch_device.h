// A fresh simulated device in a temporary folder whose storage card stands for a card
// folder on the host, so that the host tools can run the installer's own code on a card:
// its planning, a whole installation, an uninstallation. The card is only ever read.
//
// The image's card holds the card's folders and file names; its files are stand-ins,
// empty but for the few whose bytes the installer reads (provideContent: the
// configuration, the logo, the executable with the version stamp), and the device's
// enumerations report every file's real size. Copying a card of gigabytes thus copies
// next to nothing, and every path, pattern and copy is the simulated device's own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/card_addition.h"
#include "platform/platform_wrapper.h"
#include "platform/sim/sim_platform.h"

namespace autorun::host {

class ScratchPlatform;

class ScratchDevice {
 public:
  // The card's folder name on the device: "\Storage Card".
  static constexpr std::u16string_view kCardName = u"Storage Card";

  // Makes the image: fs/ with the folders of a fresh device and the card, registry.reg
  // with its header only, device.json naming the card and a free space that any card
  // fits in. `card` may be empty (no files but the additions). Throws CardError.
  explicit ScratchDevice(const std::filesystem::path& card,
                         const std::vector<CardAddition>& additions = {});
  ~ScratchDevice();
  ScratchDevice(const ScratchDevice&) = delete;
  ScratchDevice& operator=(const ScratchDevice&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

  // A simulated device over the image (options.deviceDir is filled in). Throws CardError
  // when the image cannot be used.
  std::unique_ptr<ScratchPlatform> platform(sim::SimOptions options = {}) const;

  // Puts the real bytes of the card file that `devicePath` names into its stand-in. False
  // when the path names no file of the card.
  bool provideContent(sim::SimPlatform& platform, const std::u16string& devicePath);
  // Writes a file of the card (a path relative to its root, with '/'), making its folders.
  void writeCardFile(const std::string& relative, std::string_view bytes);

  // The real size of a card file, given by its host path in the image.
  std::optional<std::uint64_t> realSize(const std::string& hostPath) const;
  // How many files the card holds.
  std::size_t fileCount() const { return cardFiles_.size(); }

 private:
  struct CardFile {
    std::uint64_t size = 0;
    std::optional<std::filesystem::path> origin;  // nothing: the stand-in holds the bytes
  };
  void mirror(const std::filesystem::path& from, const std::filesystem::path& to);

  std::filesystem::path dir_;
  std::filesystem::path cardRoot_;             // dir_/fs/Storage Card
  std::map<std::string, CardFile> cardFiles_;  // by host path in the image
};

// The simulated device of a scratch image, reporting the card files' real sizes.
class ScratchPlatform : public PlatformWrapper {
 public:
  ScratchPlatform(std::unique_ptr<sim::SimPlatform> sim, const ScratchDevice& device);

  sim::SimPlatform& sim() const { return *sim_; }
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                      FindEntry& first) override;

  // The real size of the card file at a device path, or nothing.
  std::optional<std::uint64_t> cardFileSize(const std::u16string& devicePath) const;

 private:
  class Enumeration;
  void correct(const std::string& hostFolder, FindEntry& entry) const;

  std::unique_ptr<sim::SimPlatform> sim_;
  const ScratchDevice& device_;
};

}  // namespace autorun::host
