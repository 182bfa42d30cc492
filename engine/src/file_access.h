// The file operations whose calls differ between platforms: reading the
// source here, writing the target in staged_target.h. Windows implements both
// in file_access_win32.cc; Linux in source_file_linux.cc and
// staged_target_linux.cc, with the temporary-file registry and its signal
// handlers in temp_file_registry_linux.cc and the calls only Linux has in
// file_calls_linux.cc.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "quarnel/conversion_driver.h"
#include "quarnel/folder_tree.h"
#include "quarnel/staged_target.h"

namespace quarnel {

// What a target path named when it was opened: nothing yet, a file to be
// replaced, or a device or pipe written as it stands.
enum class TargetKind : std::uint8_t { New, Existing, Stream };

// The source file, read as its bytes stand.
class SourceFile : public ByteSource {
 public:
  SourceFile() = default;
  ~SourceFile() override;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // @return false with `failure` OpenSource or SourceIsFolder and the
  //         system's message in `message`.
  bool Open(const std::filesystem::path& path, FileFailure& failure, std::string& message);
  // A file by name in an open folder, as a walk found it: only a regular
  // file, and (where the file system keeps identities) only the one the walk
  // saw; a link the walk approved is followed name by name by the rule for
  // links. Never waits on a FIFO. @return false with `failure` OpenSource,
  // SourceChanged or UnsafeLink. Without a folder: Open(location.path).
  bool Open(const FileLocation& location, FileFailure& failure, std::string& message);
  IoResult Read(char* buffer, std::size_t capacity) override;
  std::optional<std::uint64_t> KnownSize() const override {
    return isRegular ? std::optional<std::uint64_t>(size) : std::nullopt;
  }
  // Windows refuses to replace a file that is open.
  void Close();

  bool isRegular = false;
  // The permission bits of a regular file (POSIX); 0777 for anything else.
  std::uint32_t mode = 0777;
  std::uint64_t size = 0;  // for a regular file
  std::uint64_t consumed = 0;  // bytes read so far
  FileIdentity identity;

 private:
  // Keeps `descriptor` as the open source and fills in what its status says;
  // `type` is its file type bits (S_IFMT). @return false with `failure`
  // OpenSource, the descriptor closed.
  bool Take(int descriptor, std::uint32_t& type, FileFailure& failure, std::string& message);

  std::intptr_t handle_ = -1;
};

}  // namespace quarnel
