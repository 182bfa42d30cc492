#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "engine_test_support.h"
#include "format_file_generator.h"
#include "line_walk.h"
#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_report.h"
#include "reference_conversion.h"

namespace quarnel {
namespace {

using testing::kEnd;

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

struct Converted {
  ConversionOutcome outcome;
  std::string target;
  ConversionState state;
};

Converted Convert(const std::string& source, std::size_t maxRead = 0, ConversionState state = {}) {
  Converted c;
  c.state = state;
  c.outcome = ConvertFormatBytes(source, c.state, c.target, maxRead);
  return c;
}

// Random format files of every line kind, with lines that straddle chunk
// boundaries in every way, and now and then a line longer than a chunk.
std::string RandomFormatText(std::mt19937& random, std::size_t approximateSize, bool wide) {
  std::string text = wide ? "@i1KRV880 model\n" : "@i1KRV330 model\n";
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const char* codes[] = {"100", "120", "123", "001", "00100", "00123", "00120", "12", "65656"};
  const char* variables[] = {"123456051", "120000653", "12345670051", "12345670656", "123450058", "12"};
  while (text.size() < approximateSize) {
    switch (pick(10)) {
      case 0:
        text += "@l0Standard\n";
        break;
      case 1:
        text += "@t1FRT type\n";
        break;
      case 2:
        text += std::string(static_cast<std::size_t>(pick(3000)), 'x') + "\n";
        break;
      case 3:
        text += "plain text " + std::to_string(pick(100000)) + "\n";
        break;
      default: {
        std::string line = "$\"Field " + std::to_string(pick(1000)) + "\"" + variables[pick(6)];
        const int groups = pick(4);
        for (int g = 0; g < groups; ++g) line += std::string(";") + codes[pick(9)];
        text += line + "\n";
      }
    }
  }
  return text;
}

TEST(ConversionDriverTest, MatchesTheReferenceLoopWhateverTheLineEnds) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 40; ++round) {
    const std::string text = RandomFormatText(random, 2000 + random() % 30000, round % 2 == 1);
    ConversionState referenceState;
    const reference::Run expected = reference::Convert(text, referenceState);

    std::string mixed;  // every other line ends in CR LF
    bool crlf = false;
    for (char c : text) {
      if (c == '\n' && (crlf = !crlf)) mixed += '\r';
      mixed += c;
    }
    std::string loneCarriageReturns = text;  // CR alone, where no LF follows
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
      if (text[i] == '\n' && text[i + 1] != '\n') loneCarriageReturns[i] = '\r';
    for (const std::string& source : {text, WithCrLf(text), mixed, loneCarriageReturns}) {
      for (std::size_t maxRead : {0u, 1u, 7u, 2048u, 4097u}) {
        const Converted c = Convert(source, maxRead);
        ASSERT_EQ(c.outcome.result, expected.result) << "round " << round << " maxRead " << maxRead;
        ASSERT_EQ(c.target, expected.target) << "round " << round << " maxRead " << maxRead;
        ASSERT_EQ(c.state.m_aFlaggedVariables, referenceState.m_aFlaggedVariables);
        ASSERT_EQ(c.state.m_aRemovedApps, referenceState.m_aRemovedApps);
      }
    }
  }
}

// Converting a file of many chunks gives what converting each line alone gives.
TEST(ConversionDriverTest, ManyChunksEqualLineByLine) {
  std::string text = "@i1KRV330\n";
  std::string expected = "@i1QZ21/25/27\r\n";
  for (int i = 0; text.size() < 50000; ++i) {
    const std::string line = "$\"P" + std::string(static_cast<std::size_t>(i % 37), 'a') + "\"123456051;100;120\n";
    text += line;
    ConversionState state;
    expected += WithCrLf(testing::RunChunk(state, line).output);
  }
  for (const std::string& source : {text, WithCrLf(text)}) {
    const Converted c = Convert(source);
    EXPECT_EQ(c.outcome.result, ResultIncompleteLine);
    EXPECT_EQ(c.target, expected);
  }
}

