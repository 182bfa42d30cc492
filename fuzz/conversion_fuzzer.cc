// Fuzzes whole in-memory conversions: the input is the source format file,
// any bytes at all. Besides running it, the target derives variants of it
// that must convert alike, and sources of a known shape whose target can be
// predicted in part.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "quarnel/change_list.h"
#include "quarnel/conversion_driver.h"
#include "format_text.h"
#include "reference_conversion.h"

namespace quarnel::fuzz {
namespace {

struct Run {
  ConversionOutcome outcome;
  std::string target;
  ConversionState state;
};

Run Convert(std::string_view source, bool startWide, std::size_t maxRead) {
  Run run;
  run.state.m_bWideCodes = startWide;
  run.outcome = ConvertFormatBytes(source, run.state, run.target, maxRead);
  return run;
}

bool SameRun(const Run& a, const Run& b) {
  return a.outcome.result == b.outcome.result && a.outcome.formatFailure == b.outcome.formatFailure &&
         a.outcome.failedLine == b.outcome.failedLine && a.outcome.fileFailure == b.outcome.fileFailure &&
         a.target == b.target && SameState(a.state, b.state);
}

// Every LF without a CR in front of it becomes CR LF.
std::string SplitLoneLf(std::string_view text) {
  std::string split;
  split.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) split += '\r';
    split += text[i];
  }
  return split;
}

// Text as the driver writes it: every LF as CR LF.
std::string WriteCrLf(std::string_view text) {
  std::string written;
  written.reserve(text.size() * 2);
  for (char c : text) {
    if (c == '\n') written += '\r';
    written += c;
  }
  return written;
}

std::vector<std::string> SplitLines(std::string_view text, std::string_view end) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(end, from)) != std::string_view::npos; from = at + end.size())
    lines.emplace_back(text.substr(from, at - from));
  if (from < text.size()) lines.emplace_back(text.substr(from));
  return lines;
}

void RequireWellFormed(const Run& run, std::string_view source) {
  const ConversionResult result = run.outcome.result;
  Require(result == ResultOk || result == ResultInvalidFormatFile || result == ResultEndMarker ||
              result == ResultIncompleteLine,
          "an in-memory run ends with a walk's result");
  Require(run.outcome.fileFailure == FileFailure::None, "no file failure in memory");
  Require((result == ResultInvalidFormatFile) == (run.outcome.formatFailure != FormatFailure::None) &&
              (result == ResultInvalidFormatFile) == (run.outcome.failedLine > 0),
          "a format failure comes with its cause and line");
  Require((result == ResultOk) == source.empty(), "ResultOk exactly for an empty source");
  for (std::size_t at = run.target.find('\n'); at != std::string::npos; at = run.target.find('\n', at + 1))
    Require(at > 0 && run.target[at - 1] == '\r', "every LF of the target follows a CR");
  // Text grows at most fivefold (a kind-l header line of five characters
  // becomes 23 and a newline); anything beyond means text was written twice.
  Require(run.target.size() <= 5 * source.size() + 64, "target grows at most fivefold");
  const NumberList empty = ConversionState::EmptyList();
  RequireListGrew(empty, run.state.m_aFlaggedVariables, ReportedKind::FlaggedVariable,
                  "m_aFlaggedVariables keeps its discipline");
  RequireListGrew(empty, run.state.m_aRemovedApps, ReportedKind::RemovedApp,
                  "m_aRemovedApps keeps its discipline");
}

// However a stream splits the source into reads, and whichever line ends it
// uses, the driver sees the same characters and must convert them alike.
void CheckSplitsAndLineEnds(std::string_view source, const Run& whole, bool startWide,
                            std::size_t maxRead) {
  Require(SameRun(whole, Convert(source, startWide, 1)), "reads of one byte convert alike");
  Require(SameRun(whole, Convert(source, startWide, maxRead)), "reads of any size convert alike");

  const std::string crLf = SplitLoneLf(source);
  if (crLf != source) Require(SameRun(whole, Convert(crLf, startWide, maxRead)), "LF as CR LF converts alike");
  // CR CR LF read so gives a new CR LF pair, which reads differently.
  const std::string lf = reference::LineEndsAsLf(source);
  if (lf != source && reference::LineEndsAsLf(lf) == lf)
    Require(SameRun(whole, Convert(lf, startWide, maxRead)), "line ends as LF convert alike");
}

