// Format lines: "$", a quoted part through the second double quote, variable
// field runs, then after the first ";" the code section of code groups.
// Narrow layout (KRV110/330/440): runs of 9 characters, codes of 3.
// Wide layout (KRV880 and the new family): runs of 11 characters, codes of 5.
#include <cstdio>
#include <cstring>

#include "quarnel/line_converters.h"

namespace quarnel {
namespace {

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

// True for the characters that a quoted part cannot copy without a closer
// look: the chunk's NUL, the two terminators and the double quote.
constexpr bool IsQuotedPartStop(unsigned char c) {
  return c == '\0' || c == '\n' || c == kEndMarker || c == '"';
}

struct QuotedPartStops {
  bool stops[256];
  constexpr QuotedPartStops() : stops() {
    for (int c = 0; c < 256; ++c) stops[c] = IsQuotedPartStop(static_cast<unsigned char>(c));
  }
};
constexpr QuotedPartStops kQuotedPartStops;

// True when all `count` characters at `text` are digits. A NUL, a terminator
// or a ";" is none, so such a stretch lies whole within the line and the chunk.
bool AllDigits(const char* text, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!IsDigit(text[i])) return false;
  }
  return true;
}

// The value of `count` digits, which AllDigits has vouched for.
int DigitsValue(const char* text, std::uint32_t count) {
  int value = 0;
  for (std::uint32_t i = 0; i < count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

constexpr std::uint32_t RunLength(bool wide) { return wide ? kWideRunLength : kNarrowRunLength; }
constexpr std::uint32_t GroupLength(bool wide) { return wide ? kWideCodeLength : kNarrowCodeLength; }

// A variable run of nothing but digits, all steps at once: the variable number
// is read where the layout reads it (narrow: at run positions 6 and 7, with a
// "0" in front of each, which lays the run out as the wide one). Returns the
// characters written to `out`.
template <bool kWide>
std::uint32_t ConvertWholeRun(ConversionState& state, const char* run, char* out) {
  if constexpr (kWide) {
    RecordFlaggedVariable(Narrow(DigitsValue(run + 7, 4)), state);
    std::memcpy(out, run, kWideRunLength);
    return kWideRunLength;
  } else {
    RecordFlaggedVariable(Narrow(DigitsValue(run + 5, 3)), state);
    RecordFlaggedVariable(Narrow(DigitsValue(run + 6, 3)), state);
    std::memcpy(out, run, 5);
    out[5] = '0';
    out[6] = run[5];
    out[7] = '0';
    std::memcpy(out + 8, run + 6, 3);
    return kNarrowRunLength + 2;
  }
}

// A code group of nothing but digits, all steps at once: 100 is rewritten in
// place, 120 and 123 are dropped, a kept narrow code gets its "00". Returns
// the characters written to `out`.
template <bool kWide>
std::uint32_t ConvertWholeGroup(ConversionState& state, char* group, char* out) {
  constexpr std::uint32_t kGroupLength = GroupLength(kWide);
  const int code = DigitsValue(group, kGroupLength);
  if (code == kReplacedCode) WriteReplacementCode(static_cast<std::int16_t>(kGroupLength), group);
  if (RecordRemovedApp(Narrow(code), state)) return 0;
  std::uint32_t written = 0;
  if constexpr (!kWide) {
    out[written++] = '0';
    out[written++] = '0';
  }
  std::memcpy(out + written, group, kGroupLength);
  return written + kGroupLength;
}

// The scan over one line, in the layout `kWide` selects. `taken` and
// `produced` are the contract's counts.
template <bool kWide>
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
  Stop ScanPartialCodeGroup();
  void ReplaceCode100(char* group, std::uint32_t groupLength) const;

  static constexpr std::uint32_t kRunLength = RunLength(kWide);
  static constexpr std::uint32_t kGroupLength = GroupLength(kWide);
  // Taken counts up to which a whole run or group stays short of the limit.
  static constexpr std::uint32_t kLastWholeRun = kMaxLineTaken - kRunLength;
  static constexpr std::uint32_t kLastWholeGroup = kMaxLineTaken - kGroupLength;

  ConversionState& state_;
  char* line_;
  char* output_;
};

template <bool kWide>
typename FormatLineScan<kWide>::Stop FormatLineScan<kWide>::ScanQuotedPart() {
  // The first character behind the "$" is copied whatever it is, a newline or
  // the end marker included; only the chunk's end stops it.
  int quotes = 0;
  if (Current() == '\0') return Stop::ChunkEnd;
  if (Current() == '"') ++quotes;
  Copy();
  for (;;) {
    if (quotes < 2) {
      // Characters that none of the checks below stops at go in one stretch,
      // up to the limit.
      const char* const from = line_ + taken;
      char* const to = output_ + produced;
      const std::uint32_t room = kMaxLineTaken - taken;
      std::uint32_t span = 0;
      for (; span < room; ++span) {
        const char c = from[span];
        if (kQuotedPartStops.stops[static_cast<unsigned char>(c)]) break;
        to[span] = c;
      }
      taken += span;
      produced += span;
    }
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsTerminator(c) || LimitReached()) return Stop::Terminated;
    if (quotes == 2) return Stop::None;
    if (c == '"') ++quotes;
    Copy();
  }
}

