// Usual format lines (a quoted part, whole digit runs and code groups) whose
// body meets the 2048-character limit: the converter's one-pass route for such
// lines must stop exactly where the character-by-character rules do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test_support.h"
#include "line_converters.h"

namespace quarnel {
namespace {

using testing::RunConverter;

TEST(FormatLineLimitTest, RunsAndGroupsStopAtTheLimit) {
  struct Case {
    const char* name;
    bool wide;
    std::size_t quotedLength;  // both double quotes included
    std::string body;
    ConversionResult result;
    std::uint32_t lineCount;
    std::string keptBody;   // the kept output behind the quoted part
    std::string bodyAfter;  // the body in the chunk afterwards
  };
  const std::vector<Case> cases = {
      {"newline just inside the limit", false, 2034, "123456051;100", ResultOk, 2047, "12345060051;00107",
       "123456051;107"},
      // The group is whole, but the newline behind it is the 2049th character.
      {"newline at the limit", false, 2035, "123456051;100", ResultInvalidFormatFile, 2048, "12345060051;00107",
       "123456051;107"},
      // The limit cuts the group after two characters: code 100 is read but
      // not rewritten, and its "00" still goes in front.
      {"group cut by the limit", false, 2036, "123456051;100", ResultInvalidFormatFile, 2048, "12345060051;0010",
       "123456051;100"},
      {"run cut by the limit", false, 2040, "123456051;100", ResultInvalidFormatFile, 2048, "1234506005",
       "123456051;100"},
      {"run cut by the limit, no code section", false, 2040, "123456051", ResultInvalidFormatFile, 2048,
       "1234506005", "123456051"},
      {"wide newline just inside the limit", true, 2030, "12345670051;00100", ResultOk, 2047,
       "12345670051;00107", "12345670051;00107"},
      {"wide group cut by the limit", true, 2034, "12345670051;00100", ResultInvalidFormatFile, 2048,
       "12345670051;00", "12345670051;00100"},
  };
  for (const Case& c : cases) {
    std::string quoted(c.quotedLength, 'q');
    quoted.front() = quoted.back() = '"';
    ConversionState state;
    state.m_bWideCodes = c.wide;
    const auto run = RunConverter(ConvertFormatLine, state, quoted + c.body + "\n");
    EXPECT_EQ(run.result, c.result) << c.name;
    EXPECT_EQ(run.lineCount, c.lineCount) << c.name;
    EXPECT_EQ(run.output.substr(0, run.producedCount), quoted + c.keptBody) << c.name;
    EXPECT_EQ(run.chunkAfter.substr(quoted.size(), c.body.size()), c.bodyAfter) << c.name;
    // 51 is read whole at run position 7 (narrow) or 8 (wide) in every case.
    EXPECT_EQ(testing::Listed(state.m_aFlaggedVariables), std::vector<std::int16_t>{51}) << c.name;
  }
}

}  // namespace
}  // namespace quarnel
