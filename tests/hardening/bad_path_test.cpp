// Paths of 259, 260 and 1000 characters in every action kind, and registry locations of
// every malformed shape, from a hand-made card: what each must do, and that nothing beyond
// what the configuration names is touched. The tables here are the ones in the README
// ("What happens when ...").
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "actions/registry_actions.h"
#include "flows/card_flows.h"
#include "flows/install_flow.h"
#include "flows/uninstall_flow.h"

#include "hardening/bad_input_support.h"
#include "hardening/hardening_fixture.h"

namespace autorun::testing::hardening {
namespace {

// ---- Paths of 259, 260 and 1000 characters in every action kind ---------------------------------

enum class Flow { Install, Uninstall, CardInsert };

// A configuration value: backslashes written twice.
std::string value(std::u16string_view text) {
  std::string out;
  for (char c : host::toUtf8(text)) {
    if (c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return "\"" + out + "\"";
}

std::u16string parentOf(std::u16string_view path) {
  return std::u16string(path.substr(0, path.rfind(u'\\')));
}

struct PathCase {
  const char* kind;
  Flow flow;
  // Lays out the device for a path of `length` characters and gives the action lines.
  std::function<std::string(DeviceImage&, std::size_t)> prepare;
  // Whether the action took effect.
  std::function<bool(DeviceImage&, const sim::SimPlatform&, std::size_t)> done;
  // What a path that is too long shows (empty: nothing), and whether it fails the install.
  std::function<std::string(std::size_t)> tooLongMessage;
  bool tooLongFailsInstall = false;
  // Whether a path of 259 characters works (a folder of 259 leaves no room for its files).
  bool worksAt259 = true;
};

const std::u16string kProgramFolder = u"\\Program Files\\Atlas";
std::u16string sourceOf(std::size_t n) {
  return pathOf(u"\\Storage Card\\Atlas", n, u"\\atlas.exe");
}
std::u16string folderOf(std::size_t n) {
  return pathOf(kProgramFolder, n, u"");
}
std::u16string dllOf(std::size_t n) {
  return pathOf(kProgramFolder, n, u"\\atlasext.dll");
}
std::u16string linkOf(std::size_t n) {
  return pathOf(u"\\Windows\\Start Menu\\Programs", n, u"\\Atlas.lnk");
}
std::u16string locationOf(std::size_t n) {
  return pathOf(u"HKLM\\Software\\Atlas", n, u"\\Value");
}
std::u16string cardCopyOf(std::size_t n) {
  return pathOf(u"\\My Documents", n, u"\\atlas.ini");
}

bool loaded(const sim::SimPlatform& device, std::u16string_view path) {
  for (const nlohmann::json& entry : device.trace()) {
    if (entry.value("op", "") == "load_library" && entry.value("path", "") == host::toUtf8(path))
      return entry.value("ok", false);
  }
  return false;
}

const PathCase kPathCases[] = {
    {"makedir", Flow::Install,
     [](DeviceImage&, std::size_t n) { return "makedir_1 = " + value(folderOf(n)) + "\n"; },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t n) {
       return std::filesystem::is_directory(image.hostPath(folderOf(n)));
     },
     [](std::size_t) { return std::string(); }, true},
    {"src", Flow::Install,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(sourceOf(n), "MZ source");
       return "makedir_1 = \"%PROGRAM_FILES%\\\\Atlas\"\nsrc_1 = " + value(sourceOf(n).substr(13)) +
              "\ndst_1 = \"%PROGRAM_FILES%\\\\Atlas\"\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t) {
       return image.exists(u"\\Program Files\\Atlas\\atlas.exe");
     },
     [](std::size_t) { return std::string(); }},
    {"dst", Flow::Install,
     [](DeviceImage& image, std::size_t n) {
       image.makeFolder(parentOf(pathOf(kProgramFolder, n, u"\\atlas.exe")));
       return "src_1 = \"\\\\Atlas\\\\atlas.exe\"\ndst_1 = " +
              value(pathOf(kProgramFolder, n, u"\\atlas.exe")) + "\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t n) {
       return image.exists(pathOf(kProgramFolder, n, u"\\atlas.exe"));
     },
     [](std::size_t) { return std::string("Can't copy:\n\\Storage Card\\Atlas\\atlas.exe"); },
     true},
    {"link_name", Flow::Install,
     [](DeviceImage& image, std::size_t n) {
       image.makeFolder(parentOf(linkOf(n)));
       return "link_name_1 = " + value(linkOf(n)) +
              "\nlink_prg_1 = \"\\\\Storage Card\\\\Atlas\\\\atlas.exe\"\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t n) {
       return image.exists(linkOf(n));
     },
     [](std::size_t n) { return "Cannot create link file: " + host::toUtf8(linkOf(n)) + "!"; }},
    {"link_prg", Flow::Install,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(sourceOf(n), "MZ target");
       return "link_name_1 = \"%PROGRAMS%\\\\Atlas.lnk\"\nlink_prg_1 = " + value(sourceOf(n)) +
              "\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t) {
       return image.exists(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk");
     },
     [](std::size_t) { return std::string(); }},
    {"reg_key", Flow::Install,
     [](DeviceImage&, std::size_t n) {
       return "reg_key_1 = " + value(locationOf(n)) + "\nreg_dw_value_1 = \"7\"\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t) {
       return image.registryText().find("\"Value\"=dword:00000007") != std::string::npos;
     },
     [](std::size_t) { return std::string(); }},
    {"register_dll", Flow::Install,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(dllOf(n), "MZ dll");
       return "register_dll_1 = " + value(dllOf(n)) + "\n";
     },
     [](DeviceImage&, const sim::SimPlatform& device, std::size_t n) {
       return loaded(device, dllOf(n));
     },
     [](std::size_t) { return std::string(); }},
    {"remove_link", Flow::Uninstall,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(linkOf(n), "1#\"x\"");
       return "remove_link_1 = " + value(linkOf(n)) + "\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t n) {
       return !image.exists(linkOf(n));
     },
     [](std::size_t) { return std::string(); }},
    {"remove_file", Flow::Uninstall,
     [](DeviceImage& image, std::size_t n) {
       const std::u16string pattern = pathOf(kProgramFolder, n, u"\\*.*");
       image.writeFile(parentOf(pattern) + u"\\a", "a");
       return "remove_file_1 = " + value(pattern) + "\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t n) {
       return !image.exists(parentOf(pathOf(kProgramFolder, n, u"\\*.*")) + u"\\a");
     },
     [](std::size_t) { return std::string(); }},
    {"remove_dir", Flow::Uninstall,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(folderOf(n) + u"\\a", "a");
       return "remove_dir_1 = " + value(folderOf(n)) + "\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t n) {
       return !image.exists(folderOf(n) + u"\\a");
     },
     [](std::size_t) { return std::string(); }, false, false},
    {"remove_reg", Flow::Uninstall,
     [](DeviceImage& image, std::size_t n) {
       std::string key = host::toUtf8(locationOf(n).substr(5));
       image.writeRegistry("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + key +
                           "]\n\"Keep\"=dword:00000001\n");
       return "remove_reg_1 = " + value(locationOf(n)) + "\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t) {
       return image.registryText().find("\\Value]") == std::string::npos;
     },
     [](std::size_t) { return std::string(); }},
    {"unregister_dll", Flow::Uninstall,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(dllOf(n), "MZ dll");
       return "unregister_dll_1 = " + value(dllOf(n)) + "\n";
     },
     [](DeviceImage&, const sim::SimPlatform& device, std::size_t n) {
       return loaded(device, dllOf(n));
     },
     [](std::size_t) { return std::string(); }},
    {"card_insert src", Flow::CardInsert,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(sourceOf(n), "MZ source");
       return "src_1 = " + value(sourceOf(n).substr(13)) +
              "\ndst_1 = \"%PERSONAL%\\\\atlas.exe\"\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t) {
       return image.exists(u"\\My Documents\\atlas.exe");
     },
     [](std::size_t) { return std::string(); }},
    {"card_insert dst", Flow::CardInsert,
     [](DeviceImage& image, std::size_t n) {
       image.writeFile(u"\\Storage Card\\Atlas\\atlas.ini", "[atlas]");
       image.makeFolder(parentOf(cardCopyOf(n)));
       return "src_1 = \"\\\\Atlas\\\\atlas.ini\"\ndst_1 = " + value(cardCopyOf(n)) + "\n";
     },
     [](DeviceImage& image, const sim::SimPlatform&, std::size_t n) {
       return image.exists(cardCopyOf(n));
     },
     [](std::size_t) { return std::string(); }},
};

