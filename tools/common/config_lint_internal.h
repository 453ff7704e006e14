// Pieces shared by the checker's parts: positions in the text, where each entry came
// from, what the installer does with each key, and the finding sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/config_store.h"
#include "common/config_lint.h"

namespace autorun::host::lint {

// Offsets in the text to lines and columns as an editor shows them: a line ends at LF,
// at CR LF or at a lone CR; columns count characters, not UTF-16 code units.
class TextPositions {
 public:
  explicit TextPositions(std::u16string_view text);
  // 1-based line and column of a code-unit offset (the end of the text is allowed).
  std::pair<int, int> at(std::size_t offset) const;
  int lineOf(std::size_t offset) const { return at(offset).first; }

 private:
  std::u16string_view text_;
  std::vector<std::size_t> lineStarts_;
};

// How the installer reads a key's value.
enum class ValueKind {
  Unknown,         // nothing reads it (helper entries, misspellings)
  Text,            // shown or compared as written
  Number,          // read as a decimal number
  DevicePath,      // a full path on the device
  DevicePattern,   // a full path whose last component may hold '*'
  FolderToEmpty,   // remove_dir: every file below it is deleted
  CardPath,        // relative to the card folder, begins with "\"
  CardSource,      // src: like CardPath, last component may hold '*'
  PathPart,        // a file or folder name that the installer joins into a path
  RegistryValue,   // a registry location naming a value
  RegistryDelete,  // remove_reg: a registry location naming a subkey to delete
  FolderName,      // navigation/exe_parent
};

bool isPathKind(ValueKind kind);

// A plain (not numbered) key that the installer reads.
struct KnownKey {
  std::u16string_view section;
  std::u16string_view name;
  ValueKind kind;
};
const std::vector<KnownKey>& knownKeys();
const KnownKey* findKnownKey(std::u16string_view section, std::u16string_view name);
bool isKnownSection(std::u16string_view section);

// An action kind: its key stem, its lead (empty for a lead kind) and its value.
struct ActionKind {
  std::u16string_view name;
  std::u16string_view lead;
  ValueKind kind;
};
const std::vector<ActionKind>& actionKinds();
const ActionKind* findActionKind(std::u16string_view name);

// An action list that a flow runs, and the kinds it reads.
struct ActionList {
  std::u16string_view name;
  std::vector<std::u16string_view> kinds;
  std::string_view runs;  // when the list runs, for messages
};
const std::vector<ActionList>& actionLists();
const ActionList* findActionList(std::u16string_view name);
bool listReadsKind(const ActionList& list, std::u16string_view kind);

// A full key split into section and name, and, for "kind_n" names, into kind and number.
struct KeyParts {
  std::u16string section;  // empty for the global section
  std::u16string name;
  std::u16string kind;                  // set when the name ends in "_" and digits
  std::u16string numberText;            // the digits as written
  std::optional<std::uint32_t> number;  // the value, when it fits
};
KeyParts splitKey(std::u16string_view fullKey);

// The value kind of a full key, or Unknown.
ValueKind valueKindOf(std::u16string_view fullKey);

// The closest candidate within a small edit distance, case-insensitively; empty if none.
std::u16string closestMatch(std::u16string_view word,
                            const std::vector<std::u16string_view>& candidates);
std::size_t editDistance(std::u16string_view a, std::u16string_view b);

// The folder variables in the order the installer publishes them, with the paths a
// typical device gives them (used to check lengths and substitutions).
struct FolderVariable {
  std::u16string_view name;
  std::u16string_view typicalPath;
};
const std::vector<FolderVariable>& folderVariables();
inline constexpr std::u16string_view kTypicalCardFolder = u"\\Storage Card";
// The longest path the device handles.
inline constexpr std::size_t kLongestPath = 259;

// Where a full key's value came from.
struct EntryOrigin {
  std::size_t offset = 0;     // the entry line's name, or the "[" of the copying header
  bool copied = false;        // stored by a section header's copy
  std::u16string copiedFrom;  // full key of the copied entry
  // Entry lines only: the value text between the quotes as written (tabs as spaces),
  // where it starts, and the text offset of each character of the unescaped value.
  std::u16string rawValue;
  std::size_t rawValueOffset = 0;
  std::u16string value;  // unescaped, before references are expanded
  std::vector<std::size_t> valueOffsets;
};

struct Context {
  Context(const LintInput& lintInput, std::u16string_view parsedText);

  const LintInput& input;
  std::u16string_view text;  // the text the parser reads (up to the first code unit 0)
  TextPositions positions;
  ConfigStore store;  // what the installer holds after parsing the whole text
  std::map<std::u16string, EntryOrigin> origins;
  // Section name (folded) to the offset of its first header that took effect.
  std::map<std::u16string, std::size_t> sectionHeaders;
  // Sections that a header names as its parent (folded).
  std::set<std::u16string> parentSections;
  std::vector<Finding> findings;

  void report(std::size_t offset, Severity severity, std::string_view rule, std::string message);
  // At the entry's line (its name), or at its section's header, or at the start.
  void reportKey(std::u16string_view fullKey, Severity severity, std::string_view rule,
                 std::string message);
  // At a character of the entry's unescaped value when it came from an entry line.
  void reportValue(std::u16string_view fullKey, std::size_t valueIndex, Severity severity,
                   std::string_view rule, std::string message);
  // At the `occurrence`-th (0-based) `needle` in the entry's value as written (before
  // escapes), or at the entry's line when the value does not hold it there.
  void reportInValue(std::u16string_view fullKey, std::u16string_view needle,
                     std::size_t occurrence, Severity severity, std::string_view rule,
                     std::string message);
  // At the section's header, or at the start of the text.
  void reportSection(std::u16string_view section, Severity severity, std::string_view rule,
                     std::string message);
  std::size_t offsetOfKey(std::u16string_view fullKey) const;
};

// UTF-8 for messages, control characters escaped; quoted as the messages show names and
// values.
std::string u8(std::u16string_view text);
std::string inQuotes(std::u16string_view text);
// A value for a message: control characters shown as escapes, long values shortened.
// Every text from the configuration or the card goes into a message through these.
std::string shown(std::u16string_view value);
// The key as a reader writes it: "section/name", or "/name" for a global entry; control
// characters escaped.
std::string keyName(std::u16string_view fullKey);
// "a space", "a line feed", "'-'", ... for messages about one character.
std::string describeCharacter(char16_t c);

// A placeholder of another installer builder found in a value.
struct ForeignPlaceholder {
  std::u16string written;  // as it stands in the value
  std::string_view tool;
  std::u16string instead;  // this installer's own, when there is one
};

// Every placeholder of another builder in the value, in order.
std::vector<ForeignPlaceholder> foreignPlaceholders(std::u16string_view value);
// ASCII letters in upper case.
std::u16string upper(std::u16string_view text);

// The parts of the check, in the order they run.
void checkLines(Context& context);        // syntax, references (config_lint_lines.cpp)
void checkNeeds(Context& context);        // required entries and message texts
void checkActionLists(Context& context);  // numbering, companions, kinds
void checkValues(Context& context);       // paths, registry locations, numbers, variables
void checkKeys(Context& context);         // keys and sections nothing reads
void checkCard(Context& context, const LintOptions& options);  // (config_lint_card.cpp)

}  // namespace autorun::host::lint
