// Checks against a card image on the host: the copy sources, the logo (through the
// installer's own reader) and the version stamp of the card's executable.
#include <algorithm>

#include "base/logo_image.h"
#include "base/wide_text.h"
#include "common/card_folder_platform.h"
#include "common/config_lint_internal.h"
#include "context/config_loader.h"
#include "flows/upgrade_flow.h"
#include "host_text/utf.h"

namespace autorun::host::lint {

namespace {

constexpr int kLargestLogoWidth = 240;
constexpr int kLargestLogoHeight = 100;

class CardChecker {
 public:
  CardChecker(Context& context, const std::filesystem::path& folder)
      : c_(context), folder_(folder), card_(folder) {}

  void run() {
    checkConfigurationPlace();
    for (std::u16string_view list :
         {std::u16string_view(u"install_actions"), std::u16string_view(u"card_insert_actions")}) {
      checkSources(list);
    }
    checkLogo();
    checkVersionStamp();
  }

 private:
  void checkConfigurationPlace() {
    const std::u16string place =
        u"\\" + std::u16string(kAutorunFolderName) + u"\\" + std::u16string(kConfigurationFileName);
    if (card_.fileAttributes(place) == kInvalidAttributes) {
      c_.report(0, Severity::Note, "card-configuration",
                "the card holds no '" + u8(place.substr(1)) +
                    "': the installer looks for its configuration there");
    }
  }

  void checkSources(std::u16string_view list) {
    for (std::uint32_t n = 1;; ++n) {
      const std::u16string key = std::u16string(list) + u"/src_" + widen(std::to_string(n));
      if (!c_.store.hasKey(key)) break;
      const std::u16string source = c_.store.getString(key, u"");
      const bool pattern = source.find(u'*') != std::u16string::npos;
      FindEntry first;
      // As the copy planner does: a source without '*' that is a folder is copied whole.
      if (!pattern && card_.fileAttributes(source) == kAttributeDirectory) {
        checkTree(key, source, u"*.*");
        continue;
      }
      if (!card_.findFirstFile(source, first)) {
        c_.reportKey(key, Severity::Error, "card-src",
                     "'" + u8(key) + "' names '" + u8(source) + "', which " +
                         (pattern ? "matches nothing" : "does not exist") +
                         " on the card: nothing is copied for it");
        continue;
      }
      const std::size_t slash = source.rfind(u'\\');
      const std::u16string folder = slash == std::u16string::npos ? u"" : source.substr(0, slash);
      const std::u16string last = slash == std::u16string::npos ? source : source.substr(slash + 1);
      checkTree(key, folder, last, /*top=*/true);
    }
  }

  // Walks the source tree as the copy planner does: an enumeration that finds nothing ends
  // the walk of the whole entry.
  bool checkTree(const std::u16string& key, const std::u16string& folder,
                 const std::u16string& pattern, bool top = false) {
    FindEntry entry;
    auto enumeration = card_.findFirstFile(folder + u"\\" + pattern, entry);
    if (!enumeration) {
      if (!top) {
        c_.reportKey(key, Severity::Note, "card-empty-folder",
                     "'" + u8(key) + "' copies the folder '" + u8(folder) +
                         "', which holds nothing that matches '" + u8(pattern) +
                         "': the installer makes the folder on the device and copies nothing "
                         "into it");
      }
      return true;
    }
    do {
      if (entry.name == u"." || entry.name == u"..") continue;
      if (entry.isDirectory() && !checkTree(key, folder + u"\\" + entry.name, pattern)) {
        return false;
      }
    } while (enumeration->next(entry));
    return true;
  }

  void checkLogo() {
    if (!c_.store.hasKey(u"common/logo")) return;
    const std::u16string path = u"\\" + c_.store.getString(u"navigation/sd_dir", u"") + u"\\" +
                                c_.store.getString(u"common/logo", u"");
    LogoImage logo;
    const int result = logo.load(card_, path);
    if (result == LogoImage::kCannotOpen) {
      c_.reportKey(u"common/logo", Severity::Error, "card-logo",
                   "the logo '" + u8(path) +
                       "' (card folder, navigation/sd_dir, common/logo) is not on the card: the "
                       "dialogs show the built-in logo");
      return;
    }
    if (result != LogoImage::kLoaded) {
      c_.reportKey(u"common/logo", Severity::Error, "card-logo",
                   "the logo '" + u8(path) +
                       "' is not a BMP file that the installer can read (an uncompressed "
                       "bitmap of 1, 4, 8, 16, 24 or 32 bits per pixel); the dialogs show the "
                       "built-in logo");
      return;
    }
    const int width = logo.width();
    const int height = logo.height();
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width > kLargestLogoWidth || height > kLargestLogoHeight) {
      c_.reportKey(u"common/logo", Severity::Error, "card-logo",
                   "the logo '" + u8(path) + "' is " + size +
                       " pixels: the installer draws logos of at most 240 x 100 and shows "
                       "nothing of a larger one");
      return;
    }
    const int boxWidth = c_.store.getInt(u"common/logo_width", 0);
    const int boxHeight = c_.store.getInt(u"common/logo_height", 0);
    if ((boxWidth != width || boxHeight != height) && boxWidth > 0 && boxHeight > 0) {
      const bool cut = boxWidth < width || boxHeight < height;
      c_.reportKey(c_.store.hasKey(u"common/logo_width") ? u"common/logo_width" : u"common/logo",
                   Severity::Warning, "logo-box",
                   "the logo box (common/logo_width x common/logo_height) is " +
                       std::to_string(boxWidth) + " x " + std::to_string(boxHeight) +
                       ", the logo " + size +
                       ": the image is drawn unscaled at the box's top "
                       "left corner, so " +
                       (cut ? "it is cut off" : "the box is not filled") +
                       "; give the box the image's size");
    }
  }

  void checkVersionStamp() {
    if (!c_.store.hasKey(u"upgrade/application_dat")) return;
    const std::u16string path = c_.store.getString(u"upgrade/application_dat", u"");
    if (card_.fileAttributes(path) == kInvalidAttributes) {
      c_.reportKey(u"upgrade/application_dat", Severity::Error, "card-version-stamp",
                   "'upgrade/application_dat' names '" + u8(path) +
                       "', which is not on the card: no update is ever offered");
      return;
    }
    std::uint32_t stamp = 0;
    if (!readVersionStamp(card_, path, stamp)) {
      c_.reportKey(
          u"upgrade/application_dat", Severity::Error, "card-version-stamp",
          "the version stamp of '" + u8(path) + "' cannot be read: no update is ever offered");
    }
  }

  Context& c_;
  std::filesystem::path folder_;
  CardFolderPlatform card_;
};

}  // namespace

void checkCard(Context& context, const std::filesystem::path& cardFolder) {
  CardChecker(context, cardFolder).run();
}

}  // namespace autorun::host::lint
