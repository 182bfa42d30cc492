#include "quarnel/change_list.h"

#include <algorithm>
#include <cstring>

#include "format_text.h"
#include "reported_numbers.h"

namespace quarnel {
namespace {

constexpr int kReplacedCode = 100;

struct TextLine {
  std::string_view content;  // without its line end
  bool ended = false;
};

// How a text's lines end: a source's as the driver reads them (LF, CR LF,
// and a CR followed by anything but LF or CR, or by the end of the text; a
// CR in front of a CR stays in the line), a target's as the driver writes
// them (CR LF; any other CR is the line's own).
enum class LineEnds : std::uint8_t { AsRead, AsWritten };

std::vector<TextLine> SplitLines(std::string_view text, LineEnds ends) {
  std::vector<TextLine> lines;
  std::size_t begin = 0;
  std::size_t search = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find_first_of(ends == LineEnds::AsRead ? "\r\n" : "\n", search);
    if (end == std::string_view::npos) {
      lines.push_back({text.substr(begin), false});
      break;
    }
    std::size_t next = end + 1;
    std::size_t contentEnd = end;
    if (ends == LineEnds::AsWritten) {
      if (end > begin && text[end - 1] == '\r') --contentEnd;
    } else if (text[end] == '\r' && next < text.size()) {
      if (text[next] == '\r') {
        search = next;
        continue;
      }
      if (text[next] == '\n') ++next;
    }
    lines.push_back({text.substr(begin, contentEnd - begin), true});
    begin = search = next;
  }
  return lines;
}

std::string ApplyEdits(std::string_view line, const std::vector<LineEdit>& edits) {
  std::string result;
  std::size_t at = 0;
  for (const LineEdit& edit : edits) {
    result.append(line.substr(at, edit.start - at));
    result.append(edit.text);
    at = edit.start + edit.length;
  }
  result.append(line.substr(std::min(at, line.size())));
  return result;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c); });
}

int DigitsValue(std::string_view text) {
  int value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  return value;
}

// The converter keeps the low 16 bits of what it reads; digits give no more than 16 bits here.
bool IsReported(int value, ReportedKind kind) {
  return std::any_of(std::begin(kReportedNumbers), std::end(kReportedNumbers), [&](const ReportedNumber& entry) {
    return entry.number == value && entry.kind == kind;
  });
}
bool IsFlagged(int value) { return IsReported(value, ReportedKind::FlaggedVariable); }
bool IsRemovedApp(int value) { return IsReported(value, ReportedKind::RemovedApp); }

// True when the edits turn `line` into `to`, compared piece by piece.
bool EditsGive(std::string_view line, const std::vector<LineEdit>& edits, std::string_view to) {
  std::size_t at = 0;
  std::size_t out = 0;
  const auto take = [&](std::string_view piece) {
    if (to.substr(out, piece.size()) != piece) return false;
    out += piece.size();
    return true;
  };
  for (const LineEdit& edit : edits) {
    if (!take(line.substr(at, edit.start - at)) || !take(edit.text)) return false;
    at = edit.start + edit.length;
  }
  return take(line.substr(at)) && out == to.size();
}

// A format line of the usual shape ("$", a quoted part, whole runs of digits,
// ";" and whole groups of digits), listed field by field as the converter
// treats it. False for every other shape.
bool ListFormatFields(std::string_view line, bool wide, LineChange& change) {
  const std::size_t runLength = wide ? 11 : 9;
  const std::size_t groupLength = wide ? 5 : 3;
  if (line.size() < 2 || line[0] != '$') return false;
  std::size_t at = 1;
  int quotes = 0;
  while (quotes < 2) {
    if (at >= line.size()) return false;
    if (line[at++] == '"') ++quotes;
  }

  while (at < line.size() && IsDigit(line[at])) {
    if (at + runLength > line.size()) return false;
    const std::string_view run = line.substr(at, runLength);
    if (!AllDigits(run)) return false;
    if (wide) {
      if (const int number = DigitsValue(run.substr(7, 4)); IsFlagged(number))
        change.flagged.push_back({static_cast<std::int16_t>(number), static_cast<std::uint32_t>(at + 7), 4});
    } else {
      // The narrow number is read twice, at run positions 6 and 7.
      for (const std::size_t offset : {5, 6}) {
        if (const int number = DigitsValue(run.substr(offset, 3)); IsFlagged(number))
          change.flagged.push_back(
              {static_cast<std::int16_t>(number), static_cast<std::uint32_t>(at + offset), 3});
      }
      std::string widened(run.substr(0, 5));
      widened += '0';
      widened += run[5];
      widened += '0';
      widened.append(run.substr(6));
      change.edits.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(runLength),
                              std::move(widened), EditKind::WidenedField, 0});
    }
    at += runLength;
  }

  if (at < line.size() && line[at] == ';') {
    ++at;
    for (;;) {
      if (at + groupLength > line.size()) return false;
      const std::string_view group = line.substr(at, groupLength);
      if (!AllDigits(group)) return false;
      const int code = DigitsValue(group);
      const auto start = static_cast<std::uint32_t>(at);
      const auto length = static_cast<std::uint32_t>(groupLength);
      if (IsRemovedApp(code)) {
        change.edits.push_back({start, length, "", EditKind::RemovedApplication, static_cast<std::int16_t>(code)});
      } else if (code == kReplacedCode) {
        change.edits.push_back({start, length, "00107", EditKind::ReplacedCode, 0});
      } else if (!wide) {
        change.edits.push_back({start, length, "00" + std::string(group), EditKind::WidenedField, 0});
      }
      at += groupLength;
      if (at < line.size() && line[at] == ';') {
        ++at;
      } else if (at >= line.size() || !IsDigit(line[at])) {
        break;
      }
    }
  }
  return at == line.size();
}

