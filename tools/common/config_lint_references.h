// References, "${name}": each one is looked up in the replay store as the line is read
// (so that it sees exactly the lines above it), and those that find nothing are judged
// once the whole text is known.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/config_lint_internal.h"

namespace autorun::host::lint {

class ReferenceChecker {
 public:
  // `replay` holds the lines read so far.
  ReferenceChecker(Context& context, const ConfigStore& replay) : c_(context), replay_(replay) {}

  // The references of an entry's unescaped value; `offsets` gives each character's text
  // offset, `prefix` the entry's section prefix.
  void check(std::u16string_view value, const std::vector<std::size_t>& offsets,
             const std::u16string& prefix);
  // Reports every reference that found nothing, knowing the whole text.
  void judge();

 private:
  struct Pending {
    std::size_t offset;          // the "$"
    std::u16string name;         // as written between the braces
    std::u16string lookupKey;    // what the store looks up
    std::u16string sectionBase;  // the entry's section prefix
    bool globalAbove;            // a global entry of that name stood above the line
  };
  std::string undefined(const Pending& reference, const std::u16string& target) const;

  Context& c_;
  const ConfigStore& replay_;
  std::vector<Pending> pending_;
};

}  // namespace autorun::host::lint