TEST(ConversionDriverTest, Outcomes) {
  const std::string E(1, kEnd);
  const std::string longLine = "$\"a\"" + std::string(3000, 'x') + "\r\n";
  struct Case {
    const char* name;
    std::string source;
    std::string target;
    ConversionResult result;
    FormatFailure failure;
    std::uint64_t failedLine;
  };
  const Case cases[] = {
      {"empty source", "", "", ResultOk, FormatFailure::None, 0},
      {"last line without newline", "@i1KRV330\r\nAB", "@i1QZ21/25/27\r\nAB", ResultIncompleteLine,
       FormatFailure::None, 0},
      {"single header line without newline", "@i1KRV880", "@i1QZ21/25/27", ResultIncompleteLine,
       FormatFailure::None, 0},
      {"format line without newline", "$\"a\"123456051;100", "$\"a\"12345060051;00107", ResultIncompleteLine,
       FormatFailure::None, 0},
      {"lone CR ends a line", "@i1KRV330\r$\"a\"1;100\rB\r", "@i1QZ21/25/27\r\n$\"a\"1;00107\r\nB\r\n",
       ResultIncompleteLine, FormatFailure::None, 0},
      {"CR in front of a CR stays", "A\r\r\nB\r\rC", "A\r\r\nB\r\r\nC", ResultIncompleteLine, FormatFailure::None, 0},
      {"end marker ends the data", "A\r\nB" + E + "\r\nC\r\n", "A\r\nB", ResultEndMarker, FormatFailure::None, 0},
      // A failed run's text ends in front of the failing line.
      {"kind t without tag", "@i1KRV330\r\nA\r\n@t1XYZ\r\nB\r\n", "@i1QZ21/25/27\r\nA\r\n",
       ResultInvalidFormatFile, FormatFailure::MissingFrtTag, 3},
      {"line longer than a chunk", "A\r\n" + longLine, "A\r\n", ResultInvalidFormatFile, FormatFailure::LineTooLong,
       2},
      {"short kind t line at the end", "A\r\n@t1F\r\n", "A\r\n", ResultInvalidFormatFile,
       FormatFailure::MissingFrtTag, 2},
      {"kind t cut off by the end", "A\r\n@t1F", "A\r\n", ResultInvalidFormatFile, FormatFailure::MissingFrtTag, 2},
      {"kind t ends at position 3", "@t\r\nFRT\r\n", "", ResultInvalidFormatFile, FormatFailure::MissingFrtTag, 1},
      // A model line ends at its own line end and names no model there.
      {"short model line at the end", "A\r\n@i1", "", ResultIncompleteLine, FormatFailure::None, 0},
      {"model read from the next line", "@i\r\nKRV330\r\n$\"a\"1;100\r\n", "", ResultIncompleteLine,
       FormatFailure::None, 0},
      // Short kind-l lines keep the line behind them.
      {"kind l at position 4 keeps a format line", "@i1KRV330\r\n@l0\r\n$\"Point ID \"011000011;100\r\n",
       "@i1QZ21/25/27\r\n@l0QZ21/25/27_Standard\r\n$\"Point ID \"01100000011;00107\r\n", ResultIncompleteLine,
       FormatFailure::None, 0},
      {"kind l at position 3 keeps a kind-t line", "@l\n@t1FRT\n", "@lQZ21/25/27_Standard\r\n@t1FRT\r\n",
       ResultIncompleteLine, FormatFailure::None, 0},
      {"kind l at the source's end", "@i1KRV330\r\n@l0\r\n", "@i1QZ21/25/27\r\n@l0QZ21/25/27_Standard\r\n",
       ResultIncompleteLine, FormatFailure::None, 0},
      // "@" and "$" with their line end are lines of their own.
      {"marker alone keeps the format line behind", "@\r\n$\"P\"1;100\r\n", "@\r\n$\"P\"1;00107\r\n",
       ResultIncompleteLine, FormatFailure::None, 0},
      {"format marker alone leaves the plain line", "$\r\n\"P\"123456051;100\r\n", "$\r\n\"P\"123456051;100\r\n",
       ResultIncompleteLine, FormatFailure::None, 0},
      {"header marker at the end marker", "A\r\n@" + E + "\r\n", "A\r\n@" + E, ResultEndMarker, FormatFailure::None, 0},
      {"format marker at the end marker", "A\r\n$" + E + "\r\n", "A\r\n$", ResultEndMarker, FormatFailure::None, 0},
      // A header or format line may hold 2,046 characters in front of its terminator, a last line one more.
      {"longest header line", "@x" + std::string(2044, 'a') + "\r\nB", "@x" + std::string(2044, 'a') + "\r\nB",
       ResultIncompleteLine, FormatFailure::None, 0},
      {"header line one too long", "A\n@x" + std::string(2045, 'a') + "\r\nB", "A\r\n", ResultInvalidFormatFile,
       FormatFailure::LineTooLong, 2},
      {"longest last line", "A\n@x" + std::string(2045, 'a'), "A\r\n@x" + std::string(2045, 'a'),
       ResultIncompleteLine, FormatFailure::None, 0},
      {"last line one too long", "@x" + std::string(2046, 'a'), "", ResultInvalidFormatFile,
       FormatFailure::LineTooLong, 1},
      {"NUL in front of the end marker", "A\r\nB" + std::string(1, '\0') + E, "A\r\n", ResultInvalidFormatFile,
       FormatFailure::NulByte, 2},
      {"NUL byte", "A\r\nB\r\nC" + std::string(1, '\0') + "D\r\nE\r\n", "A\r\nB\r\n", ResultInvalidFormatFile,
       FormatFailure::NulByte, 3},
      {"NUL byte first", std::string(1, '\0') + "A\r\n", "", ResultInvalidFormatFile, FormatFailure::NulByte, 1},
      {"another model writes nothing", "@i1QZ2125\r\n$\"a\"123456051;120\r\n", "", ResultIncompleteLine,
       FormatFailure::None, 0},
  };
  for (const Case& c : cases) {
    const Converted converted = Convert(c.source);
    ConversionState referenceState;
    EXPECT_EQ(reference::Convert(c.source, referenceState).target, c.target) << c.name << ", reference loop";
    EXPECT_EQ(converted.target, c.target) << c.name;
    EXPECT_EQ(converted.outcome.result, c.result) << c.name;
    EXPECT_EQ(converted.outcome.formatFailure, c.failure) << c.name;
    EXPECT_EQ(converted.outcome.failedLine, c.failedLine) << c.name;
  }
}

