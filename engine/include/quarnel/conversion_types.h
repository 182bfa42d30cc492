// The words the engine's layers share: why a run failed and how long a
// chunk may be. The driver, the converters, the walk and the file layer all
// include this header; it includes nothing of theirs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarnel {

// Why a run ended on the source's content with ResultInvalidFormatFile.
enum class FormatFailure : std::uint8_t {
  None,
  MissingFrtTag,    // a kind-t header line without "FRT" at positions 4 to 6
  LineTooLong,      // a header or format line longer than a chunk holds
  NoTerminator,     // a header or format line without a terminator before the end
  NulByte,          // a NUL byte in the source; nothing behind it is read
  Utf16Text,        // the source begins with a UTF-16 byte-order mark
  InPlaceDropsTail, // converting a file onto itself would drop what stands behind its end marker
};

// Which file operation failed, for ResultInvalidInput and ResultFileError.
enum class FileFailure : std::uint8_t {
  None,
  OpenSource,     // ResultInvalidInput
  OpenTarget,     // ResultInvalidInput: the target's folder refused a new file
  ReadSource,     // ResultFileError
  WriteTarget,    // ResultFileError
  ReplaceTarget,  // ResultFileError: the finished text could not take the target's place
  SourceIsFolder, // ResultInvalidInput
  TargetIsFolder, // ResultInvalidInput
  TargetReadOnly, // ResultInvalidInput: the caller may not write the existing target
  UnsafeLink,     // ResultInvalidInput: another user's link in a shared sticky folder
  DanglingLink,   // ResultInvalidInput: the target is a link to nothing
  LinkLoop,       // ResultInvalidInput: the target's links never end at a file
};

// A chunk holds at most this many characters in front of its terminating NUL.
// Header and format lines that a chunk does not hold whole are not converted.
inline constexpr std::size_t kMaxChunkLength = 2047;

}  // namespace quarnel
