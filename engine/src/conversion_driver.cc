// The driver: one walk over the source's raw bytes, line by line.
//
// What the driver must do is defined by the chunk loop (the reference loop
// beside the fuzzers, fuzz/reference_conversion.h): the source read as
// characters, in which a CR LF pair, a LF and a lone CR each stand as one LF,
// cut into chunks of at most 2047 of them, each walked by the line dispatcher.
// Every header and format line converts from its own characters alone, and
// the run ends at the end marker, a NUL byte in front of it, another model's
// model line or a failure, so this walk gives the loop's text without cutting
// a chunk: it takes each line where it stands in the window of raw bytes,
// converts it with one converter call, and writes its line end as CR LF.
// ClassifyLine decides, in one place, how the text at the walk's position is
// taken; every case other than a whole line is named there.
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
#include "line_walk.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarnel {
namespace {

// Bytes asked of the source at once.
constexpr std::size_t kReadBlock = 256 * 1024;
// An other line is taken in pieces of at most this many bytes; any line a
// chunk can hold is one piece.
constexpr std::size_t kOtherPiece = 4096;
// The bytes a header or format line may need in front of the walk: its marker,
// the characters up to its terminator, and a CR LF pair.
constexpr std::size_t kMarkedLineReach = kMaxTerminatorDistance + 3;
// The window is topped up when fewer bytes than this stand in front of the walk.
constexpr std::size_t kRefillBelow = 32 * 1024;
constexpr std::size_t kWindowCapacity = kRefillBelow + kReadBlock;
// The smallest window: half of it holds any piece the walk takes at once.
constexpr std::size_t kSmallestWindow = 4 * (kOtherPiece + kMarkedLineReach);
static_assert(kSmallestWindow / 2 > kOtherPiece + kMarkedLineReach && kSmallestWindow <= kWindowCapacity);
// The most text one piece of the walk writes: a format line grows by at most
// five thirds, a kind-l line to 22 characters, and the CR LF behind.
constexpr std::size_t kPieceOutput = kOutputCapacity + 2;
// Text grows at most fivefold (a kind-l line of five bytes gives 24).
constexpr std::uint64_t TextBound(std::uint64_t sourceSize) { return 5 * sourceSize + 64; }

bool IsMarker(char c) { return c == '@' || c == '$'; }

// The first byte at or after `from` that ends a line or needs a closer look:
// LF, CR, NUL, the end marker, and with `markers` "$" and "@"; `end` if none.
char* FindLineStop(char* from, char* end, bool markers) {
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
    if (c == '\n' || c == '\r' || c == '\0' || IsEndMarker(c) || (markers && IsMarker(c))) return from;
  }
  return end;
}

// The source's bytes, read in large blocks. The walk moves through them with
// Advance; what lies behind the walk is dropped when the window is topped up.
// One byte behind the window's end is spare, for the newline a last line
// without a line end is converted with.
class RawWindow {
 public:
  RawWindow(ByteSource& source, std::size_t capacity)
      : source_(source), capacity_(capacity), refillBelow_(std::min(kRefillBelow, capacity / 2)),
        buffer_(new char[capacity + 1]) {}

