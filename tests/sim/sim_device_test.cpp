// The simulated device beyond files and registry: its description, questions and message
// boxes, dialogs, windows, libraries and text conversion.
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "base/dialog_ids.h"
#include "platform/sim/sim_platform.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

using autorun::testing::DeviceImage;
using nlohmann::json;

std::string errorOf(const DeviceImage& image) {
  try {
    image.platform();
  } catch (const SimError& error) {
    return error.what();
  }
  return "";
}

TEST(SimDevice, TheDescriptionIsCheckedFieldByField) {
  struct Case {
    std::string text;
    std::string message;  // part of the error
  };
  const Case cases[] = {
      {"{\n  \"cards\": [\"SD\",\n}", "device.json:3:1: malformed JSON"},
      {"[1, 2]", "must be an object"},
      {"{\"card\": []}", "unknown field \"card\""},
      {"{\"cards\": \"Storage Card\"}", "\"cards\" must be a list"},
      {"{\"cards\": [\"a\\\\b\"]}", "one folder name"},
      {"{\"special_folders\": {\"two\": \"\\\\x\"}}", "must be a folder number"},
      {"{\"special_folders\": {\"2\": \"x\"}}", "starting with a backslash"},
      {"{\"free_bytes\": -1}", "\"free_bytes\""},
      {"{\"free_bytes\": \"lots\"}", "\"free_bytes\""},
      {"{\"windows\": [{\"class\": \"A\", \"closed\": true}]}",
       "unknown field \"closed\" in \"windows\"[0]"},
      {"{\"windows\": [{\"class\": 1}]}", "\"windows\"[0].class must be a string"},
      {"{\"windows\": [{\"closes\": \"yes\"}]}", "must be true or false"},
      {"{\"dialog_client\": {\"width\": 0}}", "\"dialog_client\".width must lie between"},
      {"{\"dialog_client\": {\"depth\": 3}}", "unknown field \"depth\""},
      {"{\"code_page\": 437}", "not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DeviceImage image;
    std::ofstream(image.dir() / "device.json") << c.text;
    const std::string message = errorOf(image);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_NE(message.find("device.json"), std::string::npos) << message;
  }
}

TEST(SimDevice, DefaultsApplyWithoutADescription) {
  DeviceImage image;
  auto platform = image.platform();
  EXPECT_EQ(platform->codePage(), 1252);
  EXPECT_EQ(platform->moduleFileName(SimPlatform::kModuleHandle),
            u"\\Storage Card\\2577\\autorun.exe");
  EXPECT_EQ(platform->findWindowByClass(u"MSContactsUI"), 0u);

  SimOptions options;
  options.installerPath = u"\\SD\\2577\\Uninstall.exe";
  EXPECT_EQ(image.platform(options)->moduleFileName(0), u"\\SD\\2577\\Uninstall.exe");
}

TEST(SimDevice, TextGoesToTheDevicesCodePage) {
  DeviceImage image;
  const std::u16string text = u"Ä€ж\U0001F600x";
  EXPECT_EQ(image.platform()->toMultiByte(text), "\xC4\x80??x");
  image.writeDeviceJson({{"code_page", 1251}});
  EXPECT_EQ(image.platform()->toMultiByte(text), "?\x88\xE6?x");
  image.writeDeviceJson({{"code_page", 65001}});
  EXPECT_EQ(image.platform()->toMultiByte(text), "\xC3\x84\xE2\x82\xAC\xD0\xB6\xF0\x9F\x98\x80x");
}

TEST(SimDevice, MessageBoxesTakeAnswersOnlyForYesNoQuestions) {
  DeviceImage image;
  SimOptions options;
  options.answers = {true, false};
  auto platform = image.platform(options);
  EXPECT_EQ(platform->messageBox(u"Done", u"Atlas", kMbErrorStyle), kIdOk);
  EXPECT_EQ(platform->messageBox(u"Reinstall?", u"Atlas", kMbQuestionStyle), kIdYes);
  EXPECT_EQ(platform->messageBox(u"Warn", u"Atlas", kMbWarningStyle), kIdOk);
  EXPECT_EQ(platform->messageBox(u"Update?", u"Atlas", kMbYesNo), kIdNo);
  EXPECT_EQ(platform->answersLeft(), 0u);
  // Used up and no terminal: No.
  EXPECT_EQ(platform->messageBox(u"Again?", u"Atlas", kMbQuestionStyle), kIdNo);
  const auto& trace = platform->trace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[0], (json{{"op", "message_box"},
                            {"text", "Done"},
                            {"caption", "Atlas"},
                            {"style", kMbErrorStyle},
                            {"answer", kIdOk}}));
  EXPECT_EQ(trace[1]["answer"], kIdYes);
  EXPECT_EQ(trace[1]["style"], kMbQuestionStyle);
  EXPECT_EQ(trace[3]["answer"], kIdNo);
  EXPECT_EQ(trace[4]["answer"], kIdNo);
}

