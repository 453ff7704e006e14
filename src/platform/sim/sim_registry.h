// The simulated registry: a tree of keys and values kept in DIR/registry.reg, a text file
// in the registry editor's format (UTF-8):
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
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_services.h"

namespace autorun::sim {

struct RegistryValue {
  std::u16string name;  // empty: the key's default value
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

struct RegistryNode {
  std::u16string name;  // as created
  std::vector<RegistryValue> values;
  std::vector<std::shared_ptr<RegistryNode>> children;  // in creation order
  bool deleted = false;  // set when the key is deleted while handles to it are open

  // Lookups without regard to case.
  RegistryNode* child(std::u16string_view childName) const;
  RegistryValue* value(std::u16string_view valueName);
};

struct RegistryTree {
  RegistryTree();
  std::array<std::shared_ptr<RegistryNode>, 3> roots;  // local machine, current user, users
  RegistryNode& root(RegistryRoot which) { return *roots[static_cast<std::size_t>(which)]; }
};

// "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS".
std::u16string_view registryRootName(RegistryRoot root);
// The root with this name (without regard to case), or nothing.
std::optional<RegistryRoot> registryRootNamed(std::u16string_view name);

// Whether two key or value names are the same name: they match without regard to case.
bool sameRegistryName(std::u16string_view a, std::u16string_view b);
// Whether a text holds a lone surrogate, which UTF-8 cannot carry.
bool hasLoneSurrogate(std::u16string_view text);
// A type-1 value's bytes: the text in UTF-16 little-endian and its terminating NUL.
std::vector<std::uint8_t> registryStringBytes(std::u16string_view text);

// Whether a key or value name can be stored and written (no control characters, no lone
// surrogates; key names also no backslash).
bool isStorableValueName(std::u16string_view name);
bool isStorableKeyName(std::u16string_view name);

// Reads registry text (registry_text.cpp). Throws SimError naming `fileName` and the line
// on anything that is not the format above.
RegistryTree parseRegistryText(std::string_view text, const std::string& fileName);
std::string formatRegistryText(const RegistryTree& tree);

// More than any registry holds: a larger registry.reg is refused unread.
inline constexpr std::size_t kMaxRegistryFileBytes = std::size_t{256} << 20;

// The registry file of a device image. Changes are written through at once: to a
// temporary file in the same folder, synced, then renamed over the old file, so a run
// killed at any moment leaves the old or the new file whole.
class RegistryFile {
 public:
  // Reads the file; a missing file is an empty registry. Throws SimError when the file
  // cannot be read, is not a regular file, is larger than kMaxRegistryFileBytes or is
  // malformed (it is then never written).
  explicit RegistryFile(std::filesystem::path file);

  RegistryTree& tree() { return tree_; }
  const std::filesystem::path& file() const { return file_; }

  // The key at `components` below `from`, or null.
  static std::shared_ptr<RegistryNode> find(const std::shared_ptr<RegistryNode>& from,
                                            const std::vector<std::u16string>& components);
  // Opens or creates the key at `components` below `from`; `created` tells whether any
  // key was new. Null when the change could not be stored (nothing is changed then).
  std::shared_ptr<RegistryNode> create(const std::shared_ptr<RegistryNode>& from,
                                       const std::vector<std::u16string>& components,
                                       bool& created);
  // Sets a value and stores the change; false (and no change) when it cannot be stored.
  bool setValue(RegistryNode& node, const std::u16string& name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  // Deletes the key at `components` below `from` with everything below it.
  bool deleteTree(RegistryNode& from, const std::vector<std::u16string>& components);

  // Writes the whole tree as described above. False when any step fails.
  bool save();

 private:
  std::filesystem::path file_;
  RegistryTree tree_;
};

// Splits a key path at backslashes; false when a component is empty or not storable.
bool splitKeyPath(std::u16string_view path, std::vector<std::u16string>& components);

}  // namespace autorun::sim
