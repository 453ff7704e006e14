#include "platform/sim/device_config.h"

#include <charconv>
#include <limits>

#include <nlohmann/json.hpp>

#include "host_text/code_pages.h"
#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& fileName, const std::string& message) {
  throw SimError(fileName + ": " + message);
}

// Line and column (both from 1) of a byte offset counted from 1, as the parser reports it.
std::pair<std::size_t, std::size_t> lineAndColumn(std::string_view text, std::size_t byte) {
  std::size_t line = 1;
  std::size_t column = 1;
  const std::size_t end = std::min(byte > 0 ? byte - 1 : 0, text.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return {line, column};
}

class FieldReader {
 public:
  explicit FieldReader(const std::string& fileName) : fileName_(fileName) {}

  void requireObject(const json& value, const std::string& where) const {
    if (!value.is_object()) fail(fileName_, where + " must be an object");
  }
  std::u16string string(const json& value, const std::string& where) const {
    if (!value.is_string()) fail(fileName_, where + " must be a string");
    return host::fromUtf8(value.get<std::string>());
  }
  bool boolean(const json& value, const std::string& where) const {
    if (!value.is_boolean()) fail(fileName_, where + " must be true or false");
    return value.get<bool>();
  }
  int integer(const json& value, const std::string& where, int low, int high) const {
    if (!value.is_number_integer()) fail(fileName_, where + " must be a whole number");
    const auto number = value.get<std::int64_t>();
    if (number < low || number > high) {
      fail(fileName_,
           where + " must lie between " + std::to_string(low) + " and " + std::to_string(high));
    }
    return static_cast<int>(number);
  }
  void onlyFields(const json& object, const std::string& where,
                  std::initializer_list<std::string_view> known) const {
    for (const auto& item : object.items()) {
      bool found = false;
      for (std::string_view name : known) found = found || item.key() == name;
      if (!found) fail(fileName_, "unknown field \"" + item.key() + "\" in " + where);
    }
  }
  const std::string& fileName() const { return fileName_; }

 private:
  const std::string& fileName_;
};

std::u16string devicePath(const FieldReader& reader, const json& value, const std::string& where) {
  std::u16string path = reader.string(value, where);
  if (path.empty() || path.front() != u'\\') {
    fail(reader.fileName(), where + " must be a device path starting with a backslash");
  }
  return path;
}

}  // namespace

DeviceConfig parseDeviceConfig(std::string_view text, const std::string& fileName) {
  json root;
  try {
    root = json::parse(text.begin(), text.end());
  } catch (const json::parse_error& error) {
    const auto [line, column] = lineAndColumn(text, error.byte);
    std::string message = error.what();
    // Keep the parser's own explanation, without its prefix and position.
    if (const auto colon = message.find("syntax error"); colon != std::string::npos) {
      message = message.substr(colon);
    }
    throw SimError(fileName + ":" + std::to_string(line) + ":" + std::to_string(column) +
                   ": malformed JSON: " + message);
  } catch (const json::exception& error) {
    // A number beyond what any number type holds (1e999) is refused without a position.
    throw SimError(fileName + ": malformed JSON: " + error.what());
  }

  const FieldReader reader(fileName);
  reader.requireObject(root, "the file");
  reader.onlyFields(
      root, "the file",
      {"cards", "special_folders", "free_bytes", "windows", "dialog_client", "code_page"});

  DeviceConfig config;
  if (root.contains("cards")) {
    const json& cards = root["cards"];
    if (!cards.is_array()) fail(fileName, "\"cards\" must be a list of folder names");
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < cards.size(); ++i) {
      const std::string where = "\"cards\"[" + std::to_string(i) + "]";
      std::u16string name = reader.string(cards[i], where);
      if (name.empty() || name.find_first_of(u"\\/") != std::u16string::npos) {
        fail(fileName, where + " must be one folder name in the root");
      }
      names.push_back(std::move(name));
    }
    config.cards = std::move(names);
  }

  if (root.contains("special_folders")) {
    const json& folders = root["special_folders"];
    reader.requireObject(folders, "\"special_folders\"");
    for (const auto& item : folders.items()) {
      const std::string where = "\"special_folders\".\"" + item.key() + "\"";
      int number = 0;
      const char* begin = item.key().data();
      const char* end = begin + item.key().size();
      const auto [next, error] = std::from_chars(begin, end, number);
      if (error != std::errc() || next != end || item.key().empty()) {
        fail(fileName, where + ": the key must be a folder number");
      }
      if (item.value().is_null()) {
        config.specialFolders.erase(number);
      } else {
        config.specialFolders[number] = devicePath(reader, item.value(), where);
      }
    }
  }

  if (root.contains("free_bytes")) {
    const json& free = root["free_bytes"];
    if (free.is_null()) {
      config.freeBytes = std::optional<std::uint64_t>();
    } else if (free.is_number_unsigned() ||
               (free.is_number_integer() && free.get<std::int64_t>() >= 0)) {
      config.freeBytes = std::optional<std::uint64_t>(free.get<std::uint64_t>());
    } else {
      fail(fileName, "\"free_bytes\" must be a whole number of bytes (0 or more) or null");
    }
  }

  if (root.contains("windows")) {
    const json& windows = root["windows"];
    if (!windows.is_array()) fail(fileName, "\"windows\" must be a list");
    for (std::size_t i = 0; i < windows.size(); ++i) {
      const std::string where = "\"windows\"[" + std::to_string(i) + "]";
      const json& window = windows[i];
      reader.requireObject(window, where);
      reader.onlyFields(window, where, {"class", "title", "closes", "process_exits"});
      SimWindowSetup setup;
      if (window.contains("class"))
        setup.windowClass = reader.string(window["class"], where + ".class");
      if (window.contains("title")) setup.title = reader.string(window["title"], where + ".title");
      if (window.contains("closes"))
        setup.closes = reader.boolean(window["closes"], where + ".closes");
      if (window.contains("process_exits")) {
        setup.processExits = reader.boolean(window["process_exits"], where + ".process_exits");
      }
      config.windows.push_back(std::move(setup));
    }
  }

  if (root.contains("dialog_client")) {
    const json& client = root["dialog_client"];
    reader.requireObject(client, "\"dialog_client\"");
    reader.onlyFields(client, "\"dialog_client\"", {"width", "height"});
    if (client.contains("width")) {
      config.dialogClientWidth =
          reader.integer(client["width"], "\"dialog_client\".width", 1, 10000);
    }
    if (client.contains("height")) {
      config.dialogClientHeight =
          reader.integer(client["height"], "\"dialog_client\".height", 1, 10000);
    }
  }

  if (root.contains("code_page")) {
    config.codePage = reader.integer(root["code_page"], "\"code_page\"", 0, 65535);
    if (!host::isSupportedCodePage(config.codePage)) {
      fail(fileName, "\"code_page\" " + std::to_string(config.codePage) +
                         " is not supported (874, 1250 to 1258, 65001)");
    }
  }
  return config;
}

}  // namespace autorun::sim
