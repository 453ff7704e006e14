// The simulated registry: a tree of keys and values kept in DIR/registry.reg, a text file
// in the registry editor's format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Atlas]
//   @="default value"
//   "Count"=dword:0000002a
//   "Path"="\\Storage Card\\Atlas"
//   "Data"=hex:01,02,03
//   "Expand"=hex(2):25,00,00,00
//
// Types 1 and 4 are written as text and dword when they are well formed; every other type,
// and any value that text could not hold exactly, is written as hex bytes, so a read and a
// rewrite keep every value byte for byte.
//
// The file is read in the encodings the registry editor writes and reads: UTF-16LE with a
// byte-order mark (its own "Version 5.00" files), UTF-8 with or without a mark (this
// simulator's default), and "REGEDIT4" files in the device's code page, whose hex(1),
// hex(2) and hex(7) bytes are texts in that code page too. It is written back as it was
// read (RegistryFormat).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform_services.h"

namespace autorun::sim {

struct RegistryValue {
  std::u16string name;  // empty: the key's default value
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// The registry's own limit: keys nest at most this many levels below a root.
inline constexpr std::size_t kMaxRegistryDepth = 512;

// One key. Children and values are kept in creation order and found by name without
// regard to case, through an index when there are many, so that a key with any number of
// them is filled in time linear in that number.
class RegistryNode : public std::enable_shared_from_this<RegistryNode> {
 public:
  explicit RegistryNode(std::u16string name) : name_(std::move(name)) {}
  // Releases the keys below without recursing, however deep they go.
  ~RegistryNode();
  RegistryNode(const RegistryNode&) = delete;
  RegistryNode& operator=(const RegistryNode&) = delete;

  const std::u16string& name() const { return name_; }  // as created
  const std::vector<std::shared_ptr<RegistryNode>>& children() const { return children_; }
  const std::vector<RegistryValue>& values() const { return values_; }

  bool deleted = false;  // set when the key is deleted while handles to it are open
  // Written to the file even without values: it has a [key] line there or was made by the
  // installer (a key that is only the parent of such keys is not written on its own).
  bool listed = false;

  // Lookups without regard to case; null when there is none.
  std::shared_ptr<RegistryNode> child(std::u16string_view childName) const;
  RegistryNode* findChild(std::u16string_view childName) const;
  const RegistryValue* value(std::u16string_view valueName) const;

  // Adds a child at the end; there must be none of that name yet.
  std::shared_ptr<RegistryNode> addChild(std::u16string childName);
  // Removes a child and tells where it was, for putChildBack.
  std::size_t removeChild(const RegistryNode& node);
  void putChildBack(std::size_t position, std::shared_ptr<RegistryNode> node);

  // Sets a value: one of the same name keeps its place and its name's case. Returns the
  // value it replaced, or nothing when it was added (at the end).
  std::optional<RegistryValue> setValue(RegistryValue value);
  // Undoes the last setValue of this name, given what it returned.
  void undoSetValue(std::u16string_view valueName, std::optional<RegistryValue> previous);

 private:
  // Names hashed and compared without regard to case.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view name) const;
  };
  struct SameName {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const;
  };
  // Child name (the child's own) -> child, and value name -> position in values_;
  // made once a key has more than a few of them (below that a look at each is as fast).
  struct Index {
    std::unordered_map<std::u16string_view, RegistryNode*, NameHash, SameName> children;
    std::unordered_map<std::u16string, std::size_t, NameHash, SameName> values;
  };
  static constexpr std::size_t kIndexFrom = 16;

  std::size_t findValue(std::u16string_view valueName) const;  // values_.size(): none
  Index& index();

  std::u16string name_;
  std::vector<std::shared_ptr<RegistryNode>> children_;
  std::vector<RegistryValue> values_;
  std::unique_ptr<Index> index_;
};

// Marks a key and every key below it deleted (or no longer deleted).
void markDeleted(RegistryNode& node, bool deleted);

struct RegistryTree {
  RegistryTree();
  std::array<std::shared_ptr<RegistryNode>, 3> roots;  // local machine, current user, users
  RegistryNode& root(RegistryRoot which) { return *roots[static_cast<std::size_t>(which)]; }
};

// How a registry file is written: as it was read, so that the registry editor reads it
// back as it wrote it.
struct RegistryFormat {
  enum class Charset { Utf8, Utf16, CodePage };
  Charset charset = Charset::Utf8;
  int codePage = 1252;         // CodePage: the device's code page
  bool byteOrderMark = false;  // UTF-8 with EF BB BF (UTF-16 always has FF FE)
  bool crlf = false;           // lines end in CR LF (UTF-16: always, as the editor writes)
  bool regedit4 = false;       // "REGEDIT4": hex texts in the file's charset, not UTF-16

