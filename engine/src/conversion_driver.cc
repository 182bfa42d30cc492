// The chunk loop over the source's raw bytes.
//
// The format is defined on chunks: a run reads the source as characters, in
// which a CR LF pair, a LF and a lone CR each stand as one LF, cuts chunks of
// at most 2047 of them, walks each (line_dispatcher.h), and starts the next
// chunk at the first character the walk left. This driver gives exactly that
// text without making the character stream: it walks the raw bytes line by
// line, and a line whose conversion cannot depend on where chunks begin (a
// plain line, a format line, most header lines, each whole and well inside a
// chunk) is converted where it stands, its line end written as CR LF. It
// keeps, as a position, where the chunk that would hold the line begins. Any
// other line (the end marker, a NUL byte, a model line, a kind-t line, a
// line too long for a chunk, the source's unterminated last line) is handed
// to the chunk walk itself: that chunk is cut from the same position, as the
// loop would cut it, into a small buffer.
#include "quarnel/conversion_driver.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "format_text.h"
#include "line_converters.h"
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
constexpr std::size_t kReadBlock = 256 * 1024;
// The most bytes a chunk's characters take: each may be a CR LF pair, and a
// last CR needs the byte behind it.
constexpr std::size_t kChunkRawReach = 2 * kReadSize + 1;
// The window is topped up when fewer bytes than this stand in front of the
// walk: enough for any chunk and for a long line's stretch.
constexpr std::size_t kRefillBelow = 32 * 1024;
static_assert(kChunkRawReach < kRefillBelow);
constexpr std::size_t kWindowCapacity = kRefillBelow + kReadBlock;
// Room behind the converted text for one more line or chunk, written as CR LF.
constexpr std::size_t kWriteRoom = kWriteBlockSize + 2 * kOutputCapacity + 64;

bool IsMarkerOrEnd(char c) { return c == '@' || c == '$' || IsEndMarker(c); }

// The first byte at or after `from` that ends a line or needs a closer look:
// LF, CR, NUL, the end marker, and with `markers` "$" and "@"; `end` if none.
const char* FindLineStop(const char* from, const char* end, bool markers) {
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i carriageReturn = _mm_set1_epi8('\r');
  const __m128i zero = _mm_setzero_si128();
  const __m128i endMarker = _mm_set1_epi8(static_cast<char>(kEndMarker));
  const __m128i dollar = _mm_set1_epi8(markers ? '$' : '\n');
  const __m128i at = _mm_set1_epi8(markers ? '@' : '\n');
  while (end - from >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, newline), _mm_cmpeq_epi8(block, carriageReturn)),
                     _mm_or_si128(_mm_cmpeq_epi8(block, zero), _mm_cmpeq_epi8(block, endMarker))),
        _mm_or_si128(_mm_cmpeq_epi8(block, dollar), _mm_cmpeq_epi8(block, at)));
    const unsigned found = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (found != 0) return from + std::countr_zero(found);
    from += 16;
  }
#endif
  for (; from < end; ++from) {
    const char c = *from;
    if (c == '\n' || c == '\r' || c == '\0' || IsEndMarker(c) || (markers && (c == '$' || c == '@'))) return from;
  }
  return end;
}

std::size_t CountNewlines(const char* text, std::size_t length) {
  return static_cast<std::size_t>(std::count(text, text + length, '\n'));
}

// The source's bytes, read in large blocks. The walk moves through them with
// Advance; what lies behind the walk is dropped when the window is topped up.
class RawWindow {
 public:
  explicit RawWindow(ByteSource& source) : source_(source), buffer_(new char[kWindowCapacity]) {}

  // Reads on until `count` bytes stand in front of the walk or the source has
  // ended. Moves the bytes: pointers from Data() are stale afterwards.
  void Ensure(std::size_t count) {
    if (end_ - walk_ >= count || ended_) return;
    std::memmove(buffer_.get(), buffer_.get() + walk_, end_ - walk_);
    base_ += walk_;
    end_ -= walk_;
    walk_ = 0;
    while (end_ < count && !ended_) {
      IoResult read = source_.Read(buffer_.get() + end_, kWindowCapacity - end_);
      if (read.error) error_ = std::move(read.error);
      if (read.count == 0 || error_) ended_ = true;
      end_ += read.count;
    }
  }

