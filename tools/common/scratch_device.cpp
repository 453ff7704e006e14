#include "common/scratch_device.h"

#include <stdlib.h>

#include <fstream>
#include <system_error>

#include "host_text/utf.h"

namespace autorun::host {

namespace {

namespace fs = std::filesystem;

// Every number of bytes a card may need, as the free space of the device's volumes.
constexpr std::uint64_t kPlentyOfRoom = std::uint64_t{1} << 62;

void writeFile(const fs::path& path, std::string_view bytes) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw CardError(path.string() + ": cannot be written");
}

// The folder of a search pattern ("\a\b\*.dat" -> "\a\b").
std::u16string patternFolder(const std::u16string& pattern) {
  const std::size_t slash = pattern.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : pattern.substr(0, slash);
}

}  // namespace

ScratchDevice::ScratchDevice(const fs::path& card, const std::vector<CardAddition>& additions) {
  std::string pattern = (fs::temp_directory_path() / "autorun-card-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw CardError("cannot make a temporary device image in " +
                    fs::temp_directory_path().string());
  }
  std::error_code error;
  dir_ = fs::canonical(pattern, error);
  if (error) dir_ = pattern;
  try {
    for (const char* folder : {"Windows/Start Menu/Programs", "My Documents", "Program Files"}) {
      fs::create_directories(dir_ / "fs" / folder);
    }
    cardRoot_ = dir_ / "fs" / toUtf8(kCardName);
    fs::create_directories(cardRoot_);
    writeFile(dir_ / "registry.reg", "Windows Registry Editor Version 5.00\n");
    writeFile(dir_ / "device.json", "{\"cards\": [\"" + toUtf8(kCardName) +
                                        "\"], \"free_bytes\": " + std::to_string(kPlentyOfRoom) +
                                        "}\n");
    if (!card.empty()) mirror(card, cardRoot_);
    for (const CardAddition& addition : additions) {
      const fs::path place = cardRoot_ / addition.relative;
      CardFile& entry = cardFiles_[place.string()];
      if (addition.file) {
        const std::uintmax_t size = fs::file_size(*addition.file, error);
        if (error) throw CardError(addition.file->string() + ": " + error.message());
        writeFile(place, "");
        entry = CardFile{size, *addition.file};
      } else {
        writeFile(place, addition.bytes);
        entry = CardFile{addition.bytes.size(), std::nullopt};
      }
    }
  } catch (const fs::filesystem_error& problem) {
    fs::remove_all(dir_, error);
    throw CardError(problem.what());
  } catch (...) {
    fs::remove_all(dir_, error);
    throw;
  }
}

ScratchDevice::~ScratchDevice() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void ScratchDevice::mirror(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::directory_iterator it(from, error);
  if (error) throw CardError(from.string() + ": " + error.message());
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    if (error) throw CardError(from.string() + ": " + error.message());
    const fs::directory_entry& item = *it;
    const fs::path place = to / item.path().filename();
    // A card holds no links: a link to a file stands for the file; folders are entered
    // only as themselves, so that a link back up cannot make the walk endless.
    if (item.is_directory(error) && !item.is_symlink(error)) {
      fs::create_directory(place);
      mirror(item.path(), place);
    } else if (item.is_regular_file(error)) {
      const std::uintmax_t size = item.file_size(error);
      if (error) throw CardError(item.path().string() + ": " + error.message());
      writeFile(place, "");
      cardFiles_[place.string()] = CardFile{size, item.path()};
    }
  }
}

std::unique_ptr<ScratchPlatform> ScratchDevice::platform(sim::SimOptions options) const {
  options.deviceDir = dir_;
  try {
    return std::make_unique<ScratchPlatform>(std::make_unique<sim::SimPlatform>(std::move(options)),
                                             *this);
  } catch (const sim::SimError& problem) {
    throw CardError(problem.what());
  }
}

bool ScratchDevice::provideContent(sim::SimPlatform& platform, const std::u16string& devicePath) {
  const std::optional<fs::path> host = platform.hostPath(devicePath);
  if (!host) return false;
  const auto it = cardFiles_.find(host->string());
  if (it == cardFiles_.end()) return false;
  if (!it->second.origin) return true;
  std::error_code error;
  fs::copy_file(*it->second.origin, *host, fs::copy_options::overwrite_existing, error);
  if (error) throw CardError(it->second.origin->string() + ": " + error.message());
  it->second.origin.reset();
  return true;
}

void ScratchDevice::writeCardFile(const std::string& relative, std::string_view bytes) {
  const fs::path place = cardRoot_ / relative;
  writeFile(place, bytes);
  cardFiles_[place.string()] = CardFile{bytes.size(), std::nullopt};
}

std::optional<std::uint64_t> ScratchDevice::realSize(const std::string& hostPath) const {
  const auto it = cardFiles_.find(hostPath);
  if (it == cardFiles_.end()) return std::nullopt;
  return it->second.size;
}

// ---- ScratchPlatform ---------------------------------------------------------------------

class ScratchPlatform::Enumeration : public DirectoryEnumeration {
 public:
  Enumeration(std::unique_ptr<DirectoryEnumeration> inner, std::string hostFolder,
              const ScratchPlatform& platform)
      : inner_(std::move(inner)), hostFolder_(std::move(hostFolder)), platform_(platform) {}
  bool next(FindEntry& entry) override {
    if (!inner_->next(entry)) return false;
    platform_.correct(hostFolder_, entry);
    return true;
  }

 private:
  std::unique_ptr<DirectoryEnumeration> inner_;
  std::string hostFolder_;
  const ScratchPlatform& platform_;
};

ScratchPlatform::ScratchPlatform(std::unique_ptr<sim::SimPlatform> sim, const ScratchDevice& device)
    : PlatformWrapper(*sim), sim_(std::move(sim)), device_(device) {}

void ScratchPlatform::correct(const std::string& hostFolder, FindEntry& entry) const {
  if (entry.isDirectory() || hostFolder.empty()) return;
  if (const auto size = device_.realSize(hostFolder + "/" + toUtf8(entry.name))) {
    entry.size = *size;
  }
}

std::unique_ptr<DirectoryEnumeration> ScratchPlatform::findFirstFile(const std::u16string& pattern,
                                                                     FindEntry& first) {
  std::unique_ptr<DirectoryEnumeration> inner = PlatformWrapper::findFirstFile(pattern, first);
  if (!inner) return nullptr;
  const std::optional<fs::path> folder = sim_->hostPath(patternFolder(pattern));
  std::string hostFolder = folder ? folder->string() : std::string();
  while (hostFolder.size() > 1 && hostFolder.back() == '/') hostFolder.pop_back();
  correct(hostFolder, first);
  return std::make_unique<Enumeration>(std::move(inner), std::move(hostFolder), *this);
}

std::optional<std::uint64_t> ScratchPlatform::cardFileSize(const std::u16string& devicePath) const {
  const std::optional<fs::path> host = sim_->hostPath(devicePath);
  if (!host) return std::nullopt;
  return device_.realSize(host->string());
}

}  // namespace autorun::host
