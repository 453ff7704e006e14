#include "actions/action_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/config_store.h"

namespace autorun {
namespace {

using namespace std::string_literals;

TEST(ActionKeyTest, DecimalNumberWithoutLeadingZeros) {
  const struct {
    std::uint32_t n;
    std::u16string key;
  } cases[] = {
      {1, u"install_actions/link_name_1"},
      {9, u"install_actions/link_name_9"},
      {10, u"install_actions/link_name_10"},
      {100, u"install_actions/link_name_100"},
      {4294967295u, u"install_actions/link_name_4294967295"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(actionKey(u"install_actions", u"link_name", c.n), c.key) << c.n;
  }
  EXPECT_EQ(actionKey(u"", u"src", 0), u"/src_0");
}

struct Visit {
  std::uint32_t n;
  std::u16string value;
  bool operator==(const Visit&) const = default;
};

std::vector<Visit> walk(const ConfigStore& config, std::u16string_view list,
                        std::u16string_view kind, std::uint32_t first,
                        std::uint32_t* end = nullptr) {
  std::vector<Visit> visits;
  const std::uint32_t stop = walkActionList(
      config, list, kind,
      [&](std::uint32_t n, const std::u16string& value) {
        visits.push_back({n, value});
      },
      first);
  if (end != nullptr) *end = stop;
  return visits;
}

TEST(WalkActionListTest, RunsFromOneUpToTheFirstGap) {
  ConfigStore config;
  for (int n = 1; n <= 11; ++n) {
    if (n == 7) continue;  // the gap
    const std::string number = std::to_string(n);
    config.setValue(u"list/kind_" + std::u16string(number.begin(), number.end()),
                    u"v" + std::u16string(number.begin(), number.end()));
  }
  std::uint32_t end = 0;
  const std::vector<Visit> visits = walk(config, u"list", u"kind", 1, &end);
  ASSERT_EQ(visits.size(), 6u);
  EXPECT_EQ(visits.front(), (Visit{1, u"v1"}));
  EXPECT_EQ(visits.back(), (Visit{6, u"v6"}));
  EXPECT_EQ(end, 7u);

  // Starting beyond the gap reaches 10 after 9.
  const std::vector<Visit> later = walk(config, u"list", u"kind", 8, &end);
  EXPECT_EQ(later, (std::vector<Visit>{{8, u"v8"}, {9, u"v9"}, {10, u"v10"}, {11, u"v11"}}));
  EXPECT_EQ(end, 12u);
}

TEST(WalkActionListTest, MissingFirstEntryRunsNothing) {
  ConfigStore config;
  config.setValue(u"list/kind_2", u"two");
  config.setValue(u"list/kind_3", u"three");
  std::uint32_t end = 0;
  EXPECT_TRUE(walk(config, u"list", u"kind", 1, &end).empty());
  EXPECT_EQ(end, 1u);
}

TEST(WalkActionListTest, ListAndKindMatchWhateverCase) {
  ConfigStore config;
  config.setValue(u"Card_Insert_Actions/SRC_1", u"\\a");
  config.setValue(u"card_insert_actions/src_2", u"");  // present though empty
  EXPECT_EQ(walk(config, u"CARD_insert_actions", u"Src", 1),
            (std::vector<Visit>{{1, u"\\a"}, {2, u""}}));
}

}  // namespace
}  // namespace autorun