template <bool kWide>
typename FormatLineScan<kWide>::Stop FormatLineScan<kWide>::ScanVariableRun() {
  const char* run = line_ + taken;
  if (taken <= kLastWholeRun && AllDigits(run, kRunLength)) {
    produced += ConvertWholeRun<kWide>(state_, run, output_ + produced);
    taken += kRunLength;
    return Stop::None;
  }
  for (std::uint32_t position = 1; position <= kRunLength; ++position) {
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsEndMarker(c)) return Stop::EndMarker;
    if (c == '\n' || c == ';' || LimitReached()) return Stop::None;
    if (!kWide && (position == 6 || position == 7)) {
      // The narrow variable number is read twice, at run positions 6 and 7; a
      // zero goes in front of each, which lays the run out as the wide one.
      RecordFlaggedVariable(Narrow(ReadNumber(line_ + taken, 3)), state_);
      Insert('0');
    } else if (kWide && position == 8) {
      RecordFlaggedVariable(Narrow(ReadNumber(line_ + taken, 4)), state_);
    }
    Copy();
  }
  return Stop::None;
}

template <bool kWide>
void FormatLineScan<kWide>::ReplaceCode100(char* group, std::uint32_t groupLength) const {
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

template <bool kWide>
typename FormatLineScan<kWide>::Stop FormatLineScan<kWide>::ScanCodeGroup() {
  char* const group = line_ + taken;
  if (taken > kLastWholeGroup || !AllDigits(group, kGroupLength)) return ScanPartialCodeGroup();
  produced += ConvertWholeGroup<kWide>(state_, group, output_ + produced);
  taken += kGroupLength;
  return Stop::None;
}

// A group that a terminator, the chunk's end or the limit may cut short, or
// that holds other characters than digits: one character at a time.
template <bool kWide>
typename FormatLineScan<kWide>::Stop FormatLineScan<kWide>::ScanPartialCodeGroup() {
  constexpr std::uint32_t groupLength = kGroupLength;
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
      if (!drop && !kWide) {
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

template <bool kWide>
typename FormatLineScan<kWide>::Stop FormatLineScan<kWide>::ScanBody() {
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

template <bool kWide>
ConversionResult FormatLineScan<kWide>::Run() {
  Stop stop = ScanQuotedPart();
  if (stop == Stop::None) stop = ScanBody();

  if (stop == Stop::ChunkEnd || LimitReached()) return ResultInvalidFormatFile;
  if (IsEndMarker(Current())) return ResultEndMarker;
  return ResultOk;
}

// Most format lines have one shape: a quoted part free of terminators, then
// whole runs of digits, a ";" and whole groups of digits, each behind a ";"
// or right behind the one before, and a terminator well inside the limit.
// ConvertUsualLine converts such a line in one pass, exactly as FormatLineScan
// would, and returns false at the first sign of any other shape, with the
// output it wrote zeroed again for FormatLineScan to start over.
//
// What it did before giving up is harmless: the numbers it recorded are the
// first ones FormatLineScan records again, in the same order, and a code 100
// that it rewrote to 107 in place reads as a code that is neither replaced nor
// dropped, which gives the same text.
template <bool kWide>
bool ConvertUsualLine(ConversionState& state, char* line, char* output, std::uint32_t& lineCount,
                      std::uint32_t& producedCount, ConversionResult& result) {
  constexpr std::uint32_t kRunLength = RunLength(kWide);
  constexpr std::uint32_t kGroupLength = GroupLength(kWide);
  std::uint32_t in = 0;
  std::uint32_t out = 0;
  const auto giveUp = [&] {
    std::memset(output, 0, out);
    return false;
  };

  // The quoted part, copied while its end is looked for.
  char c = line[0];
  if (c == '\0' || IsTerminator(c)) return false;
  int quotes = c == '"' ? 1 : 0;
  output[out++] = c;
  for (in = 1; quotes < 2;) {
    c = line[in];
    if (kQuotedPartStops.stops[static_cast<unsigned char>(c)]) {
      if (c != '"') return giveUp();
      ++quotes;
    }
    output[out++] = c;
    if (++in >= kMaxLineTaken) return giveUp();
  }

  while (IsDigit(line[in])) {
    const char* run = line + in;
    if (in + kRunLength >= kMaxLineTaken || !AllDigits(run, kRunLength)) return giveUp();
    out += ConvertWholeRun<kWide>(state, run, output + out);
    in += kRunLength;
  }

  if (line[in] == ';') {
    output[out++] = line[in++];
    for (;;) {
      char* group = line + in;
      if (in + kGroupLength >= kMaxLineTaken || !AllDigits(group, kGroupLength)) return giveUp();
      out += ConvertWholeGroup<kWide>(state, group, output + out);
      in += kGroupLength;
      if (line[in] == ';') {
        output[out++] = line[in++];
      } else if (!IsDigit(line[in])) {
        break;
      }
    }
  }

  if (!IsTerminator(line[in])) return giveUp();
  lineCount += in;
  producedCount += out;
  result = line[in] == '\n' ? ResultOk : ResultEndMarker;
  return true;
}

template <bool kWide>
ConversionResult RunScan(ConversionState& state, char* line, char* output, std::uint32_t& lineCount,
                         std::uint32_t& producedCount) {
  FormatLineScan<kWide> scan(state, line, output);
  const ConversionResult result = scan.Run();
  lineCount += scan.taken;
  producedCount += scan.produced;
  return result;
}

}  // namespace

ConversionResult ConvertFormatLine(ConversionState& state, char* line, char* output,
                                   std::uint32_t& lineCount, std::uint32_t& producedCount) {
  ConversionResult result = ResultOk;
  if (state.m_bWideCodes) {
    if (ConvertUsualLine<true>(state, line, output, lineCount, producedCount, result)) return result;
    return RunScan<true>(state, line, output, lineCount, producedCount);
  }
  if (ConvertUsualLine<false>(state, line, output, lineCount, producedCount, result)) return result;
  return RunScan<false>(state, line, output, lineCount, producedCount);
}

void RecordFlaggedVariable(std::int16_t value, ConversionState& state) {
  switch (value) {
    case 51:
    case 58:
    case 652:
    case 653:
    case 656:
      AddToList(state.m_aFlaggedVariables, value);
      break;
    default:
      break;
  }
}

bool RecordRemovedApp(std::int16_t value, ConversionState& state) {
  if (value != 120 && value != 123) return false;
  AddToList(state.m_aRemovedApps, value);
  return true;
}

bool WriteReplacementCode(std::int16_t width, char* position) {
  // 107 as "%03d" and "%05d" would print it.
  if (width == 3) {
    std::memcpy(position, "107", 3);
    return true;
  }
  if (width == 5) {
    std::memcpy(position, "00107", 5);
    return true;
  }
  return false;
}

}  // namespace quarnel