// A dialog procedure that records what it receives and does what the question dialog does.
class RecordingHandler : public DialogHandler {
 public:
  RecordingHandler(PlatformServices& platform, bool endsOnAnswer)
      : platform_(platform), ends_(endsOnAnswer) {}
  bool onInitDialog(WindowHandle dialog) override {
    calls.push_back("init");
    platform_.setWindowText(dialog, u"Install Atlas");
    platform_.setWindowText(platform_.dialogItem(dialog, IDC_QUESTION_TEXT), u"Install now?");
    Rect text;
    platform_.windowRect(platform_.dialogItem(dialog, IDC_QUESTION_TEXT), text);
    textSize = {text.width(), text.height()};
    Rect client;
    platform_.clientRect(dialog, client);
    clientSize = {client.width(), client.height()};
    platform_.moveWindow(platform_.dialogItem(dialog, IDC_QUESTION_LOGO), 78, 50, 4, 2, true);
    return true;
  }
  bool onCommand(WindowHandle dialog, std::uint32_t commandId) override {
    calls.push_back("command " + std::to_string(commandId));
    if (ends_) platform_.endDialog(dialog, commandId == IDC_QUESTION_YES ? 0 : 5);
    return true;
  }
  bool onPaint(WindowHandle dialog) override {
    calls.push_back("paint");
    const WindowHandle logo = platform_.dialogItem(dialog, IDC_QUESTION_LOGO);
    const DrawingSurface surface = platform_.beginPaint(logo);
    // 2 x 2 pixels, 24-bit, bottom-up: the bottom row red, blue; the top row green, white.
    std::uint8_t info[44] = {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
    const std::uint8_t pixels[16] = {0, 0,   255, 255, 0,   0,   0, 0,  // bottom row, padded
                                     0, 255, 0,   255, 255, 255, 0, 0};
    drawn = platform_.drawBitmap(surface, 0, 0, 2, 2, info, pixels);
    platform_.endPaint(logo, surface);
    return false;
  }

  std::vector<std::string> calls;
  std::pair<int, int> textSize;
  std::pair<int, int> clientSize;
  bool drawn = false;

 private:
  PlatformServices& platform_;
  bool ends_;
};

TEST(SimDevice, TheQuestionDialogIsAnsweredFromTheList) {
  DeviceImage image;
  image.writeDeviceJson({{"dialog_client", {{"width", 480}, {"height", 536}}}});
  SimOptions options;
  options.answers = {false, true};
  auto platform = image.platform(options);

  RecordingHandler first(*platform, true);
  EXPECT_EQ(platform->runModalDialog(SimPlatform::kModuleHandle, IDD_QUESTION, first), 5);
  EXPECT_EQ(first.calls, (std::vector<std::string>{"init", "paint", "command 1004"}));
  EXPECT_EQ(first.clientSize, std::make_pair(480, 536));
  // 147 x 17 dialog units with base units 5 x 13.
  EXPECT_EQ(first.textSize, std::make_pair(184, 28));
  EXPECT_TRUE(first.drawn);

  RecordingHandler second(*platform, true);
  EXPECT_EQ(platform->runModalDialog(SimPlatform::kModuleHandle, IDD_QUESTION, second), 0);
  EXPECT_EQ(second.calls.back(), "command 1001");

  // A procedure that never ends its dialog: the run goes on with -1.
  RecordingHandler stuck(*platform, false);
  EXPECT_EQ(platform->runModalDialog(SimPlatform::kModuleHandle, IDD_QUESTION, stuck), -1);
  EXPECT_EQ(platform->runModalDialog(SimPlatform::kModuleHandle, 999, stuck), -1);

  json question;
  for (const json& entry : platform->trace()) {
    if (entry["op"] == "question") {
      question = entry;
      break;
    }
  }
  EXPECT_EQ(question["caption"], "Install Atlas");
  EXPECT_EQ(question["text"], "Install now?");
  EXPECT_EQ(question["answer"], "no");
  EXPECT_EQ(question["template"], IDD_QUESTION);

  // The logo control got the picture, top row first.
  const WindowHandle dialog = platform->dialogs().front();
  const auto logo = platform->windowInfo(platform->dialogItem(dialog, IDC_QUESTION_LOGO));
  ASSERT_TRUE(logo.has_value());
  EXPECT_EQ(logo->rect.left, 78);
  EXPECT_EQ(logo->rect.top, 50);
  const SimSurface* picture =
      platform->windowSurface(platform->dialogItem(dialog, IDC_QUESTION_LOGO));
  ASSERT_NE(picture, nullptr);
  ASSERT_EQ(picture->width, 4);
  ASSERT_EQ(picture->height, 2);
  auto pixel = [&](int x, int y) {
    const std::size_t at = (static_cast<std::size_t>(y) * picture->width + x) * 3;
    return std::vector<int>{picture->rgb[at], picture->rgb[at + 1], picture->rgb[at + 2]};
  };
  EXPECT_EQ(pixel(0, 0), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(pixel(1, 0), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(pixel(0, 1), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(pixel(1, 1), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(pixel(3, 1), (std::vector<int>{255, 255, 255}));  // beyond the bitmap: untouched
}

class StatusHandler : public DialogHandler {
 public:
  explicit StatusHandler(PlatformServices& platform) : platform_(platform) {}
  bool onInitDialog(WindowHandle dialog) override {
    platform_.shellInitDialog(dialog, kShidiFullScreenWithDone);
    platform_.moveWindow(platform_.dialogItem(dialog, IDC_STATUS_PROGRESS), 10, 150, 220, 30, true);
    platform_.setForegroundWindow(dialog);
    return true;
  }
  bool onCommand(WindowHandle, std::uint32_t) override { return true; }
  bool onPaint(WindowHandle) override {
    ++paints;
    return false;
  }
  int paints = 0;

 private:
  PlatformServices& platform_;
};

TEST(SimDevice, TheStatusDialogStaysOpenAndTracesProgress) {
  DeviceImage image;
  auto platform = image.platform();
  StatusHandler handler(*platform);
  const WindowHandle dialog =
      platform->createModelessDialog(SimPlatform::kModuleHandle, IDD_STATUS, handler);
  ASSERT_NE(dialog, 0u);
  EXPECT_EQ(handler.paints, 1);
  for (int position : {33, 66, 100}) {
    platform->sendDialogItemMessage(dialog, IDC_STATUS_PROGRESS, kPbmSetPos,
                                    static_cast<std::uintptr_t>(position), 0);
    platform->updateWindow(dialog);
  }
  EXPECT_EQ(handler.paints, 4);
  EXPECT_EQ(platform->sendDialogItemMessage(dialog, IDC_STATUS_TEXT, kPbmSetPos, 5, 0), 0);
  const auto bar = platform->windowInfo(platform->dialogItem(dialog, IDC_STATUS_PROGRESS));
  ASSERT_TRUE(bar.has_value());
  EXPECT_EQ(bar->progressPosition, 100);
  EXPECT_TRUE(platform->windowInfo(dialog)->open);
  EXPECT_EQ(platform->findWindow(u"#32770", u"Status"), dialog);

  std::vector<json> wanted = {
      {{"op", "open_dialog"},
       {"template", IDD_STATUS},
       {"window", dialog},
       {"modal", false},
       {"ok", true}},
      {{"op", "shell_init_dialog"},
       {"template", IDD_STATUS},
       {"window", dialog},
       {"flags", kShidiFullScreenWithDone}},
  };
  const auto& trace = platform->trace();
  ASSERT_GE(trace.size(), 7u);
  EXPECT_EQ(trace[0], wanted[0]);
  EXPECT_EQ(trace[1], wanted[1]);
  EXPECT_EQ(trace[2]["op"], "move");
  EXPECT_EQ(trace[2]["control"], IDC_STATUS_PROGRESS);
  EXPECT_EQ(trace[2]["width"], 220);
  EXPECT_EQ(trace[3]["op"], "set_foreground");
  std::vector<int> positions;
  for (const json& entry : trace) {
    if (entry["op"] == "progress") positions.push_back(entry["position"]);
  }
  EXPECT_EQ(positions, (std::vector<int>{33, 66, 100}));
}

TEST(SimDevice, WindowsOfOtherProgramsFollowTheDescription) {
  DeviceImage image;
  image.writeDeviceJson({{"windows",
                          {{{"class", "AtlasMain"}, {"title", "Atlas"}},
                           {{"class", "MSContactsUI"},
                            {"title", "Contacts"},
                            {"closes", false},
                            {"process_exits", false}}}}});
  auto platform = image.platform();
  const WindowHandle atlas = platform->findWindow(u"AtlasMain", u"Atlas");
  ASSERT_NE(atlas, 0u);
  EXPECT_EQ(platform->findWindow(u"AtlasMain", u"atlas"), 0u);
  EXPECT_EQ(platform->findWindow(u"AtlasMain", u""), 0u);
  const WindowHandle contacts = platform->findWindowByClass(u"MSContactsUI");
  ASSERT_NE(contacts, 0u);

  auto process = platform->openWindowProcess(contacts);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(platform->postCloseRequest(contacts));
  EXPECT_FALSE(process->waitForExit(kProcessWaitMilliseconds));
  EXPECT_EQ(platform->findWindowByClass(u"MSContactsUI"), contacts);  // it stays

  EXPECT_TRUE(platform->postCloseRequest(atlas));
  EXPECT_EQ(platform->findWindow(u"AtlasMain", u"Atlas"), 0u);
  EXPECT_FALSE(platform->postCloseRequest(atlas));
  EXPECT_EQ(platform->openWindowProcess(atlas), nullptr);

  const auto& trace = platform->trace();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[0], (json{{"op", "close_request"},
                            {"window", contacts},
                            {"class", "MSContactsUI"},
                            {"title", "Contacts"},
                            {"ok", true},
                            {"closed", false}}));
  EXPECT_EQ(trace[1], (json{{"op", "wait_process"},
                            {"class", "MSContactsUI"},
                            {"title", "Contacts"},
                            {"milliseconds", kProcessWaitMilliseconds},
                            {"exited", false}}));
  EXPECT_EQ(trace[2]["closed"], true);
  EXPECT_EQ(trace[3]["ok"], false);
}

TEST(SimDevice, ProgramsAndLibrariesAreRecordedNotRun) {
  DeviceImage image;
  image.writeFile(u"\\Program Files\\Atlas\\atlas.exe", "MZ");
  image.writeFile(u"\\Program Files\\Atlas\\reg.dll", "MZ");
  auto platform = image.platform();
  EXPECT_TRUE(platform->shellOpen(u"\\program files\\atlas\\ATLAS.EXE"));
  EXPECT_FALSE(platform->shellOpen(u"\\program files\\atlas\\missing.exe"));
  auto library = platform->loadLibrary(u"\\Program Files\\Atlas\\reg.dll");
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(library->callEntry("DllRegisterServer"));
  EXPECT_EQ(platform->loadLibrary(u"\\Program Files\\Atlas\\none.dll"), nullptr);
  platform->broadcastSettingChange();

  const std::vector<json> expected = {
      {{"op", "shell_open"}, {"path", "\\program files\\atlas\\ATLAS.EXE"}, {"ok", true}},
      {{"op", "shell_open"}, {"path", "\\program files\\atlas\\missing.exe"}, {"ok", false}},
      {{"op", "load_library"}, {"path", "\\Program Files\\Atlas\\reg.dll"}, {"ok", true}},
      {{"op", "call_entry"},
       {"path", "\\Program Files\\Atlas\\reg.dll"},
       {"entry", "DllRegisterServer"},
       {"ok", true}},
      {{"op", "load_library"}, {"path", "\\Program Files\\Atlas\\none.dll"}, {"ok", false}},
      {{"op", "broadcast"}, {"message", kWmSettingChange}, {"wparam", kSettingChangeToday}},
  };
  EXPECT_EQ(platform->trace(), expected);

  // With real loading, a file that is no shared object does not load.
  SimOptions options;
  options.loadDlls = true;
  auto loading = image.platform(options);
  EXPECT_EQ(loading->loadLibrary(u"\\Program Files\\Atlas\\reg.dll"), nullptr);
  ASSERT_EQ(loading->trace().size(), 1u);
  EXPECT_TRUE(loading->trace()[0].contains("error"));
}

TEST(SimDevice, TheTraceFileHoldsOneObjectPerLine) {
  DeviceImage image;
  const std::filesystem::path file = image.dir() / "trace.jsonl";
  SimOptions options;
  options.traceFile = file;
  options.answers = {true};
  {
    auto platform = image.platform(options);
    platform->messageBox(u"Ünïcode \"text\"", u"Caption", kMbQuestionStyle);
    platform->createDirectory(u"\\Atlas");
    std::ifstream partial(file);
    std::string first;
    ASSERT_TRUE(std::getline(partial, first));  // written at once, not at the end
    EXPECT_EQ(first.rfind("{\"op\":\"message_box\"", 0), 0u);
  }
  std::ifstream in(file);
  std::vector<json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["text"], "Ünïcode \"text\"");
  EXPECT_EQ(lines[0]["answer"], kIdYes);
  EXPECT_EQ(lines[1], (json{{"op", "create_directory"}, {"path", "\\Atlas"}, {"result", 0}}));

  options.traceFile = image.dir() / "no folder" / "trace.jsonl";
  EXPECT_THROW(image.platform(options), SimError);
}

// registry.reg and device.json are read only when they are regular files of a sane size:
// anything else stops at once with an error naming the file, and nothing is written.
TEST(SimDevice, TheImageFilesAreRegularFilesOfBoundedSize) {
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path&)> make;
    std::string message;  // part of the error
  };
  const Case cases[] = {
      {"a FIFO", [](const auto& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0); },
       "not a regular file"},
      {"a link to /dev/zero",
       [](const auto& file) { std::filesystem::create_symlink("/dev/zero", file); },
       "not a regular file"},
      {"a folder", [](const auto& file) { std::filesystem::create_directory(file); },
       "not a regular file"},
      {"larger than the cap",
       [](const auto& file) {
         std::ofstream(file) << "{}";
         const auto cap = file.filename() == "registry.reg" ? std::uintmax_t{256} << 20
                                                            : std::uintmax_t{16} << 20;
         std::filesystem::resize_file(file, cap + 1);  // sparse: nothing is written
       },
       "larger than"},
  };
  for (const char* name : {"device.json", "registry.reg"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(name) + " is " + c.what);
      DeviceImage image;
      const std::filesystem::path file = image.dir() / name;
      std::filesystem::remove(file);
      c.make(file);
      const auto kind = std::filesystem::symlink_status(file).type();
      const std::string error = errorOf(image);
      EXPECT_EQ(error.rfind(file.string() + ": ", 0), 0u) << error;
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
      EXPECT_EQ(std::filesystem::symlink_status(file).type(), kind);  // not replaced
    }
  }
}

TEST(SimDevice, AMissingImageIsAnError) {
  SimOptions options;
  options.deviceDir = "/nonexistent/device";
  EXPECT_THROW(SimPlatform{options}, SimError);
  DeviceImage image;
  std::filesystem::remove_all(image.dir() / "fs");
  EXPECT_THROW(image.platform(), SimError);
}

}  // namespace
}  // namespace autorun::sim