  // What the registry editor writes: UTF-16LE with its mark and CR LF.
  static RegistryFormat utf16() { return {Charset::Utf16, 1252, true, true, false}; }
  bool operator==(const RegistryFormat&) const = default;
};

// "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS".
std::u16string_view registryRootName(RegistryRoot root);
// The root with this name (without regard to case), or nothing.
std::optional<RegistryRoot> registryRootNamed(std::u16string_view name);

// Whether two key or value names are the same name: they match without regard to case.
bool sameRegistryName(std::u16string_view a, std::u16string_view b);
// A type-1 value's bytes: the text in UTF-16 little-endian and its terminating NUL.
std::vector<std::uint8_t> registryStringBytes(std::u16string_view text);

// Whether a key or value name can be stored and written (no control characters, no lone
// surrogates; key names also no backslash).
bool isStorableValueName(std::u16string_view name);
bool isStorableKeyName(std::u16string_view name);

// Reads registry file bytes in any of the encodings above (registry_text.cpp); `codePage`
// is the device's, for "REGEDIT4" files. Throws SimError naming `fileName` and the line on
// anything that is not the format. `format` receives how the file was written.
RegistryTree parseRegistryText(std::string_view bytes, const std::string& fileName,
                               int codePage = 1252, RegistryFormat* format = nullptr);
// The file's bytes, or nothing when the format cannot hold the tree (a "REGEDIT4" file and
// a text outside its code page).
std::optional<std::string> formatRegistryText(const RegistryTree& tree,
                                              const RegistryFormat& format = {});

// More than any registry holds: a larger registry.reg is refused unread.
inline constexpr std::size_t kMaxRegistryFileBytes = std::size_t{256} << 20;

// The registry file of a device image. Changes are written through at once: to a
// temporary file in the same folder, synced, then renamed over the old file, so a run
// killed at any moment leaves the old or the new file whole.
class RegistryFile {
 public:
  // Reads the file; a missing file is an empty registry (written in UTF-8 when it is
  // first changed). Throws SimError when the file cannot be read, is not a regular file,
  // is larger than kMaxRegistryFileBytes or is malformed (it is then never written).
  explicit RegistryFile(std::filesystem::path file, int codePage = 1252);

  RegistryTree& tree() { return tree_; }
  const std::filesystem::path& file() const { return file_; }
  const RegistryFormat& format() const { return format_; }

  // The key at `components` below `from`, or null.
  static std::shared_ptr<RegistryNode> find(const std::shared_ptr<RegistryNode>& from,
                                            const std::vector<std::u16string>& components);
  // Opens or creates the key at `components` below the root `from`; `created` tells
  // whether any key was new. Null when the change could not be stored or the key would be
  // deeper than kMaxRegistryDepth (nothing is changed then).
  std::shared_ptr<RegistryNode> create(const std::shared_ptr<RegistryNode>& from,
                                       const std::vector<std::u16string>& components,
                                       bool& created);
  // Sets a value and stores the change; false (and no change) when it cannot be stored.
  bool setValue(RegistryNode& node, const std::u16string& name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  // Deletes the key at `components` below `from` with everything below it.
  bool deleteTree(RegistryNode& from, const std::vector<std::u16string>& components);

  // Writes the whole tree in the file's format. False when any step fails, when the
  // format cannot hold the tree, and when the file is read-only (it is not replaced).
  bool save();

 private:
  std::filesystem::path file_;
  RegistryFormat format_;
  RegistryTree tree_;
};

// Splits a key path at backslashes; false when a component is empty or not storable.
bool splitKeyPath(std::u16string_view path, std::vector<std::u16string>& components);

}  // namespace autorun::sim
