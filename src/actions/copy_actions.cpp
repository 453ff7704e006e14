#include "actions/copy_actions.h"

#include <cstdint>
#include <stdexcept>

#include "actions/action_list.h"
#include "base/config_store.h"
#include "context/card_discovery.h"
#include "context/installer_context.h"
#include "ui/message_boxes.h"
#include "ui/status_dialog.h"

namespace autorun {

namespace {

constexpr std::u16string_view kInstallList = u"install_actions";

// A path the device's fixed buffers can hold. Longer ones are never cut: the operation on
// them fails like any other failed operation of its kind.
bool fitsDevice(std::u16string_view path) {
  return path.size() <= kMaxPathLength;
}

bool isDotEntry(const std::u16string& name) {
  return name == u"." || name == u"..";
}

bool endsWithBackslash(std::u16string_view path) {
  return !path.empty() && path.back() == u'\\';
}

std::u16string joined(std::u16string_view folder, std::u16string_view name) {
  std::u16string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  path.push_back(u'\\');
  path.append(name);
  return path;
}

// Whether the first match of `path` on the device is a folder.
bool firstMatchIsFolder(PlatformServices& platform, const std::u16string& path) {
  if (!fitsDevice(path)) return false;
  FindEntry entry;
  return platform.findFirstFile(path, entry) != nullptr && entry.isDirectory();
}

}  // namespace

CopyJobList::CopyJobList(std::initializer_list<CopyJob> jobs) {
  for (const CopyJob& job : jobs) push_back(job);
}

void CopyJobList::push_back(const CopyJob& job) {
  add(job.source, {}, job.destination, {});
}

void CopyJobList::add(std::u16string_view sourceFolder, std::u16string_view sourceName,
                      std::u16string_view destinationFolder, std::u16string_view destinationName) {
  Job job;
  job.sourceFolder = folderSpan(sourceFolder, lastSourceFolder_);
  job.destinationFolder = folderSpan(destinationFolder, lastDestinationFolder_);
  job.sourceName = append(sourceName);
  // A file copied into a folder keeps its name: the text is kept once.
  job.destinationName = destinationName == sourceName ? job.sourceName : append(destinationName);
  jobs_.push_back(job);
}

CopyJob CopyJobList::operator[](std::size_t index) const {
  CopyJob job;
  read(index, job);
  return job;
}

void CopyJobList::read(std::size_t index, CopyJob& job) const {
  const Job& stored = jobs_[index];
  job.source.assign(view(stored.sourceFolder)).append(view(stored.sourceName));
  job.destination.assign(view(stored.destinationFolder)).append(view(stored.destinationName));
}

CopyJobList::Span CopyJobList::append(std::u16string_view part) {
  if (part.empty()) return {};
  const auto length = static_cast<std::uint32_t>(part.size());
  std::size_t block = blocks_.size() - 1;
  std::uint32_t at = blockUsed_;
  if (part.size() <= kBlockSize - blockUsed_) {
    blockUsed_ += length;
  } else {
    const std::size_t count = (part.size() + kBlockSize - 1) / kBlockSize;
    if (part.size() > UINT32_MAX || count > kMaxBlocks - blocks_.size()) {
      throw std::length_error("copy plan too large");
    }
    block = blocks_.size();
    at = 0;
    blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(count * kBlockSize));
    blocks_.resize(block + count);
    // A part longer than a block fills its blocks: the next part starts a new one.
    blockUsed_ = count == 1 ? length : kBlockSize;
  }
  std::char_traits<char16_t>::copy(blocks_[block].get() + at, part.data(), part.size());
  return {static_cast<std::uint32_t>(block * kBlockSize + at), length};
}

CopyJobList::Span CopyJobList::folderSpan(std::u16string_view folder, Span& last) {
  if (view(last) != folder) last = append(folder);
  return last;
}

