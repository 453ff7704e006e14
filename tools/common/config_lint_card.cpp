// Checks against a card folder on the host, answered by the installer's own code on a
// scratch simulated device that holds the card (see scratch_device.h): each copy entry
// planned as the install flow plans it, the logo through the installer's reader, the
// version stamp, and an installation followed by the uninstallation.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "actions/action_list.h"
#include "actions/copy_actions.h"
#include "base/logo_image.h"
#include "base/wide_text.h"
#include "common/config_lint_internal.h"
#include "common/config_text.h"
#include "common/rehearsal.h"
#include "host_text/escape.h"
#include "context/card_discovery.h"
#include "context/config_loader.h"
#include "entry/entry.h"
#include "flows/upgrade_flow.h"
#include "host_text/utf.h"
#include "ui/question_dialog.h"

namespace autorun::host::lint {

namespace {

constexpr int kLargestLogoWidth = 240;
constexpr int kLargestLogoHeight = 100;
constexpr std::string_view kCardConfiguration = "2577/autorun_8.qlm";

// The card as the scratch device holds it: the folder's files, the additions, and the
// checked text as the card's enciphered configuration file.
std::vector<CardAddition> cardContent(const Context& c, const LintOptions& options) {
  std::vector<CardAddition> additions = options.cardAdditions;
  const std::vector<std::uint8_t> file = encipherConfigurationText(c.text, options.key);
  additions.push_back(CardAddition{std::string(kCardConfiguration), std::nullopt,
                                   std::string(file.begin(), file.end())});
  return additions;
}

bool startsWithFolder(const std::u16string& path, const std::u16string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == u'\\';
}

class CardChecker {
 public:
  CardChecker(Context& context, const LintOptions& options)
      : c_(context),
        options_(options),
        device_(*options.cardFolder, cardContent(context, options)),
        rehearsal_(device_, options.key) {}

  void run() {
    checkCardFiles();
    if (rehearsal_.loadResult() != kLoadOk) return;  // the text's own findings say why
    for (std::u16string_view list :
         {std::u16string_view(u"install_actions"), std::u16string_view(u"card_insert_actions")}) {
      checkSources(list);
    }
    checkInstalledFiles();
    checkLogo();
    checkVersionStamp();
    checkInstallation();
  }

 private:
  InstallerContext& planning() { return rehearsal_.planning(); }
  PlatformServices& device() { return rehearsal_.planningPlatform(); }
  std::u16string card() { return findCardFolder(planning()); }

  bool cardHolds(const std::string& relative) const {
    if (std::any_of(options_.cardAdditions.begin(), options_.cardAdditions.end(),
                    [&](const CardAddition& a) { return a.relative == relative; })) {
      return true;
    }
    std::error_code error;
    return std::filesystem::exists(*options_.cardFolder / relative, error);
  }

  void checkCardFiles() {
    if (!cardHolds(std::string(kCardConfiguration))) {
      c_.report(0, Severity::Note, "card-configuration",
                "the card holds no '2577\\autorun_8.qlm': the installer looks for its "
                "configuration there (autorun-config build puts it there)");
    } else {
      checkCardConfiguration();
    }
    const std::u16string installer =
        u"\\" + std::u16string(ScratchDevice::kCardName) + u"\\2577\\autorun.exe";
    if (device().fileAttributes(installer) == kInvalidAttributes) {
      c_.report(0, Severity::Error, "card-installer",
                "the card holds no '2577\\autorun.exe': the device starts that program when "
                "the card is inserted, so nothing is ever installed");
    }
  }

  // Each list is planned in one plan, as the installer runs it: the installation's
  // "makedir" folders first; the card-insertion copies after the installation's folders.
  // The card's own configuration file must hold the text checked: it is what the
  // installer reads.
  void checkCardConfiguration() {
    const std::filesystem::path place = *options_.cardFolder / kCardConfiguration;
    std::ifstream in(place, std::ios::binary);
    if (!in) return;  // an addition of build's: the text checked
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::optional<std::u16string> text = decipherConfigurationFile(bytes, options_.key);
    if (!text) {
      c_.report(0, Severity::Error, "card-configuration",
                "the card's '2577\\autorun_8.qlm' is not enciphered with this key: the "
                "installer refuses it (configuration is invalid, code 3); make it with "
                "autorun-config encode or build");
      return;
    }
    if (*text == c_.input.text) return;
    std::error_code error;
    const bool older =
        options_.filePath && std::filesystem::last_write_time(place, error) <
                                 std::filesystem::last_write_time(*options_.filePath, error);
    c_.report(0, Severity::Error, "card-configuration-stale",
              std::string("the card's '2577\\autorun_8.qlm' holds other text than this file") +
                  (older ? " and is older than it" : "") +
                  ": the installer reads the card's file; encode this one onto the card again");
  }