// The whole file in memory, as a file conversion judges it: where the page
// and a file on disk must agree.
TEST(ConversionDriverTest, WholeFileBytesAsAFileConversion) {
  const std::string E(1, kEnd);
  struct Case {
    const char* name;
    std::string source;
    ConversionResult result;
    FormatFailure failure;
    std::uint64_t bytesBehind;
  };
  const Case cases[] = {
      {"CR LF pairs before the marker count as two bytes", "A\r\nB\r\n" + E + "xy\r\n", ResultEndMarker,
       FormatFailure::None, 4},
      {"LF only", "A\nB\n" + E + "xy", ResultEndMarker, FormatFailure::None, 2},
      {"marker as the last byte", "A\r\n" + E, ResultEndMarker, FormatFailure::None, 0},
      {"UTF-16, little-endian mark", "\xFF\xFE@\r\n", ResultInvalidFormatFile, FormatFailure::Utf16Text, 0},
      {"UTF-16, big-endian mark", "\xFE\xFF@\r\n", ResultInvalidFormatFile, FormatFailure::Utf16Text, 0},
      // A lone 0xFF first is the end marker, not a byte-order mark.
      {"marker first", E + "A\r\n", ResultEndMarker, FormatFailure::None, 3},
  };
  for (const Case& c : cases) {
    ConversionState state;
    std::string target = "old";
    const ConversionOutcome outcome = ConvertFormatBytes(c.source, state, target);
    EXPECT_EQ(outcome.result, c.result) << c.name;
    EXPECT_EQ(outcome.formatFailure, c.failure) << c.name;
    EXPECT_EQ(outcome.bytesBehindEndMarker, c.bytesBehind) << c.name;
    if (c.failure == FormatFailure::Utf16Text) {
      EXPECT_EQ(outcome.failedLine, 1u) << c.name;
      EXPECT_EQ(target, "") << c.name;
    }
  }
}

// Nothing behind the end marker is looked at, a NUL included, wherever chunks
// would begin.
TEST(ConversionDriverTest, NulBehindTheEndMarkerOnItsLine) {
  const std::string E(1, kEnd);
  for (const std::size_t lineBefore : {0u, 2030u, 2036u, 2037u}) {
    const std::string before = lineBefore == 0 ? "" : std::string(lineBefore, 'a') + "\r\n";
    for (const std::size_t behind : {100u, 2050u}) {
      const Converted c = Convert(before + "x" + E + std::string(behind, 'b') + std::string(1, '\0') + "c\r\n");
      EXPECT_EQ(c.outcome.result, ResultEndMarker) << lineBefore << " " << behind;
      EXPECT_EQ(c.target, before + "x") << lineBefore << " " << behind;
    }
  }
}

