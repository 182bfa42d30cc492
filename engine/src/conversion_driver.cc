// The chunk loop. The source is read as a stream of characters in which every
// CR LF pair stands as one LF; chunks of at most 2047 characters are cut from
// it and each restarts exactly at the first character the previous one left.
// Every LF of the converted text is written as CR LF.
#include "quarnel/conversion_driver.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "format_text.h"
#include "line_dispatcher.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarnel {
namespace {

// A read of this many characters is a full one: its last character is dropped
// so that the chunk keeps room for its NUL and holds at most 2047 characters.
constexpr std::size_t kReadSize = kMaxChunkLength + 1;
// Bytes asked of the source at once.
constexpr std::size_t kRawCapacity = 256 * 1024;
// The most characters anyone asks the window for at once: a long line
// without markers is skipped over this many at a time.
constexpr std::size_t kLongestEnsure = 32 * 1024;
// Room for what is kept, one read's characters (and a CR held back from the
// read before), and behind them a chunk's added newline and NUL.
constexpr std::size_t kWindowCapacity = kLongestEnsure + kRawCapacity + 4;
constexpr std::size_t kWriteCapacity = kWriteBlockSize;

// The source's characters with every line end turned into LF. A CR LF pair
// is one line end, and so is a CR followed by anything but LF or CR, or by
// the end of the source; a CR followed by another CR stays a character, so
// CR CR LF keeps its one line end. A pair split across two reads is still one.
class NormalizedWindow {
 public:
  explicit NormalizedWindow(ByteSource& source) : source_(source) {}

  // Makes the characters from `position` on available, `count` of them or as
  // many as the source still holds, and returns how many are. `position` never
  // moves backwards. After a read error the source counts as ended.
  std::size_t Ensure(std::uint64_t position, std::size_t count) {
    assert(position >= base_ && position <= base_ + size_);
    assert(count <= kLongestEnsure);
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

  // The characters from `position` on; two bytes behind the last one
  // available may be written (a chunk's added newline and its NUL).
  char* At(std::uint64_t position) { return buffer_ + (position - base_); }
  const std::optional<std::string>& error() const { return error_; }

 private:
  void ReadMore() {
    IoResult read = source_.Read(raw_, kRawCapacity);
    if (read.error) error_ = std::move(read.error);
    if (read.count == 0 || error_) {
      end_ = true;
      if (pendingCarriageReturn_) buffer_[size_++] = '\n';
      pendingCarriageReturn_ = false;
      return;
    }
    const char* in = raw_;
    const char* const rawEnd = raw_ + read.count;
    if (pendingCarriageReturn_) {
      pendingCarriageReturn_ = false;
      if (*in != '\n') buffer_[size_++] = LoneCarriageReturn(*in);
    }
#if defined(__SSE2__)
    // Sixteen characters at a time, stored whole; a CR found among them ends
    // the stretch kept, and the next stretch begins behind it.
    const __m128i carriageReturns = _mm_set1_epi8('\r');
    char* to = buffer_ + size_;
    while (rawEnd - in >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
      const unsigned found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, carriageReturns)));
      if (found == 0) {
        in += 16;
        to += 16;
        continue;
      }
      const unsigned at = static_cast<unsigned>(std::countr_zero(found));
      to += at;
      in += at + 1;
      if (in == rawEnd) {
        pendingCarriageReturn_ = true;
        break;
      }
      if (*in != '\n') *to++ = LoneCarriageReturn(*in);
    }
    size_ = static_cast<std::size_t>(to - buffer_);
#endif
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
        buffer_[size_++] = LoneCarriageReturn(*in);
      }
    }
  }

  // What a CR not followed by LF stands for, given the byte behind it.
  static char LoneCarriageReturn(char next) { return next == '\r' ? '\r' : '\n'; }

  ByteSource& source_;
  std::uint64_t base_ = 0;  // stream position of buffer_[0]
  std::size_t size_ = 0;
  bool end_ = false;
  bool pendingCarriageReturn_ = false;
  std::optional<std::string> error_;
  char buffer_[kWindowCapacity];
  char raw_[kRawCapacity];
};

// Collects converted text, writes every LF as CR LF, and hands it to the sink
// in large blocks. After the first failed write nothing more is written.
class CrLfWriter {
 public:
  explicit CrLfWriter(ByteSink& sink) : sink_(sink) {}

