// File, folder and copy action kinds: makedir, src/dst, remove_dir, remove_file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/platform_services.h"

namespace autorun {

struct InstallerContext;

struct CopyJob {
  std::u16string source;
  std::u16string destination;
};

struct CopyPlan {
  std::vector<std::u16string> directories;  // in the order added; may repeat
  std::vector<CopyJob> jobs;
  std::uint64_t totalBytes = 0;  // whole sizes of every planned file
  // Every path in `directories`, for constant-time membership tests.
  std::unordered_set<std::u16string> directorySet;

  void addDirectory(const std::u16string& path);
  bool hasDirectory(const std::u16string& path) const;
};

void collectCopyActions(InstallerContext& context, std::u16string_view listName, CopyPlan& plan);
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
