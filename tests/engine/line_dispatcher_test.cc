#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace quarnel {
namespace {

using testing::kEnd;
using testing::RunChunk;

TEST(LineDispatcherTest, ChunkCases) {
  struct Case {
    const char* name;
    std::string chunk;
    bool conversionNeeded;
    std::string output;
    std::uint32_t consumed;
    ConversionResult result;
  };
  const std::string E(1, kEnd);
  const Case cases[] = {
      {"empty chunk", "", true, "", 0, ResultOk},
      {"line then tail", "AB\nCD", true, "AB\n", 3, ResultIncompleteLine},
      {"one whole line", "AB\n", true, "AB\n", 3, ResultIncompleteLine},
      // Without any newline one character is taken so the driver moves on.
      {"no newline", "ABC", true, "A", 1, ResultIncompleteLine},
      {"end marker first", E + "AB\n", true, "", 0, ResultEndMarker},
      {"end marker in a line", "AB" + E + "\n", true, "AB", 2, ResultEndMarker},
      {"end marker in the tail is not reached", "A\nB" + E, true, "A\n", 2, ResultIncompleteLine},
      {"blanks in front of a format line", "  $\"a\"12345;120\n", true, "  $\"a\"12345;\n", 16,
       ResultIncompleteLine},
      {"markers copied when not needed", "$12\n@x\n", false, "$12\n@x\n", 7, ResultIncompleteLine},
      {"kind t without tag and no newline", "@t1ABC" + E, true, "@t1A", 4, ResultInvalidFormatFile},
      // A line the chunk does not hold whole is not converted at all.
      {"format line without terminator at chunk start", "$\"a\"123", true, "$", 1, ResultInvalidFormatFile},
      {"header line without terminator at chunk start", "@i1KRV880", true, "@", 1, ResultInvalidFormatFile},
      {"header line in the tail is left", "AB\n@i1KRV330", true, "AB\n", 3, ResultIncompleteLine},
  };
  for (const Case& c : cases) {
    ConversionState state;
    state.m_bConversionNeeded = c.conversionNeeded;
    const auto run = RunChunk(state, c.chunk);
    EXPECT_EQ(run.output, c.output) << c.name;
    EXPECT_EQ(run.consumed, c.consumed) << c.name;
    EXPECT_EQ(run.result, c.result) << c.name;
  }
}

// Nothing behind another model's model line is looked at, an end marker included.
TEST(LineDispatcherTest, AnotherModelEndsTheWalk) {
  ConversionState state;
  const auto run = RunChunk(state, "@i1OTHER1\n$\"a\"12345;120\n\xFF\n");
  EXPECT_EQ(run.result, ResultIncompleteLine);
  EXPECT_EQ(run.output, "@i1QZ21/25/27");
  EXPECT_FALSE(state.m_bConversionNeeded);
  EXPECT_EQ(state.m_aRemovedApps[0], kFreeSlot);
}

// A chunk of nothing but short kind-l lines grows almost fivefold; every line
// must reach the output whole.
TEST(LineDispatcherTest, ShortKindLLinesConvertCompletely) {
  std::string chunk;
  while (chunk.size() + 5 <= kMaxChunkLength) chunk += "@l0X\n";
  ConversionState state;
  const auto run = RunChunk(state, chunk);
  const std::size_t lines = chunk.size() / 5;
  std::string expected;
  for (std::size_t i = 0; i < lines; ++i) expected += "@l0QZ21/25/27_Standard\n";
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.consumed, chunk.size());
  EXPECT_LE(run.output.size(), ConvertedChunkBound(chunk.size()));
}

TEST(LineDispatcherTest, WalkReportsTheFailingLine) {
  ConversionState state;
  char chunk[] = "AB\nCD\n@tXYZ rest\nEF\n";
  char output[kOutputCapacity];
  const ChunkWalk walk = WalkChunk(state, chunk, sizeof chunk - 1, output);
  EXPECT_EQ(walk.result, ResultInvalidFormatFile);
  EXPECT_EQ(walk.failure, FormatFailure::MissingFrtTag);
  EXPECT_EQ(walk.failedLineStart, 6u);
  EXPECT_EQ(std::string(output, walk.produced), "AB\nCD\n@tXY");
}

}  // namespace
}  // namespace quarnel
