// Format lines: "$", a quoted part through the second double quote, variable
// field runs, then after the first ";" the code section of code groups.
// Narrow layout (KRV110/330/440): runs of 9 characters, codes of 3.
// Wide layout (KRV880 and the new family): runs of 11 characters, codes of 5.
#include <bit>
#include <cstring>

#include "line_converters.h"
#include "reported_numbers.h"

namespace quarnel {
namespace {

constexpr int kReplacedCode = 100;

// The table of reported numbers as a lookup by number, for the two lookups
// every variable run and code group makes.
struct ReportedLookup {
  static constexpr int kSize = 1024;
  // 0: not reported; else 1 + the number's kind.
  std::uint8_t kinds[kSize];
  constexpr ReportedLookup() : kinds() {
    for (const ReportedNumber& entry : kReportedNumbers)
      kinds[entry.number] = static_cast<std::uint8_t>(1 + static_cast<int>(entry.kind));
  }
};
constexpr ReportedLookup kReportedLookup;
static_assert([] {
  for (const ReportedNumber& entry : kReportedNumbers) {
    if (entry.number < 0 || entry.number >= ReportedLookup::kSize) return false;
  }
  return true;
}(), "every reported number fits the lookup");

inline bool IsReportedFast(std::int16_t value, ReportedKind kind) {
  return value >= 0 && value < ReportedLookup::kSize &&
         kReportedLookup.kinds[value] == 1 + static_cast<int>(kind);
}

struct Layout {
  std::uint32_t runLength;
  std::uint32_t groupLength;
  bool wide;
};
constexpr Layout kNarrowLayout{9, 3, false};
constexpr Layout kWideLayout{11, 5, true};

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads a number from at most `width` characters at `text`, as plain decimal
// text: leading white space, an optional sign, digits up to the first other
// character, 0 without digits. The line's terminator (and the chunk's NUL)
// ends the read: a number never takes a character of the next line.
int ReadNumber(const char* text, std::uint32_t width) {
  std::uint32_t i = 0;
  while (i < width && text[i] != '\n' && IsSpace(text[i])) ++i;
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

// True when all `count` characters at `text` are digits; all of them must
// lie in front of the chunk's NUL. Eight at a time: a byte is a digit when
// neither subtracting "0" nor adding 0x46 (which carries "9" + 1 into the top
// bit) sets its top bit.
inline bool AllDigits(const char* text, std::uint32_t count) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text + i, 8);
    if (((word - 0x30 * kOnes) | (word + 0x46 * kOnes)) & (0x80 * kOnes)) return false;
  }
  for (; i < count; ++i) {
    if (!IsDigit(text[i])) return false;
  }
  return true;
}

