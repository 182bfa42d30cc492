// File-to-file conversion. The converted text goes to a staged target that
// takes the target's place only after a completed conversion; every other
// outcome abandons it, so the target stays as it was.
#include "quarnel/conversion_file.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "file_access.h"
#include "format_text.h"
#include "quarnel/staged_target.h"

namespace quarnel {
namespace fs = std::filesystem;
namespace {

// Passes the source's bytes on to the driver and notes what the file layer
// needs to know of them afterwards: whether they begin as UTF-16 text, how
// many there were, and where each 0xFF stood, both as a raw offset and as an
// offset in the text the driver sees (CR LF counted as one character).
class SourceTap : public ByteSource {
 public:
  explicit SourceTap(ByteSource& source) : source_(source) {}

  IoResult Read(char* buffer, std::size_t capacity) override {
    if (utf16_) return {};
    IoResult read = source_.Read(buffer, capacity);
    if (first_) {
      first_ = false;
      // A pipe may hand over one byte at a time; the mark needs two.
      if (read.count == 1 && capacity > 1 && !read.error) {
        IoResult more = source_.Read(buffer + 1, capacity - 1);
        read.count += more.count;
        read.error = std::move(more.error);
      }
      if (read.count >= 2 && BeginsWithUtf16Mark(std::string_view(buffer, read.count))) {
        utf16_ = true;
        return {};
      }
    }
    Note(buffer, read.count);
    return read;
  }

  bool utf16() const { return utf16_; }
  std::uint64_t rawCount() const { return raw_; }

  // Raw offset of the 0xFF that the driver saw at `textOffset`; false if unknown.
  bool RawOffsetOf(std::uint64_t textOffset, std::uint64_t& rawOffset) const {
    for (const auto& [text, raw] : markers_) {
      if (text == textOffset) {
        rawOffset = raw;
        return true;
      }
    }
    return false;
  }

 private:

  void Note(const char* bytes, std::size_t count) {
    if (count == 0) return;
    if (std::memchr(bytes, kEndMarker, count) != nullptr) {
      for (std::size_t i = 0; i < count; ++i) Step(bytes[i]);
      return;
    }
    // The common case, without a marker: only CR LF pairs make the text
    // shorter than the bytes. A CR held back from the read before is settled
    // first (a CR may hold the next one back in turn).
    std::size_t start = 0;
    while (pendingCarriageReturn_ && start < count) Step(bytes[start++]);
    const std::size_t rest = count - start;
    if (rest == 0) return;
    const char* const at = bytes + start;
    raw_ += rest;
    text_ += rest - CountCrLfPairs(at, rest);
    if (at[rest - 1] == '\r') {
      --text_;  // counted once the next byte is known
      pendingCarriageReturn_ = true;
    }
  }

  // CR LF pairs that lie wholly among the `count` bytes at `bytes`: a plain
  // loop over blocks whose byte-wide counts cannot overflow, which the
  // compiler turns into vector compares.
  static std::size_t CountCrLfPairs(const char* bytes, std::size_t count) {
    constexpr std::size_t kBlock = 255;
    std::size_t pairs = 0;
    std::size_t i = 0;
    while (i + 1 < count) {
      const std::size_t blockEnd = std::min(count - 1, i + kBlock);
      unsigned char blockPairs = 0;
      for (; i < blockEnd; ++i) blockPairs += (bytes[i] == '\r') & (bytes[i + 1] == '\n');
      pairs += blockPairs;
    }
    return pairs;
  }

  void Step(char c) {
    if (pendingCarriageReturn_) {
      pendingCarriageReturn_ = false;
      ++text_;  // the CR alone, or the one LF that a CR LF pair becomes
      if (c == '\n') {
        ++raw_;
        return;
      }
    }
    if (c == '\r') {
      pendingCarriageReturn_ = true;
      ++raw_;
      return;
    }
    if (static_cast<unsigned char>(c) == kEndMarker && markers_.size() < kMaxMarkers)
      markers_.emplace_back(text_, raw_);
    ++text_;
    ++raw_;
  }

