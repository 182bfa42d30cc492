// The chunk loop. The source is read as a stream of characters in which every
// CR LF pair stands as one LF; chunks of at most 2047 characters are cut from
// it and each restarts exactly at the first character the previous one left.
// Every LF of the converted text is written as CR LF.
#include "quarnel/conversion_driver.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>

#include "quarnel/conversion_report.h"
#include "quarnel/line_converters.h"
#include "quarnel/line_dispatcher.h"

namespace quarnel {
namespace {

// A read of this many characters is a full one: its last character is dropped
// so that the chunk keeps room for its NUL and holds at most 2047 characters.
constexpr std::size_t kReadSize = kMaxChunkLength + 1;
constexpr std::size_t kWindowCapacity = 64 * 1024;
constexpr std::size_t kRawCapacity = 16 * 1024;
constexpr std::size_t kWriteCapacity = 64 * 1024;

// The source's characters with CR LF pairs turned into LF. A lone CR stays a
// CR; a pair split across two reads is still one LF.
class NormalizedWindow {
 public:
  explicit NormalizedWindow(ByteSource& source) : source_(source) {}

  // Makes the characters from `position` on available, `count` of them or as
  // many as the source still holds, and returns how many are. `position` never
  // moves backwards.
  std::size_t Ensure(std::uint64_t position, std::size_t count) {
    assert(position >= base_ && position <= base_ + size_);
    assert(count <= kWindowCapacity - kRawCapacity - 1);
    if (position + count > base_ + size_ && !end_) {
      // Keep only what lies behind `position`; reading on fills the room so freed.
      const std::size_t drop = static_cast<std::size_t>(position - base_);
      std::memmove(buffer_, buffer_ + drop, size_ - drop);
      size_ -= drop;
      base_ = position;
      while (size_ < count && !end_) ReadMore();
    }
    return static_cast<std::size_t>(std::min<std::uint64_t>(base_ + size_ - position, count));
  }

  const char* At(std::uint64_t position) const { return buffer_ + (position - base_); }
  bool failed() const { return source_.failed; }

 private:
  void ReadMore() {
    const std::size_t read = source_.Read(raw_, kRawCapacity);
    if (read == 0) {
      end_ = true;
      if (pendingCarriageReturn_) buffer_[size_++] = '\r';
      pendingCarriageReturn_ = false;
      return;
    }
    const char* in = raw_;
    const char* const rawEnd = raw_ + read;
    if (pendingCarriageReturn_) {
      pendingCarriageReturn_ = false;
      if (*in != '\n') buffer_[size_++] = '\r';
    }
    while (in < rawEnd) {
      const char* carriageReturn = static_cast<const char*>(std::memchr(in, '\r', rawEnd - in));
      const char* segmentEnd = carriageReturn ? carriageReturn : rawEnd;
      std::memcpy(buffer_ + size_, in, segmentEnd - in);
      size_ += segmentEnd - in;
      if (!carriageReturn) break;
      in = carriageReturn + 1;
      if (in == rawEnd) {
        pendingCarriageReturn_ = true;
      } else if (*in != '\n') {
        buffer_[size_++] = '\r';
      }
    }
  }

  ByteSource& source_;
  std::uint64_t base_ = 0;  // stream position of buffer_[0]
  std::size_t size_ = 0;
  bool end_ = false;
  bool pendingCarriageReturn_ = false;
  char buffer_[kWindowCapacity];
  char raw_[kRawCapacity];
};

// Collects converted text, writes every LF as CR LF, and hands it to the sink
// in large blocks. After the first failed write nothing more is written.
class CrLfWriter {
 public:
  explicit CrLfWriter(ByteSink& sink) : sink_(sink) {}

  void Write(const char* text, std::size_t length) {
    while (length > 0 && !failed_) {
      // Each piece fits even if every character were a newline, so no flush
      // can fall inside a CR LF pair.
      if (2 * length > kWriteCapacity - size_) Flush();
      const std::size_t piece = std::min(length, (kWriteCapacity - size_) / 2);
      WriteWithRoom(text, piece);
      text += piece;
      length -= piece;
    }
  }

  bool Flush() {
    if (!failed_ && size_ > 0 && !sink_.Write(buffer_, size_)) failed_ = true;
    size_ = 0;
    return !failed_;
  }
  bool failed() const { return failed_; }

 private:
  void WriteWithRoom(const char* text, std::size_t length) {
    const char* const end = text + length;
    char* to = buffer_ + size_;
    while (text < end) {
      const char* newline = static_cast<const char*>(std::memchr(text, '\n', end - text));
      const char* segmentEnd = newline ? newline : end;
      std::memcpy(to, text, segmentEnd - text);
      to += segmentEnd - text;
      if (!newline) break;
      to[0] = '\r';
      to[1] = '\n';
      to += 2;
      text = newline + 1;
    }
    size_ = static_cast<std::size_t>(to - buffer_);
  }

