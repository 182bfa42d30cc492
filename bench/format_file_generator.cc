// Content is drawn from small weighted tables so that the generated files
// look like those surveyors send: mostly format lines of a handful of common
// variables and codes, now and then code 100 (rewritten), 120 or 123
// (dropped), and the variables the report names.
#include "format_file_generator.h"

#include <array>
#include <cassert>

namespace quarnel::bench {
namespace {

// SplitMix64: tiny, and its output is fixed by its definition, unlike the
// standard library's distributions, so files are the same everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number in [low, high]; the slight bias of the modulo does not matter here.
  std::size_t Between(std::size_t low, std::size_t high) { return low + Next() % (high - low + 1); }
  bool Percent(unsigned percent) { return Next() % 100 < percent; }
  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Next() % N];
  }

 private:
  std::uint64_t state_;
};

template <std::size_t N>
struct Weighted {
  std::array<int, N> values;
  std::array<unsigned, N> weights;

  int Draw(Random& random) const {
    unsigned total = 0;
    for (unsigned w : weights) total += w;
    unsigned ticket = static_cast<unsigned>(random.Next() % total);
    for (std::size_t i = 0; i < N; ++i) {
      if (ticket < weights[i]) return values[i];
      ticket -= weights[i];
    }
    return values[N - 1];
  }
};

// Instrument variables: coordinates, angles, distances, heights, point and
// code fields, and the five that the report names (51, 58, 652, 653, 656).
constexpr Weighted<20> kVariables{
    {11, 12, 13, 21, 22, 31, 32, 33, 41, 42, 71, 72, 81, 82, 83, 87, 51, 58, 652, 653},
    {14, 8, 4, 10, 10, 8, 8, 6, 6, 4, 4, 3, 8, 8, 8, 3, 2, 2, 1, 1}};
constexpr Weighted<3> kRareVariables{{656, 88, 18}, {1, 3, 3}};

// Application codes: 100 is rewritten to 107, 120 and 123 are dropped.
constexpr Weighted<12> kCodes{{1, 2, 3, 5, 8, 10, 20, 100, 120, 123, 101, 150},
                              {20, 14, 10, 8, 6, 6, 5, 12, 4, 4, 4, 3}};

constexpr std::array<std::string_view, 20> kLabels{
    "Pt",  "Point", "Hz", "V", "SD", "HD", "dH", "E", "N", "H",
    "Code", "Stn", "Target", "Remark", "Prism", "ppm", "Inst.h", "Refl.h", "Date", "Time"};

constexpr std::array<std::string_view, 16> kWords{
    "station", "target", "prism", "export", "survey", "points", "angles", "distance",
    "code",    "height", "remark", "job",   "list",   "north",  "east",   "levels"};

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kFillLineLength = 80;

std::string_view OldModel(FileShape shape) { return shape == FileShape::Wide ? "KRV880" : "KRV330"; }

void AppendWords(std::string& text, std::size_t length, Random& random) {
  const std::size_t end = text.size() + length;
  while (text.size() < end) {
    text += random.Pick(kWords);
    if (random.Percent(15)) text += std::to_string(random.Between(1, 9999));
    text += random.Percent(10) ? ", " : " ";
  }
  text.resize(end);
}

void AppendPadded(std::string& text, int value, int width) {
  const std::string digits = std::to_string(value);
  text.append(static_cast<std::size_t>(width) - digits.size(), '0');
  text += digits;
}

// One variable field run as the old model writes it: five digits of field
// settings, one more digit, then the variable number (3 digits narrow, 4 wide).
void AppendVariableRun(std::string& line, bool wide, Random& random) {
  line += static_cast<char>('1' + random.Between(0, 8));
  for (int i = 0; i < 4; ++i) line += static_cast<char>('0' + random.Between(0, 9));
  if (wide) line += '0';
  line += random.Percent(80) ? '0' : static_cast<char>('1' + random.Between(0, 3));
  const int variable = random.Percent(2) ? kRareVariables.Draw(random) : kVariables.Draw(random);
  AppendPadded(line, variable, wide ? 4 : 3);
}

std::string FormatLine(bool wide, Random& random) {
  std::string line = "$\"";
  line += random.Pick(kLabels);
  if (random.Percent(30)) line.append(random.Between(1, 8), ' ');
  line += '"';
  const std::size_t runs = random.Percent(12) ? 2 : 1;
  for (std::size_t i = 0; i < runs; ++i) AppendVariableRun(line, wide, random);
  const std::size_t codes = random.Percent(60) ? 1 : random.Percent(75) ? 2 : 3;
  for (std::size_t i = 0; i < codes; ++i) {
    line += ';';
    AppendPadded(line, kCodes.Draw(random), wide ? 5 : 3);
  }
  line += kCrLf;
  return line;
}

