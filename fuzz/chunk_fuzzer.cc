// Fuzzes the chunk walk: any chunk the driver can hand it (up to 2047 bytes
// of any value but NUL) from any starting state a run can be in. Behind every
// "$" of the chunk it also runs the format-line converter's one-pass path and
// its plain scan, which must agree to the byte.
//
// Input: byte 0 holds the flags (bit 0 m_bConversionNeeded, bit 1
// m_bWideCodes); then, for m_aFlaggedVariables and m_aRemovedApps in turn, a
// count byte and one byte per entry; the rest is the chunk, cut at its first
// NUL as the driver cuts it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "line_converters.h"
#include "line_dispatcher.h"

namespace quarnel::fuzz {
namespace {

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Take() { return position_ < size_ ? data_[position_++] : 0; }
  const std::uint8_t* Rest() const { return data_ + position_; }
  std::size_t RestSize() const { return size_ - position_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// A partly filled list as earlier chunks leave it. Entry bytes below 0x80
// pick an accepted number; the others give numbers no converter adds, which
// can fill a list to its capacity where the accepted ones alone never do.
NumberList ReadList(InputReader& input, ReportedKind kind) {
  NumberList list = ConversionState::EmptyList();
  const std::size_t count = input.Take() % (kListCapacity + 1);
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t pick = input.Take();
    const auto value = static_cast<std::int16_t>(pick < 0x80 ? ReportedNumberOfKind(kind, pick) : 1000 + pick);
    if (std::find(list.begin(), list.begin() + length, value) == list.begin() + length)
      list[length++] = value;
  }
  return list;
}

bool IsMarker(char c) { return c == '@' || c == '$'; }

// Offset just behind the chunk's last newline, 0 without one.
std::size_t WalkEnd(const std::string& chunk) {
  const std::size_t last = chunk.rfind('\n');
  return last == std::string::npos ? 0 : last + 1;
}

struct Walk {
  ConversionResult result = ResultOk;
  std::size_t consumed = 0;
  std::string output;
};

// The walk of a chunk in which no converter runs: every character is copied
// up to the chunk's last newline (the first one alone without a newline)
// unless an end marker comes first.
Walk CopyingWalk(const std::string& chunk) {
  Walk walk;
  if (chunk.empty()) return walk;
  const std::size_t walkEnd = WalkEnd(chunk);
  for (;;) {
    if (IsEndMarker(chunk[walk.consumed])) {
      walk.result = ResultEndMarker;
      return walk;
    }
    walk.output += chunk[walk.consumed++];
    if (walk.consumed >= walkEnd) {
      walk.result = ResultIncompleteLine;
      return walk;
    }
  }
}

// The format-line converter and its plain scan on the text behind one "$".
void CompareFormatLinePaths(const ConversionState& start, const std::string& line) {
  const std::size_t bound = ConvertedChunkBound(line.size());
  struct Path {
    ConversionState state;
    std::string line;
    std::unique_ptr<char[]> output;
    LineConversion conversion;
  };
  Path paths[2] = {{start, line, std::unique_ptr<char[]>(new char[bound]), {}},
                   {start, line, std::unique_ptr<char[]>(new char[bound]), {}}};
  paths[0].conversion =
      ConvertFormatLine(paths[0].state, paths[0].line.data(), line.size(), paths[0].output.get());
  paths[1].conversion = ScanFormatLine(paths[1].state, paths[1].line.data(), paths[1].output.get());
  const LineConversion& a = paths[0].conversion;
  const LineConversion& b = paths[1].conversion;
  Require(a.result == b.result && a.failure == b.failure && a.taken == b.taken && a.produced == b.produced,
          "one-pass path and plain scan end alike");
  Require(a.produced <= bound && std::memcmp(paths[0].output.get(), paths[1].output.get(), a.produced) == 0,
          "one-pass path and plain scan write the same text");
  Require(paths[0].line == paths[1].line, "one-pass path and plain scan rewrite the line alike");
  Require(SameState(paths[0].state, paths[1].state), "one-pass path and plain scan record alike");
}

void FuzzChunk(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  ConversionState state;
  const std::uint8_t flags = input.Take();
  state.m_bConversionNeeded = (flags & 1) != 0;
  state.m_bWideCodes = (flags & 2) != 0;
  state.m_aFlaggedVariables = ReadList(input, ReportedKind::FlaggedVariable);
  state.m_aRemovedApps = ReadList(input, ReportedKind::RemovedApp);
  const ConversionState before = state;

  const auto* text = reinterpret_cast<const char*>(input.Rest());
  std::size_t length = std::min(input.RestSize(), kMaxChunkLength);
  if (const void* nul = std::memchr(text, '\0', length))
    length = static_cast<std::size_t>(static_cast<const char*>(nul) - text);
  const std::string original(text, length);

  // Both buffers exactly as large as the walk may use, so that AddressSanitizer
  // sees any access past the chunk's NUL or past the output's room.
  const std::size_t bound = ConvertedChunkBound(length);
  const std::unique_ptr<char[]> chunk(new char[length + 1]);
  std::memcpy(chunk.get(), text, length);
  chunk[length] = '\0';
  const std::unique_ptr<char[]> output(new char[bound]);

  const ChunkWalk walk = WalkChunk(state, chunk.get(), length, output.get());
  const ConversionResult result = walk.result;
  const std::size_t consumed = walk.consumed;

  Require(result == ResultOk || result == ResultInvalidFormatFile || result == ResultEndMarker ||
              result == ResultIncompleteLine,
          "result is one the walk can give");
  Require(consumed <= length, "consumed count within the chunk");
  Require((result == ResultOk) == (length == 0), "ResultOk exactly for an empty chunk");
  Require(walk.produced <= bound, "converted text within ConvertedChunkBound");
  Require((result == ResultInvalidFormatFile) == (walk.failure != FormatFailure::None),
          "a failure comes with its cause");
  const std::string converted(output.get(), walk.produced);

  if (result == ResultIncompleteLine && state.m_bConversionNeeded) {
    // The driver restarts at `consumed`: just behind the last newline, so the
    // unconsumed tail holds none; a chunk without a newline still moves on.
    // (Another model's model line ends the walk behind itself.)
    const std::size_t walkEnd = WalkEnd(original);
    Require(consumed == (walkEnd > 0 ? walkEnd : 1), "incomplete line ends behind the last newline");
  }
  if (result == ResultEndMarker)
    Require(consumed < length && IsEndMarker(original[consumed]), "end marker stands at the consumed count");

  // Only a code 100 is rewritten in place, to digits, in the consumed part.
  Require(chunk[length] == '\0', "chunk keeps its NUL");
  for (std::size_t i = 0; i < length; ++i) {
    if (chunk[i] == original[i]) continue;
    Require(i < consumed && original[i] != '\n' && !IsEndMarker(original[i]) && chunk[i] >= '0' &&
                chunk[i] <= '9',
            "only code digits rewritten in the chunk");
  }

  // Text in front of the first marker is copied unchanged.
  const std::size_t firstMarker =
      std::min<std::size_t>(consumed, std::find_if(original.begin(), original.end(),
                                                   [](char c) { return IsMarker(c) || IsEndMarker(c); }) -
                                          original.begin());
  Require(converted.compare(0, firstMarker, original, 0, firstMarker) == 0 &&
              converted.size() >= firstMarker,
          "text in front of the first marker copied");

  RequireListGrew(before.m_aFlaggedVariables, state.m_aFlaggedVariables, ReportedKind::FlaggedVariable,
                  "m_aFlaggedVariables keeps its discipline");
  RequireListGrew(before.m_aRemovedApps, state.m_aRemovedApps, ReportedKind::RemovedApp,
                  "m_aRemovedApps keeps its discipline");

  ConversionState lineStart = before;
  lineStart.m_bConversionNeeded = true;
  for (std::size_t at = original.find('$'); at != std::string::npos; at = original.find('$', at + 1))
    CompareFormatLinePaths(lineStart, original.substr(at + 1));

  // Without a converter call the walk is a plain copy and leaves the state alone.
  if (!before.m_bConversionNeeded || std::none_of(original.begin(), original.end(), IsMarker)) {
    const Walk expected = CopyingWalk(original);
    Require(result == expected.result && consumed == expected.consumed && converted == expected.output,
            "a chunk without conversion is copied as it stands");
    Require(SameState(state, before), "a chunk without conversion leaves the state alone");
  }
}

}  // namespace
}  // namespace quarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarnel::fuzz::FuzzChunk(data, size);
  return 0;
}