  ByteSink& sink_;
  bool failed_ = false;
  std::size_t size_ = 0;
  char buffer_[kWriteCapacity];
};

std::size_t CountNewlines(const char* text, std::size_t length) {
  // Byte-wide counts over blocks that cannot overflow them: plain loops that
  // the compiler turns into vector compares.
  constexpr std::size_t kBlock = 255;
  std::size_t count = 0;
  while (length > 0) {
    const std::size_t block = std::min(length, kBlock);
    unsigned char blockCount = 0;
    for (std::size_t i = 0; i < block; ++i) blockCount += text[i] == '\n' ? 1 : 0;
    count += blockCount;
    text += block;
    length -= block;
  }
  return count;
}

bool IsMarkerOrEnd(char c) {
  return c == '@' || c == '$' || static_cast<unsigned char>(c) == kEndMarker;
}

// Why a walk gave up inside the line that begins at `lineStart`.
FormatFailure ClassifyFailure(const char* chunk, std::size_t consumed, std::size_t lineStart, bool fullRead,
                              bool endsAtNulByte) {
  // Every converter that gives up at the chunk's end stops right in front of
  // its NUL; a kind-t line whose tag is wrong stops behind position 4.
  const char* line = chunk + lineStart;
  if (line[0] == '@' && line[1] == 't' && chunk[consumed] != '\0') return FormatFailure::MissingFrtTag;
  if (endsAtNulByte) return FormatFailure::NulByte;
  return fullRead ? FormatFailure::LineTooLong : FormatFailure::NoTerminator;
}

// The working storage of one run, kept off the stack of small threads.
struct RunBuffers {
  char chunk[kChunkCapacity];
  char output[kOutputCapacity];
};

class ConversionRun {
 public:
  ConversionRun(ByteSource& source, ConversionState& state, ByteSink& sink)
      : window_(source), writer_(sink), state_(state), sink_(sink) {
    std::memset(&buffers_, 0, sizeof buffers_);
  }

  ConversionOutcome Run();

 private:
  bool ConvertNextChunk();
  void SkipLongPlainLine();
  bool StoppedByFileError();

  NormalizedWindow window_;
  CrLfWriter writer_;
  RunBuffers buffers_;
  ConversionState& state_;
  ByteSink& sink_;
  ConversionOutcome outcome_;
  std::uint64_t position_ = 0;     // stream position of the next chunk
  std::uint64_t linesBefore_ = 0;  // newlines in front of position_
};

// Converts the chunk at position_ and returns whether the loop goes on.
bool ConversionRun::ConvertNextChunk() {
  const std::size_t readCount = window_.Ensure(position_, kReadSize);
  if (window_.failed()) return false;
  if (readCount == 0) return false;

  const bool fullRead = readCount == kReadSize;
  std::size_t length = fullRead ? kMaxChunkLength : readCount;
  char* const chunk = buffers_.chunk;
  char* const output = buffers_.output;
  std::memcpy(chunk, window_.At(position_), length);

  // A NUL byte ends the chunk where it stands; the run ends behind that chunk.
  const void* nul = std::memchr(chunk, '\0', length);
  const bool hasNulByte = nul != nullptr;
  if (hasNulByte) length = static_cast<std::size_t>(static_cast<const char*>(nul) - chunk);

  // The source's last line without a newline is converted as if it had one;
  // that added newline is not written.
  const bool addedNewline = !fullRead && !hasNulByte && chunk[length - 1] != '\n';
  if (addedNewline) chunk[length++] = '\n';
  chunk[length] = '\0';

  const ChunkWalk walk = WalkChunk(state_, chunk, length, output);
  std::size_t outputLength = std::strlen(output);
  if (addedNewline && walk.consumed == length && outputLength > 0 && output[outputLength - 1] == '\n')
    --outputLength;
  writer_.Write(output, outputLength);
  std::memset(output, 0, outputLength + 1);

  outcome_.result = walk.result;
  if (walk.result == ResultEndMarker) {
    // The walk stops with the marker at `consumed`.
    outcome_.endMarkerOffset = position_ + walk.consumed;
    outcome_.endMarkerLine = linesBefore_ + CountNewlines(chunk, walk.consumed) + 1;
  }
  if (walk.result == ResultInvalidFormatFile) {
    outcome_.failedLine = linesBefore_ + CountNewlines(chunk, walk.failedLineStart) + 1;
    outcome_.formatFailure =
        ClassifyFailure(chunk, walk.consumed, walk.failedLineStart, fullRead, hasNulByte);
  }
  const std::size_t consumedNewlines = CountNewlines(chunk, walk.consumed);
  const bool goesOn = walk.result == ResultOk || walk.result == ResultIncompleteLine;
  if (hasNulByte && goesOn && state_.m_bConversionNeeded) {
    outcome_.result = ResultInvalidFormatFile;
    outcome_.formatFailure = FormatFailure::NulByte;
    outcome_.failedLine = linesBefore_ + CountNewlines(chunk, length) + 1;
    return false;
  }
  const bool longPlainLine = goesOn && fullRead && walk.consumed == 1 && !hasNulByte &&
                             std::memchr(chunk, '\n', length) == nullptr;
  position_ += walk.consumed;
  linesBefore_ += consumedNewlines;
  if (!(goesOn && fullRead && state_.m_bConversionNeeded)) return false;
  if (longPlainLine) SkipLongPlainLine();
  return true;
}

// A line without a marker that is longer than a chunk moves on by one
// character per chunk: each such chunk is full, holds neither a newline nor a
// NUL, and gives up its first character alone. Those characters are copied
// here directly instead of being cut and walked one chunk each.
void ConversionRun::SkipLongPlainLine() {
  constexpr std::size_t kSpan = 32 * 1024;
  for (;;) {
    const std::size_t available = window_.Ensure(position_, kSpan);
    if (window_.failed() || available < kReadSize) return;
    const char* text = window_.At(position_);
    const void* newline = std::memchr(text, '\n', available);
    const void* nul = std::memchr(text, '\0', available);
    std::size_t plainSpan = available;
    if (newline) plainSpan = static_cast<std::size_t>(static_cast<const char*>(newline) - text);
    if (nul) plainSpan = std::min(plainSpan, static_cast<std::size_t>(static_cast<const char*>(nul) - text));

    std::size_t skipped = 0;
    while (skipped + kReadSize <= available && skipped + kMaxChunkLength <= plainSpan &&
           !IsMarkerOrEnd(text[skipped]))
      ++skipped;
    writer_.Write(text, skipped);
    position_ += skipped;
    if (skipped == 0 || writer_.failed()) return;
  }
}

bool ConversionRun::StoppedByFileError() {
  if (window_.failed()) {
    outcome_.result = ResultFileError;
    outcome_.fileFailure = FileFailure::ReadSource;
    return true;
  }
  if (writer_.failed()) {
    outcome_.result = ResultFileError;
    outcome_.fileFailure = FileFailure::WriteTarget;
    outcome_.systemMessage = sink_.failure;
    return true;
  }
  return false;
}

ConversionOutcome ConversionRun::Run() {
  while (ConvertNextChunk() && !writer_.failed()) {
  }
  writer_.Flush();
  StoppedByFileError();
  return outcome_;
}

class MemorySource : public ByteSource {
 public:
  MemorySource(std::string_view bytes, std::size_t maxRead) : bytes_(bytes), maxRead_(maxRead) {}
  std::size_t Read(char* buffer, std::size_t capacity) override {
    std::size_t count = std::min(capacity, bytes_.size());
    if (maxRead_ != 0) count = std::min(count, maxRead_);
    std::memcpy(buffer, bytes_.data(), count);
    bytes_.remove_prefix(count);
    return count;
  }

