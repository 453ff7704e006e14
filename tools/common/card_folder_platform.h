// A read-only device over a card image on the host: device paths are taken relative to
// the card's root folder ("\maps\a.dat" is <folder>/maps/a.dat) and matched component by
// component without regard to case, as the device's file system does. Only file reading,
// attributes and enumeration work; every other operation fails. It lets host tools run the
// installer's own readers (the logo, the version stamp) on a card image.
#pragma once

#include <filesystem>
#include <optional>

#include "platform/null_platform.h"

namespace autorun::host {

class CardFolderPlatform : public NullPlatform {
 public:
  explicit CardFolderPlatform(std::filesystem::path root);

  // The host path of a device path relative to the card; nothing when a component is
  // missing, or when the path would leave the card (a ".." component).
  std::optional<std::filesystem::path> resolve(const std::u16string& devicePath) const;

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override;
  std::uint32_t fileAttributes(const std::u16string& path) override;
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                      FindEntry& first) override;
  std::string toMultiByte(const std::u16string& text) override;

 private:
  std::filesystem::path root_;
};

// Whether a name matches a pattern of '*' (any run) and '?' (one character), without
// regard to case.
bool matchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace autorun::host
