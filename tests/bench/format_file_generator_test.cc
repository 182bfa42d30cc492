#include "format_file_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_report.h"

namespace quarnel::bench {
namespace {

// The lines of a text with CR LF ends, without their ends; an empty vector if
// any line end is not CR LF.
std::vector<std::string> SplitCrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return {};
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

struct Converted {
  ConversionOutcome outcome;
  ConversionState state;
  std::string target;
};

Converted Convert(const std::string& source) {
  Converted converted;
  converted.outcome = ConvertFormatBytes(source, converted.state, converted.target);
  return converted;
}

TEST(FormatFileGeneratorTest, SameSeedSameBytesExactSizeCrLfLines) {
  for (FileShape shape : kAllShapes) {
    // Sizes around the header, at a chunk, and a few chunks of long lines.
    for (std::size_t bytes : {std::size_t{0}, MinimumFileSize(shape) + 1, MinimumFileSize(shape) + 2,
                              std::size_t{2047}, std::size_t{4096}, std::size_t{40001}}) {
      SCOPED_TRACE(std::string(ShapeName(shape)) + " " + std::to_string(bytes));
      const std::string file = GenerateFormatFile(shape, bytes, 11);
      EXPECT_EQ(file, GenerateFormatFile(shape, bytes, 11));
      EXPECT_EQ(file.size(), std::max(bytes, MinimumFileSize(shape)));
      EXPECT_FALSE(SplitCrLfLines(file).empty()) << "a line end other than CR LF";
      EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), std::count(file.begin(), file.end(), '\r'));
      EXPECT_EQ(file.find('\0'), std::string::npos);
      EXPECT_EQ(file.find('\xFF'), std::string::npos);
    }
    EXPECT_NE(GenerateFormatFile(shape, 40000, 1), GenerateFormatFile(shape, 40000, 2))
        << ShapeName(shape);
  }
}

TEST(FormatFileGeneratorTest, ShapeNamesReadBack) {
  for (FileShape shape : kAllShapes) EXPECT_EQ(ParseShape(ShapeName(shape)), shape);
  EXPECT_EQ(ParseShape("Narrow"), std::nullopt);
}

TEST(FormatFileGeneratorTest, EveryShapeConvertsCompletely) {
  for (FileShape shape : kAllShapes) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::string(ShapeName(shape)) + " seed " + std::to_string(seed));
      const std::string source = GenerateFormatFile(shape, 100000, seed);
      Converted converted = Convert(source);
      EXPECT_TRUE(IsSuccess(converted.outcome.result));
      EXPECT_TRUE(converted.state.m_bConversionNeeded);
      EXPECT_EQ(ComposeReport(converted.outcome.result, converted.state).rfind(
                    L"Format-File Conversion completed!\n\n", 0),
                0u);
      // No line is lost or merged: each line of the source gives one of the target.
      const std::vector<std::string> sourceLines = SplitCrLfLines(source);
      const std::vector<std::string> targetLines = SplitCrLfLines(converted.target);
      ASSERT_EQ(targetLines.size(), sourceLines.size());
      EXPECT_EQ(targetLines[0], "@i1QZ21/25/27");
    }
  }
}

// Every format line of a converted narrow or wide file is in the wide layout:
// 11-digit runs, then 5-digit codes or the empty place of a dropped one. A
// generated line of the wrong width, or one the engine did not widen, fails.
TEST(FormatFileGeneratorTest, FormatLinesComeOutInTheWideLayout) {
  const std::regex wideLine(R"(\$"[^"]*"(\d{11})+(;(\d{5})?)+)");
  for (FileShape shape : {FileShape::Narrow, FileShape::Wide}) {
    SCOPED_TRACE(ShapeName(shape));
    const Converted converted = Convert(GenerateFormatFile(shape, 200000, 5));
    std::size_t formatLines = 0;
    for (const std::string& line : SplitCrLfLines(converted.target)) {
      if (line.empty() || line[0] != '$') continue;
      ++formatLines;
      EXPECT_TRUE(std::regex_match(line, wideLine)) << line;
    }
    EXPECT_GT(formatLines, 4000u);
  }
}

// A realistic file exercises everything the format-line rewrite does: code 100
// replaced, 120 and 123 dropped, all five flagged variables reported.
TEST(FormatFileGeneratorTest, RealisticFilesMeetEveryRewrite) {
  for (FileShape shape : {FileShape::Narrow, FileShape::Wide}) {
    SCOPED_TRACE(ShapeName(shape));
    const std::string source = GenerateFormatFile(shape, 200000, 9);
    const Converted converted = Convert(source);
    const NumberList& flagged = converted.state.m_aFlaggedVariables;
    std::vector<std::int16_t> variables(flagged.begin(), flagged.begin() + static_cast<long>(ListLength(flagged)));
    std::sort(variables.begin(), variables.end());
    EXPECT_EQ(variables, (std::vector<std::int16_t>{51, 58, 652, 653, 656}));
    EXPECT_EQ(ListLength(converted.state.m_aRemovedApps), 2u);
    EXPECT_NE(source.find(shape == FileShape::Wide ? ";00100" : ";100"), std::string::npos);
    EXPECT_NE(converted.target.find(";00107"), std::string::npos);
  }
}

// The long and short shapes hold what their names promise, so the benchmarks
// measure the walk they are meant to.
TEST(FormatFileGeneratorTest, LineLengthsOfTheStressShapes) {
  const std::vector<std::string> longLines =
      SplitCrLfLines(GenerateFormatFile(FileShape::LongOtherLines, 300000, 3));
  std::size_t nearChunk = 0;
  ASSERT_GT(longLines.size(), 3u);
  for (auto line = longLines.begin() + 3; line != longLines.end(); ++line) {  // behind the header
    // With its newline a line must fit a chunk, or the walk would cross it another way.
    EXPECT_LE(line->size() + 1, kMaxChunkLength);
    if (line->size() >= 1900) ++nearChunk;
    // A marker would turn the rest of the line into a header or format line.
    EXPECT_EQ(line->find_first_of("@$"), std::string::npos);
  }
  EXPECT_GT(nearChunk, 140u);

  std::size_t overlong = 0;
  for (const std::string& line : SplitCrLfLines(GenerateFormatFile(FileShape::OverlongOtherLines, 300000, 3)))
    if (line.size() > kMaxChunkLength) ++overlong;
  EXPECT_GT(overlong, 30u);

  const std::vector<std::string> kindL =
      SplitCrLfLines(GenerateFormatFile(FileShape::ShortKindLLines, 30000, 3));
  const auto isShortKindL = [](const std::string& line) { return line.size() == 4 && line.starts_with("@l0"); };
  const auto shortKindL = static_cast<std::size_t>(std::count_if(kindL.begin(), kindL.end(), isShortKindL));
  EXPECT_GT(shortKindL, 4900u);
}

}  // namespace
}  // namespace quarnel::bench
