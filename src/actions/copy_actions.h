// File, folder and copy action kinds: makedir, src/dst, remove_dir, remove_file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/platform_services.h"

namespace autorun {

class ConfigStore;
struct InstallerContext;

struct CopyJob {
  std::u16string source;
  std::u16string destination;
};

// The file copies of a plan, in the order added. Each path is kept as a folder part and a
// name part within one text, and consecutive jobs share a folder part when it is the same:
// a plan of tens of thousands of files holds little more than their names. Reading a job
// puts its paths together.
class CopyJobList {
 public:
  // Walks the jobs; each one is put together in the iterator's own CopyJob, which holds it
  // until the next step.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = CopyJob;
    using difference_type = std::ptrdiff_t;
    using pointer = const CopyJob*;
    using reference = const CopyJob&;

    Iterator(const CopyJobList& list, std::size_t index) : list_(&list), index_(index) {}
    const CopyJob& operator*() const {
      list_->read(index_, job_);
      return job_;
    }
    const CopyJob* operator->() const { return &**this; }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    const CopyJobList* list_;
    std::size_t index_;
    mutable CopyJob job_;
  };

  CopyJobList() = default;
  CopyJobList(std::initializer_list<CopyJob> jobs);

  // A job given by its whole paths.
  void push_back(const CopyJob& job);
  // A job whose source is `sourceFolder` followed by `sourceName` and whose destination is
  // `destinationFolder` followed by `destinationName`.
  void add(std::u16string_view sourceFolder, std::u16string_view sourceName,
           std::u16string_view destinationFolder, std::u16string_view destinationName);

  std::size_t size() const { return jobs_.size(); }
  bool empty() const { return jobs_.empty(); }
  CopyJob operator[](std::size_t index) const;
  // Puts job `index` together in `job`, reusing its strings' room.
  void read(std::size_t index, CopyJob& job) const;
  Iterator begin() const { return {*this, 0}; }
  Iterator end() const { return {*this, jobs_.size()}; }

 private:
  struct Span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
  };
  struct Job {
    Span sourceFolder, sourceName, destinationFolder, destinationName;
  };

  // The text lies in blocks that never move or grow, so that adding to it copies nothing
  // already there. A span's offset counts from the start of the first block; a part
  // longer than a block has a block of its own that stands for as many blocks as it fills.
  static constexpr std::uint32_t kBlockSize = 1u << 15;  // characters
  static constexpr std::size_t kMaxBlocks = (std::size_t{UINT32_MAX} + 1) / kBlockSize;

  Span append(std::u16string_view part);
  // `folder` as a span, the same as `last` when it holds the same text.
  Span folderSpan(std::u16string_view folder, Span& last);
  std::u16string_view view(Span span) const {
    if (span.length == 0) return {};
    return {blocks_[span.offset / kBlockSize].get() + span.offset % kBlockSize, span.length};
  }

  std::vector<std::unique_ptr<char16_t[]>> blocks_;  // empty where a long part goes on
  std::uint32_t blockUsed_ = kBlockSize;             // characters used in the last block
  std::deque<Job> jobs_;                             // grows without moving what it holds
  Span lastSourceFolder_, lastDestinationFolder_;
};

struct CopyPlan {
  std::vector<std::u16string> directories;  // in the order added; may repeat
  CopyJobList jobs;
  std::uint64_t totalBytes = 0;  // whole sizes of every planned file
  // Every path in `directories`, for constant-time membership tests.
  std::unordered_set<std::u16string> directorySet;

  void addDirectory(const std::u16string& path);
  bool hasDirectory(const std::u16string& path) const;
};

// The list's "makedir" entries, in order, as folders of the plan.
void collectMakedirActions(const ConfigStore& config, std::u16string_view listName, CopyPlan& plan);
// The copies of every "src" entry of the list.
void collectCopyActions(InstallerContext& context, std::u16string_view listName, CopyPlan& plan);
// The copies of the list's "src" entry number `n`, whose value is `sourceValue`.
void collectCopyAction(InstallerContext& context, std::u16string_view listName, std::uint32_t n,
                       const std::u16string& sourceValue, CopyPlan& plan);
// The installation's plan: the folders of "install_actions" ("makedir" first, then those
// the copies need) and its copies with their total size.
void planInstallCopies(InstallerContext& context, CopyPlan& plan);
bool scanSource(InstallerContext& context, const std::u16string& sourceFolder,
                const std::u16string& pattern, const std::u16string& destination, CopyPlan& plan);
// Creates the folders, then copies the files, moving the status dialog's progress bar.
bool performCopyPlan(InstallerContext& context, const CopyPlan& plan, WindowHandle statusDialog);
void copyJobsOnly(InstallerContext& context, const CopyPlan& plan);
bool makePath(PlatformServices& platform, const std::u16string& path);
void runRemoveDirActions(InstallerContext& context, std::u16string_view listName);
void deleteFilesInTree(PlatformServices& platform, const std::u16string& folder);
void runRemoveFileActions(InstallerContext& context, std::u16string_view listName);
bool hasWildcard(std::u16string_view path);

}  // namespace autorun