TEST(BadInput, PathsOf259And260And1000CharactersInEveryActionKind) {
  const ImagesInMemory inMemory;
  for (const PathCase& c : kPathCases) {
    for (const std::size_t length : {259u, 260u, 1000u}) {
      SCOPED_TRACE(std::string(c.kind) + " with a path of " + std::to_string(length) +
                   " characters");
      DeviceImage image;
      image.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", "MZ card");
      const std::string lines = c.prepare(image, length);
      const char* section = c.flow == Flow::Install     ? "[install_actions]\n"
                            : c.flow == Flow::Uninstall ? "[uninstall_actions]\n"
                                                        : "[card_insert_actions]\n";
      image.writeConfiguration(std::string(kSmallConfiguration) + section + lines);
      const DeviceSnapshot before = snapshot(image.dir());

      sim::SimOptions options;
      options.answers = {true};
      const auto device = image.platform(options);
      const auto context = loadInstaller(*device);
      ASSERT_NE(context, nullptr);
      bool installed = true;
      std::vector<std::string> expected;
      switch (c.flow) {
        case Flow::Install:
          installed = runInstall(*context, true);
          break;
        case Flow::Uninstall:
          runUninstall(*context, true);
          expected.push_back("Remove Atlas?");
          break;
        case Flow::CardInsert:
          onCardInserted(*context);
          break;
      }
      const bool works = length < 260 && c.worksAt259;
      EXPECT_EQ(c.done(image, *device, length), works);
      std::vector<std::string> shown = messageBoxes(*device);
      if (c.flow == Flow::Uninstall) expected.push_back("Atlas has been removed.");
      if (!works && !c.tooLongMessage(length).empty()) {
        expected.insert(expected.end() - (c.flow == Flow::Uninstall ? 1 : 0),
                        c.tooLongMessage(length));
      }
      EXPECT_EQ(shown, expected);
      if (c.flow == Flow::Install) {
        EXPECT_EQ(installed, works || !c.tooLongFailsInstall);
      }
      // Nothing beyond what the configuration names.
      const NamedByConfiguration named(context->config);
      const std::vector<std::string> untouchable = named.untouchable(before, snapshot(image.dir()));
      EXPECT_TRUE(untouchable.empty()) << untouchable.front();
    }
  }
}