  void Write(const char* text, std::size_t length) {
    while (length > 0 && !error_) {
      // Each piece fits even if every character were a newline, so no flush
      // can fall inside a CR LF pair.
      if (2 * length > kWriteCapacity - size_) Flush();
      const std::size_t piece = std::min(length, (kWriteCapacity - size_) / 2);
      WriteWithRoom(text, piece);
      text += piece;
      length -= piece;
    }
  }

  void Flush() {
    if (!error_ && size_ > 0) error_ = sink_.Write(buffer_, size_).error;
    size_ = 0;
  }
  const std::optional<std::string>& error() const { return error_; }

 private:
  void WriteWithRoom(const char* text, std::size_t length) {
    const char* const end = text + length;
    char* to = buffer_ + size_;
#if defined(__SSE2__)
    // Sixteen characters at a time, stored whole; a newline found among them
    // becomes CR LF, and the next stretch begins behind it. The room for every
    // character doubled leaves room for the whole store.
    const __m128i newlines = _mm_set1_epi8('\n');
    while (end - text >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
      const unsigned found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, newlines)));
      if (found == 0) {
        text += 16;
        to += 16;
        continue;
      }
      const unsigned at = static_cast<unsigned>(std::countr_zero(found));
      to += at;
      text += at + 1;
      to[0] = '\r';
      to[1] = '\n';
      to += 2;
    }
#endif
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
  std::optional<std::string> error_;
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

bool IsMarkerOrEnd(char c) { return c == '@' || c == '$' || IsEndMarker(c); }

// One chunk as it is cut from the window, walked in place.
struct Chunk {
  char* text = nullptr;
  std::size_t length = 0;
  // The read filled the chunk: the source goes on behind it.
  bool full = false;
  // A NUL byte of the source ends the chunk.
  bool endsAtNulByte = false;
  // The source's last line had no newline; the chunk got one, which is not written.
  bool addedNewline = false;
};

class ConversionRun {
 public:
  ConversionRun(ByteSource& source, ConversionState& state, ByteSink& sink)
      : window_(source), writer_(sink), state_(state) {}

  ConversionOutcome Run();

 private:
  bool ConvertNextChunk();
  Chunk CutChunk(std::size_t available);
  void FailOnFormat(FormatFailure failure, const Chunk& chunk, std::size_t lineStart);
  void SkipLongPlainLine();

  NormalizedWindow window_;
  CrLfWriter writer_;
  char output_[kOutputCapacity];
  ConversionState& state_;
  ConversionOutcome outcome_;
  std::uint64_t position_ = 0;     // stream position of the next chunk
  std::uint64_t linesBefore_ = 0;  // newlines in front of position_
};

Chunk ConversionRun::CutChunk(std::size_t available) {
  Chunk chunk;
  chunk.text = window_.At(position_);
  chunk.full = available == kReadSize;
  chunk.length = chunk.full ? kMaxChunkLength : available;
  if (const void* nul = std::memchr(chunk.text, '\0', chunk.length)) {
    chunk.length = static_cast<std::size_t>(static_cast<const char*>(nul) - chunk.text);
    chunk.endsAtNulByte = true;
  }
  chunk.addedNewline = !chunk.full && !chunk.endsAtNulByte && chunk.text[chunk.length - 1] != '\n';
  return chunk;
}

// Ends the run on the line of the chunk that begins at `lineStart`, for the
// cause the walk gave or, when it was the chunk's end, what ended the chunk.
void ConversionRun::FailOnFormat(FormatFailure failure, const Chunk& chunk, std::size_t lineStart) {
  if (failure != FormatFailure::MissingFrtTag) {
    failure = chunk.endsAtNulByte ? FormatFailure::NulByte
              : chunk.full        ? FormatFailure::LineTooLong
                                  : FormatFailure::NoTerminator;
  }
  outcome_.result = ResultInvalidFormatFile;
  outcome_.formatFailure = failure;
  outcome_.failedLine = linesBefore_ + CountNewlines(chunk.text, lineStart) + 1;
}

