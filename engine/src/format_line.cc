// Format lines: "$", a quoted part through the second double quote, variable
// field runs, then after the first ";" the code section of code groups.
// Narrow layout (KRV110/330/440): runs of 9 characters, codes of 3.
// Wide layout (KRV880 and the new family): runs of 11 characters, codes of 5.
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// One bit per character of the 16 at `text` that is one of the two kinds
// each function names, the first character the lowest bit.
struct BlockMasks {
  std::uint32_t first;
  std::uint32_t second;
};

// Double quotes, and the characters that end a quoted part: newline, end marker, NUL.
inline BlockMasks QuotesAndStops(const char* text) {
#if defined(__SSE2__)
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  const __m128i stops =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(block, _mm_setzero_si128())),
                   _mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(kEndMarker))));
  return {static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')))),
          static_cast<std::uint32_t>(_mm_movemask_epi8(stops))};
#else
  BlockMasks masks{};
  for (std::uint32_t i = 0; i < 16; ++i) {
    masks.first |= static_cast<std::uint32_t>(text[i] == '"') << i;
    masks.second |= static_cast<std::uint32_t>(text[i] == '\0' || IsTerminator(text[i])) << i;
  }
  return masks;
#endif
}

// Digits and ";": what a body of the usual shape holds in front of its terminator.
inline BlockMasks DigitsAndSeparators(const char* text) {
#if defined(__SSE2__)
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  const __m128i offset = _mm_sub_epi8(block, _mm_set1_epi8('0'));
  const __m128i digits = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset);
  return {static_cast<std::uint32_t>(_mm_movemask_epi8(digits)),
          static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(';'))))};
#else
  BlockMasks masks{};
  for (std::uint32_t i = 0; i < 16; ++i) {
    masks.first |= static_cast<std::uint32_t>(IsDigit(text[i])) << i;
    masks.second |= static_cast<std::uint32_t>(text[i] == ';') << i;
  }
  return masks;
#endif
}

// `mask` for the block of 16 characters at `text`, of which only `count`
// stand in front of the chunk's end: a whole block is read only where the
// chunk holds it, else a copy padded with NULs.
template <BlockMasks (*kMask)(const char*)>
inline BlockMasks MaskPart(const char* text, std::size_t count) {
  if (count >= 16) return kMask(text);
  char copy[16] = {};
  std::memcpy(copy, text, count);
  return kMask(copy);
}

// Offset behind the quoted part's second double quote, or 0 when a
// terminator or the chunk's end comes first.
inline std::uint32_t QuotedPartEnd(const char* line, std::size_t length) {
  int quotes = 0;
  for (std::uint32_t at = 0; at < kMaxLineTaken; at += 16) {
    const BlockMasks masks = MaskPart<QuotesAndStops>(line + at, at < length ? length - at : 0);
    for (std::uint32_t found = masks.first; found != 0; found &= found - 1) {
      const auto position = static_cast<std::uint32_t>(std::countr_zero(found));
      if ((masks.second & ((1u << position) - 1)) != 0) return 0;
      if (++quotes == 2) return at + position + 1;
    }
    if (masks.second != 0) return 0;
  }
  return 0;
}

// The body of the usual shape is at most this long: four blocks.
constexpr std::uint32_t kUsualBodyReach = 64;

// Most format lines have one shape: a quoted part free of terminators, then
// whole runs of digits, a ";" and whole groups of digits, each behind a ";"
// or right behind the one before, and a terminator within 64 characters of
// the quoted part's end. ConvertUsualLine recognises such a line by its
// masks of quotes, digits, separators and terminators, 16 characters at a
// time, then converts it run by run and group by group exactly as the scan
// would, and returns false for any other line before it has changed
// anything; the scan then converts that line.
template <bool kWide>
bool ConvertUsualLine(ConversionState& state, char* line, std::size_t length, char* output,
                      LineConversion& conversion) {
  // The layout's lengths are constants here, in each of the two copies.
  constexpr Layout layout = kWide ? kWideLayout : kNarrowLayout;
  const std::uint32_t bodyStart = QuotedPartEnd(line, length);
  if (bodyStart == 0) return false;

  // One bit per separator of the body, up to its first character that is
  // neither a digit nor a separator.
  std::uint64_t separators = 0;
  std::uint32_t end = kUsualBodyReach;
  for (std::uint32_t at = 0; at < kUsualBodyReach; at += 16) {
    const std::size_t offset = bodyStart + at;
    const BlockMasks masks = MaskPart<DigitsAndSeparators>(line + offset, offset < length ? length - offset : 0);
    separators |= static_cast<std::uint64_t>(masks.second) << at;
    const std::uint32_t other = ~(masks.first | masks.second) & 0xFFFF;
    if (other != 0) {
      end = at + static_cast<std::uint32_t>(std::countr_zero(other));
      break;
    }
  }
  // The body must end at a terminator well inside the limit; separators
  // behind it belong to the next line.
  if (end == kUsualBodyReach || bodyStart + end >= kMaxLineTaken || !IsTerminator(line[bodyStart + end])) return false;
  separators &= (std::uint64_t{1} << end) - 1;

  // Runs: whole ones, up to the first separator or the terminator.
  const std::uint32_t runsEnd = separators == 0 ? end : static_cast<std::uint32_t>(std::countr_zero(separators));
  if (runsEnd % layout.runLength != 0) return false;
  // Codes: each stretch behind a separator is whole groups, at least one.
  for (std::uint32_t from = runsEnd; from < end;) {
    const std::uint64_t behind = separators >> (from + 1) << (from + 1);
    const std::uint32_t to = behind == 0 ? end : static_cast<std::uint32_t>(std::countr_zero(behind));
    const std::uint32_t stretch = to - from - 1;
    if (stretch == 0 || stretch % layout.groupLength != 0) return false;
    from = to;
  }

  // The line has the usual shape: convert it.
  // Whole blocks where the chunk holds them; the room behind the quoted part
  // is the bound's.
  if (bodyStart <= 16 && length >= 16) {
    std::memcpy(output, line, 16);
  } else {
    std::memcpy(output, line, bodyStart);
  }
  char* body = line + bodyStart;
  std::uint32_t out = bodyStart;
  for (std::uint32_t at = 0; at < runsEnd; at += layout.runLength)
    out += ConvertWholeRun(state, layout, body + at, output + out);
  for (std::uint32_t at = runsEnd; at < end;) {
    if (body[at] == ';') {
      output[out++] = ';';
      ++at;
    }
    out += ConvertWholeGroup(state, layout, body + at, output + out);
    at += layout.groupLength;
  }
  conversion.taken = bodyStart + end;
  conversion.produced = out;
  conversion.result = body[end] == '\n' ? ResultOk : ResultEndMarker;
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