// A code group or run ending in blanks takes no number from the next line.
TEST(ConversionDriverTest, NumbersStopAtTheLineEnd) {
  const Converted group = Convert("@i1KRV880\r\n$\"A\"01100000011; \r\n120 plain\r\n");
  EXPECT_EQ(group.target, "@i1QZ21/25/27\r\n$\"A\"01100000011; \r\n120 plain\r\n");
  EXPECT_EQ(group.state.m_aRemovedApps[0], kFreeSlot);
  const Converted run = Convert("@i1KRV880\r\n$\"\"1234567 \r\n58\r\n");
  EXPECT_EQ(run.state.m_aFlaggedVariables[0], kFreeSlot);
}

TEST(ConversionDriverTest, AnotherModelLeavesTheRestOfTheSourceUnread) {
  std::string source = "@i1QZ2125\r\n";
  while (source.size() < 10000) source += "$\"a\"123456051;120\r\n";
  ConversionState state;
  std::string target;
  ConvertFormatBytes(source, state, target);
  EXPECT_FALSE(state.m_bConversionNeeded);
  EXPECT_EQ(target, "");
  EXPECT_EQ(ComposeReport(ResultIncompleteLine, state), L"Format-File Conversion is not necessary!");
}

// Blocks that went out before another model's line was read stay out; the
// rest of the text never leaves.
TEST(ConversionDriverTest, AnotherModelSendsOnlyTheBlocksAlreadySent) {
  const std::string plain(300 * 1024, 'x');
  const std::string otherModel = "@i1QZ2125\r\n$\"a\"123456051;120\r\n";
  // Text in front of the model line: none; just short of a block, so that the
  // chunk with the model line would fill one; more than a block.
  for (const std::size_t before : {std::size_t{0}, kWriteBlockSize - 20, plain.size()}) {
    const Converted c = Convert(plain.substr(0, before) + "\r\n" + otherModel + plain);
    EXPECT_FALSE(c.state.m_bConversionNeeded);
    EXPECT_EQ(c.target.size(), before < kWriteBlockSize ? 0 : kWriteBlockSize) << before;
  }
}

TEST(ConversionDriverTest, NewlineAsThe2048thCharacterIsReadAgain) {
  // The first line fills 100 characters, the second ends exactly at the 2048th.
  const std::string first = std::string(99, 'a') + "\n";
  const std::string second = "$\"a\"123456051;120" + std::string(2048 - 100 - 18, ' ') + "\n";
  ASSERT_EQ(first.size() + second.size(), 2048u);
  const Converted c = Convert(first + second + "END\n");
  ConversionState state;
  EXPECT_EQ(c.target, WithCrLf(first + testing::RunChunk(state, second).output + "END\n"));
  EXPECT_EQ(c.state.m_aRemovedApps[0], 120);
}

TEST(ConversionDriverTest, LongPlainLinesAreCopiedWhole) {
  for (std::size_t length : {2046u, 2047u, 2048u, 5000u, 200000u}) {
    const std::string line = std::string(length, 'x');
    const Converted c = Convert("@i1KRV330\r\n" + line + "\r\n$\"a\"1;100\r\n");
    EXPECT_EQ(c.target, "@i1QZ21/25/27\r\n" + line + "\r\n$\"a\"1;00107\r\n") << length;
    EXPECT_EQ(c.outcome.result, ResultIncompleteLine) << length;
  }
}

// Inside a line longer than a chunk, a marker is met as the first character of
// a chunk; whether its line fits from there decides what happens.
TEST(ConversionDriverTest, MarkerInsideALongLine) {
  const std::string head(5000, 'x');
  const Converted fits = Convert(head + "@t1FRT\r\n");
  EXPECT_EQ(fits.target, head + "@t1FRT\r\n");
  const Converted tooLong = Convert(head + "@t1FRT" + std::string(3000, 'y') + "\r\n");
  EXPECT_EQ(tooLong.outcome.result, ResultInvalidFormatFile);
  EXPECT_EQ(tooLong.outcome.formatFailure, FormatFailure::LineTooLong);
  EXPECT_EQ(tooLong.outcome.failedLine, 1u);
}