// The value of `count` characters known to be digits.
inline int DigitsValue(const char* text, std::uint32_t count) {
  int value = 0;
  for (std::uint32_t i = 0; i < count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// A variable run of nothing but digits, all steps at once: the variable number
// is read where the layout reads it (narrow: at run positions 6 and 7, with a
// "0" in front of each, which lays the run out as the wide one). Returns the
// characters written to `out`.
inline std::uint32_t ConvertWholeRun(ConversionState& state, const Layout& layout, const char* run, char* out) {
  if (layout.wide) {
    RecordFlaggedVariable(Narrow(DigitsValue(run + 7, 4)), state);
    std::memcpy(out, run, 11);
    return 11;
  }
  // Positions 6 to 8 and 7 to 9: three of the four digits are shared.
  const int middle = (run[6] - '0') * 10 + (run[7] - '0');
  RecordFlaggedVariable(Narrow((run[5] - '0') * 100 + middle), state);
  RecordFlaggedVariable(Narrow(middle * 10 + (run[8] - '0')), state);
  std::memcpy(out, run, 5);
  out[5] = '0';
  out[6] = run[5];
  out[7] = '0';
  std::memcpy(out + 8, run + 6, 3);
  return 11;
}

// A code group of nothing but digits, all steps at once: 100 is rewritten in
// place, a removed application's code is dropped, a kept narrow code gets its
// "00". Returns the characters written to `out`.
inline std::uint32_t ConvertWholeGroup(ConversionState& state, const Layout& layout, char* group, char* out) {
  const int code = DigitsValue(group, layout.groupLength);
  if (code == kReplacedCode) WriteReplacementCode(layout.groupLength, group);
  if (RecordRemovedApp(Narrow(code), state)) return 0;
  std::uint32_t written = 0;
  if (!layout.wide) {
    out[0] = '0';
    out[1] = '0';
    written = 2;
  }
  std::memcpy(out + written, group, layout.groupLength);
  return written + layout.groupLength;
}

// The plain scan over one line, one character at a time: the definition of a
// format line's conversion.
class FormatLineScan {
 public:
  FormatLineScan(ConversionState& state, char* line, char* output)
      : state_(state), layout_(state.m_bWideCodes ? kWideLayout : kNarrowLayout), line_(line), output_(output) {}

  LineConversion Run();

 private:
  enum class Stop : std::uint8_t { None, EndMarker, Terminated, ChunkEnd };

  char Current() const { return line_[taken_]; }
  bool LimitReached() const { return taken_ >= kMaxLineTaken; }
  void Copy() { output_[produced_++] = line_[taken_++]; }
  void Insert(char c) { output_[produced_++] = c; }

  Stop ScanQuotedPart();
  Stop ScanBody();
  Stop ScanVariableRun();
  Stop ScanCodeGroup();
  void ReplaceCode100(char* group) const;

  ConversionState& state_;
  const Layout layout_;
  char* line_;
  char* output_;
  std::uint32_t taken_ = 0;
  std::uint32_t produced_ = 0;
};

FormatLineScan::Stop FormatLineScan::ScanQuotedPart() {
  // A terminator right behind the "$" ends the line there.
  int quotes = 0;
  if (Current() == '\0') return Stop::ChunkEnd;
  if (IsTerminator(Current())) return Stop::Terminated;
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
  for (std::uint32_t position = 1; position <= layout_.runLength; ++position) {
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsEndMarker(c)) return Stop::EndMarker;
    if (c == '\n' || c == ';' || LimitReached()) return Stop::None;
    if (!layout_.wide && (position == 6 || position == 7)) {
      // The narrow variable number is read twice, at run positions 6 and 7; a
      // zero goes in front of each, which lays the run out as the wide one.
      RecordFlaggedVariable(Narrow(ReadNumber(line_ + taken_, 3)), state_);
      Insert('0');
    } else if (layout_.wide && position == 8) {
      RecordFlaggedVariable(Narrow(ReadNumber(line_ + taken_, 4)), state_);
    }
    Copy();
  }
  return Stop::None;
}

void FormatLineScan::ReplaceCode100(char* group) const {
  // A group cut short by a terminator, the chunk's end or the limit is
  // rewritten only in the characters in front of the cut, so the newline and
  // the next line stay.
  std::uint32_t standing = 0;
  while (standing < layout_.groupLength && group[standing] != '\0' && !IsTerminator(group[standing]) &&
         taken_ + standing < kMaxLineTaken)
    ++standing;
  WriteReplacementCode(standing, group);
}

FormatLineScan::Stop FormatLineScan::ScanCodeGroup() {
  bool drop = false;
  for (std::uint32_t position = 1; position <= layout_.groupLength; ++position) {
    const char c = Current();
    if (c == '\0') return Stop::ChunkEnd;
    if (IsEndMarker(c)) return Stop::EndMarker;
    if (c == '\n' || LimitReached()) return Stop::None;
    if (position == 1) {
      const int code = ReadNumber(line_ + taken_, layout_.groupLength);
      if (code == kReplacedCode) ReplaceCode100(line_ + taken_);
      drop = RecordRemovedApp(Narrow(code), state_);
      if (!drop && !layout_.wide) {
        Insert('0');
        Insert('0');
      }
    }
    if (drop)
      ++taken_;
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

LineConversion FormatLineScan::Run() {
  Stop stop = ScanQuotedPart();
  if (stop == Stop::None) stop = ScanBody();

  LineConversion conversion;
  conversion.taken = taken_;
  conversion.produced = produced_;
  if (stop == Stop::ChunkEnd || LimitReached()) {
    conversion.result = ResultInvalidFormatFile;
    conversion.failure = FormatFailure::NoTerminator;
  } else if (IsEndMarker(Current())) {
    conversion.result = ResultEndMarker;
  }
  return conversion;
}

static_assert(std::endian::native == std::endian::little, "the first character is a word's low byte");

// The top bit of each byte of `word` that is `c`; above the lowest such byte
// a byte may show falsely, so only the lowest set bit counts.
constexpr std::uint64_t ByteMask(std::uint64_t word, unsigned char c) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t x = word ^ (kOnes * c);
  return (x - kOnes) & ~x & (kOnes * 0x80);
}

// True for the characters that a quoted part cannot copy without a closer
// look: the chunk's NUL, the two terminators and the double quote.
struct QuotedPartStops {
  bool stops[256];
  constexpr QuotedPartStops() : stops() {
    for (unsigned char c : {static_cast<unsigned char>('\0'), static_cast<unsigned char>('\n'), kEndMarker,
                            static_cast<unsigned char>('"')})
      stops[c] = true;
  }
};
constexpr QuotedPartStops kQuotedPartStops;

// Most format lines have one shape: a quoted part free of terminators, then
// whole runs of digits, a ";" and whole groups of digits, each behind a ";"
// or right behind the one before, and a terminator well inside the limit.
// ConvertUsualLine converts such a line in one pass, exactly as the scan
// would, and returns false at the first sign of any other shape; the scan
// then starts over on the line and writes its output afresh.
//
// What it did before giving up is harmless: the numbers it recorded are the
// first ones the scan records again, in the same order, and a code 100 that
// it rewrote to 107 in place reads as a code that is neither replaced nor
// dropped, which gives the same text.
template <bool kWide>
bool ConvertUsualLine(ConversionState& state, char* line, std::size_t length, char* output,
                      LineConversion& conversion) {
  // The layout's lengths are constants here, in each of the two copies.
  constexpr Layout layout = kWide ? kWideLayout : kNarrowLayout;
  std::uint32_t in = 0;
  std::uint32_t out = 0;

  // The quoted part, copied while its end is looked for.
  char c = line[0];
  if (c == '\0' || IsTerminator(c)) return false;
  int quotes = c == '"' ? 1 : 0;
  output[out++] = c;
  for (in = 1; quotes < 2;) {
    // Eight characters at a time up to the next one that needs a closer look.
    if (in + 8 <= length) {
      std::uint64_t word;
      std::memcpy(&word, line + in, 8);
      const std::uint64_t stops = ByteMask(word, '"') | ByteMask(word, '\n') | ByteMask(word, kEndMarker);
      const std::uint32_t plain = stops == 0 ? 8 : static_cast<std::uint32_t>(std::countr_zero(stops)) / 8;
      // All eight are stored: the room behind the kept ones is the bound's.
      std::memcpy(output + out, &word, 8);
      out += plain;
      in += plain;
      if (in >= kMaxLineTaken) return false;
      if (plain == 8) continue;
    }
    c = line[in];
    if (kQuotedPartStops.stops[static_cast<unsigned char>(c)]) {
      if (c != '"') return false;
      ++quotes;
    }
    output[out++] = c;
    if (++in >= kMaxLineTaken) return false;
  }

  while (IsDigit(line[in])) {
    const char* run = line + in;
    // A run that the chunk's end cuts short is no run of digits; AllDigits
    // may then read no further than the chunk holds.
    if (in + layout.runLength >= kMaxLineTaken || in + layout.runLength > length ||
        !AllDigits(run, layout.runLength))
      return false;
    out += ConvertWholeRun(state, layout, run, output + out);
    in += layout.runLength;
  }

  if (line[in] == ';') {
    output[out++] = line[in++];
    for (;;) {
      char* group = line + in;
      if (in + layout.groupLength >= kMaxLineTaken || in + layout.groupLength > length ||
          !AllDigits(group, layout.groupLength))
        return false;
      out += ConvertWholeGroup(state, layout, group, output + out);
      in += layout.groupLength;
      if (line[in] == ';') {
        output[out++] = line[in++];
      } else if (!IsDigit(line[in])) {
        break;
      }
    }
  }

  if (!IsTerminator(line[in])) return false;
  conversion.taken = in;
  conversion.produced = out;
  conversion.result = line[in] == '\n' ? ResultOk : ResultEndMarker;
  return true;
}

}  // namespace

LineConversion ScanFormatLine(ConversionState& state, char* line, char* output) {
  return FormatLineScan(state, line, output).Run();
}

bool ConvertUsualFormatLine(ConversionState& state, char* line, std::size_t length, char* output,
                            LineConversion& conversion) {
  return state.m_bWideCodes ? ConvertUsualLine<true>(state, line, length, output, conversion)
                            : ConvertUsualLine<false>(state, line, length, output, conversion);
}

LineConversion ConvertFormatLine(ConversionState& state, char* line, std::size_t length, char* output) {
  LineConversion conversion;
  const bool usual = state.m_bWideCodes ? ConvertUsualLine<true>(state, line, length, output, conversion)
                                        : ConvertUsualLine<false>(state, line, length, output, conversion);
  if (usual) return conversion;
  return ScanFormatLine(state, line, output);
}

void RecordFlaggedVariable(std::int16_t value, ConversionState& state) {
  if (IsReportedFast(value, ReportedKind::FlaggedVariable)) AddToList(state.m_aFlaggedVariables, value);
}

bool RecordRemovedApp(std::int16_t value, ConversionState& state) {
  if (!IsReportedFast(value, ReportedKind::RemovedApp)) return false;
  AddToList(state.m_aRemovedApps, value);
  return true;
}

void WriteReplacementCode(std::uint32_t width, char* position) {
  // 107 in the widths "%0*d" gives it: "107", "0107", "00107".
  constexpr char kWidest[] = "00107";
  constexpr std::uint32_t kWidestLength = sizeof kWidest - 1;
  if (width < 3 || width > kWidestLength) return;
  std::memcpy(position, kWidest + (kWidestLength - width), width);
}

}  // namespace quarnel
