#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "line_converters.h"

namespace quarnel {
namespace {

using testing::kEnd;
using testing::RunChunk;

// Header lines go through the chunk walk so the output includes the walk's
// own copy of the "@" and of the newline.
TEST(HeaderLineTest, KindsThroughTheWalk) {
  struct Case {
    const char* name;
    std::string chunk;
    std::string output;
    ConversionResult result;
    bool neededAfter;
    bool wideAfter;  // the state starts narrow
  };
  const std::string E(1, kEnd);
  const Case cases[] = {
      {"KRV880 selects wide", "@i1KRV880ABC\n", "@i1QZ21/25/27\n", ResultIncompleteLine, true, true},
      {"KRV110 narrow", "@i1KRV110\n", "@i1QZ21/25/27\n", ResultIncompleteLine, true, false},
      {"KRV330", "@i1KRV330 x\n", "@i1QZ21/25/27\n", ResultIncompleteLine, true, false},
      {"KRV440", "@iXKRV440\n", "@iXQZ21/25/27\n", ResultIncompleteLine, true, false},
      {"only six characters compared", "@i1KRV110XY\n", "@i1QZ21/25/27\n", ResultIncompleteLine, true, false},
      // Another model ends the walk behind its model line.
      {"another model", "@i1ABCDEF\n$\"a\"1;120\n", "@i1QZ21/25/27", ResultIncompleteLine, false, false},
      {"case matters", "@i1krv880\n", "@i1QZ21/25/27", ResultIncompleteLine, false, false},
      // A model line ends at its own terminator wherever it stands, and names no model then.
      {"model line ends at position 4", "@i1\n$12\nAB\n", "@i1QZ21/25/27", ResultIncompleteLine, false, false},
      {"model line ends at position 3", "@i\nKRV330\n", "@iQZ21/25/27", ResultIncompleteLine, false, false},
      {"model name cut by the line end", "@i1KRV\n330\n", "@i1QZ21/25/27", ResultIncompleteLine, false, false},
      {"model line ends at the marker at position 4", "@i1" + E, "@i1QZ21/25/27", ResultEndMarker, false, false},
      {"kind l", "@l0anything\n", "@l0QZ21/25/27_Standard\n", ResultIncompleteLine, true, false},
      {"kind l ends at position 4", "@l0\nxyz\nAB\n", "@l0QZ21/25/27_Standard\nxyz\nAB\n", ResultIncompleteLine, true,
       false},
      {"kind l ends at position 3", "@l\n@t1FRT\n", "@lQZ21/25/27_Standard\n@t1FRT\n", ResultIncompleteLine, true,
       false},
      {"kind l ends at the marker at position 3", "@l" + E, "@lQZ21/25/27_Standard", ResultEndMarker, true, false},
      {"kind l keeps the format line behind it", "@i1KRV330\n@l0\n$\"Point ID \"011000011;100\n",
       "@i1QZ21/25/27\n@l0QZ21/25/27_Standard\n$\"Point ID \"01100000011;00107\n", ResultIncompleteLine, true,
       false},
      {"kind t with tag", "@t1FRT rest\n", "@t1FRT rest\n", ResultIncompleteLine, true, false},
      {"kind t tag must start at 4", "@tFRT\n", "@tFR", ResultInvalidFormatFile, true, false},
      {"kind t lower case", "@t1frt\n", "@t1f", ResultInvalidFormatFile, true, false},
      // The next line never lends a kind-t line its tag.
      {"kind t ends at position 3", "@t\nFRT\n", "@t", ResultInvalidFormatFile, true, false},
      {"kind t ends at position 4", "@t1\nFRT\n", "@t1", ResultInvalidFormatFile, true, false},
      {"kind t ends at the marker at position 4", "@t1" + E, "@t1", ResultInvalidFormatFile, true, false},
      {"other kind copied", "@x abc\n", "@x abc\n", ResultIncompleteLine, true, false},
      // The end marker that ends an other-kind line stays in the output.
      {"other kind at end marker", "@xab" + E, "@xab" + E, ResultEndMarker, true, false},
      {"model line at end marker", "@i1KRV330" + E, "@i1QZ21/25/27", ResultEndMarker, true, false},
      {"kind l at end marker", "@l0abc" + E, "@l0QZ21/25/27_Standard", ResultEndMarker, true, false},
      // A terminator right behind the "@" ends a line of its own, copied as it stands.
      {"newline behind the marker", "@\n$\"P\"1;100\n", "@\n$\"P\"1;00107\n", ResultIncompleteLine, true, false},
      {"end marker behind the marker", "@" + E + "x\n", "@" + E, ResultEndMarker, true, false},
  };
  for (const Case& c : cases) {
    ConversionState state = testing::NarrowState();
    const auto run = RunChunk(state, c.chunk);
    EXPECT_EQ(run.output, c.output) << c.name;
    EXPECT_EQ(run.result, c.result) << c.name;
    EXPECT_EQ(state.m_bConversionNeeded, c.neededAfter) << c.name;
    EXPECT_EQ(state.m_bWideCodes, c.wideAfter) << c.name;
  }
}

TEST(HeaderLineTest, AnotherModelKeepsTheLayout) {
  ConversionState state = testing::WideState();
  RunChunk(state, "@i1QZ2125\n");
  EXPECT_FALSE(state.m_bConversionNeeded);
  EXPECT_TRUE(state.m_bWideCodes);
}

TEST(HeaderLineTest, CountsOfTheContract) {
  struct Case {
    std::string line;  // behind the "@"
    std::uint32_t lineCount, producedCount;
    ConversionResult result;
  };
  const Case cases[] = {
      {"i1KRV880ABC\n", 11, 12, ResultOk},
      {"l0anything\n", 10, 21, ResultOk},
      {"t1FRT rest\n", 10, 10, ResultOk},
      {"x abc\n", 5, 5, ResultOk},
      {"tFRT\n", 3, 3, ResultInvalidFormatFile},
  };
  for (const Case& c : cases) {
    ConversionState state;
    const auto run = testing::RunConverter(ConvertHeaderLine, state, c.line);
    EXPECT_EQ(run.result, c.result) << c.line;
    EXPECT_EQ(run.lineCount, c.lineCount) << c.line;
    EXPECT_EQ(run.producedCount, c.producedCount) << c.line;
  }
}

TEST(HeaderLineTest, ChunkEndStopsInFrontOfTheNul) {
  struct Case {
    std::string line;
    std::string output;
    std::uint32_t lineCount;
    bool neededAfter;
  };
  const Case cases[] = {
      {"", "", 0, true},
      {"i", "i", 1, true},
      // A model line the chunk's end cuts off leaves the state as it was.
      {"i1KRV8", "i", 1, true},
      {"i1KRV880 no newline", "i", 1, true},
      {"l0", "l0QZ21/25/27_Standard", 2, true},
      {"t1FR", "t1F", 3, true},
      {"x no newline", "x no newline", 12, true},
  };
  for (const Case& c : cases) {
    ConversionState state;
    const auto run = testing::RunConverter(ConvertHeaderLine, state, c.line);
    EXPECT_EQ(run.result, ResultInvalidFormatFile) << c.line;
    EXPECT_EQ(run.output, c.output) << c.line;
    EXPECT_EQ(run.lineCount, c.lineCount) << c.line;
    EXPECT_EQ(state.m_bConversionNeeded, c.neededAfter) << c.line;
  }
}

TEST(HeaderLineTest, GivesUpWithoutTerminator) {
  struct Case {
    char kind;
    std::uint32_t lineCount;
  };
  for (const Case c : {Case{'x', 2048}, Case{'t', 2048}, Case{'i', 2050}, Case{'l', 2050}}) {
    ConversionState state;
    std::string line = std::string(1, c.kind) + "1FRT" + std::string(3000, 'a') + "\n";
    const auto run = testing::RunConverter(ConvertHeaderLine, state, line);
    EXPECT_EQ(run.result, ResultInvalidFormatFile) << c.kind;
    EXPECT_EQ(run.lineCount, c.lineCount) << c.kind;
  }
}

}  // namespace
}  // namespace quarnel
