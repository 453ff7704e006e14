// Bad input from a hand-made card, and what each must give. The tables here are the ones
// in the README ("What happens when ...").
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "actions/registry_actions.h"
#include "base/config_codec.h"
#include "base/config_store.h"
#include "base/logo_image.h"
#include "configuration_key.h"
#include "context/config_loader.h"
#include "flows/card_flows.h"
#include "flows/install_flow.h"
#include "flows/uninstall_flow.h"
#include "flows/upgrade_flow.h"
#include "hardening/hardening_fixture.h"
#include "host_text/utf.h"

namespace autorun::testing::hardening {
namespace {

// ---- Helpers -------------------------------------------------------------------------------

std::string utf16(std::u16string_view text, bool mark = true) {
  std::string out = mark ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string withCrLf(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return host::fromUtf8(out);
}

std::string encipher(std::string_view plain, std::string_view key) {
  ConfigFileCodec codec(reinterpret_cast<const std::uint8_t*>(key.data()),
                        static_cast<std::uint32_t>(key.size()));
  ByteCodec::Buffer out;
  std::uint32_t count = 0;
  codec.encode(reinterpret_cast<const std::uint8_t*>(plain.data()),
               static_cast<std::uint32_t>(plain.size()), out, count);
  return std::string(reinterpret_cast<const char*>(out.get()), count);
}

const std::string kKey(kConfigurationKey, kConfigurationKeyLength);

constexpr char kSmallConfiguration[] = R"([common]
brand = "Atlas"
website = "atlas.example"
[registry]
installed = "HKLM\\Software\\Atlas\\Installed"
cardpath = "HKLM\\Software\\Atlas\\CardPath"
[install]
title = "%s setup"
question = "Install %s?"
[uninstall]
title = "%s removal"
question = "Remove %s?"
ready = "%s has been removed."
)";

// The message boxes of a run, in order.
std::vector<std::string> messageBoxes(const sim::SimPlatform& device) {
  std::vector<std::string> texts;
  for (const nlohmann::json& entry : device.trace()) {
    if (entry.value("op", "") == "message_box") texts.push_back(entry.value("text", ""));
  }
  return texts;
}

// ---- Configuration files -------------------------------------------------------------------

struct ConfigurationFileCase {
  const char* what;
  std::function<std::string()> file;
  int loadResult;
  const char* message;      // the fatal message box, or null for none
  bool systemCopy = false;  // a usable configuration also lies in the system folder
};

std::string paddedTo(std::size_t bytes) {
  std::u16string text = withCrLf(kSmallConfiguration);
  const std::size_t room = (bytes - 2) / 2 - text.size();  // code units left for the padding
  text += u";" + std::u16string(room - 1, u'x');
  std::string file = encipher(utf16(text), kKey);
  if (file.size() < bytes) file.push_back('\0');  // an odd size: one byte more
  return file;
}

const ConfigurationFileCase kConfigurationFiles[] = {
    {"of 0 bytes", [] { return std::string(); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"of 1 byte", [] { return std::string("\x42"); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"of 100000 bytes", [] { return paddedTo(100000); }, kLoadOk, nullptr},
    {"of 100001 bytes", [] { return paddedTo(100001); }, kLoadCannotOpen,
     "Fatal error: cannot open configuration file. (1)"},
    {"of 100001 bytes beside a usable system copy", [] { return paddedTo(100001); },
     kLoadCannotOpen, "Fatal error: cannot open configuration file. (1)", true},
    {"enciphered under another key",
     [] { return encipher(utf16(withCrLf(kSmallConfiguration)), "XYZ20000101000000"); },
     kLoadInvalid, "Fatal error: configuration is invalid. (3)"},
    {"not enciphered", [] { return utf16(withCrLf(kSmallConfiguration)); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"in plain UTF-8", [] { return encipher(kSmallConfiguration, kKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"in UTF-16 without the mark",
     [] { return encipher(utf16(withCrLf(kSmallConfiguration), false), kKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"holding only the mark", [] { return encipher("\xFF\xFE", kKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"with a brand but no website",
     [] { return encipher(utf16(u"[common]\r\nbrand = \"Atlas\"\r\n"), kKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"in UTF-16 with lines ended by LF alone",
     [] { return encipher(utf16(host::fromUtf8(kSmallConfiguration)), kKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
};

TEST(BadInput, ConfigurationFiles) {
  for (const ConfigurationFileCase& c : kConfigurationFiles) {
    SCOPED_TRACE(std::string("a configuration file ") + c.what);
    DeviceImage image;
    const std::string file = c.file();
    if (std::string(c.what).find("100000 bytes") != std::string::npos) {
      ASSERT_EQ(file.size(), 100000u);
    }
    if (std::string(c.what).find("100001 bytes") != std::string::npos) {
      ASSERT_EQ(file.size(), 100001u);
    }
    image.writeFile(u"\\Storage Card\\2577\\autorun_8.qlm", file);
    if (c.systemCopy) image.writeConfiguration(kSmallConfiguration, u"\\Windows\\autorun_8.qlm");
    const auto device = image.platform();
    InstallerContext context(*device, kKey);
    context.moduleHandle = sim::SimPlatform::kModuleHandle;
    EXPECT_EQ(loadConfiguration(context), c.loadResult);
    const std::vector<std::string> shown = messageBoxes(*device);
    if (c.message == nullptr) {
      EXPECT_TRUE(shown.empty());
    } else {
      EXPECT_EQ(shown, std::vector<std::string>{c.message});
    }
  }
}

// ---- Configuration texts, straight into the parser --------------------------------------------

struct ParsedText {
  ConfigStore store;
  bool parsed = false;
  std::size_t storedUnits = 0;
};

std::unique_ptr<ParsedText> parse(const std::u16string& text) {
  auto out = std::make_unique<ParsedText>();
  const std::string bytes = utf16(text);
  out->parsed =
      out->store.parseText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  for (const auto& [key, value] : out->store.entries())
    out->storedUnits += key.size() + value.size();
  return out;
}

TEST(BadInput, LinesOfOneMegabyte) {
  const std::u16string megabyte(1 << 20, u'v');
  // An entry: stored whole.
  auto entry = parse(u"[s]\r\nlong = \"" + megabyte + u"\"\r\nafter = \"1\"");
  EXPECT_TRUE(entry->parsed);
  EXPECT_EQ(entry->store.getString(u"s/long", u"").size(), megabyte.size());
  EXPECT_EQ(entry->store.getString(u"s/after", u""), u"1");
  // A name of 1 MB is stored; a header of 1 MB with spaces in it and a line of 1 MB
  // without "=" change nothing, and the text goes on.
  std::u16string spaced;
  while (spaced.size() < megabyte.size()) spaced += u"a b ";
  auto name = parse(u"[s]\r\n" + megabyte + u" = \"x\"\r\n[" + spaced + u"]\r\n" + megabyte +
                    u"\r\nafter = \"1\"");
  EXPECT_TRUE(name->parsed);
  EXPECT_EQ(name->store.entries().size(), 2u);
  EXPECT_EQ(name->store.getString(u"s/" + megabyte, u""), u"x");
  EXPECT_EQ(name->store.getString(u"s/after", u""), u"1");
}

TEST(BadInput, HundredThousandEntries) {
  std::u16string text = u"[list]\r\n";
  for (int n = 1; n <= 100000; ++n) {
    text += u"src_" + host::fromUtf8(std::to_string(n)) + u" = \"\\\\Atlas\\\\file\"\r\n";
  }
  auto parsed = parse(text);
  EXPECT_EQ(parsed->store.entries().size(), 100000u);
  EXPECT_EQ(parsed->store.getString(u"list/src_100000", u""), u"\\Atlas\\file");
}

// Each entry refers twice to the one before: a 100000-byte file would describe values of
// 2^3000 characters.
TEST(BadInput, DeeplyChainedReferences) {
  std::u16string text = u"[c]\r\na0 = \"0123456789abcdef\"";
  int entries = 1;
  for (; text.size() < 49000; ++entries) {
    const std::u16string previous = u"a" + host::fromUtf8(std::to_string(entries - 1));
    text += u"\r\na" + host::fromUtf8(std::to_string(entries)) + u" = \"${" + previous + u"}${" +
            previous + u"}\"";
  }
  ASSERT_LE(utf16(text).size(), kMaxConfigurationFileSize);
  const auto started = std::chrono::steady_clock::now();
  auto parsed = parse(text);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_TRUE(parsed->parsed);
  EXPECT_EQ(parsed->store.entries().size(), static_cast<std::size_t>(entries));
  EXPECT_EQ(parsed->store.getString(u"c/a1", u""), u"0123456789abcdef0123456789abcdef");
  // Stored text stays within a small multiple of the file (a few million code units).
  EXPECT_LE(parsed->storedUnits, std::size_t{64} << 20);
  std::printf("%d chained entries: %zu code units stored in %.1f s\n", entries, parsed->storedUnits,
              seconds);

  // A chain of single references resolves to the first value at any depth.
  std::u16string single = u"[c]\r\nb0 = \"x\"";
  for (int n = 1; n < 5000; ++n) {
    single += u"\r\nb" + host::fromUtf8(std::to_string(n)) + u" = \"${b" +
              host::fromUtf8(std::to_string(n - 1)) + u"}\"";
  }
  EXPECT_EQ(parse(single)->store.getString(u"c/b4999", u""), u"x");
  // A reference to itself, or to one not yet defined, gives the empty text.
  auto self = parse(u"[c]\r\nme = \"<${me}>\"\r\nearly = \"${late}\"\r\nlate = \"1\"");
  EXPECT_EQ(self->store.getString(u"c/me", u"?"), u"<>");
  EXPECT_EQ(self->store.getString(u"c/early", u"?"), u"");
}

// ---- Logos -----------------------------------------------------------------------------------

struct Bmp {
  std::int32_t width = 4;
  std::int32_t height = 4;
  std::uint16_t depth = 24;
  std::uint32_t compression = 0;
  std::uint32_t pixelOffset = 0;   // 0: right after the colour table
  std::int64_t tableEntries = -1;  // -1: 2^depth for depths up to 8
  std::int64_t pixelBytes = -1;    // -1: all rows

  std::string build() const {
    std::string out;
    auto put = [&out](std::uint32_t value, int bytes) {
      for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const std::int64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    const std::int64_t stride = (static_cast<std::int64_t>(depth) * width + 31) / 32 * 4;
    const std::int64_t table = tableEntries >= 0 ? tableEntries : (depth <= 8 ? 1 << depth : 0);
    const std::int64_t pixels = pixelBytes >= 0 ? pixelBytes : stride * rows;
    const std::uint32_t offset =
        pixelOffset != 0 ? pixelOffset : static_cast<std::uint32_t>(54 + 4 * table);
    out += "BM";
    put(static_cast<std::uint32_t>(offset + pixels), 4);
    put(0, 4);
    put(offset, 4);
    put(40, 4);
    put(static_cast<std::uint32_t>(width), 4);
    put(static_cast<std::uint32_t>(height), 4);
    put(1, 2);
    put(depth, 2);
    put(compression, 4);
    for (int i = 0; i < 5; ++i) put(0, 4);
    for (std::int64_t i = 0; i < 4 * table; ++i) out.push_back(static_cast<char>(i));
    while (out.size() < offset && pixelOffset != 0 && pixelOffset < (1u << 20)) out.push_back(0);
    for (std::int64_t i = 0; i < pixels; ++i) out.push_back(static_cast<char>(i * 3));
    return out;
  }
};

std::string bmp(const std::function<void(Bmp&)>& change = {}) {
  Bmp b;
  if (change) change(b);
  return b.build();
}

struct LogoCase {
  const char* what;
  std::function<std::optional<std::string>()> file;  // nothing: no file at all
  int result;
};

const LogoCase kLogos[] = {
    {"a sound 4 x 4, 24-bit logo", [] { return bmp(); }, LogoImage::kLoaded},
    {"no file", [] { return std::nullopt; }, LogoImage::kCannotOpen},
    {"an empty file", [] { return std::string(); }, LogoImage::kNotABitmap},
    {"only \"BM\"", [] { return std::string("BM"); }, LogoImage::kNotABitmap},
    {"another signature", [] { return "MB" + bmp().substr(2); }, LogoImage::kNotABitmap},
    {"a file header cut short", [] { return bmp().substr(0, 10); }, LogoImage::kNotABitmap},
    {"an info header cut short", [] { return bmp().substr(0, 30); }, LogoImage::kNotABitmap},
    {"depth 0", [] { return bmp([](Bmp& b) { b.depth = 0; }); }, LogoImage::kNotABitmap},
    {"depth 3", [] { return bmp([](Bmp& b) { b.depth = 3; }); }, LogoImage::kNotABitmap},
    {"depth 64", [] { return bmp([](Bmp& b) { b.depth = 64; }); }, LogoImage::kNotABitmap},
    {"run-length compression",
     [] {
       return bmp([](Bmp& b) {
         b.depth = 8;
         b.compression = 1;
       });
     },
     LogoImage::kNotABitmap},
    {"bit-field compression",
     [] {
       return bmp([](Bmp& b) {
         b.depth = 16;
         b.compression = 3;
       });
     },
     LogoImage::kNotABitmap},
    {"a negative width", [] { return bmp([](Bmp& b) { b.width = -4; }); }, LogoImage::kNotABitmap},
    {"the most negative height",
     [] {
       return bmp([](Bmp& b) {
         b.height = INT32_MIN;
         b.pixelBytes = 16;
       });
     },
     LogoImage::kNotABitmap},
    {"100000 x 100000 pixels",
     [] {
       return bmp([](Bmp& b) {
         b.width = 100000;
         b.height = 100000;
         b.pixelBytes = 16;
       });
     },
     LogoImage::kNotABitmap},
    {"a row size beyond 32 bits and no rows",
     [] {
       return bmp([](Bmp& b) {
         b.width = 0x36000000;
         b.height = 0;
         b.pixelBytes = 0;
       });
     },
     LogoImage::kNotABitmap},
    {"pixels that lie beyond the end",
     [] {
       return bmp([](Bmp& b) {
         b.pixelOffset = 0x7FFFFFF0u;
         b.pixelBytes = 0;
       });
     },
     LogoImage::kNotABitmap},
    {"pixels cut short", [] { return bmp([](Bmp& b) { b.pixelBytes = 20; }); },
     LogoImage::kNotABitmap},
    {"a colour table cut short",
     [] {
       return bmp([](Bmp& b) {
         b.depth = 8;
         b.tableEntries = 10;
         b.pixelBytes = 0;
       });
     },
     LogoImage::kNotABitmap},
    {"no rows (height 0)", [] { return bmp([](Bmp& b) { b.height = 0; }); }, LogoImage::kLoaded},
    {"rows top-down (negative height)", [] { return bmp([](Bmp& b) { b.height = -4; }); },
     LogoImage::kLoaded},
};

TEST(BadInput, Logos) {
  for (const LogoCase& c : kLogos) {
    SCOPED_TRACE(std::string("a logo with ") + c.what);
    DeviceImage image;
    image.writeFile(u"\\Storage Card\\good.bmp", bmp([](Bmp& b) {
                      b.width = 2;
                      b.height = 2;
                    }));
    const std::optional<std::string> file = c.file();
    if (file) image.writeFile(u"\\Storage Card\\logo.bmp", *file);
    const auto device = image.platform();
    // A logo already loaded stays as it was when the next one cannot be read.
    LogoImage logo;
    ASSERT_EQ(logo.load(*device, u"\\Storage Card\\good.bmp"), LogoImage::kLoaded);
    EXPECT_EQ(logo.load(*device, u"\\Storage Card\\logo.bmp"), c.result);
    if (c.result != LogoImage::kLoaded) {
      EXPECT_EQ(logo.width(), 2);
      EXPECT_EQ(logo.height(), 2);
    }
  }
}

// The install question with a broken logo: asked all the same, with the built-in picture.
TEST(BadInput, ABrokenLogoDoesNotStopTheInstallation) {
  DeviceImage image;
  writeCardAndBystanders(image);
  image.writeFile(u"\\Storage Card\\Atlas\\logo.bmp", bmp([](Bmp& b) { b.width = -1; }));
  sim::SimOptions options;
  options.answers = {true};
  const auto device = image.platform(options);
  const auto context = loadInstaller(*device);
  ASSERT_NE(context, nullptr);
  EXPECT_TRUE(runInstall(*context, true));
  EXPECT_FALSE(context->questionLogo.loaded());
  EXPECT_TRUE(image.exists(kInstalledExe));
}

// ---- Executables and their version stamps -----------------------------------------------------

struct ExecutableCase {
  const char* what;
  std::function<std::string()> file;
  std::optional<std::uint32_t> stamp;  // nothing: no stamp can be read
};

// A 1024-byte executable whose last four bytes are 0x11111111; with `entryWord`, the
// certificate-table entry (offset, size 0x460) lies in that word pair of the header, and
// 0x22222222 stands 8 bytes before `tableOffset`.
std::string executable(int entryWord = -1, std::uint32_t tableOffset = 0, std::size_t size = 1024) {
  std::string bytes(size, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  auto put = [&bytes](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4 && at + i < bytes.size(); ++i)
      bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  if (size >= 4) put(size - 4, 0x11111111);
  if (entryWord >= 0) {
    put(4 * entryWord, 0x460);
    if (entryWord > 0) put(4 * (entryWord - 1), tableOffset);
    if (tableOffset >= 8 && tableOffset - 8 < size) put(tableOffset - 8, 0x22222222);
  }
  return bytes;
}

const ExecutableCase kExecutables[] = {
    {"no certificate entry", [] { return executable(); }, 0x11111111},
    {"an entry pointing inside the file", [] { return executable(40, 800); }, 0x22222222},
    {"an entry in the last header word", [] { return executable(127, 800); }, 0x22222222},
    {"an entry with offset 0", [] { return executable(40, 0); }, 0x11111111},
    {"an entry in word 0", [] { return executable(0, 0); }, 0x11111111},
    {"an entry pointing before its stamp's room", [] { return executable(40, 4); }, std::nullopt},
    {"an entry pointing past the end", [] { return executable(40, 5000); }, std::nullopt},
    {"an entry pointing at the last byte", [] { return executable(40, 1023 + 8); }, std::nullopt},
    {"an entry pointing at 4 GB", [] { return executable(40, 0xFFFFFFFFu); }, std::nullopt},
    {"511 bytes (no whole header)", [] { return executable(40, 800, 511); }, 0x11111111},
    {"3 bytes", [] { return std::string("MZ\x01"); }, std::nullopt},
    {"0 bytes", [] { return std::string(); }, std::nullopt},
};

TEST(BadInput, Executables) {
  for (const ExecutableCase& c : kExecutables) {
    SCOPED_TRACE(std::string("an executable with ") + c.what);
    DeviceImage image;
    image.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", c.file());
    const auto device = image.platform();
    std::uint32_t stamp = 0;
    const bool read = readVersionStamp(*device, u"\\Storage Card\\Atlas\\atlas.exe", stamp);
    EXPECT_EQ(read, c.stamp.has_value());
    if (c.stamp && read) {
      EXPECT_EQ(stamp, *c.stamp);
    }
  }
}

// A card whose executable has no readable stamp is not offered as an update.
TEST(BadInput, AnUnreadableStampOffersNoUpdate) {
  DeviceImage image;
  writeCardAndBystanders(image);
  {
    sim::SimOptions options;
    options.answers = {true};
    const auto device = image.platform(options);
    const auto context = loadInstaller(*device);
    ASSERT_NE(context, nullptr);
    ASSERT_TRUE(runInstall(*context, true));
  }
  image.writeFile(kCardExe, executable(40, 5000));
  sim::SimOptions options;
  options.answers = {true};
  const auto device = image.platform(options);
  const auto context = loadInstaller(*device);
  ASSERT_NE(context, nullptr);
  onCardInserted(*context);
  EXPECT_TRUE(messageBoxes(*device).empty());
  EXPECT_EQ(device->answersLeft(), 1u);
}

// ---- Paths of 259, 260 and 1000 characters in every action kind ---------------------------------

enum class Flow { Install, Uninstall, CardInsert };

// `prefix`, then folders of "d", then `tail`: exactly `length` characters.
std::u16string pathOf(std::u16string_view prefix, std::size_t length, std::u16string_view tail) {
  std::u16string path(prefix);
  std::size_t left = length - prefix.size() - tail.size();
  while (left > 0) {
    std::size_t part = std::min<std::size_t>(left, 41);
    if (left - part == 1) --part;  // never leave a lone backslash
    path += u"\\" + std::u16string(part - 1, u'd');
    left -= part;
  }
  return path + std::u16string(tail);
}

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
