// File-to-file conversion. The converted text goes to a new file in the
// target's folder, which takes the target's place only when the run is over:
// the source is read whole before the target changes, even when both name the
// same file, and a run that fails on a file leaves the target as it was.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "file_access.h"
#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_report.h"

namespace quarnel {
namespace fs = std::filesystem;
namespace {

std::string SystemMessage(int error) { return std::generic_category().message(error); }

class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  ~FileSource() override { Close(); }
  // Windows refuses to replace a file that is open, so the source is closed
  // before the converted text takes the target's place.
  void Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }
  std::size_t Read(char* buffer, std::size_t capacity) override {
    const std::size_t count = std::fread(buffer, 1, capacity, file_);
    if (count == 0 && std::ferror(file_)) {
      failed = true;
      failure = SystemMessage(errno);
    }
    return count;
  }

 private:
  std::FILE* file_;
};

class FileSink : public ByteSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  ~FileSink() override {
    if (file_) std::fclose(file_);
  }
  bool Write(const char* bytes, std::size_t count) override {
    if (std::fwrite(bytes, 1, count, file_) == count) return true;
    failure = SystemMessage(errno);
    return false;
  }
  // Flushes and closes; a full disk often shows only here.
  bool Close() {
    std::FILE* file = file_;
    file_ = nullptr;
    const bool flushed = std::fflush(file) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(file) == 0;
    if (flushed && closed) return true;
    failure = SystemMessage(flushed ? errno : flushError);
    return false;
  }

 private:
  std::FILE* file_;
};

// Creates a new, uniquely named file beside `target`.
std::FILE* CreateFileBeside(const fs::path& target, fs::path& created) {
  static std::atomic<unsigned> counter{0};
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const fs::path::string_type name = target.filename().native();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned number = counter.fetch_add(1) + static_cast<unsigned>(attempt) * 7919u;
    fs::path candidate = folder / name;
    candidate += ".quarnel-" + std::to_string(number) + ".tmp";
    if (std::FILE* file = CreateNewFile(candidate)) {
      created = candidate;
      return file;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

ConversionOutcome FileFailureOutcome(ConversionResult result, FileFailure failure, std::string message) {
  ConversionOutcome outcome;
  outcome.result = result;
  outcome.fileFailure = failure;
  outcome.systemMessage = std::move(message);
  return outcome;
}

}  // namespace

ConversionOutcome ConvertFormatFile(const fs::path& target, ConversionState& state, const fs::path& source) {
  std::FILE* sourceFile = OpenForReading(source);
  if (sourceFile == nullptr)
    return FileFailureOutcome(ResultInvalidInput, FileFailure::OpenSource, SystemMessage(errno));
  FileSource sourceStream(sourceFile);

  // A link is followed, so the file it names is replaced and the link stays.
  std::error_code ignored;
  fs::path finalTarget = target;
  if (fs::is_symlink(target, ignored)) {
    const fs::path resolved = fs::weakly_canonical(target, ignored);
    if (!ignored) finalTarget = resolved;
  }

  const fs::file_status status = fs::status(finalTarget, ignored);
  if (fs::is_directory(status))
    return FileFailureOutcome(ResultInvalidInput, FileFailure::OpenTarget, SystemMessage(EISDIR));

  // A device or pipe cannot be replaced by a file; it is written directly.
  const bool replaceable = !fs::exists(status) || fs::is_regular_file(status);
  fs::path temporary;
  std::FILE* targetFile =
      replaceable ? CreateFileBeside(finalTarget, temporary) : OpenForWriting(finalTarget);
  if (targetFile == nullptr)
    return FileFailureOutcome(ResultInvalidInput, FileFailure::OpenTarget, SystemMessage(errno));

  FileSink sink(targetFile);
  ConversionOutcome outcome = ConvertFormatStream(sourceStream, state, sink);
  sourceStream.Close();
  if (!sink.Close() && outcome.result != ResultFileError) {
    outcome = FileFailureOutcome(ResultFileError, FileFailure::WriteTarget, sink.failure);
  }
  if (!replaceable) return outcome;

  if (outcome.result == ResultFileError) {
    fs::remove(temporary, ignored);
    return outcome;
  }
  if (fs::exists(status)) fs::permissions(temporary, status.permissions(), ignored);
  std::error_code renameError;
  fs::rename(temporary, finalTarget, renameError);
  if (renameError) {
    fs::remove(temporary, ignored);
    return FileFailureOutcome(ResultFileError, FileFailure::ReplaceTarget, renameError.message());
  }
  return outcome;
}

bool ConvertFormatFile(const fs::path& target, ConversionState& state, const fs::path& source,
                       const ReportPresenter& presentReport) {
  const ConversionOutcome outcome = ConvertFormatFile(target, state, source);
  presentReport(ComposeReport(outcome.result, state));
  return true;
}

}  // namespace quarnel