void CopyPlan::addDirectory(const std::u16string& path) {
  directories.push_back(path);
  directorySet.insert(path);
}

bool CopyPlan::hasDirectory(const std::u16string& path) const {
  return directorySet.contains(path);
}

bool hasWildcard(std::u16string_view path) {
  return path.find(u'*') != std::u16string_view::npos;
}

void collectMakedirActions(const ConfigStore& config, std::u16string_view listName,
                           CopyPlan& plan) {
  walkActionList(
      config, listName, u"makedir",
      [&plan](std::uint32_t, const std::u16string& folder) { plan.addDirectory(folder); });
}

void collectCopyActions(InstallerContext& context, std::u16string_view listName, CopyPlan& plan) {
  walkActionList(context.config, listName, u"src",
                 [&](std::uint32_t n, const std::u16string& sourceValue) {
                   collectCopyAction(context, listName, n, sourceValue, plan);
                 });
}

void collectCopyAction(InstallerContext& context, std::u16string_view listName, std::uint32_t n,
                       const std::u16string& sourceValue, CopyPlan& plan) {
  // The card is looked up again for every entry.
  const std::u16string source = findCardFolder(context) + sourceValue;
  const std::u16string destination = context.config.getString(actionKey(listName, u"dst", n), u"");

  bool wholeFolder = false;
  if (!hasWildcard(source)) wholeFolder = firstMatchIsFolder(context.platform, source);

  if (wholeFolder) {
    scanSource(context, source, u"*.*", destination, plan);
  } else {
    const std::size_t split = source.rfind(u'\\');
    const std::size_t folderLength = split == std::u16string::npos ? 0 : split + 1;
    scanSource(context, source.substr(0, folderLength), source.substr(folderLength), destination,
               plan);
  }
}

void planInstallCopies(InstallerContext& context, CopyPlan& plan) {
  // The "makedir" entries come first in the plan's folders, before those the copies need.
  collectMakedirActions(context.config, kInstallList, plan);
  collectCopyActions(context, kInstallList, plan);
}

bool scanSource(InstallerContext& context, const std::u16string& sourceFolder,
                const std::u16string& pattern, const std::u16string& destination, CopyPlan& plan) {
  PlatformServices& platform = context.platform;
  const bool wildcardFolder = hasWildcard(sourceFolder);
  std::u16string folder = sourceFolder;
  if (!wildcardFolder && !endsWithBackslash(folder)) folder.push_back(u'\\');

  const std::u16string search = folder + pattern;
  if (!fitsDevice(search)) return false;
  FindEntry entry;
  const std::unique_ptr<DirectoryEnumeration> enumeration = platform.findFirstFile(search, entry);
  if (!enumeration) return false;

  // Whether files go inside `destination` or become it. Nothing that decides it changes
  // during the walk of this folder (folders planned meanwhile lie below `destination`),
  // so it is settled once, at the first file.
  enum class FileTarget { Unknown, Inside, Itself };
  FileTarget target = FileTarget::Unknown;
  std::u16string destinationFolder;  // the destination and a backslash, for files inside it

  do {
    if (isDotEntry(entry.name)) continue;
    if (entry.isDirectory()) {
      std::u16string subDestination = joined(destination, entry.name);
      std::u16string subSource = folder + entry.name;
      plan.addDirectory(subDestination);
      // A subfolder with nothing to copy is planned like any other; the walk goes on.
      scanSource(context, subSource, pattern, subDestination, plan);
      continue;
    }
    if (target == FileTarget::Unknown) {
      const bool inside = wildcardFolder || plan.hasDirectory(destination) ||
                          firstMatchIsFolder(platform, destination);
      target = inside ? FileTarget::Inside : FileTarget::Itself;
      if (inside) destinationFolder = joined(destination, u"");
    }
    plan.totalBytes += entry.size;
    if (target == FileTarget::Inside) {
      plan.jobs.add(folder, entry.name, destinationFolder, entry.name);
    } else {
      plan.jobs.add(folder, entry.name, destination, u"");
    }
  } while (enumeration->next(entry));
  return true;
}

