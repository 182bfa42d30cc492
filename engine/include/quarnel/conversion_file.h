// File-to-file conversion: the one entry point that the command line and the
// dialogs share, so every front end keeps the same rules for the target.
#pragma once

#include <filesystem>
#include <string>

#include "quarnel/conversion_driver.h"
#include "quarnel/staged_target.h"

namespace quarnel {

// Converts the file `source` into the file `target`.
//
// Only a completed conversion creates or replaces a regular target: the text
// goes to a temporary file in the target's folder (see staged_target.h) that
// takes the target's place once the run has succeeded and its data is on
// disk. Every other outcome leaves the target exactly as it was, or absent:
//   ResultInvalidInput       the source cannot be opened or is a folder; the
//                            target is a folder, read-only for the caller, an
//                            unsafe, dangling or looping link, or its folder
//                            refuses a new file (fileFailure says which);
//   ResultInvalidFormatFile  a line cannot be converted, the source is UTF-16
//                            text, or source and target are one file and bytes
//                            stand behind the end marker (formatFailure);
//   ResultFileError          reading, writing, syncing or renaming failed;
//   a model line of another model (success result, m_bConversionNeeded
//                            cleared): nothing is written.
// Source and target may name the same file by any path. A target that is not
// a regular file (a device, a FIFO) is written directly as a stream.
// After ResultEndMarker, bytesBehindEndMarker says what was not converted.
ConversionOutcome ConvertFormatFile(const std::filesystem::path& target, ConversionState& state,
                                    const std::filesystem::path& source);

// ConvertFormatFile up to the moment the target would change, for a caller
// that converts many files and syncs them once (CommitStagedTargets). After a
// completed conversion (a success result with m_bConversionNeeded set) to a
// regular target, the text waits in `staged`, open and not yet finished: the
// caller finishes and commits it, or abandons it. Every other outcome leaves
// `staged` abandoned and the target as it was; a target that is not a
// regular file has been written directly, as ConvertFormatFile writes it.
ConversionOutcome StageFormatFile(const std::filesystem::path& target, ConversionState& state,
                                  const std::filesystem::path& source, StagedTarget& staged);

// StageFormatFile with files in folders held open (folder_tree.h): a source
// found by a walk is opened in the folder it was listed in, only if it is
// the regular file seen there (else ResultInvalidInput with SourceChanged),
// and a target named in a folder is made there.
ConversionOutcome StageFormatFile(const FileLocation& target, ConversionState& state, const FileLocation& source,
                                  StagedTarget& staged);

// Converts `source` as ConvertFormatFile would, with the same checks of the
// source, and throws the text away: nothing is written, no target is named.
ConversionOutcome CheckFormatFile(ConversionState& state, const std::filesystem::path& source);
ConversionOutcome CheckFormatFile(ConversionState& state, const FileLocation& source);

}  // namespace quarnel
