#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "line_converters.h"

namespace quarnel {
namespace {

using testing::kEnd;
using testing::Listed;
using testing::RunConverter;

struct FormatCase {
  const char* name;
  bool wide;
  std::string line;  // behind the "$", up to and including the terminator
  std::string output;
  std::vector<std::int16_t> variables;
  std::vector<std::int16_t> apps;
  ConversionResult result = ResultOk;
};

// The one-pass path alone, as a converter: a line it declines gives an
// empty run with the result 99.
LineConversion ConvertUsualOnly(ConversionState& state, char* line, std::size_t length, char* output) {
  LineConversion conversion;
  if (!ConvertUsualFormatLine(state, line, length, output, conversion)) conversion.result = 99;
  return conversion;
}

// Every row through the converter, through the plain scan alone, and through
// the one-pass path alone where it takes the line: all must agree.
void ExpectFormatCases(const std::vector<FormatCase>& cases) {
  for (const FormatCase& c : cases) {
    ConversionState usualState;
    usualState.m_bWideCodes = c.wide;
    const bool usual = RunConverter(ConvertUsualOnly, usualState, c.line).result != 99;
    for (const int path : {0, 1, 2}) {
      if (path == 2 && !usual) continue;
      const bool scanOnly = path == 1;
      ConversionState state;
      state.m_bWideCodes = c.wide;
      const auto run = path == 0 ? RunConverter(ConvertFormatLine, state, c.line)
                       : scanOnly ? RunConverter(ScanFormatLine, state, c.line)
                                  : RunConverter(ConvertUsualOnly, state, c.line);
      // The converter stops in front of the terminator; compare what it kept.
      EXPECT_EQ(run.output.substr(0, run.producedCount), c.output) << c.name << ", path " << path;
      EXPECT_EQ(run.result, c.result) << c.name << ", path " << path;
      EXPECT_EQ(testing::Listed(state.m_aFlaggedVariables), c.variables) << c.name;
      EXPECT_EQ(testing::Listed(state.m_aRemovedApps), c.apps) << c.name;
    }
  }
}

TEST(FormatLineTest, WorkedExamplesWithCounts) {
  struct Case {
    bool wide;
    std::string line, output;
    std::uint32_t lineCount, producedCount;
    std::int16_t variable, app;
  };
  const Case cases[] = {
      {false, "\"Point\"123456051;100\n", "\"Point\"12345060051;00107", 20, 24, 51, -1},
      {false, "\"Stn\"120000653;120\n", "\"Stn\"12000000653;", 18, 17, 653, 120},
      {true, "\"Point\"12345670051;00100\n", "\"Point\"12345670051;00107", 24, 24, 51, -1},
      {true, "\"Stn\"12345670653;00123\n", "\"Stn\"12345670653;", 22, 17, 653, 123},
  };
  for (const Case& c : cases) {
    ConversionState state;
    state.m_bWideCodes = c.wide;
    const auto run = RunConverter(ConvertFormatLine, state, c.line);
    EXPECT_EQ(run.result, ResultOk) << c.line;
    EXPECT_EQ(run.output.substr(0, run.producedCount), c.output) << c.line;
    EXPECT_EQ(run.lineCount, c.lineCount) << c.line;
    EXPECT_EQ(run.producedCount, c.producedCount) << c.line;
    EXPECT_EQ(c.line[run.lineCount], '\n') << "the terminator is left to the walk";
    EXPECT_EQ(state.m_aFlaggedVariables[0], c.variable) << c.line;
    EXPECT_EQ(state.m_aRemovedApps[0], c.app) << c.line;
    // Lines of the usual shape take the one-pass path.
    ConversionState usualState;
    usualState.m_bWideCodes = c.wide;
    EXPECT_NE(RunConverter(ConvertUsualOnly, usualState, c.line).result, 99) << c.line;
  }
}

TEST(FormatLineTest, BodyLayouts) {
  const std::string q = "\"Q\"";  // a quoted part of three characters
  ExpectFormatCases({
      // The read at run position 6 (051) counts as much as the one at 7 (517).
      {"narrow reads twice", false, q + "123450517;005\n", q + "12345000517;00005", {51}, {}},
      {"run of six gets one zero", false, q + "123456;001\n", q + "1234506;00001", {}, {}},
      {"run of five gets none", false, q + "12345;001\n", q + "12345;00001", {}, {}},
      {"thirteen digits form two runs", false, q + "1234567890123;001\n", q + "123450607890123;00001", {}, {}},
      {"dropped group loses its zeros", false, q + "1234;120\n", q + "1234;", {}, {120}},
      {"further separators", false, q + "12345;001;120;002\n", q + "12345;00001;;00002", {}, {120}},
      {"group cut short is widened", false, q + "12345;1\n", q + "12345;001", {}, {}},
      {"narrow code 100", false, q + "12345;100\n", q + "12345;00107", {}, {}},
      {"wide code 100", true, q + "12345678901;00100\n", q + "12345678901;00107", {}, {}},
      // 65656 keeps 120 in its low 16 bits.
      {"low 16 bits compared", true, q + "12345678901;65656\n", q + "12345678901;", {}, {120}},
      {"wide variable at position 8", true, q + "12345670656;00001\n", q + "12345670656;00001", {656}, {}},
      {"two full narrow runs", false, q + "123456789123456789;001\n", q + "1234506078912345060789;00001", {}, {}},
      {"group spans a separator", false, q + "1;1;2\n", q + "1;001;2", {}, {}},
      {"separator and digits inside quotes", false, "\"a;1\"12345;120\n", "\"a;1\"12345;", {}, {120}},
      {"no second quote copies the line", false, "\"12345;120\n", "\"12345;120", {}, {}},
      {"codes are not variables", false, q + "123450058;058;001\n", q + "12345000058;00058;00001", {58}, {}},
      {"variables in order met", true, q + "1234567065612345670051;00001\n", q + "1234567065612345670051;00001", {656, 51}, {}},
      // The separators of the next line are no part of this one.
      {"separators behind the terminator", true, "\"Pipe\"24690112552;65656526\n$\"6564;00001\n",
       "\"Pipe\"24690112552;526", {}, {120}},
      // Only the first character of a run must be a digit; a blank inside is copied.
      {"blank inside a run", false, q + "12345 ;120\n", q + "123450 ;", {}, {120}},
  });
}

TEST(FormatLineTest, MendedFaults) {
  const std::string q = "\"Q\"";
  ExpectFormatCases({
      // A stray character before the code section is copied and the scan goes on.
      {"blank before the run", false, q + " 12345;120\n", q + " 12345;", {}, {120}},
      {"comma before the run", false, q + ",123456051;001\n", q + ",12345060051;00001", {51}, {}},
      {"only stray characters", false, q + "abc\n", q + "abc", {}, {}},
      {"letter after the quotes", true, q + "x12345670051;00100\n", q + "x12345670051;00107", {51}, {}},
      // A number is read from the characters in front of the terminator only:
      // a group or run ending in blanks takes no number from the next line.
      {"blank group at the line end", true, "\"A\"01100000011; \n120 plain\n", "\"A\"01100000011; ", {}, {}},
      {"blank at wide run position 8", true, "\"\"1234567 \n58\n", "\"\"1234567 ", {}, {}},
      {"number cut by the end marker", true, q + "12345670051; \xFF" "120", q + "12345670051; ", {51}, {},
       ResultEndMarker},
      // A terminator right behind the "$" ends the line; the next line is a line of its own.
      {"newline behind the marker", false, "\n\"P\"123456051;100\n", "", {}, {}},
      {"end marker behind the marker", false, "\xFF\"P\"1\n", "", {}, {}, ResultEndMarker},
  });
}

TEST(FormatLineTest, CutShortCode100LeavesTheTerminatorAlone) {
  struct Case {
    const char* name;
    bool wide;
    std::string line;       // a second line follows the newline
    std::string chunkAfter;  // the text after the in-place rewrite
  };
  const Case cases[] = {
      {"wide 100 before newline", true, "\"Q\"1;100\n$next\n", "\"Q\"1;107\n$next\n"},
      {"wide 0100 before newline", true, "\"Q\"1;0100\n$next\n", "\"Q\"1;0107\n$next\n"},
      {"full wide group", true, "\"Q\"1;00100\n$next\n", "\"Q\"1;00107\n$next\n"},
      // A blank, then the newline: the number read reaches 100 in the next line,
      // but only one character of the group stands in front of the newline.
      {"one character before newline", true, "\"Q\"1; \n100\n", "\"Q\"1; \n100\n"},
  };
  for (const Case& c : cases) {
    ConversionState state;
    state.m_bWideCodes = c.wide;
    const auto run = RunConverter(ConvertFormatLine, state, c.line);
    EXPECT_EQ(run.result, ResultOk) << c.name;
    EXPECT_EQ(run.chunkAfter, c.chunkAfter) << c.name;
  }
}

TEST(FormatLineTest, TerminatorsAndChunkEnd) {
  struct Case {
    const char* name;
    bool wide;
    std::string line;
    std::string kept;
    ConversionResult result;
    std::uint32_t lineCount;
  };
  const Case cases[] = {
      {"end marker after a run", false, "\"Q\"123456789" + std::string(1, kEnd), "\"Q\"12345060789", ResultEndMarker, 12},
      {"end marker in quotes", false, "\"Q" + std::string(1, kEnd) + "\"\n", "\"Q", ResultEndMarker, 2},
      {"end marker in a group", false, "\"Q\"1;1" + std::string(1, kEnd), "\"Q\"1;001", ResultEndMarker, 6},
      {"chunk ends in the body", false, "\"Q\"12345", "\"Q\"12345", ResultInvalidFormatFile, 8},
      {"chunk ends in quotes", false, "\"Q", "\"Q", ResultInvalidFormatFile, 2},
      {"nothing behind the marker", false, "", "", ResultInvalidFormatFile, 0},
      {"newline first ends the line", false, "\n\"a\"12345;120\n", "", ResultOk, 0},
      {"end marker first ends the line", false, std::string(1, kEnd) + "\"a\"1\n", "", ResultEndMarker, 0},
  };
  for (const Case& c : cases) {
    ConversionState state;
    state.m_bWideCodes = c.wide;
    const auto run = RunConverter(ConvertFormatLine, state, c.line);
    EXPECT_EQ(run.result, c.result) << c.name;
    EXPECT_EQ(run.output.substr(0, run.producedCount), c.kept) << c.name;
    EXPECT_EQ(run.lineCount, c.lineCount) << c.name;
  }
}

TEST(FormatLineTest, GivesUpAfter2048Characters) {
  ConversionState state;
  const std::string line = "\"Q\"" + std::string(3000, 'x') + "\n";
  const auto run = RunConverter(ConvertFormatLine, state, line);
  EXPECT_EQ(run.result, ResultInvalidFormatFile);
  EXPECT_EQ(run.lineCount, kMaxLineTaken);
}

TEST(FormatLineTest, RecordingKeepsTheListDiscipline) {
  ConversionState state;
  for (std::int16_t v : {51, 7, 58, 51, 652, 653, 656, 58, 120, -1})
    RecordFlaggedVariable(v, state);
  EXPECT_EQ(Listed(state.m_aFlaggedVariables), (std::vector<std::int16_t>{51, 58, 652, 653, 656}));

  struct AppCase {
    std::int16_t value;
    bool removed;
  };
  for (const AppCase c : {AppCase{123, true}, {120, true}, {123, true}, {100, false}, {107, false}, {-1, false}})
    EXPECT_EQ(RecordRemovedApp(c.value, state), c.removed) << c.value;
  EXPECT_EQ(Listed(state.m_aRemovedApps), (std::vector<std::int16_t>{123, 120}));
}

TEST(FormatLineTest, WriteReplacementCodeWidths) {
  for (std::uint32_t width : {0u, 1u, 2u, 3u, 4u, 5u, 6u}) {
    char text[] = "abcdefgh";
    WriteReplacementCode(width, text);
    const std::string expected = width == 3   ? "107defgh"
                                 : width == 4 ? "0107efgh"
                                 : width == 5 ? "00107fgh"
                                              : "abcdefgh";
    EXPECT_EQ(std::string(text), expected) << width;
  }
}

}  // namespace
}  // namespace quarnel