// ---- Device paths with a lone surrogate --------------------------------------------------------

struct SurrogateCase {
  const char* kind;
  std::u16string lines;  // of "[install_actions]"
  bool installs;
  std::vector<std::string> messages;
};

// What the trace shows for a lone surrogate: the replacement character.
const std::string kReplaced = "\xEF\xBF\xBD";

const SurrogateCase kSurrogates[] = {
    {"makedir", u"makedir_1 = \"\\Program Files\\Atlas\xD800\"\r\n", false, {}},
    {"dst",
     u"src_1 = \"\\Atlas\\atlas.exe\"\r\ndst_1 = \"\\Program Files\\a\xD800.exe\"\r\n",
     false,
     {"Can't copy:\n\\Storage Card\\Atlas\\atlas.exe"}},
    {"two dst that differ only in a lone surrogate",
     u"src_1 = \"\\Atlas\\atlas.exe\"\r\ndst_1 = \"\\Program Files\\b\xDBFF.exe\"\r\n"
     u"src_2 = \"\\Atlas\\atlas.exe\"\r\ndst_2 = \"\\Program Files\\b\xDC00.exe\"\r\n",
     false,
     {"Can't copy:\n\\Storage Card\\Atlas\\atlas.exe"}},
    {"link_name",
     u"link_name_1 = \"\\Windows\\Start Menu\\Programs\\A\xDC00.lnk\"\r\n"
     u"link_prg_1 = \"\\Storage Card\\Atlas\\atlas.exe\"\r\n",
     true,
     {"Cannot create link file: \\Windows\\Start Menu\\Programs\\A" + kReplaced + ".lnk!"}},
};

// A host name cannot hold a lone surrogate: such a component is refused like any invalid
// name, never turned into U+FFFD (where two names would become one file that no later
// path finds).
TEST(BadInput, DevicePathsWithALoneSurrogate) {
  for (const SurrogateCase& c : kSurrogates) {
    SCOPED_TRACE(c.kind);
    DeviceImage image;
    image.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", "MZ card");
    image.writeFile(
        u"\\Storage Card\\2577\\autorun_8.qlm",
        encipher(utf16(withCrLf(kSmallConfiguration) + u"[install_actions]\r\n" + c.lines),
                 kTestKey));
    sim::SimOptions options;
    options.answers = {true};
    const auto device = image.platform(options);
    const auto context = loadInstaller(*device);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(runInstall(*context, true), c.installs);
    EXPECT_EQ(messageBoxes(*device), c.messages);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(image.dir() / "fs")) {
      EXPECT_EQ(entry.path().filename().string().find(kReplaced), std::string::npos)
          << entry.path();
    }
  }
}

