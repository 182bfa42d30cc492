// What a format file's model line names, read from text in memory. Kept apart
// from the file layer so that builds without a file system (the web page's
// module) and every front end ask the same question the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// A model name stands at positions 4 to 9 of the model line (positions count
// from 1 at the "@" of "@i").
inline constexpr std::size_t kModelNameLength = 6;

// The old models whose files a run converts.
inline constexpr std::string_view kOldModelNames[] = {"KRV110", "KRV330", "KRV440", "KRV880"};

// The designation a converted file's model line holds behind position 3.
inline constexpr std::string_view kNewModelDesignation = "QZ21/25/27";

// What the first model line ("@i", a header line of kind i) of `text` holds
// at positions 4 to 9, as the conversion compares it with the old models.
// The text is read as a run reads it: a CR LF pair, a lone LF and a lone CR
// each end a line (a CR in front of another CR stays a character); the end
// marker 0xFF or a NUL byte ends the text; "@" or "$" anywhere begins a
// header or format line, which runs to its line end. `text` may be a file's
// first bytes only.
// @return the up to kModelNameLength characters at positions 4 to 9; fewer
//         when a line end or the end of `text` comes sooner (a model name never
//         runs across a line end), "" when the line ends at position 3 or 4;
//         std::nullopt when `text` holds no model line.
std::optional<std::string> ReadModelName(std::string_view text);

// Whether `name` (from ReadModelName) is one of kOldModelNames: the file is an
// original that a run converts.
bool IsOldModelName(std::string_view name);

// Whether `name` (from ReadModelName) is the new family's, as a converted
// file's model line gives it: the first kModelNameLength characters of
// kNewModelDesignation.
bool IsNewModelName(std::string_view name);

}  // namespace quarnel
