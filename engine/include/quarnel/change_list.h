// What a completed conversion did to each line of its source, for a reader
// who wants to see the changes (the page's change view). Nothing in a run
// needs it: it is worked out afterwards from the source and the target, so
// the run itself keeps its memory flat.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

// Why a stretch of a line was rewritten.
enum class EditKind : std::uint8_t {
  HeaderLine,          // a model or layout header line took the new family's text
  WidenedField,        // a narrow variable run or code group in the wide layout
  ReplacedCode,        // code 100 became 107 (widened too in the narrow layout)
  RemovedApplication,  // a removed application's code group was dropped
  Rewritten,           // any other difference, as one stretch
};

// One stretch of a source line and the text that takes its place.
// Offsets count the line's bytes from 0 (the line's "$" or "@" is at 0).
struct LineEdit {
  std::uint32_t start = 0;
  std::uint32_t length = 0;
  std::string text;
  EditKind kind = EditKind::Rewritten;
  std::int16_t number = 0;  // the application's code for RemovedApplication
};

// A flagged variable number where it stands in the source line.
struct FlaggedVariable {
  std::int16_t number = 0;
  std::uint32_t start = 0;
  std::uint32_t length = 0;
};

enum class LineKind : std::uint8_t { HeaderLine, FormatLine, OtherLine };

// A line that was rewritten, or that holds a flagged variable, or both.
struct LineChange {
  std::uint64_t line = 0;  // counted from 1
  LineKind kind = LineKind::OtherLine;
  std::vector<LineEdit> edits;  // in order, not overlapping; empty if the text stands
  std::vector<FlaggedVariable> flagged;
};

// The changes of one conversion. Applying them (ApplyChangeList) to the
// source gives the target byte for byte: the source's lines, each without its
// line end (LF, or CR LF), cut in front of the end marker if there is one,
// the listed edits applied, the first `lineCount` kept and each ended by
// CR LF, the last one only if `lastLineEnded`.
struct ChangeList {
  std::vector<LineChange> lines;
  std::uint64_t lineCount = 0;
  bool lastLineEnded = false;
  // Where the end marker stood, if the data ended at one: its line (from 1)
  // and its offset within that line; 0 when there was none.
  std::uint64_t endMarkerLine = 0;
  std::uint32_t endMarkerColumn = 0;
};

// Lists what the conversion of `source` into `target` changed. `target` is
// the text of a completed conversion of `source` and `wideCodes` the run's
// final m_bWideCodes. Format lines of the usual shape (as the converter's
// one-pass path takes them) are listed field by field in that layout, and
// each such listing is checked against the target line; any other difference
// becomes one Rewritten edit, so the list always gives the target.
ChangeList ListChanges(std::string_view source, std::string_view target, bool wideCodes);

// The source with the list applied, as ChangeList describes.
std::string ApplyChangeList(std::string_view source, const ChangeList& list);

}  // namespace quarnel