bool performCopyPlan(InstallerContext& context, const CopyPlan& plan, WindowHandle statusDialog) {
  PlatformServices& platform = context.platform;
  const std::uint64_t steps = plan.directories.size() + plan.jobs.size();
  std::uint64_t done = 0;
  const auto advance = [&] {
    ++done;
    setProgress(platform, static_cast<int>(100 * done / steps), statusDialog);
  };

  for (const std::u16string& directory : plan.directories) {
    if (!fitsDevice(directory)) return false;
    if (platform.createDirectory(directory) != kErrorSuccess && !makePath(platform, directory)) {
      return false;
    }
    advance();
  }
  for (const CopyJob& job : plan.jobs) {
    if (!fitsDevice(job.source) || !fitsDevice(job.destination) ||
        !platform.copyFile(job.source, job.destination)) {
      showMessageBox(context, MessageBoxId::CopyFailed, job.source);
      return false;
    }
    advance();
  }
  return true;
}

void copyJobsOnly(InstallerContext& context, const CopyPlan& plan) {
  for (const CopyJob& job : plan.jobs) {
    if (fitsDevice(job.source) && fitsDevice(job.destination)) {
      context.platform.copyFile(job.source, job.destination);
    }
  }
}

bool makePath(PlatformServices& platform, const std::u16string& path) {
  if (!fitsDevice(path)) return false;
  // The prefixes carry no leading backslash; the device resolves them from its root.
  std::u16string prefix;
  prefix.reserve(path.size());
  bool any = false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    if (end > start) {
      any = true;
      prefix.append(path, start, end - start);
      if (platform.createDirectory(prefix) == kErrorPathNotFound) return false;
      prefix.push_back(u'\\');
    }
    start = end + 1;
  }
  return any;
}

void runRemoveDirActions(InstallerContext& context, std::u16string_view listName) {
  walkActionList(context.config, listName, u"remove_dir",
                 [&](std::uint32_t, const std::u16string& folder) {
                   // An empty value would name the whole device.
                   if (!folder.empty()) deleteFilesInTree(context.platform, folder);
                 });
}

void deleteFilesInTree(PlatformServices& platform, const std::u16string& folder) {
  std::u16string base = folder;
  if (!endsWithBackslash(base)) base.push_back(u'\\');
  const std::u16string search = base + u"*.*";
  if (!fitsDevice(search)) return;
  FindEntry entry;
  const std::unique_ptr<DirectoryEnumeration> enumeration = platform.findFirstFile(search, entry);
  if (!enumeration) return;
  do {
    if (isDotEntry(entry.name)) continue;
    const std::u16string child = base + entry.name;
    if (!fitsDevice(child)) continue;
    if (entry.isDirectory()) {
      deleteFilesInTree(platform, child);
    } else {
      platform.deleteFile(child);
    }
  } while (enumeration->next(entry));
}

void runRemoveFileActions(InstallerContext& context, std::u16string_view listName) {
  PlatformServices& platform = context.platform;
  walkActionList(
      context.config, listName, u"remove_file", [&](std::uint32_t, const std::u16string& pattern) {
        if (!fitsDevice(pattern)) return;
        FindEntry entry;
        const std::unique_ptr<DirectoryEnumeration> enumeration =
            platform.findFirstFile(pattern, entry);
        if (!enumeration) return;
        const std::size_t split = pattern.rfind(u'\\');
        if (split == std::u16string::npos) return;
        const std::u16string_view folder = std::u16string_view(pattern).substr(0, split + 1);
        do {
          if (entry.isDirectory()) continue;
          std::u16string path(folder);
          path += entry.name;
          if (fitsDevice(path)) platform.deleteFile(path);
        } while (enumeration->next(entry));
      });
}

}  // namespace autorun