// A line of the body of a narrow or wide file.
std::string BodyLine(bool wide, Random& random) {
  const std::size_t kind = random.Between(1, 100);
  if (kind <= 93) return FormatLine(wide, random);
  std::string line;
  if (kind <= 95) {
    line = "! ";
    AppendWords(line, random.Between(8, 60), random);
  } else if (kind <= 96) {
    // A blank line.
  } else if (kind <= 98) {
    line = random.Percent(50) ? "@c0" : "@n1";
    AppendWords(line, random.Between(4, 30), random);
  } else {
    line = "   ";
    AppendWords(line, random.Between(4, 40), random);
  }
  line += kCrLf;
  return line;
}

std::string PlainLine(std::size_t minLength, std::size_t maxLength, Random& random) {
  std::string line;
  AppendWords(line, random.Between(minLength, maxLength), random);
  line += kCrLf;
  return line;
}

std::string NextLine(FileShape shape, Random& random) {
  switch (shape) {
    case FileShape::Narrow:
      return BodyLine(false, random);
    case FileShape::Wide:
      return BodyLine(true, random);
    case FileShape::LongOtherLines:
      // With its newline, at most 2046 characters: one chunk holds it whole.
      return PlainLine(1900, 2045, random);
    case FileShape::ShortKindLLines: {
      std::string line = "@l0";
      line += static_cast<char>('A' + random.Between(0, 25));
      line += kCrLf;
      return line;
    }
    case FileShape::OverlongOtherLines:
      return PlainLine(3000, 12000, random);
  }
  return std::string(kCrLf);
}

std::string Header(FileShape shape) {
  std::string header = "@i1";
  header += OldModel(shape);
  header += kCrLf;
  if (shape != FileShape::ShortKindLLines) {
    header += "@l0Survey standard";
    header += kCrLf;
    header += "@t1FRT export format 2.1";
    header += kCrLf;
  }
  return header;
}

// A remark of exactly `length` bytes, CR LF included (at least 2).
void AppendFillLine(std::string& text, std::size_t length, Random& random) {
  assert(length >= kCrLf.size());
  if (length > kCrLf.size()) {
    text += '*';
    AppendWords(text, length - kCrLf.size() - 1, random);
  }
  text += kCrLf;
}

}  // namespace

std::string_view ShapeName(FileShape shape) {
  switch (shape) {
    case FileShape::Narrow:
      return "narrow";
    case FileShape::Wide:
      return "wide";
    case FileShape::LongOtherLines:
      return "long-other";
    case FileShape::ShortKindLLines:
      return "short-kind-l";
    case FileShape::OverlongOtherLines:
      return "overlong-other";
  }
  return "";
}

std::optional<FileShape> ParseShape(std::string_view name) {
  for (FileShape shape : kAllShapes) {
    if (ShapeName(shape) == name) return shape;
  }
  return std::nullopt;
}

std::size_t MinimumFileSize(FileShape shape) { return Header(shape).size(); }

std::string GenerateFormatFile(FileShape shape, std::size_t bytes, std::uint32_t seed) {
  Random random((static_cast<std::uint64_t>(seed) << 8) | static_cast<std::uint64_t>(shape));
  std::string text = Header(shape);
  if (bytes <= text.size()) return text;
  text.reserve(bytes);
  if (bytes - text.size() == 1) {
    // No line fits one byte; the last header line takes a trailing blank.
    text.insert(text.size() - kCrLf.size(), 1, ' ');
    return text;
  }

  // Whole lines while they fit, never leaving a single byte, which no line
  // with its CR LF could fill; then remarks up to the exact size.
  for (;;) {
    const std::string line = NextLine(shape, random);
    const std::size_t room = bytes - text.size();
    if (line.size() != room && line.size() + 1 >= room) break;
    text += line;
    if (text.size() == bytes) return text;
  }
  while (text.size() < bytes) {
    const std::size_t room = bytes - text.size();
    std::size_t length = std::min(room, kFillLineLength);
    if (room - length == 1) --length;
    AppendFillLine(text, length, random);
  }
  assert(text.size() == bytes);
  return text;
}

}  // namespace quarnel::bench