// Converts the chunk at position_ and returns whether the loop goes on.
bool ConversionRun::ConvertNextChunk() {
  const std::size_t available = window_.Ensure(position_, kReadSize);
  if (window_.error() || available == 0) return false;
  const Chunk chunk = CutChunk(available);

  // The chunk is walked where it stands, with its NUL (and before it the
  // added newline) written behind it. A source character so covered, which
  // only a full chunk or a NUL byte leaves there, is put back afterwards.
  std::size_t length = chunk.length;
  const bool coversSource = length < available;
  const char covered = coversSource ? chunk.text[length] : '\0';
  if (chunk.addedNewline) chunk.text[length++] = '\n';
  chunk.text[length] = '\0';
  const ChunkWalk walk = WalkChunk(state_, chunk.text, length, output_);
  if (coversSource) chunk.text[chunk.length] = covered;

  std::size_t produced = walk.produced;
  if (chunk.addedNewline && walk.consumed == length && produced > 0 && output_[produced - 1] == '\n')
    --produced;
  writer_.Write(output_, produced);

  outcome_.result = walk.result;
  if (walk.result == ResultInvalidFormatFile) {
    FailOnFormat(walk.failure, chunk, walk.failedLineStart);
    return false;
  }
  if (walk.result == ResultEndMarker) {
    // The walk stops with the marker at `consumed`.
    outcome_.endMarkerOffset = position_ + walk.consumed;
    outcome_.endMarkerLine = linesBefore_ + CountNewlines(chunk.text, walk.consumed) + 1;
    return false;
  }
  // A NUL byte ends a run that still converts: the text behind it is not a
  // format file's. A run that only copies has ended with this chunk anyway.
  if (chunk.endsAtNulByte && state_.m_bConversionNeeded) {
    FailOnFormat(FormatFailure::NulByte, chunk, chunk.length);
    return false;
  }
  if (!chunk.full || !state_.m_bConversionNeeded) return false;

  const bool longPlainLine = walk.consumed == 1 && std::memchr(chunk.text, '\n', chunk.length) == nullptr;
  position_ += walk.consumed;
  linesBefore_ += CountNewlines(chunk.text, walk.consumed);
  if (longPlainLine) SkipLongPlainLine();
  return true;
}

// A line without a marker that is longer than a chunk moves on by one
// character per chunk: each such chunk is full, holds neither a newline nor a
// NUL, and gives up its first character alone. Those characters are copied
// here directly instead of being cut and walked one chunk each.
void ConversionRun::SkipLongPlainLine() {
  for (;;) {
    const std::size_t available = window_.Ensure(position_, kLongestEnsure);
    if (window_.error() || available < kReadSize) return;
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
    if (skipped == 0 || writer_.error()) return;
  }
}

ConversionOutcome ConversionRun::Run() {
  state_.m_bModelLineSeen = false;
  while (ConvertNextChunk() && !writer_.error()) {
  }
  outcome_.modelLineSeen = state_.m_bModelLineSeen;
  writer_.Flush();
  const std::optional<std::string>& error = window_.error() ? window_.error() : writer_.error();
  if (error) {
    outcome_.result = ResultFileError;
    outcome_.fileFailure = window_.error() ? FileFailure::ReadSource : FileFailure::WriteTarget;
    outcome_.formatFailure = FormatFailure::None;
    outcome_.failedLine = 0;
    outcome_.systemMessage = *error;
  }
  return outcome_;
}

class MemorySource : public ByteSource {
 public:
  MemorySource(std::string_view bytes, std::size_t maxRead) : bytes_(bytes), maxRead_(maxRead) {}
  IoResult Read(char* buffer, std::size_t capacity) override {
    std::size_t count = std::min(capacity, bytes_.size());
    if (maxRead_ != 0) count = std::min(count, maxRead_);
    std::memcpy(buffer, bytes_.data(), count);
    bytes_.remove_prefix(count);
    return {count, {}};
  }

 private:
  std::string_view bytes_;
  std::size_t maxRead_;
};

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& target) : target_(target) {}
  IoResult Write(const char* bytes, std::size_t count) override {
    target_.append(bytes, count);
    return {count, {}};
  }

 private:
  std::string& target_;
};

}  // namespace

ConversionOutcome ConvertFormatStream(ByteSource& source, ConversionState& state, ByteSink& sink) {
  // Over half a megabyte of buffers: too much for the stack of any thread.
  auto run = std::make_unique<ConversionRun>(source, state, sink);
  return run->Run();
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
