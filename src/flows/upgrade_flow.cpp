#include "flows/upgrade_flow.h"

#include <array>

#include "actions/registry_actions.h"
#include "context/card_discovery.h"
#include "context/installer_context.h"
#include "flows/install_flow.h"
#include "flows/uninstall_flow.h"

namespace autorun {

namespace {

constexpr std::uint32_t kCertificateTableSize = 0x460;
constexpr std::uint32_t kHeaderWords = 128;  // the first 512 bytes
constexpr std::uint32_t kStampSize = 4;
// The stamp lies this many bytes before the certificate table of a signed file.
constexpr std::uint32_t kStampBeforeCertificates = 8;

std::uint32_t littleEndianWord(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

bool readWord(File& file, std::uint32_t& word) {
  std::array<std::uint8_t, 4> bytes{};
  if (!readExactly(file, bytes.data(), kStampSize)) return false;
  word = littleEndianWord(bytes.data());
  return true;
}

// Where the stamp of the open file lies; nothing when the file cannot tell.
std::optional<std::uint64_t> stampOffset(File& file) {
  const std::uint32_t entry = findCertificateEntry(file);
  if (entry != 0) {
    std::uint32_t tableOffset = 0;
    std::uint32_t tableSize = 0;
    if (!file.seek(entry) || !readWord(file, tableOffset) || !readWord(file, tableSize)) {
      return std::nullopt;
    }
    if (tableOffset != 0) {
      // A table that starts within the stamp's own room cannot have a stamp before it.
      if (tableOffset < kStampBeforeCertificates) return std::nullopt;
      return tableOffset - kStampBeforeCertificates;
    }
  }
  const std::optional<std::uint64_t> size = file.size();
  if (!size || *size < kStampSize) return std::nullopt;
  return *size - kStampSize;
}

}  // namespace

std::uint32_t findCertificateEntry(File& file) {
  std::array<std::uint8_t, kHeaderWords * 4> header{};
  if (!readExactly(file, header.data(), static_cast<std::uint32_t>(header.size()))) return 0;
  for (std::uint32_t index = 0; index < kHeaderWords; ++index) {
    if (littleEndianWord(header.data() + 4 * index) != kCertificateTableSize) continue;
    // A size in word 0 would put its offset word before the file; no executable has
    // one there (word 0 is its signature), so such a file counts as unsigned.
    if (index == 0) return 0;
    return 4 * (index - 1);
  }
  return 0;
}

bool readVersionStamp(PlatformServices& platform, const std::u16string& path,
                      std::uint32_t& stamp) {
  const std::unique_ptr<File> file = platform.openFile(path, FileOpenMode::ReadShared);
  if (!file) return false;
  const std::optional<std::uint64_t> offset = stampOffset(*file);
  if (!offset || !file->seek(*offset)) return false;
  return readWord(*file, stamp);
}

int compareVersionStamps(InstallerContext& context) {
  const ConfigStore& config = context.config;
  const std::u16string cardFile =
      findCardFolder(context) + config.getString(u"upgrade/application_dat", u"");
  const std::u16string installedFile = config.getString(u"upgrade/application_exe", u"");

  std::uint32_t cardStamp = 0;
  std::uint32_t installedStamp = 0;
  const bool cardRead = readVersionStamp(context.platform, cardFile, cardStamp);
  const bool installedRead = readVersionStamp(context.platform, installedFile, installedStamp);
  // Without both stamps there is nothing to compare, and nothing to offer.
  if (!cardRead || !installedRead) return 0;
  if (cardStamp > installedStamp) return 1;
  if (cardStamp < installedStamp) return -1;
  return 0;
}

int runUpgrade(InstallerContext& context) {
  backupRegistry(context, u"upgrade");
  runUninstall(context, false);
  // Ends with its own card-insert run; the saved values go back even if it stopped early.
  runInstall(context, false);
  restoreBackedUpValues(context);
  return 1;
}

int restoreBackedUpValues(InstallerContext& context) {
  PlatformServices& platform = context.platform;
  // A value that was absent before the upgrade stays absent rather than coming back as
  // the absent marker or an empty text.
  for (const auto& [location, value] : context.registryBackup.dwords) {
    if (value) writeRegistryDword(platform, location, *value);
  }
  for (const auto& [location, value] : context.registryBackup.strings) {
    if (value) writeRegistryString(platform, location, *value);
  }
  return 1;
}

}  // namespace autorun
