// The device's files and folders as the core relies on them: path forms, searches, sizes,
// sharing, copies, folder creation, deletion and free space.
#include <gtest/gtest.h>

#include "contract/contract_fixture.h"

namespace autorun::contract {
namespace {

using ContractFiles = Contract;

// How a path may be written, applied to a path below the scratch folder.
enum class Form { Rooted, Upper, Unrooted, Doubled, Trailing };

const char* formName(Form form) {
  switch (form) {
    case Form::Rooted:
      return "rooted";
    case Form::Upper:
      return "other case";
    case Form::Unrooted:
      return "without leading backslash";
    case Form::Doubled:
      return "doubled separators";
    case Form::Trailing:
      return "trailing backslash";
  }
  return "?";
}

std::u16string written(Form form, const std::u16string& rooted) {
  switch (form) {
    case Form::Rooted:
      return rooted;
    case Form::Upper:
      return upper(rooted);
    case Form::Unrooted:
      return rooted.substr(1);
    case Form::Doubled: {
      std::u16string doubled = rooted.substr(0, 1);
      for (std::size_t i = 1; i < rooted.size(); ++i) {
        doubled += rooted[i];
        if (rooted[i] == u'\\') doubled += u'\\';
      }
      return doubled;
    }
    case Form::Trailing:
      return rooted + u"\\";
  }
  return rooted;
}

TEST_F(ContractFiles, AFileIsFoundUnderEveryFormButATrailingBackslash) {
  ASSERT_EQ(platform().createDirectory(at(u"Folder")), kErrorSuccess);
  ASSERT_TRUE(writeFile(platform(), at(u"Folder\\File.txt"), "contract"));
  const std::u16string file = at(u"Folder\\File.txt");

  struct Row {
    Form form;
    bool found;
  };
  // A name ending in a backslash names a folder: no file is found under it.
  const Row rows[] = {{Form::Rooted, true},
                      {Form::Upper, true},
                      {Form::Unrooted, true},
                      {Form::Doubled, true},
                      {Form::Trailing, false}};
  for (const Row& row : rows) {
    const std::u16string path = written(row.form, file);
    SCOPED_TRACE(std::string(formName(row.form)) + ": " + shown(path));
    EXPECT_EQ(isFile(path), row.found);
    EXPECT_EQ(readText(platform(), path),
              row.found ? std::optional<std::string>("contract") : std::nullopt);
    const std::vector<std::u16string> found = names(platform(), path);
    EXPECT_EQ(found,
              row.found ? std::vector<std::u16string>{u"File.txt"} : std::vector<std::u16string>{});
    EXPECT_EQ(platform().copyFile(path, at(u"copy.txt")), row.found);
    EXPECT_FALSE(platform().copyFile(file, path));  // onto itself, or onto no name
  }
  EXPECT_EQ(readText(platform(), file), "contract");
  // Through a file, or a name that is not there.
  EXPECT_FALSE(isFile(at(u"Folder\\File.txt\\x")));
  EXPECT_EQ(platform().fileAttributes(at(u"Folder\\Other.txt")), kInvalidAttributes);
  EXPECT_FALSE(writeFile(platform(), at(u"Folder\\File.txt\\x"), "x"));
}

TEST_F(ContractFiles, AFolderIsFoundUnderEveryForm) {
  ASSERT_EQ(platform().createDirectory(at(u"Folder")), kErrorSuccess);
  for (const Form form :
       {Form::Rooted, Form::Upper, Form::Unrooted, Form::Doubled, Form::Trailing}) {
    const std::u16string path = written(form, at(u"Folder"));
    SCOPED_TRACE(std::string(formName(form)) + ": " + shown(path));
    EXPECT_TRUE(isFolder(path));
    EXPECT_FALSE(platform().openFile(path, FileOpenMode::ReadShared));
    EXPECT_FALSE(platform().deleteFile(path));
  }
  EXPECT_TRUE(isFolder(at(u"Folder")));
}

TEST_F(ContractFiles, CreatingAFolderTellsWhyItFailed) {
  ASSERT_TRUE(writeFile(platform(), at(u"file.txt"), "x"));
  struct Row {
    std::u16string path;
    std::uint32_t result;
  };
  // One level at a time: 0 made, 183 there already (also as a file), 3 parent missing.
  const Row rows[] = {
      {at(u"New"), kErrorSuccess},
      {at(u"New"), kErrorAlreadyExists},
      {upper(at(u"New")), kErrorAlreadyExists},
      {at(u"New") + u"\\", kErrorAlreadyExists},
      {at(u"Slash") + u"\\", kErrorSuccess},
      {at(u"New\\\\Inner"), kErrorSuccess},
      {unrooted(u"Unrooted"), kErrorSuccess},
      {at(u"Unrooted"), kErrorAlreadyExists},
      {at(u"file.txt"), kErrorAlreadyExists},
      {at(u"No\\Such"), kErrorPathNotFound},
      {at(u"file.txt\\Below"), kErrorPathNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(shown(row.path));
    EXPECT_EQ(platform().createDirectory(row.path), row.result);
  }
  EXPECT_TRUE(isFolder(at(u"New\\Inner")));
  EXPECT_TRUE(isFolder(at(u"Slash")));
  EXPECT_TRUE(isFile(at(u"file.txt")));
}

TEST_F(ContractFiles, SearchesMatchStarQuestionMarkAndStarDotStarWithoutRegardToCase) {
  ASSERT_EQ(platform().createDirectory(at(u"Find")), kErrorSuccess);
  ASSERT_EQ(platform().createDirectory(at(u"Find\\sub")), kErrorSuccess);
  for (const char16_t* name : {u"a.txt", u"ab.txt", u"b.dat", u"noext"}) {
    ASSERT_TRUE(writeFile(platform(), at(u"Find\\") + name, "x"));
  }
  using Names = std::vector<std::u16string>;
  const Names all = {u"a.txt", u"ab.txt", u"b.dat", u"noext", u"sub"};
  struct Row {
    std::u16string pattern;
    Names found;
  };
  const Row rows[] = {
      {at(u"Find\\*"), all},
      {at(u"Find\\*.*"), all},  // names without a dot too
      {at(u"Find\\*.txt"), {u"a.txt", u"ab.txt"}},
      {at(u"Find\\?.txt"), {u"a.txt"}},
      {at(u"Find\\A?.TXT"), {u"ab.txt"}},
      {at(u"Find\\b.*"), {u"b.dat"}},
      {at(u"Find\\noext.*"), {u"noext"}},
      {at(u"Find\\S*"), {u"sub"}},
      {at(u"Find\\sub"), {u"sub"}},  // a name without wildcards finds itself
      {at(u"Find\\*.none"), {}},
      {at(u"FIND\\*.DAT"), {u"b.dat"}},
      {unrooted(u"Find\\*.dat"), {u"b.dat"}},
      {at(u"Find\\\\*.dat"), {u"b.dat"}},
      {at(u"Find\\"), {}},  // a search ending in a backslash finds nothing
      {at(u"Find\\*\\"), {}},
      {at(u"Missing\\*"), {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(shown(row.pattern));
    EXPECT_EQ(names(platform(), row.pattern), row.found);
  }
}

TEST_F(ContractFiles, EntriesTellFoldersAndTheWholeSize) {
  ASSERT_EQ(platform().createDirectory(at(u"sub")), kErrorSuccess);
  ASSERT_TRUE(writeFile(platform(), at(u"small.txt"), "12345"));
  // Beyond 4 GiB: only the last bytes are written, the rest is a hole.
  constexpr std::uint64_t kLarge = (std::uint64_t{5} << 30) + 3;
  {
    auto file = platform().openFile(at(u"large.bin"), FileOpenMode::WriteTruncate);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->seek(kLarge - 3));
    std::uint32_t written = 0;
    ASSERT_TRUE(file->write("end", 3, written));
  }
  const std::vector<FindEntry> found = entries(platform(), at(u"*"));
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].name, u"large.bin");
  EXPECT_FALSE(found[0].isDirectory());
  EXPECT_EQ(found[0].size, kLarge);
  EXPECT_EQ(found[0].sizeLow(), static_cast<std::uint32_t>(kLarge));
  EXPECT_EQ(found[1].name, u"small.txt");
  EXPECT_FALSE(found[1].isDirectory());
  EXPECT_EQ(found[1].size, 5u);
  EXPECT_EQ(found[2].name, u"sub");
  EXPECT_TRUE(found[2].isDirectory());

  auto file = platform().openFile(at(u"large.bin"), FileOpenMode::ReadShared);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), kLarge);
  ASSERT_TRUE(file->seek(kLarge - 3));
  char tail[8] = {};
  std::uint32_t got = 0;
  EXPECT_TRUE(file->read(tail, sizeof tail, got));
  EXPECT_EQ(std::string(tail, got), "end");
  EXPECT_TRUE(file->read(tail, sizeof tail, got));
  EXPECT_EQ(got, 0u);
}

