// What the installer needs from a configuration: the entries without which it ends,
// the message texts with their "%s" placeholders, and the entries its flows read.
#include <algorithm>

#include "common/config_lint_internal.h"
#include "host_text/utf.h"

namespace autorun::host::lint {

namespace {

enum class Fill { None, Brand, BrandAndSize, Website };

struct MessageText {
  std::u16string_view key;
  Fill fill;
  bool shown;  // a flow shows it
};

// In the order the installer fills them, then the texts it shows without filling.
constexpr MessageText kMessageTexts[] = {
    {u"install/title", Fill::Brand, true},
    {u"install/ready", Fill::Brand, false},
    {u"install/question", Fill::Brand, true},
    {u"update/title", Fill::Brand, true},
    {u"update/ready", Fill::Brand, false},
    {u"reinstall/question", Fill::Brand, true},
    {u"uninstall/title", Fill::Brand, true},
    {u"uninstall/ready", Fill::Brand, true},
    {u"uninstall/question", Fill::Brand, true},
    {u"uninstall/link", Fill::Brand, false},
    {u"uninstall/notinstalled", Fill::Brand, true},
    {u"error/tail", Fill::Website, false},
    {u"error/freespace", Fill::BrandAndSize, true},
    {u"update/newer", Fill::None, true},
    {u"update/older", Fill::None, true},
    {u"error/running", Fill::None, true},
};

std::size_t count(std::u16string_view text, std::u16string_view needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::u16string_view::npos;
       at = text.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

struct NeededKey {
  std::u16string_view key;
  Severity severity;
  std::string_view effect;
};

constexpr NeededKey kNeededKeys[] = {
    {u"install/question", Severity::Warning, "the install question is shown empty"},
    {u"install/title", Severity::Warning,
     "the install question and the free-space message "
     "have an empty caption"},
    {u"uninstall/title", Severity::Warning, "the uninstaller's messages have an empty caption"},
    {u"uninstall/question", Severity::Warning, "the uninstaller asks an empty question"},
    {u"uninstall/ready", Severity::Warning, "the message after uninstalling is empty"},
    {u"uninstall/notinstalled", Severity::Warning,
     "the message of an uninstaller with nothing installed is empty"},
    {u"reinstall/question", Severity::Warning, "the reinstall question is shown empty"},
    {u"error/freespace", Severity::Warning, "the message for too little free space is empty"},
    {u"error/running", Severity::Warning, "the message that the application is running is empty"},
    {u"registry/installed", Severity::Warning,
     "the installer cannot mark the application as installed: every start installs again, "
     "and the uninstaller finds nothing to remove"},
    {u"registry/cardpath", Severity::Note, "the card folder is not recorded in the registry"},
    {u"registry/autorun", Severity::Note,
     "the application is never started when the card is inserted"},
    {u"registry/today_enabled", Severity::Note, "the Today screen item is not switched"},
    {u"registry/today_enabled_save", Severity::Note,
     "the Today screen item's state is not kept between card removal and insertion"},
    {u"navigation/exe", Severity::Warning,
     "the installer starts no program after installing (the path ends in a backslash)"},
    {u"navigation/windowclass", Severity::Warning,
     "the check whether the application runs looks for a window with an empty class"},
    {u"navigation/windowname", Severity::Warning,
     "the check whether the application runs looks for a window with an empty title"},
    {u"common/logo", Severity::Note, "the dialogs show the built-in logo"},
};

// The two lists without which a card cannot work.
void checkLists(Context& c) {
  struct List {
    std::u16string_view name;
    std::string_view effect;
  };
  constexpr List kLists[] = {
      {u"install_actions",
       "the installation makes no folder, copies no file and writes nothing but its own "
       "marks, so the application never reaches the device"},
      {u"uninstall_actions",
       "the uninstallation removes nothing: the files, shortcuts and registry values stay, "
       "and so does the installed mark, so the device takes the application for installed "
       "for good"},
  };
  for (const List& list : kLists) {
    const std::u16string prefix = std::u16string(list.name) + u"/";
    const auto it = c.store.entries().lower_bound(prefix);
    if (it != c.store.entries().end() && it->first.compare(0, prefix.size(), prefix) == 0) {
      continue;
    }
    c.reportSection(
        list.name, Severity::Error, "missing-list",
        "there is no [" + u8(list.name) + "] with entries: " + std::string(list.effect));
  }
}

void checkRequired(Context& c) {
  for (std::u16string_view key :
       {std::u16string_view(u"common/brand"), std::u16string_view(u"common/website")}) {
    if (!c.store.hasKey(key)) {
      c.reportSection(u"common", Severity::Error, "missing-required",
                      "'" + u8(key) +
                          "' is not set: the installer ends with code 3 (configuration is "
                          "invalid) before it does anything");
    }
  }
}

void checkMessageTexts(Context& c) {
  const std::u16string brand = c.store.getString(u"common/brand", u"");
  for (const MessageText& text : kMessageTexts) {
    if (!c.store.hasKey(text.key)) continue;
    const std::u16string value = c.store.getString(text.key, u"");
    const std::size_t placeholders = count(value, u"%s");
    const std::size_t filled = text.fill == Fill::None           ? 0
                               : text.fill == Fill::BrandAndSize ? 2
                                                                 : 1;
    const std::string what =
        text.fill == Fill::Website ? "the website (common/website)" : "the brand (common/brand)";
    if (filled > 0 && placeholders == 0) {
      const bool brandWritten =
          text.fill != Fill::Website && !brand.empty() && value.find(brand) != std::u16string::npos;
      if (!brandWritten) {
        c.reportKey(text.key, text.shown ? Severity::Warning : Severity::Note, "brand-placeholder",
                    "'" + u8(text.key) + "' has no '%s': the installer puts " + what +
                        " into the first '%s' of this text, so it is not shown");
      }
    }
    if (text.fill == Fill::BrandAndSize && placeholders < 2) {
      std::string message =
          "'error/freespace' holds " + std::to_string(placeholders) +
          " '%s': the installer fills the first with the brand and the second with the "
          "space needed (in bytes), so the size is not shown";
      if (value.find(u"%d") != std::u16string::npos || value.find(u"%u") != std::u16string::npos) {
        message += "; write '%s' for the size, not '%d'";
      }
      c.reportKey(text.key, Severity::Warning, "freespace-placeholders", std::move(message));
    }
    if (placeholders > filled) {
      const std::string message =
          filled == 0 ? "'%s' is never filled in '" + u8(text.key) +
                            "': it is shown as written; write '${common/brand}' for the brand"
          : filled == 1
              ? "only the first '%s' of '" + u8(text.key) + "' is filled (with " + what +
                    "); this one is shown as written"
              : "only the first two '%s' of 'error/freespace' are filled; this one is shown "
                "as written";
      c.reportInValue(text.key, u"%s", filled, Severity::Warning, "placeholder-unfilled", message);
    }
  }
}

void checkNeededKeys(Context& c) {
  for (const NeededKey& needed : kNeededKeys) {
    if (c.store.hasKey(needed.key)) continue;
    const std::u16string_view section = needed.key.substr(0, needed.key.find(u'/'));
    c.reportSection(section, needed.severity, "missing-key",
                    "'" + u8(needed.key) + "' is not set: " + std::string(needed.effect));
  }

  // The update offer needs both executables; its texts matter only then.
  const bool hasCardExe = c.store.hasKey(u"upgrade/application_dat");
  const bool hasDeviceExe = c.store.hasKey(u"upgrade/application_exe");
  if (hasCardExe != hasDeviceExe) {
    const std::u16string_view missing =
        hasCardExe ? u"upgrade/application_exe" : u"upgrade/application_dat";
    c.reportSection(u"upgrade", Severity::Warning, "missing-key",
                    "'" + u8(missing) +
                        "' is not set: without both executables the version stamps cannot be "
                        "compared and no update is ever offered");
  }
  if (hasCardExe && hasDeviceExe) {
    for (std::u16string_view key :
         {std::u16string_view(u"update/title"), std::u16string_view(u"update/newer"),
          std::u16string_view(u"update/older")}) {
      if (!c.store.hasKey(key)) {
        c.reportSection(u"update", Severity::Warning, "missing-key",
                        "'" + u8(key) + "' is not set: the update offer shows it empty");
      }
    }
  }

  // The logo box.
  if (c.store.hasKey(u"common/logo")) {
    for (std::u16string_view key :
         {std::u16string_view(u"common/logo_width"), std::u16string_view(u"common/logo_height")}) {
      if (c.store.getInt(key, 0) <= 0) {
        c.reportKey(c.store.hasKey(key) ? key : std::u16string_view(u"common/logo"),
                    Severity::Warning, "logo-box",
                    "'" + u8(key) +
                        "' is not a positive number: the logo control is sized by it, so "
                        "the logo is not seen");
      }
    }
  }
}

}  // namespace

void checkNeeds(Context& context) {
  checkRequired(context);
  checkLists(context);
  checkMessageTexts(context);
  checkNeededKeys(context);
}

}  // namespace autorun::host::lint
