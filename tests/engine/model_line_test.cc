#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "quarnel/model_line.h"

namespace quarnel {
namespace {

using testing::kEnd;

TEST(ModelLineTest, ReadModelName) {
  struct Case {
    const char* name;
    std::string text;
    std::optional<std::string> model;
  };
  const std::string E(1, kEnd);
  const std::string nul(1, '\0');
  const Case cases[] = {
      {"old model", "@i1KRV330\n$1\n", "KRV330"},
      {"only six characters", "@i1KRV880ABC\n", "KRV880"},
      {"converted file", "@i1QZ21/25/27\r\n", "QZ21/2"},
      {"another instrument", "@i1TS9200\n", "TS9200"},
      {"first model line counts", "@i1KRV110\n@i1TS9200\n", "KRV110"},
      {"behind other lines", "plain\n@t1FRT\n@l0x\n@i KRV440\n", "KRV440"},
      {"marker inside a line", "ab@i1KRV330\n", "KRV330"},
      // A "@i" inside a format or other header line is part of that line.
      {"inside a format line", "$\"@i1KRV330\"\n@i1TS9200\n", "TS9200"},
      {"inside another header line", "@x @i1KRV330\n", std::nullopt},
      // A line end ends the name wherever it stands, LF, CR LF or a lone CR.
      {"short name", "@i1KRV\nKRV330\n", "KRV"},
      {"CR LF inside", "@i1KR\r\n330\n", "KR"},
      {"lone CR inside", "@i1KRV3\r30\n", "KRV3"},
      {"CR CR stays a character", "@i1K\r\rRV\n", "K\r"},
      {"line ends at position 3", "@i\nKRV330\n", ""},
      {"line ends at position 4", "@i1\nKRV330\n", ""},
      {"text ends inside", "@i1KRV3", "KRV3"},
      {"end marker inside", "@i1KRV" + E + "330\n", "KRV"},
      {"NUL inside", "@i1KR" + nul + "V330\n", "KR"},
      // "@" or "$" with a line end behind it is a line of its own.
      {"bare @ line", "@\ni1KRV330\n@i2KRV440\n", "KRV440"},
      {"bare $ line", "$\n@i1KRV330\n", "KRV330"},
      {"no model line", "@t1FRT\n$1\n", std::nullopt},
      {"empty text", "", std::nullopt},
      {"model line behind the end marker", "x" + E + "@i1KRV330\n", std::nullopt},
      {"model line behind a NUL", "x" + nul + "@i1KRV330\n", std::nullopt},
      {"kind i lower case only", "@I1KRV330\n", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadModelName(c.text), c.model) << c.name;
}

TEST(ModelLineTest, NamesAsTheConversionReadsThem) {
  // Every old model keeps the conversion going, and what the conversion writes
  // reads back as the new family; a name one character off is neither.
  for (const std::string_view model : kOldModelNames) {
    const std::string line = "@i1" + std::string(model) + "\n";
    ConversionState state = testing::NarrowState();
    const auto run = testing::RunChunk(state, line);
    EXPECT_TRUE(state.m_bConversionNeeded) << model;
    const std::optional<std::string> read = ReadModelName(line);
    ASSERT_TRUE(read) << model;
    EXPECT_TRUE(IsOldModelName(*read)) << model;
    EXPECT_FALSE(IsNewModelName(*read)) << model;
    const std::optional<std::string> converted = ReadModelName(run.output);
    ASSERT_TRUE(converted) << model;
    EXPECT_TRUE(IsNewModelName(*converted)) << model;
    EXPECT_FALSE(IsOldModelName(*converted)) << model;
  }
  for (const std::string_view name : {"KRV33", "KRV331", "krv330", "QZ21/", "QZ21/3", ""}) {
    EXPECT_FALSE(IsOldModelName(name)) << name;
    EXPECT_FALSE(IsNewModelName(name)) << name;
  }
}

}  // namespace
}  // namespace quarnel
