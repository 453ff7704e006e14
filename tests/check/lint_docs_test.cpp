// The configuration reference's complete example passes the check, and every rule the
// checker reports is described there.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "lint_test_support.h"

namespace autorun::testing {
namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string reference() {
  return readFile(std::filesystem::path(AUTORUN_SOURCE_DIR) / "docs" / "configuration.md");
}

// The fenced block between the example markers.
std::string example() {
  const std::string doc = reference();
  const std::size_t begin = doc.find("<!-- example: begin -->");
  const std::size_t end = doc.find("<!-- example: end -->");
  if (begin == std::string::npos || end == std::string::npos) return {};
  std::string block = doc.substr(begin, end - begin);
  block = block.substr(block.find("```\n") + 4);
  return block.substr(0, block.rfind("```"));
}

TEST(Reference, ExamplePassesTheCheck) {
  const std::string text = example();
  ASSERT_GT(text.size(), 1000u);
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const std::vector<host::Finding> findings = lintSource(crlf);
  EXPECT_TRUE(findings.empty()) << describe(findings);

  // As LF source it gets only the note that encode rewrites the line ends.
  EXPECT_EQ(rulesOf(lintSource(text)), std::vector<std::string>{"line-feed-only"});
}

TEST(Reference, DescribesEveryRule) {
  // Every rule name that the checker's sources report.
  std::set<std::string> rules;
  for (const char* part :
       {"config_lint.cpp", "config_lint_lines.cpp", "config_lint_needs.cpp",
        "config_lint_actions.cpp", "config_lint_values.cpp", "config_lint_card.cpp",
        "config_lint_keys.cpp", "config_lint_references.cpp"}) {
    const std::string source =
        readFile(std::filesystem::path(AUTORUN_SOURCE_DIR) / "tools" / "common" / part);
    ASSERT_FALSE(source.empty()) << part;
    // String literals of lower-case words joined by '-'.
    for (std::size_t open = source.find('"'); open != std::string::npos;
         open = source.find('"', open + 1)) {
      const std::size_t close = source.find('"', open + 1);
      if (close == std::string::npos) break;
      const std::string literal = source.substr(open + 1, close - open - 1);
      const bool word = !literal.empty() && literal.find('-') != std::string::npos &&
                        literal.front() != '-' && literal.back() != '-' &&
                        std::all_of(literal.begin(), literal.end(),
                                    [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; });
      if (word) {
        rules.insert(literal);
        open = close;
      }
    }
  }
  ASSERT_GT(rules.size(), 40u);
  const std::string doc = reference();
  for (const std::string& name : rules) {
    EXPECT_NE(doc.find("| `" + name + "` |"), std::string::npos) << name << " is not described";
  }
}

}  // namespace
}  // namespace autorun::testing
