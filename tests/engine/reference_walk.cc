// The chunk walk and both line converters written step by step, exactly as
// the format's rules read, with no shortcut of any kind. The engine's walk is
// tuned for speed; the tests hold it to this plain one as an oracle.
#include "reference_walk.h"

#include <cstdio>
#include <cstring>

#include "quarnel/line_converters.h"

namespace quarnel::reference {

using quarnel::kEndMarker;
using quarnel::kMaxLineTaken;
using quarnel::RecordFlaggedVariable;
using quarnel::RecordRemovedApp;
using quarnel::WriteReplacementCode;

namespace format_line {

constexpr std::uint32_t kNarrowRunLength = 9;
constexpr std::uint32_t kWideRunLength = 11;
constexpr std::uint32_t kNarrowCodeLength = 3;
constexpr std::uint32_t kWideCodeLength = 5;
constexpr int kReplacedCode = 100;
constexpr std::int16_t kReplacementCode = 107;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsEndMarker(char c) { return static_cast<unsigned char>(c) == kEndMarker; }
bool IsTerminator(char c) { return c == '\n' || IsEndMarker(c); }

// Reads a number from at most `width` characters at `text` (fewer if the
// chunk's NUL comes first), as plain decimal text: leading white space, an
// optional sign, digits up to the first other character, 0 without digits.
// The characters may reach past the line's newline.
int ReadNumber(const char* text, std::uint32_t width) {
  std::uint32_t i = 0;
  while (i < width && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < width && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int value = 0;
  for (; i < width && IsDigit(text[i]); ++i) value = value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

// Keeps the low 16 bits, as the lists hold them.
std::int16_t Narrow(int value) { return static_cast<std::int16_t>(value); }

// The scan over one line. `taken` and `produced` are the contract's counts.
class FormatLineScan {
 public:
  FormatLineScan(ConversionState& state, char* line, char* output)
      : state_(state), line_(line), output_(output) {}

  ConversionResult Run();
  std::uint32_t taken = 0;
  std::uint32_t produced = 0;

 private:
  enum class Stop : std::uint8_t { None, EndMarker, Terminated, ChunkEnd };

  char Current() const { return line_[taken]; }
  bool LimitReached() const { return taken >= kMaxLineTaken; }
  void Copy() { output_[produced++] = line_[taken++]; }
  void Insert(char c) { output_[produced++] = c; }

  Stop ScanQuotedPart();
  Stop ScanBody();
  Stop ScanVariableRun();
  Stop ScanCodeGroup();
  void ReplaceCode100(char* group, std::uint32_t groupLength) const;

  ConversionState& state_;
  char* line_;
  char* output_;
  bool wide_ = false;
};

FormatLineScan::Stop FormatLineScan::ScanQuotedPart() {
  // The first character behind the "$" is copied whatever it is, a newline or
  // the end marker included; only the chunk's end stops it.
  int quotes = 0;
  if (Current() == '\0') return Stop::ChunkEnd;
  if (Current() == '"') ++quotes;
  Copy();
  for (;;) {
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsTerminator(c) || LimitReached()) return Stop::Terminated;
    if (quotes == 2) return Stop::None;
    if (c == '"') ++quotes;
    Copy();
  }
}

FormatLineScan::Stop FormatLineScan::ScanVariableRun() {
  const std::uint32_t runLength = wide_ ? kWideRunLength : kNarrowRunLength;
  for (std::uint32_t position = 1; position <= runLength; ++position) {
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsEndMarker(c)) return Stop::EndMarker;
    if (c == '\n' || c == ';' || LimitReached()) return Stop::None;
    if (!wide_ && (position == 6 || position == 7)) {
      // The narrow variable number is read twice, at run positions 6 and 7; a
      // zero goes in front of each, which lays the run out as the wide one.
      RecordFlaggedVariable(Narrow(ReadNumber(line_ + taken, 3)), state_);
      Insert('0');
    } else if (wide_ && position == 8) {
      RecordFlaggedVariable(Narrow(ReadNumber(line_ + taken, 4)), state_);
    }
    Copy();
  }
  return Stop::None;
}

void FormatLineScan::ReplaceCode100(char* group, std::uint32_t groupLength) const {
  // A group cut short by a terminator or the chunk's end is rewritten only in
  // the characters in front of the cut, so the newline and the next line stay.
  std::uint32_t standing = 0;
  while (standing < groupLength && group[standing] != '\0' && !IsTerminator(group[standing]) &&
         taken + standing < kMaxLineTaken)
    ++standing;
  if (standing == groupLength) {
    WriteReplacementCode(static_cast<std::int16_t>(groupLength), group);
  } else if (standing >= 3) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*d", static_cast<int>(standing), kReplacementCode);
    std::memcpy(group, text, standing);
  }
}

FormatLineScan::Stop FormatLineScan::ScanCodeGroup() {
  const std::uint32_t groupLength = wide_ ? kWideCodeLength : kNarrowCodeLength;
  bool drop = false;
  for (std::uint32_t position = 1; position <= groupLength; ++position) {
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsEndMarker(c)) return Stop::EndMarker;
    if (c == '\n' || LimitReached()) return Stop::None;
    if (position == 1) {
      const int code = ReadNumber(line_ + taken, groupLength);
      if (code == kReplacedCode) ReplaceCode100(line_ + taken, groupLength);
      drop = RecordRemovedApp(Narrow(code), state_);
      if (!drop && !wide_) {
        Insert('0');
        Insert('0');
      }
    }
    if (drop)
      ++taken;
    else
      Copy();
  }
  return Stop::None;
}