  // Reads on until refillBelow() bytes stand in front of the walk or the
  // source has ended. Moves the bytes: pointers from Data() are stale afterwards.
  void Refill() {
    if (end_ - walk_ >= refillBelow_ || ended_) return;
    std::memmove(buffer_.get(), buffer_.get() + walk_, end_ - walk_);
    base_ += walk_;
    end_ -= walk_;
    walk_ = 0;
    while (end_ < refillBelow_ && !ended_) {
      IoResult read = source_.Read(buffer_.get() + end_, capacity_ - end_);
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
  const std::size_t capacity_;
  const std::size_t refillBelow_;
  std::unique_ptr<char[]> buffer_;
  std::uint64_t base_ = 0;  // source offset of buffer_[0]
  std::size_t walk_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
  std::optional<std::string> error_;
};

// Converted text, handed to the sink in blocks of `blockSize` bytes. Lines
// are written straight into the room behind the text. After the first failed
// write nothing more is written.
class BlockWriter {
 public:
  BlockWriter(ByteSink& sink, std::size_t blockSize)
      : sink_(sink), blockSize_(blockSize), buffer_(new char[blockSize + kPieceOutput]) {}

  // Room for one piece's text (kPieceOutput bytes); Commit says how much was used.
  char* Room() { return buffer_.get() + size_; }
  void Commit(std::size_t count) {
    size_ += count;
    while (size_ >= blockSize_ && !error_) {
      error_ = sink_.Write(buffer_.get(), blockSize_).error;
      size_ -= blockSize_;
      std::memmove(buffer_.get(), buffer_.get() + blockSize_, size_);
    }
  }
  // Takes back up to `count` of the last bytes committed, as far as they have
  // not reached the sink.
  void TakeBack(std::size_t count) { size_ -= std::min(count, size_); }

  void Flush() {
    if (!error_ && size_ > 0) error_ = sink_.Write(buffer_.get(), size_).error;
    size_ = 0;
  }
  // Drops what has not reached the sink.
  void Discard() { size_ = 0; }
  const std::optional<std::string>& error() const { return error_; }

 private:
  ByteSink& sink_;
  const std::size_t blockSize_;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  std::optional<std::string> error_;
};

bool IsUtf16Mark(const char* bytes) {
  const auto first = static_cast<unsigned char>(bytes[0]);
  const auto second = static_cast<unsigned char>(bytes[1]);
  return (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
}

// How the text at the walk's position is taken: up to `stop`, and then
// `lineEndBytes` bytes of line end (1 for LF or a lone CR, 2 for CR LF, 0 if
// the text does not end its line there).
struct LineStop {
  LineTaking taking;
  char* stop;
  std::size_t lineEndBytes = 0;
};

class ConversionRun {
 public:
  ConversionRun(ByteSource& source, ConversionState& state, ByteSink& sink)
      : source_(source), window_(source, WindowCapacity(source)), writer_(sink, BlockSize(source)),
        state_(state) {}

  ConversionOutcome Run();
  const LineTally& tally() const { return tally_; }

 private:
  enum class Step { GoOn, Stop };
  static std::size_t WindowCapacity(const ByteSource& source);
  static std::size_t BlockSize(const ByteSource& source);
  LineStop ClassifyLine(char* text, char* end) const;
  Step TakeLine();
  LineConversion ConvertMarkedLine(char* line, char* end, const LineStop& stop, char* out);
  void Count(LineTaking taking);
  void Fail(FormatFailure failure);

  ByteSource& source_;
  RawWindow window_;
  BlockWriter writer_;
  ConversionState& state_;
  ConversionOutcome outcome_;
  std::uint64_t linesBefore_ = 0;     // line ends in front of the walk
  std::size_t lineBytesWritten_ = 0;  // text written of the line the walk stands in
  LineTally tally_;
};

// Where the size is known, buffers no larger than the source needs: a small
// file is converted without mapping large blocks of memory.
std::size_t ConversionRun::WindowCapacity(const ByteSource& source) {
  const std::optional<std::uint64_t> size = source.KnownSize();
  if (!size) return kWindowCapacity;
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(*size + 1, kSmallestWindow, kWindowCapacity));
}

std::size_t ConversionRun::BlockSize(const ByteSource& source) {
  const std::optional<std::uint64_t> size = source.KnownSize();
  if (!size) return kWriteBlockSize;
  return static_cast<std::size_t>(std::min<std::uint64_t>(TextBound(*size), kWriteBlockSize));
}

// The one decision of the walk: how the text from `text` (a line's start, or
// a marker inside a line) to `end` (the window's end) is taken.
LineStop ConversionRun::ClassifyLine(char* text, char* end) const {
  const bool marked = IsMarker(*text);
  // A header or format line's terminator must stand within reach of its
  // marker; an other line is taken a piece at a time.
  char* const searchEnd = std::min(end, text + (marked ? kMaxTerminatorDistance + 1 : kOtherPiece));
  LineTaking whole = LineTaking::Whole;
  for (char* from = marked ? text + 1 : text;;) {
    char* const stop = FindLineStop(from, searchEnd, !marked);
    if (stop == searchEnd) {
      if (searchEnd == end && window_.ended()) return {LineTaking::UnterminatedLastLine, stop};
      // The window always holds more than a piece in front of an unfinished source.
      assert(searchEnd < end);
      return {marked ? LineTaking::LineTooLong : LineTaking::LongOtherLine, stop};
    }
    switch (*stop) {
      case '\n':
        return {whole, stop, 1};
      case '\r':
        // Behind a CR the window holds the next byte unless the source ends there.
        assert(stop + 1 < end || window_.ended());
        if (stop + 1 < end && stop[1] == '\n') return {whole, stop, 2};
        if (stop + 1 < end && stop[1] == '\r') {
          // A CR in front of another CR is a character of its line.
          whole = LineTaking::CarriageReturnInLine;
          from = stop + 1;
          continue;
        }
        return {whole, stop, 1};
      case '\0':
        return {LineTaking::NulByte, stop};
      case '$':
      case '@':
        return {LineTaking::MarkerInsideLine, stop};
      default:
        assert(IsEndMarker(*stop));
        return {LineTaking::EndMarker, stop};
    }
  }
}

// Ends the run on the line the walk stands in; nothing of that line is written.
void ConversionRun::Fail(FormatFailure failure) {
  outcome_.result = ResultInvalidFormatFile;
  outcome_.formatFailure = failure;
  outcome_.failedLine = linesBefore_ + 1;
  writer_.TakeBack(lineBytesWritten_);
}

// Converts the header or format line from its marker at `line` to its
// terminator at stop.stop with one converter call, writing its text to `out`.
LineConversion ConversionRun::ConvertMarkedLine(char* line, char* end, const LineStop& stop, char* out) {
  // The converters end a line at a newline or the end marker: a CR line end,
  // or the end of a last line without one, is handed to them as a newline.
  if (!IsEndMarker(*stop.stop)) *stop.stop = '\n';
  out[0] = line[0];
  const auto length = static_cast<std::size_t>(stop.stop - line - 1);
  // The format-line converter may read the window up to its end, 16
  // characters at a time; it uses nothing behind the terminator.
  const std::size_t readable = std::max(length + 1, static_cast<std::size_t>(end - line - 1));
  const LineConversion conversion = line[0] == '$' ? ConvertFormatLine(state_, line + 1, readable, out + 1)
                                                   : ConvertHeaderLine(state_, line + 1, out + 1);
  // The line is whole, so only a kind-t line without its tag fails.
  assert(conversion.result != ResultInvalidFormatFile || conversion.failure == FormatFailure::MissingFrtTag);
  assert(conversion.result == ResultInvalidFormatFile || conversion.taken == length);
  return conversion;
}

void ConversionRun::Count(LineTaking taking) { tally_.counts[static_cast<std::size_t>(taking)]++; }

// Takes the text at the walk's position as ClassifyLine says: its text and
// line end are written into the writer's room and committed at once.
ConversionRun::Step ConversionRun::TakeLine() {
  window_.Refill();
  if (window_.error() || writer_.error()) return Step::Stop;
  char* const text = window_.Data();
  char* const end = text + window_.Available();
  if (text == end) return Step::Stop;  // the source has ended behind a line end

  const LineStop stop = ClassifyLine(text, end);
  switch (stop.taking) {
    case LineTaking::NulByte:
      Count(stop.taking);
      Fail(FormatFailure::NulByte);
      return Step::Stop;
    case LineTaking::LineTooLong:
      Count(stop.taking);
      Fail(FormatFailure::LineTooLong);
      return Step::Stop;
    default:
      break;
  }
  char* const out = writer_.Room();
  std::size_t written = 0;
  if (IsMarker(*text)) {
    const LineConversion conversion = ConvertMarkedLine(text, end, stop, out);
    if (conversion.result == ResultInvalidFormatFile) {
      Count(LineTaking::FailedLine);
      Fail(conversion.failure);
      return Step::Stop;
    }
    // Another model's model line is not written: it might fill a block.
    if (conversion.result == ResultOk && !state_.m_bConversionNeeded) {
      Count(LineTaking::AnotherModel);
      return Step::Stop;
    }
    written = 1 + conversion.produced;
  } else {
    written = static_cast<std::size_t>(stop.stop - text);
    std::memcpy(out, text, written);
  }
  Count(stop.taking);
  if (stop.taking == LineTaking::EndMarker) {
    writer_.Commit(written);
    outcome_.result = ResultEndMarker;
    outcome_.endMarkerLine = linesBefore_ + 1;
    outcome_.endMarkerOffset = window_.SourceOffset(static_cast<std::size_t>(stop.stop - text));
    return Step::Stop;
  }
  if (stop.lineEndBytes > 0) {
    out[written] = '\r';
    out[written + 1] = '\n';
    writer_.Commit(written + 2);
    ++linesBefore_;
    lineBytesWritten_ = 0;
  } else {
    writer_.Commit(written);
    lineBytesWritten_ += written;
  }
  window_.Advance(static_cast<std::size_t>(stop.stop - text) + stop.lineEndBytes);
  return Step::GoOn;
}

ConversionOutcome ConversionRun::Run() {
  state_.m_bModelLineSeen = false;
  window_.Refill();
  if (!window_.error() && window_.Available() >= 2 && IsUtf16Mark(window_.Data())) {
    // Its FF would pass for the end marker; nothing of it is converted.
    outcome_.result = ResultInvalidFormatFile;
    outcome_.formatFailure = FormatFailure::Utf16Text;
    outcome_.failedLine = 1;
    return outcome_;
  }
  // A run that has nothing to convert reads no further.
  if (state_.m_bConversionNeeded) {
    while (TakeLine() == Step::GoOn) {
    }
  }
  // A run that takes lines ends as the chunk walk ends behind its last newline.
  if (outcome_.result == ResultOk && window_.SourceOffset(window_.Available()) > 0)
    outcome_.result = ResultIncompleteLine;
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
  return ConversionRun(source, state, sink).Run();
}

ConversionOutcome ConvertFormatBytesTallied(std::string_view source, ConversionState& state, std::string& target,
                                            LineTally& tally, std::size_t maxRead) {
  target.clear();
  MemorySource memorySource(source, maxRead);
  StringSink sink(target);
  ConversionRun run(memorySource, state, sink);
  const ConversionOutcome outcome = run.Run();
  tally = run.tally();
  return outcome;
}

ConversionOutcome ConvertFormatBytes(std::string_view source, ConversionState& state,
                                     std::string& target, std::size_t maxRead) {
  target.clear();
  MemorySource memorySource(source, maxRead);
  StringSink sink(target);
  return ConvertFormatStream(memorySource, state, sink);
}

}  // namespace quarnel