  static constexpr std::size_t kMaxMarkers = 4096;
  ByteSource& source_;
  bool first_ = true;
  bool utf16_ = false;
  bool pendingCarriageReturn_ = false;
  std::uint64_t raw_ = 0;
  std::uint64_t text_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> markers_;
};

ConversionOutcome FileFailureOutcome(ConversionResult result, FileFailure failure, std::string message) {
  ConversionOutcome outcome;
  outcome.result = result;
  outcome.fileFailure = failure;
  outcome.systemMessage = std::move(message);
  return outcome;
}

ConversionOutcome FormatFailureOutcome(FormatFailure failure, std::uint64_t line) {
  ConversionOutcome outcome;
  outcome.result = ResultInvalidFormatFile;
  outcome.formatFailure = failure;
  outcome.failedLine = line;
  return outcome;
}

class DiscardingSink : public ByteSink {
 public:
  IoResult Write(const char*, std::size_t count) override { return {count, {}}; }
};

// A stream cannot be left as it was, but a file for another model sends it
// nothing: the run stops after the chunk that named the model, and what that
// chunk gave is dropped here instead of reaching the stream.
class StreamSink : public ByteSink {
 public:
  StreamSink(ByteSink& stream, const ConversionState& state) : stream_(stream), state_(state) {}
  IoResult Write(const char* bytes, std::size_t count) override {
    if (!state_.m_bConversionNeeded) return {count, {}};
    return stream_.Write(bytes, count);
  }

 private:
  ByteSink& stream_;
  const ConversionState& state_;
};

// Runs the conversion of an open source into `sink`, then closes the source.
// `inPlace`: the sink replaces the source itself.
ConversionOutcome ConvertSource(SourceFile& sourceFile, ConversionState& state, ByteSink& sink, bool inPlace) {
  SourceTap tap(sourceFile);
  ConversionOutcome outcome = ConvertFormatStream(tap, state, sink);
  if (tap.utf16()) outcome = FormatFailureOutcome(FormatFailure::Utf16Text, 1);

  if (outcome.result == ResultEndMarker) {
    std::uint64_t markerAt = outcome.endMarkerOffset;
    tap.RawOffsetOf(outcome.endMarkerOffset, markerAt);
    // A stream is not read on behind the marker: it may never end.
    if (sourceFile.isRegular) {
      outcome.bytesBehindEndMarker = sourceFile.size > markerAt ? sourceFile.size - markerAt - 1 : 0;
    } else {
      outcome.bytesBehindUnknown = true;
    }
    // A stray 0xFF would otherwise cut the user's only copy short.
    if (inPlace && outcome.bytesBehindEndMarker > 0) {
      const std::uint64_t line = outcome.endMarkerLine;
      outcome = FormatFailureOutcome(FormatFailure::InPlaceDropsTail, line);
    }
  }
  sourceFile.Close();
  return outcome;
}

}  // namespace

ConversionOutcome StageFormatFile(const fs::path& target, ConversionState& state, const fs::path& source,
                                  StagedTarget& staged) {
  SourceFile sourceFile;
  FileFailure openFailure = FileFailure::None;
  std::string message;
  if (!sourceFile.Open(source, openFailure, message))
    return FileFailureOutcome(ResultInvalidInput, openFailure, std::move(message));

  if (!staged.Open(target, sourceFile.mode)) {
    const FileFailure failure = staged.failure();
    return FileFailureOutcome(ResultInvalidInput, failure, staged.failureMessage());
  }
  const bool inPlace = sourceFile.isRegular && staged.ReplacesFile(sourceFile.identity);
  StreamSink streamSink(staged.Sink(), state);
  ConversionOutcome outcome =
      ConvertSource(sourceFile, state, staged.IsStream() ? streamSink : staged.Sink(), inPlace);

  if (staged.IsStream()) {
    // A device or pipe cannot be replaced; what was written stays written.
    if (!staged.Finish() && outcome.result != ResultFileError)
      outcome = FileFailureOutcome(ResultFileError, FileFailure::WriteTarget, staged.failureMessage());
    return outcome;
  }
  if (!IsSuccess(outcome.result) || !state.m_bConversionNeeded) staged.Abandon();
  return outcome;
}

ConversionOutcome CheckFormatFile(ConversionState& state, const fs::path& source) {
  SourceFile sourceFile;
  FileFailure openFailure = FileFailure::None;
  std::string message;
  if (!sourceFile.Open(source, openFailure, message))
    return FileFailureOutcome(ResultInvalidInput, openFailure, std::move(message));
  DiscardingSink sink;
  return ConvertSource(sourceFile, state, sink, false);
}

ConversionOutcome ConvertFormatFile(const fs::path& target, ConversionState& state, const fs::path& source) {
  StagedTarget staged;
  const ConversionOutcome outcome = StageFormatFile(target, state, source, staged);
  if (staged.IsStream() || !IsSuccess(outcome.result) || !state.m_bConversionNeeded) return outcome;
  if (!staged.Finish() || !staged.Commit()) {
    const FileFailure failure = staged.failure();
    return FileFailureOutcome(ResultFileError, failure, staged.failureMessage());
  }
  return outcome;
}

}  // namespace quarnel