FormatLineScan::Stop FormatLineScan::ScanBody() {
  bool codeSection = false;
  for (;;) {
    if (Current() == '\0') return Stop::ChunkEnd;
    if (!codeSection && IsDigit(Current())) {
      if (const Stop stop = ScanVariableRun(); stop != Stop::None) return stop;
    }
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsEndMarker(c)) return Stop::EndMarker;
    if (c == '\n' || LimitReached()) return Stop::Terminated;
    if (c == ';') {
      Copy();
      codeSection = true;
      if (const Stop stop = ScanCodeGroup(); stop != Stop::None) return stop;
    } else if (codeSection) {
      if (const Stop stop = ScanCodeGroup(); stop != Stop::None) return stop;
    } else if (!IsDigit(c)) {
      // A stray character in front of the code section (a blank, a comma, a
      // letter) is copied through so the scan always moves on. A digit here
      // begins the next variable run at the next boundary.
      Copy();
    }
    const char next = Current();
    if (next == '\0') return Stop::ChunkEnd;
    if (IsTerminator(next) || LimitReached()) return IsEndMarker(next) ? Stop::EndMarker : Stop::Terminated;
  }
}

ConversionResult FormatLineScan::Run() {
  wide_ = state_.m_bWideCodes;
  Stop stop = ScanQuotedPart();
  if (stop == Stop::None) stop = ScanBody();

  if (stop == Stop::ChunkEnd || LimitReached()) return ResultInvalidFormatFile;
  if (IsEndMarker(Current())) return ResultEndMarker;
  return ResultOk;
}

}  // namespace format_line
using format_line::FormatLineScan;

ConversionResult ReferenceFormatLine(ConversionState& state, char* line, char* output,
                                   std::uint32_t& lineCount, std::uint32_t& producedCount) {
  FormatLineScan scan(state, line, output);
  const ConversionResult result = scan.Run();
  lineCount += scan.taken;
  producedCount += scan.produced;
  return result;
}


namespace header_line {

constexpr char kNewModel[] = "QZ21/25/27";
constexpr char kNewStandard[] = "QZ21/25/27_Standard";
constexpr const char* kOldModels[] = {"KRV110", "KRV330", "KRV440", "KRV880"};
constexpr std::size_t kModelNameLength = 6;

// Positions at which the terminator walk gives up: a kind-t or other line may
// hold 2048 characters behind its marker, a model or kind-l line two more.
constexpr std::uint32_t kGiveUpPlain = 2050;
constexpr std::uint32_t kGiveUpRewritten = 2052;

bool IsTerminator(char c) { return c == '\n' || static_cast<unsigned char>(c) == kEndMarker; }

// Position (counted from 1 at the "@") of line[index].
constexpr std::uint32_t PositionOf(std::uint32_t index) { return index + 2; }

// Compares `count` characters at `text` with `expected`. A NUL among them is
// the chunk's end: `reachedEnd` is set and the comparison fails.
bool MatchesUpToChunkEnd(const char* text, const char* expected, std::size_t count, bool& reachedEnd) {
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] == '\0') {
      reachedEnd = true;
      return false;
    }
  }
  return std::memcmp(text, expected, count) == 0;
}

// Whether a terminator stands at text[firstTested] or behind it, in front of
// the chunk's NUL. The NUL may come earlier: the scan never passes it.
bool HasTerminatorBeforeEnd(const char* text, std::size_t firstTested) {
  for (std::size_t i = 0; text[i] != '\0'; ++i) {
    if (i >= firstTested && IsTerminator(text[i])) return true;
  }
  return false;
}

// Walks from line[index] to the terminator without copying; every character
// walked over is taken. Stops in front of a NUL or at the give-up position.
ConversionResult DropToTerminator(const char* line, std::uint32_t index, std::uint32_t giveUp,
                                  std::uint32_t& lineCount) {
  for (;; ++index) {
    const char c = line[index];
    if (c == '\0' || PositionOf(index) >= giveUp) break;
    if (IsTerminator(c)) {
      lineCount = index;
      return c == '\n' ? ResultOk : ResultEndMarker;
    }
  }
  lineCount = index;
  return ResultInvalidFormatFile;
}

// Copies from line[index] to the terminator. The terminator is copied one
// place behind the kept output, uncounted: a newline there is overwritten by
// the walk's own copy, an end marker stays in the output.
ConversionResult CopyToTerminator(const char* line, char* output, std::uint32_t index,
                                  std::uint32_t& lineCount, std::uint32_t& producedCount) {
  for (;; ++index) {
    const char c = line[index];
    if (c == '\0' || PositionOf(index) >= kGiveUpPlain) break;
    output[index] = c;
    if (IsTerminator(c)) {
      lineCount = producedCount = index;
      return c == '\n' ? ResultOk : ResultEndMarker;
    }
  }
  lineCount = producedCount = index;
  return ResultInvalidFormatFile;
}

