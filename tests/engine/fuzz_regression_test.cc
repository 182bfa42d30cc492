// Faults the fuzz targets found, each pinned where it arose. The inputs
// themselves stay in fuzz/regressions/ and are replayed by CTest.
#include <gtest/gtest.h>

#include <string>

#include "engine_test_support.h"
#include "quarnel/conversion_driver.h"
#include "line_converters.h"

namespace quarnel {
namespace {

// The six characters of a model field may reach past the line's newline into
// the chunk's end. That end is a mismatch like the newline: the whole line
// names no old model. Only a line that the chunk's end cuts off fails.
TEST(FuzzRegressionTest, ModelFieldRunningIntoTheChunkEnd) {
  struct Case {
    const char* name;
    std::string line;  // from the kind character on; the chunk ends behind it
    ConversionResult result;
    std::string output;
    std::uint32_t lineCount;
    bool neededAfter;
  };
  const Case cases[] = {
      {"newline in front of the end", "iT444o\n", ResultOk, "iTQZ21/25/27", 6, false},
      {"end marker in front of the end", "i1KR\xFF", ResultEndMarker, "i1QZ21/25/27", 4, false},
      {"newline at position 4", "i1\n", ResultOk, "i1QZ21/25/27", 2, false},
      // A model line that the chunk's end cuts off decides nothing.
      {"no terminator at all", "i1KRV", ResultInvalidFormatFile, "i", 1, true},
      // The chunk ends where the model field would begin: nothing behind the
      // NUL may be read while looking for a terminator.
      {"chunk ends at position 4", "i\x0F", ResultInvalidFormatFile, "i", 1, true},
  };
  for (const Case& c : cases) {
    ConversionState state;
    const auto run = testing::RunConverter(ConvertHeaderLine, state, c.line);
    EXPECT_EQ(run.result, c.result) << c.name;
    EXPECT_EQ(run.output.substr(0, run.producedCount), c.output) << c.name;
    EXPECT_EQ(run.lineCount, c.lineCount) << c.name;
    EXPECT_EQ(state.m_bConversionNeeded, c.neededAfter) << c.name;
  }
}

// The tag test of a kind-t line stops at the line's terminator: what stands
// behind it (here the chunk's end) is never read, and the tag is missing.
TEST(FuzzRegressionTest, TagTestStopsAtTheTerminator) {
  for (const std::string line : {"t\n", "t1\n", "t1F\n", "t1FR\n", "t1F" "\xFF"}) {
    ConversionState state;
    const auto run = testing::RunConverter(ConvertHeaderLine, state, line);
    EXPECT_EQ(run.result, ResultInvalidFormatFile) << line;
    EXPECT_EQ(run.failure, FormatFailure::MissingFrtTag) << line;
  }
}

// A short model line as the source's last line, terminated or not, ends the
// run as "not necessary", not as an invalid format file, and writes nothing.
TEST(FuzzRegressionTest, ShortModelLineAtTheSourceEnd) {
  for (const std::string last : {"@iT444o\r\n", "@i1KRV3"}) {
    ConversionState state;
    std::string target;
    const std::string source = "@i1KRV330\r\n$\"P\"123456051;100\r\n" + last;
    const ConversionOutcome outcome = ConvertFormatBytes(source, state, target);
    EXPECT_EQ(outcome.result, ResultIncompleteLine) << last;
    EXPECT_FALSE(state.m_bConversionNeeded) << last;
    EXPECT_EQ(target, "") << last;
  }
}

}  // namespace
}  // namespace quarnel