// The driver walks the raw bytes and converts every line where it stands;
// the plain loop cuts every chunk from the text. Both must agree. A failing
// line may have recorded numbers in the loop before it failed; a failed run
// reports none, so its lists are not compared.
void CheckAgainstReference(std::string_view source, const Run& whole, bool startWide) {
  ConversionState state;
  state.m_bWideCodes = startWide;
  const reference::Run expected = reference::Convert(source, state);
  Require(whole.outcome.result == expected.result && whole.outcome.formatFailure == expected.failure &&
              whole.outcome.failedLine == expected.failedLine,
          "the driver ends as the plain loop does");
  Require(whole.outcome.endMarkerLine == expected.endMarkerLine, "the driver finds the end marker's line");
  Require(whole.target == expected.target, "the driver writes what the plain loop writes");
  const bool failed = expected.result == ResultInvalidFormatFile;
  Require(whole.state.m_bConversionNeeded == state.m_bConversionNeeded &&
              whole.state.m_bWideCodes == state.m_bWideCodes &&
              whole.outcome.modelLineSeen == state.m_bModelLineSeen,
          "the driver decides the run as the plain loop does");
  Require(failed || SameState(whole.state, state), "the driver records what the plain loop records");
}

// Without markers and NUL bytes nothing is converted: the target is the
// source's text up to its first end marker, every line end written as CR LF.
void CheckPlainText(std::string_view data, bool startWide, std::size_t maxRead) {
  std::string plain(data);
  std::replace(plain.begin(), plain.end(), '@', 'a');
  std::replace(plain.begin(), plain.end(), '$', 's');
  std::replace(plain.begin(), plain.end(), '\0', ' ');
  // Nor a UTF-16 byte-order mark (FF FE, FE FF).
  if (plain.size() >= 2 && (plain[1] == '\xFE' || plain[1] == '\xFF')) plain[1] = 'a';
  const Run run = Convert(plain, startWide, maxRead);
  RequireWellFormed(run, plain);

  std::string seen = reference::LineEndsAsLf(plain);
  const auto endMarker = std::find_if(seen.begin(), seen.end(), IsEndMarker);
  const bool hasEndMarker = endMarker != seen.end();
  seen.erase(endMarker, seen.end());
  const ConversionResult expected =
      plain.empty() ? ResultOk : (hasEndMarker ? ResultEndMarker : ResultIncompleteLine);
  Require(run.outcome.result == expected, "plain text ends at its end marker or its end");
  Require(run.target == WriteCrLf(seen), "plain text is copied whole");
  ConversionState fresh;
  fresh.m_bWideCodes = startWide;
  Require(SameState(run.state, fresh), "plain text leaves the state alone");
}

// A source of short lines, each ending in a newline, without CR, NUL or end
// marker, with "@" and "$" only at line starts. Every line converts from its
// own characters, so every source line gives one target line, and the line
// count and the lines that are not converted are known.
std::string ShortLines(std::string_view data) {
  constexpr std::size_t kLongestLine = 150;
  std::string lines;
  std::string line;
  const auto endLine = [&] {
    lines += line;
    lines += '\n';
    line.clear();
  };
  for (char c : data) {
    if (c == '\0' || c == '\r' || IsEndMarker(c)) continue;
    if (c == '\n') {
      if (line.empty())
        lines += '\n';
      else
        endLine();
      continue;
    }
    if ((c == '@' || c == '$') && !line.empty()) c = '#';
    line += c;
    if (line.size() >= kLongestLine) endLine();
  }
  if (!line.empty()) endLine();
  return lines;
}