  char* Data() { return buffer_.get() + walk_; }
  std::size_t Available() const { return end_ - walk_; }
  void Advance(std::size_t count) { walk_ += count; }
  // Offset in the source of the byte `ahead` bytes in front of the walk.
  std::uint64_t SourceOffset(std::size_t ahead) const { return base_ + walk_ + ahead; }
  bool ended() const { return ended_; }
  const std::optional<std::string>& error() const { return error_; }

 private:
  ByteSource& source_;
  std::unique_ptr<char[]> buffer_;
  std::uint64_t base_ = 0;  // source offset of buffer_[0]
  std::size_t walk_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
  std::optional<std::string> error_;
};

// Converted text, handed to the sink in blocks of kWriteBlockSize bytes.
// Lines are written straight into the room behind the text. After the first
// failed write nothing more is written.
class BlockWriter {
 public:
  explicit BlockWriter(ByteSink& sink) : sink_(sink), buffer_(new char[kWriteRoom]) {}

  // Room for one line's or chunk's text as CR LF text; Commit says how much was used.
  char* Room() { return buffer_.get() + size_; }
  void Commit(std::size_t count) {
    size_ += count;
    while (size_ >= kWriteBlockSize && !error_) {
      error_ = sink_.Write(buffer_.get(), kWriteBlockSize).error;
      size_ -= kWriteBlockSize;
      std::memmove(buffer_.get(), buffer_.get() + kWriteBlockSize, size_);
    }
  }

  // Writes `text` with every LF as CR LF; at most kOutputCapacity characters.
  void WriteAsCrLf(const char* text, std::size_t length) {
    char* to = Room();
    const char* const end = text + length;
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
    Commit(static_cast<std::size_t>(to - Room()));
  }

  void Flush() {
    if (!error_ && size_ > 0) error_ = sink_.Write(buffer_.get(), size_).error;
    size_ = 0;
  }
  // Drops what has not reached the sink.
  void Discard() { size_ = 0; }
  const std::optional<std::string>& error() const { return error_; }

 private:
  ByteSink& sink_;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  std::optional<std::string> error_;
};

// One chunk cut for the walk, as characters.
struct Chunk {
  std::size_t length = 0;
  // The read filled the chunk: the source goes on behind it.
  bool full = false;
  // A NUL byte of the source ends the chunk.
  bool endsAtNulByte = false;
  // The source's last line had no newline; the chunk got one, which is not written.
  bool addedNewline = false;
};