// The difference of two lines as one stretch between their common ends.
LineEdit WholeDifference(std::string_view from, std::string_view to, EditKind kind) {
  std::size_t prefix = 0;
  const std::size_t shorter = std::min(from.size(), to.size());
  while (prefix < shorter && from[prefix] == to[prefix]) ++prefix;
  // A header line's new text runs to the line's end, even where it ends as the old one did.
  std::size_t suffix = 0;
  while (kind != EditKind::HeaderLine && suffix < shorter - prefix && from[from.size() - 1 - suffix] == to[to.size() - 1 - suffix]) ++suffix;
  return {static_cast<std::uint32_t>(prefix), static_cast<std::uint32_t>(from.size() - prefix - suffix),
          std::string(to.substr(prefix, to.size() - prefix - suffix)), kind, 0};
}

LineKind KindOf(std::string_view line) {
  if (!line.empty() && line[0] == '@') return LineKind::HeaderLine;
  if (!line.empty() && line[0] == '$') return LineKind::FormatLine;
  return LineKind::OtherLine;
}

}  // namespace

ChangeList ListChanges(std::string_view source, std::string_view target, bool wideCodes) {
  ChangeList list;
  std::string_view data = source;
  if (const std::size_t marker = source.find(static_cast<char>(kEndMarker)); marker != std::string_view::npos)
    data = source.substr(0, marker);
  const std::vector<TextLine> sourceLines = SplitLines(data, LineEnds::AsRead);
  const std::vector<TextLine> targetLines = SplitLines(target, LineEnds::AsWritten);
  list.lineCount = targetLines.size();
  list.lastLineEnded = !targetLines.empty() && targetLines.back().ended;
  if (data.size() < source.size()) {
    list.endMarkerLine =
        std::max<std::uint64_t>(1, sourceLines.size() + (sourceLines.empty() || sourceLines.back().ended));
    list.endMarkerColumn = sourceLines.empty() || sourceLines.back().ended
                               ? 0
                               : static_cast<std::uint32_t>(sourceLines.back().content.size());
  }

  for (std::size_t i = 0; i < targetLines.size(); ++i) {
    const std::string_view from = i < sourceLines.size() ? sourceLines[i].content : std::string_view();
    const std::string_view to = targetLines[i].content;
    LineChange change;
    change.line = i + 1;
    change.kind = KindOf(from);
    if (change.kind == LineKind::FormatLine &&
        (!ListFormatFields(from, wideCodes, change) || !EditsGive(from, change.edits, to))) {
      change.edits.clear();
      change.flagged.clear();
    }
    if (change.edits.empty() && from != to) {
      change.edits.push_back(WholeDifference(
          from, to, change.kind == LineKind::HeaderLine ? EditKind::HeaderLine : EditKind::Rewritten));
    }
    if (!change.edits.empty() || !change.flagged.empty()) list.lines.push_back(std::move(change));
  }
  return list;
}

std::string ApplyChangeList(std::string_view source, const ChangeList& list) {
  if (const std::size_t marker = source.find(static_cast<char>(kEndMarker)); marker != std::string_view::npos)
    source = source.substr(0, marker);
  const std::vector<TextLine> lines = SplitLines(source, LineEnds::AsRead);
  std::string target;
  target.reserve(source.size() + source.size() / 8);
  auto change = list.lines.begin();
  for (std::uint64_t i = 0; i < list.lineCount; ++i) {
    const std::string_view line = i < lines.size() ? lines[i].content : std::string_view();
    if (change != list.lines.end() && change->line == i + 1) {
      target += ApplyEdits(line, change->edits);
      ++change;
    } else {
      target.append(line);
    }
    if (i + 1 < list.lineCount || list.lastLineEnded) target += "\r\n";
  }
  return target;
}

}  // namespace quarnel