bool IsUntaggedKindT(const std::string& line) {
  return line.size() >= 2 && line[0] == '@' && line[1] == 't' && (line.size() < 6 || line.compare(3, 3, "FRT") != 0);
}

// A completed run's change list, applied to its source, gives its target.
void CheckChangeList(std::string_view source, const Run& run) {
  if (!IsSuccess(run.outcome.result) || !run.state.m_bConversionNeeded) return;
  const ChangeList list = ListChanges(source, run.target, run.state.m_bWideCodes);
  Require(ApplyChangeList(source, list) == run.target, "the change list gives the target");
}

void CheckShortLines(std::string_view data, bool startWide, std::size_t maxRead) {
  const std::string source = ShortLines(data);
  const Run run = Convert(source, startWide, maxRead);
  RequireWellFormed(run, source);
  CheckChangeList(source, run);
  const std::vector<std::string> sourceLines = SplitLines(source, "\n");
  const ConversionResult result = run.outcome.result;
  Require(result != ResultEndMarker, "no end marker without 0xFF");
  if (result == ResultInvalidFormatFile)
    Require(std::any_of(sourceLines.begin(), sourceLines.end(), IsUntaggedKindT),
            "short lines fail only on a kind-t line without its tag");
  // A model line of another model stops the run after its chunk.
  if (result == ResultInvalidFormatFile || !run.state.m_bConversionNeeded) return;

  const std::vector<std::string> targetLines = SplitLines(run.target, "\r\n");
  // Every model line matched an old model (another one would have cleared the
  // flag for good), so the layout of each format line is known.
  bool wide = startWide;
  Require(targetLines.size() == sourceLines.size() &&
              std::count(run.target.begin(), run.target.end(), '\n') ==
                  std::count(source.begin(), source.end(), '\n'),
          "every source line gives one target line");
  for (std::size_t i = 0; i < sourceLines.size(); ++i) {
    const std::string& in = sourceLines[i];
    const std::string& out = targetLines[i];
    if (in.empty() || (in[0] != '@' && in[0] != '$')) {
      Require(out == in, "a line without a marker is copied");
    } else if (in[0] == '@' && in[1] == 'i') {
      wide = in.size() >= 9 && in.compare(3, 6, "KRV880") == 0;
      Require(out == in.substr(0, 3) + "QZ21/25/27", "a model line gets the new model");
    } else if (in[0] == '@' && in[1] == 'l') {
      Require(out == in.substr(0, 3) + "QZ21/25/27_Standard", "a kind-l line gets the new designation");
    } else if (in[0] == '@') {
      Require(out == in, "other header lines are copied");
    } else if (std::count(in.begin() + 1, in.end(), '"') < 2) {
      Require(out == in, "a format line without a second double quote is copied");
    } else {
      const std::size_t quotedEnd = in.find('"', in.find('"', 1) + 1) + 1;
      Require(out.compare(0, quotedEnd, in, 0, quotedEnd) == 0, "the quoted part is copied");
      // The wide layout inserts nothing; it only drops codes.
      if (wide) Require(out.size() <= in.size(), "a wide format line never grows");
    }
  }
}

void FuzzConversion(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  // The read size and the layout left by an earlier run come from the input.
  const std::size_t maxRead = size < 2 ? size + 1 : 1 + ((data[0] << 8 | data[1]) % 5000);
  const bool startWide = size > 0 && (data[size - 1] & 1) != 0;

  const Run whole = Convert(source, startWide, 0);
  RequireWellFormed(whole, source);
  CheckAgainstReference(source, whole, startWide);
  CheckChangeList(source, whole);
  CheckSplitsAndLineEnds(source, whole, startWide, maxRead);
  CheckPlainText(source, startWide, maxRead);
  CheckShortLines(source, startWide, maxRead);
}

}  // namespace
}  // namespace quarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarnel::fuzz::FuzzConversion(data, size);
  return 0;
}