  void checkSources(std::u16string_view list) {
    CopyPlan plan;
    written_.clear();
    if (list == u"install_actions") {
      collectMakedirActions(planning().config, list, plan);
    } else {
      for (const std::u16string& folder : installFolders_) plan.addDirectory(folder);
    }
    walkActionList(
        planning().config, list, u"src", [&](std::uint32_t n, const std::u16string& source) {
          const std::u16string key = actionKey(list, u"src", n);
          const std::size_t jobsBefore = plan.jobs.size();
          const std::size_t foldersBefore = plan.directories.size();
          collectCopyAction(planning(), list, n, source, plan);
          if (plan.jobs.size() == jobsBefore && plan.directories.size() == foldersBefore) {
            const bool pattern = hasWildcard(source);
            c_.reportKey(key, Severity::Error, "card-src",
                         "'" + u8(key) + "' names '" + u8(source) + "', which " +
                             (pattern ? "matches nothing" : "does not exist") +
                             " on the card: nothing is copied for it");
            return;
          }
          checkPlan(key, plan, jobsBefore, foldersBefore);
        });
    if (list == u"install_actions") installFolders_ = plan.directories;
  }

  // The jobs and folders that entry `key` added to the plan, from `firstJob` and
  // `firstFolder` on.
  void checkPlan(const std::u16string& key, const CopyPlan& plan, std::size_t firstJob,
                 std::size_t firstFolder) {
    std::vector<CopyJob> jobs;
    for (std::size_t k = firstJob; k < plan.jobs.size(); ++k) jobs.push_back(plan.jobs[k]);
    bool reportedLength = false;
    for (const CopyJob& job : jobs) {
      installed_.insert(foldLower(job.destination));
      if (++written_[foldLower(job.destination)] == 2) {
        c_.reportKey(key, Severity::Error, "copy-overwrite",
                     "'" + u8(key) + "' writes more than one file to '" + u8(job.destination) +
                         "', one over the other: make the folder it copies into (a makedir "
                         "entry), or end dst with the file's own name");
      }
      const std::size_t longest = std::max(job.source.size(), job.destination.size());
      if (longest > kLongestPath && !reportedLength) {
        reportedLength = true;
        c_.reportKey(key, Severity::Error, "path-too-long",
                     "'" + u8(key) + "' copies to or from a path of " + std::to_string(longest) +
                         " characters ('" + shown(job.destination) +
                         "'): the installer handles at most 259 and stops the installation "
                         "with \"Can't copy\"");
      }
    }
    // A folder the copy makes that receives nothing: the copy goes on past it.
    for (std::size_t k = firstFolder; k < plan.directories.size(); ++k) {
      const std::u16string& folder = plan.directories[k];
      const bool filled = std::any_of(jobs.begin(), jobs.end(), [&](const CopyJob& j) {
        return startsWithFolder(j.destination, folder);
      });
      const bool parent =
          std::any_of(plan.directories.begin() + static_cast<std::ptrdiff_t>(firstFolder),
                      plan.directories.end(),
                      [&](const std::u16string& d) { return startsWithFolder(d, folder); });
      if (!filled && !parent) {
        c_.reportKey(key, Severity::Note, "card-empty-folder",
                     "'" + u8(key) + "' makes the folder '" + u8(folder) +
                         "' on the device and copies nothing into it: its source folder on "
                         "the card holds no file");
      }
    }
  }

  // Files that other entries name as installed: each must be put there by a copy.
  void checkInstalledFiles() {
    std::vector<std::u16string> keys;
    for (std::u16string_view list :
         {std::u16string_view(u"install_actions"), std::u16string_view(u"card_insert_actions")}) {
      for (std::u16string_view kind :
           {std::u16string_view(u"link_prg"), std::u16string_view(u"register_dll")}) {
        if (kind == u"register_dll" && list != u"install_actions") continue;
        for (std::uint32_t n = 1; planning().config.hasKey(actionKey(list, kind, n)); ++n) {
          keys.push_back(actionKey(list, kind, n));
        }
      }
    }
    if (planning().config.hasKey(u"upgrade/application_exe")) {
      keys.push_back(u"upgrade/application_exe");
    }
    for (const std::u16string& key : keys) {
      const std::u16string path = planning().config.getString(key, u"");
      if (path.empty() || installed_.count(foldLower(path)) > 0) continue;
      if (device().fileAttributes(path) != kInvalidAttributes) continue;  // on the device
      c_.reportKey(key, Severity::Error, "not-installed",
                   "'" + u8(key) + "' names '" + shown(path) +
                       "', which no copy of the installation puts there: " + effectOfMissing(key));
    }
  }

  static std::string effectOfMissing(const std::u16string& key) {
    if (key == u"upgrade/application_exe")
      return "the update finds no installed program to compare";
    if (key.find(u"/register_dll_") != std::u16string::npos) {
      return "the DLL cannot be loaded, so it is never registered";
    }
    return "the shortcut is written but starts nothing";
  }