bool IsUtf16Mark(const char* bytes) {
  const auto first = static_cast<unsigned char>(bytes[0]);
  const auto second = static_cast<unsigned char>(bytes[1]);
  return (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
}

class ConversionRun {
 public:
  ConversionRun(ByteSource& source, ConversionState& state, ByteSink& sink)
      : source_(source), window_(source), writer_(sink), state_(state) {}

  ConversionOutcome Run();

 private:
  enum class Step { GoOn, Stop };
  Step ConvertLines();
  Step ConvertChunk();
  Chunk CutChunk();
  void FailOnFormat(FormatFailure failure, const Chunk& chunk, std::size_t lineStart);
  void SkipLongPlainLine();
  void Advance(std::size_t rawBytes, std::uint64_t characters, std::uint64_t newlines);

  ByteSource& source_;
  RawWindow window_;
  BlockWriter writer_;
  ConversionState& state_;
  ConversionOutcome outcome_;
  std::uint64_t position_ = 0;     // characters in front of the walk
  std::uint64_t chunkStart_ = 0;   // where the chunk that holds the walk's position begins
  std::uint64_t linesBefore_ = 0;  // newlines in front of the walk
  // The chunk handed to the walk, its NUL (or added newline and NUL) behind it,
  // and for each of its characters the raw bytes up to its end.
  char chunk_[kChunkCapacity + 1];
  std::uint16_t rawEnds_[kReadSize];
  char output_[kOutputCapacity];
};

void ConversionRun::Advance(std::size_t rawBytes, std::uint64_t characters, std::uint64_t newlines) {
  window_.Advance(rawBytes);
  position_ += characters;
  linesBefore_ += newlines;
}

// Converts whole lines where they stand, as long as each is one the chunk
// walk would convert the same way wherever its chunk began; returns when the
// next line is not, to let ConvertChunk take it.
ConversionRun::Step ConversionRun::ConvertLines() {
  for (;;) {
    window_.Ensure(kRefillBelow);
    if (window_.error() || writer_.error()) return Step::Stop;
    char* const line = window_.Data();
    char* const end = line + window_.Available();
    if (line == end) return Step::Stop;  // the source ended behind a line end

    const char first = *line;
    const bool marked = first == '$' || first == '@';
    char* const stop = line + (FindLineStop(marked ? line + 1 : line, end, !marked) - line);
    if (stop == end) return Step::GoOn;  // the last line, unterminated, or a long one
    std::size_t lineEndBytes = 1;
    if (*stop == '\r') {
      if (stop + 1 < end && stop[1] == '\r') return Step::GoOn;  // a CR that stays a character
      if (stop + 1 < end && stop[1] == '\n') lineEndBytes = 2;
      // A CR at the end of the window ends the line only when the source ends there too.
      if (stop + 1 == end && !window_.ended()) return Step::GoOn;
    } else if (*stop != '\n') {
      return Step::GoOn;  // NUL, end marker, or a marker inside a line
    }

    // The line's newline character lies at position_ + length; the chunk in
    // which the walk stands holds it when it lies in front of the chunk's
    // 2048th character. Otherwise the walk stops in front of the line and
    // the next chunk begins with it.
    const auto length = static_cast<std::size_t>(stop - line);
    if (position_ + length >= chunkStart_ + kMaxChunkLength) chunkStart_ = position_;
    if (position_ + length >= chunkStart_ + kMaxChunkLength) return Step::GoOn;

    char* out = writer_.Room();
    std::size_t produced = 0;
    if (first == '$') {
      // Only a line of the usual shape: the plain scan may read on behind the
      // line's terminator, where the raw bytes are not the chunk's characters.
      const char lineEnd = *stop;
      *stop = '\n';  // the converter's terminator, over a CR of the line end
      out[0] = '$';
      LineConversion conversion;
      if (!ConvertUsualFormatLine(state_, line + 1, static_cast<std::size_t>(end - line - 1), out + 1,
                                  conversion)) {
        *stop = lineEnd;
        return Step::GoOn;
      }
      assert(conversion.result == ResultOk && conversion.taken == length - 1);
      produced = 1 + conversion.produced;
    } else if (first == '@') {
      if (!HeaderLineStandsAlone(line + 1, length - 1)) return Step::GoOn;
      *stop = '\n';
      out[0] = '@';
      const LineConversion conversion = ConvertHeaderLine(state_, line + 1, out + 1);
      assert(conversion.result == ResultOk && conversion.taken == length - 1);
      produced = 1 + conversion.produced;
    } else {
      std::memcpy(out, line, length);
      produced = length;
    }
    out[produced] = '\r';
    out[produced + 1] = '\n';
    writer_.Commit(produced + 2);
    Advance(length + lineEndBytes, length + 1, 1);
  }
}

// Cuts the chunk that the loop would cut at chunkStart_, from the walk's
// position on, into chunk_.
Chunk ConversionRun::CutChunk() {
  window_.Ensure(kChunkRawReach);
  const char* raw = window_.Data();
  const std::size_t available = window_.Available();
  // Characters from the walk's position to the 2048th of the chunk, as many as there are.
  const auto wanted = static_cast<std::size_t>(chunkStart_ + kReadSize - position_);
  std::size_t count = 0;
  std::size_t at = 0;
  while (count < wanted && at < available) {
    char c = raw[at++];
    if (c == '\r') {
      if (at < available && raw[at] == '\n') {
        ++at;
        c = '\n';
      } else if (at == available || raw[at] != '\r') {
        c = '\n';
      }
    }
    chunk_[count] = c;
    rawEnds_[count++] = static_cast<std::uint16_t>(at);
  }

  Chunk chunk;
  chunk.full = count == wanted;
  chunk.length = chunk.full ? count - 1 : count;
  if (const void* nul = std::memchr(chunk_, '\0', chunk.length)) {
    chunk.length = static_cast<std::size_t>(static_cast<const char*>(nul) - chunk_);
    chunk.endsAtNulByte = true;
  }
  chunk.addedNewline =
      !chunk.full && !chunk.endsAtNulByte && chunk.length > 0 && chunk_[chunk.length - 1] != '\n';
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
  outcome_.failedLine = linesBefore_ + CountNewlines(chunk_, lineStart) + 1;
}

// Walks the chunk from the walk's position to the end of the chunk that
// holds it, as the loop walks it, and returns whether the run goes on.
ConversionRun::Step ConversionRun::ConvertChunk() {
  // A line that begins behind the chunk's last character begins the next chunk.
  if (position_ >= chunkStart_ + kMaxChunkLength) chunkStart_ = position_;
  Chunk chunk = CutChunk();
  if (window_.error() || writer_.error()) return Step::Stop;
  if (chunk.length == 0 && !chunk.endsAtNulByte) return Step::Stop;  // the source has ended

  // Inside a chunk, the walk ends behind the chunk's last newline: a line
  // that the chunk does not hold whole is left to the next chunk, which
  // begins with it, unless a NUL cuts it off, which ends the run.
  if (position_ > chunkStart_ && !chunk.addedNewline && !std::memchr(chunk_, '\n', chunk.length)) {
    if (chunk.endsAtNulByte) {
      if (state_.m_bConversionNeeded) FailOnFormat(FormatFailure::NulByte, chunk, chunk.length);
      return Step::Stop;
    }
    chunkStart_ = position_;
    chunk = CutChunk();
  }

  std::size_t length = chunk.length;
  if (chunk.addedNewline) {
    rawEnds_[length] = length == 0 ? 0 : rawEnds_[length - 1];
    chunk_[length++] = '\n';
  }
  chunk_[length] = '\0';
  const ChunkWalk walk = WalkChunk(state_, chunk_, length, output_);

  std::size_t produced = walk.produced;
  if (chunk.addedNewline && walk.consumed == length && produced > 0 && output_[produced - 1] == '\n') --produced;
  // A chunk that named another model ends the run and sends nothing.
  if (state_.m_bConversionNeeded) writer_.WriteAsCrLf(output_, produced);

  const std::size_t consumedRaw = walk.consumed == 0 ? 0 : rawEnds_[walk.consumed - 1];
  outcome_.result = walk.result;
  if (walk.result == ResultInvalidFormatFile) {
    FailOnFormat(walk.failure, chunk, walk.failedLineStart);
    return Step::Stop;
  }
  if (walk.result == ResultEndMarker) {
    // The walk stops with the marker at `consumed`.
    outcome_.endMarkerLine = linesBefore_ + CountNewlines(chunk_, walk.consumed) + 1;
    outcome_.endMarkerOffset = window_.SourceOffset(consumedRaw);
    return Step::Stop;
  }
  // A NUL byte ends a run that still converts: the text behind it is not a
  // format file's. A run that only copies has ended with this chunk anyway.
  if (chunk.endsAtNulByte && state_.m_bConversionNeeded) {
    FailOnFormat(FormatFailure::NulByte, chunk, chunk.length);
    return Step::Stop;
  }
  if (!chunk.full || !state_.m_bConversionNeeded) return Step::Stop;

  const bool longPlainLine = walk.consumed == 1 && std::memchr(chunk_, '\n', chunk.length) == nullptr;
  Advance(consumedRaw, walk.consumed, CountNewlines(chunk_, walk.consumed));
  chunkStart_ = position_;
  if (longPlainLine) SkipLongPlainLine();
  return Step::GoOn;
}

// A line without a marker that is longer than a chunk moves on by one
// character per chunk: each such chunk is full, holds neither a newline nor a
// NUL, and gives up its first character alone. Those characters are copied
// here directly instead of being cut and walked one chunk each. Where no CR,
// LF or NUL stands, bytes and characters are one.
void ConversionRun::SkipLongPlainLine() {
  for (;;) {
    window_.Ensure(kRefillBelow);
    if (window_.error()) return;
    const char* text = window_.Data();
    const std::size_t available = window_.Available();
    std::size_t plainSpan = available;
    for (const char stop : {'\n', '\r', '\0'}) {
      if (const void* found = std::memchr(text, stop, plainSpan))
        plainSpan = static_cast<std::size_t>(static_cast<const char*>(found) - text);
    }
    std::size_t skipped = 0;
    while (skipped + kReadSize <= plainSpan && !IsMarkerOrEnd(text[skipped])) ++skipped;
    if (skipped == 0) return;
    // Copied in pieces that leave the writer room.
    for (std::size_t copied = 0; copied < skipped;) {
      const std::size_t piece = std::min(skipped - copied, kOutputCapacity);
      std::memcpy(writer_.Room(), text + copied, piece);
      writer_.Commit(piece);
      copied += piece;
    }
    Advance(skipped, skipped, 0);
    chunkStart_ = position_;
    if (writer_.error()) return;
  }
}

ConversionOutcome ConversionRun::Run() {
  state_.m_bModelLineSeen = false;
  window_.Ensure(2);
  if (!window_.error() && window_.Available() >= 2 && IsUtf16Mark(window_.Data())) {
    // Its FF would pass for the end marker; nothing of it is converted.
    outcome_.result = ResultInvalidFormatFile;
    outcome_.formatFailure = FormatFailure::Utf16Text;
    outcome_.failedLine = 1;
    return outcome_;
  }
  while (!window_.error() && !writer_.error()) {
    if (state_.m_bConversionNeeded && ConvertLines() == Step::Stop) break;
    if (window_.error() || writer_.error() || ConvertChunk() == Step::Stop) break;
  }
  // Whole lines converted where they stand end as the chunk walk ends behind
  // its last newline.
  if (outcome_.result == ResultOk && position_ > 0) outcome_.result = ResultIncompleteLine;
  outcome_.modelLineSeen = state_.m_bModelLineSeen;

  if (outcome_.result == ResultEndMarker) {
    if (const std::optional<std::uint64_t> size = source_.KnownSize()) {
      outcome_.bytesBehindEndMarker = *size > outcome_.endMarkerOffset ? *size - outcome_.endMarkerOffset - 1 : 0;
    } else {
      outcome_.bytesBehindUnknown = true;
    }
  }
  // A file for another model writes nothing that has not gone out already.
  if (state_.m_bConversionNeeded) {
    writer_.Flush();
  } else {
    writer_.Discard();
  }
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
  MemorySource(std::string_view bytes, std::size_t maxRead)
      : bytes_(bytes), size_(bytes.size()), maxRead_(maxRead) {}
  IoResult Read(char* buffer, std::size_t capacity) override {
    std::size_t count = std::min(capacity, bytes_.size());
    if (maxRead_ != 0) count = std::min(count, maxRead_);
    std::memcpy(buffer, bytes_.data(), count);
    bytes_.remove_prefix(count);
    return {count, {}};
  }
  std::optional<std::uint64_t> KnownSize() const override { return size_; }

 private:
  std::string_view bytes_;
  std::size_t size_;
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
  // The chunk buffers alone are several pages: no thread's stack is asked for them.
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

}  // namespace quarnel