// ---- Registry locations of every malformed shape
// -------------------------------------------------

struct LocationCase {
  const char* what;
  std::u16string location;
  // What writing 42 there adds to a registry holding HKLM\Software (difference lines).
  std::vector<std::string> written;
};

const LocationCase kLocations[] = {
    {"a sound location",
     u"HKLM\\Software\\A\\V",
     {"+key HKEY_LOCAL_MACHINE\\Software\\A", "+value HKEY_LOCAL_MACHINE\\Software\\A\\@V"}},
    {"a key's default value",
     u"HKLM\\Software\\A\\",
     {"+key HKEY_LOCAL_MACHINE\\Software\\A", "+value HKEY_LOCAL_MACHINE\\Software\\A\\@"}},
    {"a value of the root key", u"HKLM\\\\V", {"+value HKEY_LOCAL_MACHINE\\@V"}},
    {"the key itself to delete", u"HKLM\\Software\\", {"+value HKEY_LOCAL_MACHINE\\Software\\@"}},
    {"the empty text", u"", {}},
    {"the root alone", u"HKLM", {}},
    {"the root and its separator", u"HKLM\\", {}},
    {"no key path", u"HKLM\\V", {}},
    {"a root in lower case", u"hklm\\Software\\A\\V", {}},
    {"an unknown root", u"HKXX\\Software\\A\\V", {}},
    {"a root of five letters", u"HKLMX\\Software\\A\\V", {}},
    {"a root the long way", u"HKEY_LOCAL_MACHINE\\Software\\A\\V", {}},
    {"a space for the separator", u"HKLM Software\\A\\V", {}},
    {"slashes for backslashes", u"HKLM/Software/A/V", {}},
    {"no root", u"\\Software\\A\\V", {}},
    {"an empty key name inside", u"HKLM\\Software\\\\A\\V", {}},
    {"a key path ending in a backslash", u"HKLM\\Software\\A\\\\V", {}},
    {"a control character in a key name", u"HKLM\\Software\\A\tB\\V", {}},
    {"a control character in the value name",
     u"HKLM\\Software\\A\\V\nW",
     {"+key HKEY_LOCAL_MACHINE\\Software\\A"}},
    {"259 characters", pathOf(u"HKLM\\Software", 259, u"\\V"), {}},
    {"260 characters", pathOf(u"HKLM\\Software", 260, u"\\V"), {}},
    {"1000 characters", pathOf(u"HKLM\\Software", 1000, u"\\V"), {}},
};

TEST(BadInput, RegistryLocations) {
  for (const LocationCase& c : kLocations) {
    SCOPED_TRACE(std::string("a registry location with ") + c.what);
    DeviceImage image;
    image.writeRegistry(
        "Windows Registry Editor Version "
        "5.00\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"Keep\"=dword:00000001\n");
    const DeviceSnapshot before = snapshot(image.dir());
    const auto device = image.platform();
    writeRegistryDword(*device, c.location, 42);
    std::vector<std::string> written = differences(before, snapshot(image.dir()));
    std::vector<std::string> expected = c.written;
    if (std::string(c.what) == "259 characters") {
      // Every key of the path is new.
      EXPECT_FALSE(written.empty());
      EXPECT_EQ(readRegistryDword(*device, c.location), 42u);
    } else {
      EXPECT_EQ(written, expected);
      const bool valueWritten =
          std::any_of(written.begin(), written.end(),
                      [](const std::string& d) { return d.rfind("+value", 0) == 0; });
      EXPECT_EQ(readRegistryDword(*device, c.location), valueWritten ? 42u : kAbsentMarker);
    }

    // Deleting there: no location here names an existing subkey, so nothing goes (an
    // empty subkey name would be the key itself), and the shell is still told.
    const RegistryLocation parsed = parseRegistryLocation(c.location);
    const DeviceSnapshot beforeDelete = snapshot(image.dir());
    EXPECT_FALSE(deleteRegistryKey(*device, parsed.root, parsed.keyPath, parsed.name));
    EXPECT_EQ(differences(beforeDelete, snapshot(image.dir())), std::vector<std::string>{});
    EXPECT_EQ(device->trace().back().value("op", ""), "broadcast");
  }
}

}  // namespace
}  // namespace autorun::testing::hardening