ConversionResult ConvertModelLine(ConversionState& state, const char* line, char* output,
                                  std::uint32_t& lineCount, std::uint32_t& producedCount) {
  // line[0] is the kind character, line[1] position 3, line[2..7] positions 4 to 9.
  bool reachedEnd = false;
  bool matched = false;
  bool wide = false;
  for (const char* model : kOldModels) {
    if (MatchesUpToChunkEnd(line + 2, model, kModelNameLength, reachedEnd)) {
      matched = true;
      wide = std::strcmp(model, "KRV880") == 0;
      break;
    }
    if (reachedEnd) {
      // A line whose terminator stands in front of the chunk's end is whole and
      // names no old model; only a line that the chunk's end cuts off fails.
      // The model field begins at position 4; the walk tests from position 5.
      if (!HasTerminatorBeforeEnd(line + 2, 1)) {
        lineCount = producedCount = 2;
        return ResultInvalidFormatFile;
      }
      break;
    }
  }
  state.m_bConversionNeeded = matched;
  if (matched) state.m_bWideCodes = wide;

  std::memcpy(output + 2, kNewModel, sizeof kNewModel - 1);
  producedCount = 2 + sizeof kNewModel - 1;
  // Position 4 is taken untested; the walk for the terminator starts at position 5.
  return DropToTerminator(line, 3, kGiveUpRewritten, lineCount);
}

}  // namespace header_line
using namespace header_line;

ConversionResult ReferenceHeaderLine(ConversionState& state, char* line, char* output,
                                   std::uint32_t& lineCount, std::uint32_t& producedCount) {
  const char kind = line[0];
  if (kind == '\0') return ResultInvalidFormatFile;
  output[0] = kind;
  std::uint32_t taken = 1;
  std::uint32_t produced = 1;

  ConversionResult result = ResultInvalidFormatFile;
  if (kind == 'i' || kind == 'l' || kind == 't') {
    if (line[1] == '\0') {
      lineCount += taken;
      producedCount += produced;
      return ResultInvalidFormatFile;
    }
    output[1] = line[1];
    taken = produced = 2;
  }

  switch (kind) {
    case 'i':
      result = ConvertModelLine(state, line, output, taken, produced);
      break;
    case 'l':
      std::memcpy(output + 2, kNewStandard, sizeof kNewStandard - 1);
      produced = 2 + sizeof kNewStandard - 1;
      if (line[2] == '\0') break;
      result = DropToTerminator(line, 3, kGiveUpRewritten, taken);
      break;
    case 't': {
      if (line[2] == '\0') break;
      output[2] = line[2];
      taken = produced = 3;
      bool reachedEnd = false;
      if (!MatchesUpToChunkEnd(line + 2, "FRT", 3, reachedEnd)) break;
      result = CopyToTerminator(line, output, 3, taken, produced);
      break;
    }
    default:
      result = CopyToTerminator(line, output, 1, taken, produced);
      break;
  }
  lineCount += taken;
  producedCount += produced;
  return result;
}


ChunkWalk WalkChunk(ConversionState& state, char* chunk, std::size_t length, char* output) {
  ChunkWalk walk;
  if (length == 0) return walk;

  // The walk ends in front of any line that has no newline left in the chunk.
  // Finding the last newline once makes that check constant-time per character.
  std::size_t walkEnd = length;
  while (walkEnd > 0 && chunk[walkEnd - 1] != '\n') --walkEnd;

  std::size_t in = 0;
  std::size_t out = 0;
  for (;;) {
    const char current = chunk[in];
    if (static_cast<unsigned char>(current) == kEndMarker) {
      walk.result = ResultEndMarker;
      break;
    }
    output[out++] = current;
    ++in;

    if (state.m_bConversionNeeded && (current == '$' || current == '@')) {
      std::uint32_t lineCount = 0;
      std::uint32_t producedCount = 0;
      const ConversionResult lineResult =
          current == '$'
              ? ReferenceFormatLine(state, chunk + in, output + out, lineCount, producedCount)
              : ReferenceHeaderLine(state, chunk + in, output + out, lineCount, producedCount);
      in += lineCount;
      out += producedCount;
      if (lineResult == ResultInvalidFormatFile) {
        walk.failedLineStart = static_cast<std::uint32_t>(in - lineCount - 1);
        walk.result = lineResult;
        break;
      }
      if (lineResult == ResultEndMarker) {
        walk.result = lineResult;
        break;
      }
    }

    if (in >= walkEnd) {
      walk.result = ResultIncompleteLine;
      break;
    }
  }
  walk.consumed = static_cast<std::uint32_t>(in);
  return walk;
}



ConversionResult ConvertChunk(ConversionState& state, char* chunk, char* output, std::uint32_t& consumed) {
  const ChunkWalk walk = reference::WalkChunk(state, chunk, std::strlen(chunk), output);
  consumed = walk.consumed;
  return walk.result;
}

}  // namespace quarnel::reference