// The common case takes the common path: every line of the samples and of
// the generated shapes is taken whole, in one converter call or one copy,
// and only a line longer than a piece of the walk is taken in pieces.
TEST(ConversionDriverTest, EveryUsualLineIsTakenWhole) {
  std::vector<std::pair<std::string, std::string>> sources;
  for (const auto& entry : std::filesystem::directory_iterator(QUARNEL_SAMPLES_DIR)) {
    std::ifstream file(entry.path(), std::ios::binary);
    sources.emplace_back(entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(file), {}));
  }
  for (const bench::FileShape shape : bench::kAllShapes) {
    for (const std::uint32_t seed : {1u, 2u})
      sources.emplace_back(std::string(bench::ShapeName(shape)), bench::GenerateFormatFile(shape, 100000, seed));
  }
  ASSERT_GE(sources.size(), 3u + 2 * std::size(bench::kAllShapes));
  for (const auto& [name, source] : sources) {
    ConversionState state;
    std::string target;
    LineTally tally;
    ConvertFormatBytesTallied(source, state, target, tally);
    const auto lines = static_cast<std::uint64_t>(std::count(source.begin(), source.end(), '\n'));
    // A sample for another model names it in its first line, and the run ends there.
    const bool anotherModel = !state.m_bConversionNeeded;
    EXPECT_EQ(tally[LineTaking::Whole], anotherModel ? 0 : lines) << name;
    EXPECT_EQ(tally[LineTaking::AnotherModel], anotherModel ? 1u : 0u) << name;
    const bool overlong = name == bench::ShapeName(bench::FileShape::OverlongOtherLines);
    EXPECT_EQ(tally[LineTaking::LongOtherLine] > 0, overlong) << name;
    for (const LineTaking taking : {LineTaking::MarkerInsideLine, LineTaking::CarriageReturnInLine,
                                    LineTaking::UnterminatedLastLine, LineTaking::EndMarker, LineTaking::NulByte,
                                    LineTaking::LineTooLong, LineTaking::FailedLine})
      EXPECT_EQ(tally[taking], 0u) << name << " " << static_cast<int>(taking);
  }
}

class FailingSource : public ByteSource {
 public:
  IoResult Read(char* buffer, std::size_t capacity) override {
    if (calls_++ == 0) {
      std::memset(buffer, 'a', std::min<std::size_t>(capacity, 10));
      buffer[9] = '\n';
      return {10, {}};
    }
    return {0, "Input/output error"};
  }

 private:
  int calls_ = 0;
};

class FailingSink : public ByteSink {
 public:
  IoResult Write(const char*, std::size_t) override { return {0, "No space left on device"}; }
};

class StringSink : public ByteSink {
 public:
  IoResult Write(const char* bytes, std::size_t count) override {
    text.append(bytes, count);
    return {count, {}};
  }
  std::string text;
};

TEST(ConversionDriverTest, FileErrorsEndTheRunAsFailures) {
  {
    FailingSource source;
    StringSink sink;
    ConversionState state;
    const ConversionOutcome outcome = ConvertFormatStream(source, state, sink);
    EXPECT_EQ(outcome.result, ResultFileError);
    EXPECT_EQ(outcome.fileFailure, FileFailure::ReadSource);
    EXPECT_EQ(outcome.systemMessage, "Input/output error");
    EXPECT_EQ(ComposeReport(outcome.result, state), L"Format-File Conversion failed due to unknown error!");
    EXPECT_FALSE(state.m_bConversionNeeded);
  }
  {
    FailingSink sink;
    ConversionState state;
    std::string source = "@i1KRV330\r\n$\"a\"1;100\r\n";
    class Source : public ByteSource {
     public:
      explicit Source(std::string text) : text_(std::move(text)) {}
      IoResult Read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, text_.size() - offset_);
        std::memcpy(buffer, text_.data() + offset_, n);
        offset_ += n;
        return {n, {}};
      }

     private:
      std::string text_;
      std::size_t offset_ = 0;
    } memory(source);
    const ConversionOutcome outcome = ConvertFormatStream(memory, state, sink);
    EXPECT_EQ(outcome.result, ResultFileError);
    EXPECT_EQ(outcome.fileFailure, FileFailure::WriteTarget);
    EXPECT_EQ(outcome.systemMessage, "No space left on device");
  }
}

}  // namespace
}  // namespace quarnel
