// The change list: what it says of each kind of change, and that applying it
// gives the target (the conversion fuzzer checks that on every input too).
#include <gtest/gtest.h>

#include <string>

#include "quarnel/change_list.h"
#include "quarnel/conversion_driver.h"

namespace quarnel {
namespace {

struct Listed {
  std::string target;
  ChangeList list;
};

Listed ConvertAndList(const std::string& source) {
  ConversionState state;
  Listed listed;
  const ConversionOutcome outcome = ConvertFormatBytes(source, state, listed.target);
  EXPECT_TRUE(IsSuccess(outcome.result));
  listed.list = ListChanges(source, listed.target, state.m_bWideCodes);
  EXPECT_EQ(ApplyChangeList(source, listed.list), listed.target);
  return listed;
}

TEST(ChangeListTest, EveryKindOfChange) {
  const Listed narrow = ConvertAndList(
      "@i1KRV330\r\n@l?Old\n@t?FRT\r\n$\"P\"123456051;100;120;045\rplain\r\n$\"Q\"12\xFF rest\n");
  const ChangeList& list = narrow.list;
  ASSERT_EQ(list.lines.size(), 3u);
  EXPECT_EQ(list.lineCount, 6u);
  EXPECT_FALSE(list.lastLineEnded);
  EXPECT_EQ(list.endMarkerLine, 6u);
  EXPECT_EQ(list.endMarkerColumn, 6u);

  struct Expected {
    std::uint64_t line;
    LineKind kind;
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string, EditKind>> edits;
  };
  const Expected expected[] = {
      {1, LineKind::HeaderLine, {{3, 6, "QZ21/25/27", EditKind::HeaderLine}}},
      {2, LineKind::HeaderLine, {{3, 3, "QZ21/25/27_Standard", EditKind::HeaderLine}}},
      {4, LineKind::FormatLine,
       {{4, 9, "12345060051", EditKind::WidenedField},
        {14, 3, "00107", EditKind::ReplacedCode},
        {18, 3, "", EditKind::RemovedApplication},
        {22, 3, "00045", EditKind::WidenedField}}},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const LineChange& change = list.lines[i];
    EXPECT_EQ(change.line, expected[i].line);
    EXPECT_EQ(change.kind, expected[i].kind) << change.line;
    ASSERT_EQ(change.edits.size(), expected[i].edits.size()) << change.line;
    for (std::size_t e = 0; e < change.edits.size(); ++e) {
      const auto& [start, length, text, kind] = expected[i].edits[e];
      EXPECT_EQ(change.edits[e].start, start) << change.line;
      EXPECT_EQ(change.edits[e].length, length) << change.line;
      EXPECT_EQ(change.edits[e].text, text) << change.line;
      EXPECT_EQ(change.edits[e].kind, kind) << change.line;
    }
  }
  EXPECT_EQ(list.lines[2].edits[2].number, 120);
  // The narrow number read at run positions 7 to 9.
  ASSERT_EQ(list.lines[2].flagged.size(), 1u);
  EXPECT_EQ(list.lines[2].flagged[0].number, 51);
  EXPECT_EQ(list.lines[2].flagged[0].start, 10u);
  EXPECT_EQ(list.lines[2].flagged[0].length, 3u);

  // Wide lines keep their text; a flagged variable alone is listed too.
  const Listed wide = ConvertAndList("@i1KRV880\r\n$\"P\"12345670653;00001\r\n");
  ASSERT_EQ(wide.list.lines.size(), 2u);
  EXPECT_TRUE(wide.list.lines[1].edits.empty());
  ASSERT_EQ(wide.list.lines[1].flagged.size(), 1u);
  EXPECT_EQ(wide.list.lines[1].flagged[0].number, 653);
  EXPECT_EQ(wide.list.lines[1].flagged[0].start, 11u);
}

}  // namespace
}  // namespace quarnel