  void checkLogo() {
    if (!planning().config.hasKey(u"common/logo")) return;
    const std::u16string path = logoPath(planning());
    LogoImage logo;
    LogoProblem problem = LogoProblem::None;
    const int result = logo.load(device(), path, &problem);
    if (result != LogoImage::kLoaded) {
      c_.reportKey(u"common/logo", Severity::Error, "card-logo",
                   "the logo '" + u8(path) + "' " + describeLogoProblem(problem) +
                       ": the dialogs show the built-in logo");
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
    const int boxWidth = planning().config.getInt(u"common/logo_width", 0);
    const int boxHeight = planning().config.getInt(u"common/logo_height", 0);
    if ((boxWidth != width || boxHeight != height) && boxWidth > 0 && boxHeight > 0) {
      const bool cut = boxWidth < width || boxHeight < height;
      c_.reportKey(c_.store.hasKey(u"common/logo_width") ? u"common/logo_width" : u"common/logo",
                   Severity::Warning, "logo-box",
                   "the logo box (common/logo_width x common/logo_height) is " +
                       std::to_string(boxWidth) + " x " + std::to_string(boxHeight) +
                       ", the logo " + size +
                       ": the image is drawn unscaled at the box's top left corner, so " +
                       (cut ? "it is cut off" : "the box is not filled") +
                       "; give the box the image's size");
    }
  }

  static std::string describeLogoProblem(LogoProblem problem) {
    switch (problem) {
      case LogoProblem::CannotOpen:
        return "(card folder, navigation/sd_dir, common/logo) is not on the card";
      case LogoProblem::NotBitmap:
        return "is not a BMP file (it does not begin with \"BM\")";
      case LogoProblem::HeaderCut:
        return "is a BMP file cut short inside its headers";
      case LogoProblem::Depth:
        return "has a colour depth the installer does not draw (it draws 1, 4, 8, 16, 24 "
               "and 32 bits per pixel)";
      case LogoProblem::Compressed:
        return "is compressed (run-length or bit fields): the installer draws uncompressed "
               "bitmaps only";
      case LogoProblem::NegativeWidth:
        return "gives a negative width";
      case LogoProblem::TooLarge:
        return "holds more pixels than the installer reads";
      case LogoProblem::TableCut:
        return "is cut short inside its colour table";
      case LogoProblem::PixelsCut:
        return "is cut short inside its pixels";
      case LogoProblem::OutOfMemory:
      case LogoProblem::None:
        break;
    }
    return "cannot be read";
  }

  void checkVersionStamp() {
    if (!planning().config.hasKey(u"upgrade/application_dat")) return;
    const std::u16string value = planning().config.getString(u"upgrade/application_dat", u"");
    const std::u16string path = card() + value;
    if (device().fileAttributes(path) == kInvalidAttributes) {
      c_.reportKey(u"upgrade/application_dat", Severity::Error, "card-version-stamp",
                   "'upgrade/application_dat' names '" + u8(value) +
                       "', which is not on the card: no update is ever offered");
      return;
    }
    std::uint32_t stamp = 0;
    if (!readVersionStamp(device(), path, stamp)) {
      c_.reportKey(
          u"upgrade/application_dat", Severity::Error, "card-version-stamp",
          "the version stamp of '" + u8(value) + "' cannot be read: no update is ever offered");
    }
  }

  // An installation, then the uninstallation, on the scratch device: the installation
  // must finish, and the installed mark must be gone afterwards, or the next card
  // insertion starts a program that is gone.
  void checkInstallation() {
    const int installed = rehearsal_.install();
    if (const nlohmann::json* stop = firstMessage(rehearsal_.installTrace())) {
      c_.reportSection(u"install_actions", Severity::Error, "install-fails",
                       "an installation from this card on a fresh device stops with the "
                       "message \"" +
                           escapeControls(stop->value("text", std::string())) + "\"");
      return;
    }
    if (installed != kExitOk || !isInstalled(rehearsal_.installedContext())) return;
    rehearsal_.uninstall();
    if (!rehearsal_.installedAfterUninstall()) return;
    const std::u16string section = u"uninstall_actions";
    c_.reportKey(u"registry/installed", Severity::Error, "uninstall-keeps-installed",
                 "the uninstallation leaves '" +
                     shown(planning().config.getString(u"registry/installed", u"")) +
                     "' (registry/installed) at 1: the next card insertion starts the removed "
                     "program and never offers to install; add a remove_reg of it to [" +
                     u8(section) + "]");
  }

  // The first message box of a run that is no question: an error that stopped it.
  static const nlohmann::json* firstMessage(const std::vector<nlohmann::json>& trace) {
    for (const nlohmann::json& event : trace) {
      if (event.value("op", std::string()) == "message_box") return &event;
    }
    return nullptr;
  }

  Context& c_;
  const LintOptions& options_;
  ScratchDevice device_;
  Rehearsal rehearsal_;
  std::set<std::u16string> installed_;  // folded destinations of every planned copy
  std::vector<std::u16string> installFolders_;
  std::map<std::u16string, int> written_;  // folded destination: copies of the list to it  // the
                                           // installation's plan's folders
};

}  // namespace

void checkCard(Context& context, const LintOptions& options) {
  CardChecker(context, options).run();
}

}  // namespace autorun::host::lint
