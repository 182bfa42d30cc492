// Names and other text out of files, made safe to show: every front end
// escapes them here, so a name reads the same on a terminal, in a dialog
// and in a message the engine composes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarnel {

// Length of the valid UTF-8 sequence at the start of `text`, 0 if none is
// there (an overlong form, a surrogate, a value beyond U+10FFFF, a cut
// sequence). `text` must not be empty.
std::size_t Utf8SequenceLength(std::string_view text);

// Appends `c` in UTF-8's form. A lone surrogate is encoded as any other
// value, so that text holding one stays recognisably invalid; callers that
// need valid text replace it first.
void AppendUtf8(std::string& text, char32_t c);

// True where a backslash is an ordinary character of file names (POSIX),
// false where it separates folders (Windows). Defined per platform.
bool IsBackslashInNames();

// `text` with each byte that could drive a terminal or mislead its reader
// written as \xNN: C0 controls and DEL; C1 controls, both as UTF-8 (C2 80 to
// C2 9F) and as bare bytes 80 to 9F outside valid UTF-8, which 8-bit
// terminals obey; the line and paragraph separators U+2028 and U+2029; and,
// where IsBackslashInNames, the backslash, so that no name passes for an
// escaped one. Every other byte stays as it is.
std::string EscapeName(std::string_view text);

}  // namespace quarnel