TEST_F(ContractFiles, AFileHeldOpenAllowsOnlyWhatItsOpenShares) {
  const std::u16string path = at(u"held.txt");
  ASSERT_TRUE(writeFile(platform(), path, "held"));
  enum Use { OpenShared, OpenExclusive, OpenWrite, CopyFrom, CopyOnto, Delete, kUses };
  const auto tryUse = [&](Use use) {
    switch (use) {
      case OpenShared:
        return platform().openFile(path, FileOpenMode::ReadShared) != nullptr;
      case OpenExclusive:
        return platform().openFile(path, FileOpenMode::ReadExclusive) != nullptr;
      case OpenWrite:
        return platform().openFile(path, FileOpenMode::WriteTruncate) != nullptr;
      case CopyFrom:
        return platform().copyFile(path, at(u"out.txt"));
      case CopyOnto:
        return platform().copyFile(at(u"other.txt"), path);
      case Delete:
        return platform().deleteFile(path);
      case kUses:
        break;
    }
    return false;
  };
  ASSERT_TRUE(writeFile(platform(), at(u"other.txt"), "held"));
  // Whether a use goes while the file is held; Either where nothing documents it and the
  // core does not rely on it (a copy from a file being written).
  enum Allowed { No, Yes, Either };
  struct Row {
    FileOpenMode held;
    const char* what;
    Allowed allowed[kUses];  // by Use
  };
  // Shared reading lets others read and copy from the file; an exclusive read lets no one
  // in; while a file is written, nobody may open or replace it.
  const Row rows[] = {
      {FileOpenMode::ReadShared, "read shared", {Yes, No, No, Yes, No, No}},
      {FileOpenMode::ReadExclusive, "read exclusive", {No, No, No, No, No, No}},
      {FileOpenMode::WriteTruncate, "written", {No, No, No, Either, No, No}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    {
      auto held = platform().openFile(path, row.held);
      ASSERT_TRUE(held);
      for (int use = 0; use < kUses; ++use) {
        SCOPED_TRACE(use);
        const bool went = tryUse(static_cast<Use>(use));
        if (row.allowed[use] != Either) {
          EXPECT_EQ(went, row.allowed[use] == Yes);
        }
      }
    }
    // Closed again: everything goes.
    EXPECT_TRUE(platform().openFile(path, FileOpenMode::ReadExclusive));
  }
  EXPECT_TRUE(platform().deleteFile(path));
}

TEST_F(ContractFiles, CopiesReplaceAndFailWithoutHarm) {
  ASSERT_TRUE(writeFile(platform(), at(u"a.txt"), "aaa"));
  ASSERT_TRUE(writeFile(platform(), at(u"b.txt"), "b"));
  ASSERT_EQ(platform().createDirectory(at(u"Folder")), kErrorSuccess);

  EXPECT_TRUE(platform().copyFile(at(u"a.txt"), at(u"b.txt")));  // replaces
  EXPECT_EQ(readText(platform(), at(u"b.txt")), "aaa");
  EXPECT_TRUE(platform().copyFile(at(u"a.txt"), at(u"Folder\\c.txt")));
  EXPECT_EQ(readText(platform(), at(u"Folder\\c.txt")), "aaa");
  EXPECT_TRUE(platform().copyFile(unrooted(u"a.txt"), unrooted(u"d.txt")));
  EXPECT_EQ(readText(platform(), at(u"d.txt")), "aaa");

  ASSERT_TRUE(writeFile(platform(), at(u"a.txt"), "own"));
  struct Row {
    std::u16string source;
    std::u16string destination;
  };
  const Row failing[] = {
      {at(u"a.txt"), at(u"a.txt")},         // onto itself
      {at(u"a.txt"), upper(at(u"a.txt"))},  // onto itself under another spelling
      {at(u"missing.txt"), at(u"e.txt")},   // no source
      {at(u"a.txt"), at(u"No\\e.txt")},     // no destination folder
      {at(u"a.txt"), at(u"Folder")},        // a folder in the way
      {at(u"Folder"), at(u"f.txt")},        // a folder is no source
  };
  for (const Row& row : failing) {
    SCOPED_TRACE(shown(row.source) + " -> " + shown(row.destination));
    EXPECT_FALSE(platform().copyFile(row.source, row.destination));
  }
  EXPECT_EQ(readText(platform(), at(u"a.txt")), "own");
  EXPECT_FALSE(isFile(at(u"e.txt")));
  EXPECT_FALSE(isFile(at(u"f.txt")));
  EXPECT_TRUE(isFolder(at(u"Folder")));
}

TEST_F(ContractFiles, DeletionRemovesFilesOnly) {
  ASSERT_TRUE(writeFile(platform(), at(u"a.txt"), "a"));
  ASSERT_TRUE(writeFile(platform(), at(u"b.txt"), "b"));
  ASSERT_EQ(platform().createDirectory(at(u"Folder")), kErrorSuccess);

  EXPECT_FALSE(platform().deleteFile(at(u"a.txt\\")));
  EXPECT_TRUE(isFile(at(u"a.txt")));
  EXPECT_TRUE(platform().deleteFile(at(u"a.txt")));
  EXPECT_EQ(platform().fileAttributes(at(u"a.txt")), kInvalidAttributes);
  EXPECT_FALSE(platform().deleteFile(at(u"a.txt")));
  EXPECT_TRUE(platform().deleteFile(upper(unrooted(u"b.txt"))));
  EXPECT_FALSE(isFile(at(u"b.txt")));
  EXPECT_FALSE(platform().deleteFile(at(u"Folder")));
  EXPECT_TRUE(isFolder(at(u"Folder")));
}

TEST_F(ContractFiles, FreeSpaceIsToldForFoldersOnly) {
  ASSERT_TRUE(writeFile(platform(), at(u"a.txt"), "a"));
  const auto free = platform().freeBytes(device().scratch());
  ASSERT_TRUE(free.has_value());
  EXPECT_GT(*free, 0u);
  EXPECT_TRUE(platform().freeBytes(device().scratch() + u"\\").has_value());
  EXPECT_TRUE(platform().freeBytes(device().scratch().substr(1)).has_value());
  EXPECT_FALSE(platform().freeBytes(at(u"Missing")).has_value());
  EXPECT_FALSE(platform().freeBytes(at(u"a.txt")).has_value());
}

}  // namespace
}  // namespace autorun::contract
