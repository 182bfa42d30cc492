// POSIX hands over arguments as bytes, and a path is those bytes: no encoding
// is assumed, so any name the file system holds can be given.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <streambuf>

#include "command_line.h"
#include "command_output.h"
#include "quarnel/file_access_setup.h"

namespace quarnel::cli {
namespace {

// Standard output and error through write(2): a write that a signal cuts
// short (EINTR) is tried again, where stdio would give up and lose the output.
// A full buffer is written up to its last line end; the rest waits.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) { setp(buffer_, buffer_ + sizeof buffer_); }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain(true)) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain(false) ? 0 : -1; }

 private:
  bool Drain(bool wholeLines) {
    const char* at = pbase();
    const char* end = pptr();
    if (wholeLines) {
      while (end > at && end[-1] != '\n') --end;
      // A line longer than the buffer goes out in pieces.
      if (end == at) end = pptr();
    }
    bool written = true;
    while (at < end) {
      const ssize_t count = write(descriptor_, at, static_cast<std::size_t>(end - at));
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        if (descriptor_ == STDOUT_FILENO) RecordOutputError(count < 0 ? errno : EIO);
        written = false;
        break;
      }
      at += count;
    }
    // What stands behind the last line end moves to the front.
    const std::size_t kept = written ? static_cast<std::size_t>(pptr() - end) : 0;
    std::memmove(buffer_, end, kept);
    setp(buffer_, buffer_ + sizeof buffer_);
    pbump(static_cast<int>(kept));
    return written;
  }

  int descriptor_;
  char buffer_[kOutputPieceSize];
};

}  // namespace

std::string_view ProgramName() { return "quarnel"; }


}  // namespace quarnel::cli

int main(int argc, char** argv) {
  quarnel::PrepareFileAccess();
  std::vector<quarnel::cli::Argument> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], std::filesystem::path(argv[i])});
  quarnel::cli::DescriptorBuffer outBuffer(STDOUT_FILENO);
  quarnel::cli::DescriptorBuffer errBuffer(STDERR_FILENO);
  std::ostream out(&outBuffer);
  std::ostream err(&errBuffer);
  err.setf(std::ios::unitbuf);
  // Each line shows as soon as it is printed on a terminal, as stdio's would.
  if (isatty(STDOUT_FILENO) == 1) out.setf(std::ios::unitbuf);
  const int status = quarnel::cli::RunQuarnel(arguments, out, err);
  out.flush();
  return status;
}