 private:
  std::string_view bytes_;
  std::size_t maxRead_;
};

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& target) : target_(target) {}
  bool Write(const char* bytes, std::size_t count) override {
    target_.append(bytes, count);
    return true;
  }

 private:
  std::string& target_;
};

}  // namespace

ConversionOutcome ConvertFormatStream(ByteSource& source, ConversionState& state, ByteSink& sink) {
  // About 100 KB of buffers: too much for the stack of every thread a caller may use.
  auto run = std::make_unique<ConversionRun>(source, state, sink);
  ConversionOutcome outcome = run->Run();
  if (outcome.fileFailure == FileFailure::ReadSource) outcome.systemMessage = source.failure;
  return outcome;
}

ConversionOutcome ConvertFormatBytes(std::string_view source, ConversionState& state,
                                     std::string& target, std::size_t maxRead) {
  target.clear();
  MemorySource memorySource(source, maxRead);
  StringSink sink(target);
  return ConvertFormatStream(memorySource, state, sink);
}

bool BeginsWithUtf16Mark(std::string_view bytes) {
  if (bytes.size() < 2) return false;
  const auto first = static_cast<unsigned char>(bytes[0]);
  const auto second = static_cast<unsigned char>(bytes[1]);
  return (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
}

ConversionOutcome ConvertFormatFileBytes(std::string_view source, ConversionState& state,
                                         std::string& target) {
  if (BeginsWithUtf16Mark(source)) {
    target.clear();
    ConversionOutcome outcome;
    outcome.result = ResultInvalidFormatFile;
    outcome.formatFailure = FormatFailure::Utf16Text;
    outcome.failedLine = 1;
    return outcome;
  }
  ConversionOutcome outcome = ConvertFormatBytes(source, state, target);
  if (outcome.result == ResultEndMarker) {
    // The driver counts a CR LF pair as one character; find the marker's byte.
    std::uint64_t text = 0;
    std::size_t raw = 0;
    while (raw < source.size() && text < outcome.endMarkerOffset) {
      if (source[raw] == '\r' && raw + 1 < source.size() && source[raw + 1] == '\n') ++raw;
      ++raw;
      ++text;
    }
    outcome.bytesBehindEndMarker = raw < source.size() ? source.size() - raw - 1 : 0;
  }
  return outcome;
}

}  // namespace quarnel
