// Runs whole conversions: a source format file in, a target format file and
// an outcome out. Lines may end in CR LF, LF, a lone CR or a mix; the target
// always gets CR LF. A CR followed by another CR is a character of its line. Memory stays bounded whatever the source's size. This part uses no
// file API (the browser build has none); files are in conversion_file.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quarnel/conversion_state.h"
#include "quarnel/conversion_types.h"

namespace quarnel {

// Converted text reaches the sink in blocks of this many bytes, the last one
// shorter. A stream target keeps each block it was sent, so a file for
// another model sends a stream nothing only when its model line is read
// before the first block goes out, within this many bytes of converted text.
inline constexpr std::size_t kWriteBlockSize = 256 * 1024;

struct ConversionOutcome {
  ConversionResult result = ResultOk;
  FormatFailure formatFailure = FormatFailure::None;
  // Line of the source, counted from 1, at which the walk gave up; 0 if it did not.
  std::uint64_t failedLine = 0;
  FileFailure fileFailure = FileFailure::None;
  // The operating system's message for a file failure, else empty.
  std::string systemMessage;
  // Where the end marker stood after ResultEndMarker: its line, counted from 1,
  // and its byte offset in the source.
  std::uint64_t endMarkerLine = 0;
  std::uint64_t endMarkerOffset = 0;
  // Bytes of the source behind the end marker, for a source of known size.
  std::uint64_t bytesBehindEndMarker = 0;
  // The source's size is not known (a stream), and it is not read on behind
  // its end marker: what follows the marker is not known.
  bool bytesBehindUnknown = false;
  // A model line stood before the end of the source or its end marker
  // (ConversionState::m_bModelLineSeen at the end of the run).
  bool modelLineSeen = false;
};

// What one read or write did: the bytes it moved and, on a failure, the
// operating system's message.
struct IoResult {
  std::size_t count = 0;
  std::optional<std::string> error;
};

// Where the driver reads the source's bytes from. Read places at most
// `capacity` bytes in `buffer`; a count of 0 without an error is the end.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual IoResult Read(char* buffer, std::size_t capacity) = 0;
  // The source's size in bytes where it is known before the end is read (a
  // regular file); a stream has none.
  virtual std::optional<std::uint64_t> KnownSize() const { return std::nullopt; }
};

// Where the driver writes the target's bytes. Write takes all `count` bytes
// or reports an error.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual IoResult Write(const char* bytes, std::size_t count) = 0;
};

// Converts everything `source` delivers into `sink`, one line at a time. What
// it must give is defined by the plain chunk loop in
// fuzz/reference_conversion.h: the same text, result, failing line and
// state, which the fuzzers and the driver tests check. Each header and format
// line converts from its own characters; the run ends at the end marker (a
// NUL in front of it fails the run, one behind it is never read), at another
// model's model line, or at a failure, and a failed run's text ends in front
// of the failing line. The state is read and written as the run goes; a failure result does not
// touch m_bConversionNeeded (ComposeReport does). A source that begins with a
// UTF-16 byte-order mark (FF FE or FE FF) is ResultInvalidFormatFile
// (Utf16Text, line 1) with nothing converted: it is no single-byte format
// file, and its FF would pass for the end marker. A run that ends with
// m_bConversionNeeded cleared (a file for another model) sends the sink
// nothing more: only blocks that went out before its model line was read. A
// read or write error stops the run at once with ResultFileError and the
// system's message.
ConversionOutcome ConvertFormatStream(ByteSource& source, ConversionState& state, ByteSink& sink);

// In-memory conversion: `target` receives the converted bytes (it is cleared
// first). `maxRead` limits the bytes handed over per read, so callers can try
// every way a stream may split the source; 0 means no limit.
ConversionOutcome ConvertFormatBytes(std::string_view source, ConversionState& state,
                                     std::string& target, std::size_t maxRead = 0);

}  // namespace quarnel
