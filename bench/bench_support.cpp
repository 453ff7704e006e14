#include "bench_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace autorun::bench {

namespace {

constexpr const char* kHeader =
    "[common]\n"
    "brand = \"Atlas Navigator\"\n"
    "website = \"www.atlas-nav.example\"\n"
    "logo = \"logo.bmp\"\n"
    "preinstalled = \"0\"\n"
    "[navigation]\n"
    "exe_parent = \"PROGRAM_FILES\"\n"
    "exe_dir = \"Atlas Navigator\"\n"
    "exe = \"AtlasNav.exe\"\n"
    "sd_dir = \"Atlas\"\n"
    "[install]\n"
    "title = \"%s Setup\"\n"
    "question = \"Install %s on this device?\"\n"
    "ready = \"%s has been installed.\"\n"
    "[update]\n"
    "title = \"%s Update\"\n"
    "ready = \"%s has been updated.\"\n"
    "[reinstall]\n"
    "question = \"%s is already installed.\\nInstall it again?\"\n"
    "[uninstall]\n"
    "title = \"%s Uninstall\"\n"
    "question = \"Remove %s from this device?\"\n"
    "ready = \"%s has been removed.\"\n"
    "link = \"Uninstall %s\"\n"
    "notinstalled = \"%s is not installed on this device.\"\n"
    "[error]\n"
    "tail = \"For help, visit %s.\"\n"
    "freespace = \"There is not enough memory to install %s.\\n%s bytes are needed.\"\n"
    "[registry]\n"
    "installed = \"HKLM\\\\Software\\\\Atlas\\\\Navigator\\\\Installed\"\n";

}  // namespace

std::size_t configurationFileSize(const std::string& text) {
  const auto lineFeeds = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  return 2 + 2 * (text.size() + lineFeeds);
}

std::string padToFileSize(std::string text, std::size_t fileSize) {
  const std::size_t size = configurationFileSize(text);
  const std::size_t line = configurationFileSize("; \n") - 2;  // the shortest comment line
  if (size + line > fileSize || (fileSize - size) % 2 != 0)
    throw std::logic_error("configuration text does not fit the wanted size");
  text += "; ";
  text.append((fileSize - size - line) / 2, 'x');
  text += "\n";
  return text;
}

std::string typicalConfiguration(std::size_t fileSize) {
  std::string text = kHeader;
  text +=
      "[install_actions]\n"
      "makedir_1 = \"%PROGRAM_FILES%\\\\${navigation/exe_dir}\"\n"
      "makedir_2 = \"${makedir_1}\\\\Skins\"\n";
  // Leave room for the message sections and the padding.
  std::string actions;
  for (int n = 1; configurationFileSize(text) + configurationFileSize(actions) < fileSize / 2;
       ++n) {
    const std::string i = std::to_string(n);
    actions += "src_" + i + " = \"\\\\Atlas\\\\Files\\\\file" + i + ".dat\"\n";
    actions += "dst_" + i + " = \"${makedir_1}\\\\file" + i + ".dat\"\n";
    actions += "reg_key_" + i + " = \"HKLM\\\\Software\\\\Atlas\\\\Navigator\\\\Item" + i + "\"\n";
    actions += "reg_str_value_" + i + " = \"%SDCARD%\\\\Atlas\\\\item" + i + "\"\n";
  }
  text += actions;
  for (int n = 1;; ++n) {
    const std::string i = std::to_string(n);
    std::string section = "[messages_" + i + "]\n";
    section += "caption = \"${common/brand} message " + i + "\"\n";
    section += "text = \"%PERSONAL%\\\\Atlas\\\\notes" + i + ".txt could not be read.\"\n";
    section += "help = \"${caption}: see ${common/website}.\"\n";
    section += "link = \"%PROGRAMS%\\\\Atlas " + i + ".lnk\"\n";
    if (configurationFileSize(text) + configurationFileSize(section) + 64 > fileSize) break;
    text += section;
  }
  return padToFileSize(std::move(text), fileSize);
}

std::string worstCaseConfiguration(std::size_t fileSize) {
  std::string text = kHeader;
  text += "[chain]\ne1 = \"%PROGRAM_FILES%\\\\Atlas\"\n";
  for (int n = 2;; ++n) {
    // Every entry holds the whole value of the one before, plus a little: the values grow
    // with the chain, so the text stored grows with the square of its length.
    const std::string line = "e" + std::to_string(n) + " = \"${e" + std::to_string(n - 1) +
                             "}\\\\${chain/e1}%SDCARD%\"\n";
    if (configurationFileSize(text) + configurationFileSize(line) + 64 > fileSize) break;
    text += line;
  }
  return padToFileSize(std::move(text), fileSize);
}

CardTree makeCardTree(const autorun::testing::DeviceImage& image, int files,
                      std::size_t fileBytes) {
  namespace fs = std::filesystem;
  const fs::path root = image.hostPath(u"\\Storage Card\\Maps");
  const std::string content(fileBytes, 'm');
  CardTree tree;
  tree.folders = files / 10;
  for (int t = 0; t < tree.folders / 10; ++t) {
    const fs::path topFolder = root / ("region" + std::to_string(t));
    for (int s = 0; s < 10; ++s) {
      // The top folder itself holds files too: ten folders per group in all.
      const fs::path folder = s == 0 ? topFolder : topFolder / ("tile" + std::to_string(s));
      fs::create_directories(folder);
      for (int f = 0; f < 10; ++f, ++tree.files) {
        std::ofstream(folder / ("part" + std::to_string(f) + ".map"), std::ios::binary) << content;
      }
    }
  }
  return tree;
}

}  // namespace autorun::bench
