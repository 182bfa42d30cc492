#include "quarnel/conversion_report.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "quarnel/conversion_summary.h"

namespace quarnel {
namespace {

ConversionState StateWith(std::vector<std::int16_t> variables, std::vector<std::int16_t> apps) {
  ConversionState state;
  for (auto v : variables) AddToList(state.m_aFlaggedVariables, v);
  for (auto a : apps) AddToList(state.m_aRemovedApps, a);
  return state;
}

const std::wstring kVariablesTrailer =
    L"\nPlease delete the above mentioned variables from the Export Formatstrings\n"
    L"CORRECTIONS section in the Brenmoor Format Manager and add them into the\n"
    L"MEASUREMENT KRV section.\n\n";
const std::wstring kAppsTrailer =
    L"\nThe application does not exist on Tessolan, thus the entry has been removed from\n"
    L"the Format File .\n\n";
const std::wstring kWarning = L"Make sure the Format File works correctly before using!";
const std::wstring kHeader =
    L"Following variable in the file must be modified in order to obtain correct result:\n\n";

TEST(ConversionReportTest, TextForEveryOutcome) {
  struct Case {
    const char* name;
    ConversionResult result;
    bool conversionNeeded;
    std::vector<std::int16_t> variables, apps;
    std::wstring expected;
    bool neededAfter;
  };
  const std::vector<Case> cases = {
      {"completed, nothing listed", ResultOk, true, {}, {}, L"Format-File Conversion completed!\n\n", true},
      {"end marker reads as success", ResultEndMarker, true, {}, {}, L"Format-File Conversion completed!\n\n", true},
      {"incomplete line reads as success", ResultIncompleteLine, true, {}, {},
       L"Format-File Conversion completed!\n\n", true},
      {"only applications", ResultOk, true, {}, {123},
       L"Format-File Conversion completed!\n\n123: \"Height Transfer\" Application\n" + kAppsTrailer + kWarning, true},
      {"only variables", ResultOk, true, {58}, {},
       L"Format-File Conversion completed!\n\n" + kHeader + L"58: Prism Constant\n" + kVariablesTrailer + kWarning,
       true},
      // Entries keep the order in which they were met, not numeric order.
      {"variables in order met", ResultOk, true, {656, 51}, {120},
       L"Format-File Conversion completed!\n\n" + kHeader + L"656: EDM Mode\n51: Prism Constant, AtmosPPM\n" +
           kVariablesTrailer + L"120: \"Line Adjustment\" Application\n" + kAppsTrailer + kWarning,
       true},
      {"not necessary hides the lists", ResultOk, false, {51}, {120}, L"Format-File Conversion is not necessary!",
       false},
      {"invalid input", ResultInvalidInput, true, {51}, {}, L"Format-File Conversion failed due to invalid input!",
       false},
      {"invalid format file", ResultInvalidFormatFile, true, {}, {120},
       L"Format-File Conversion failed due to invalid format file!", false},
      {"file error is an unknown error", ResultFileError, true, {}, {},
       L"Format-File Conversion failed due to unknown error!", false},
      {"any other value", 77, true, {}, {}, L"Format-File Conversion failed due to unknown error!", false},
      {"negative value", -1, true, {}, {}, L"Format-File Conversion failed due to unknown error!", false},
  };
  for (const Case& c : cases) {
    ConversionState state = StateWith(c.variables, c.apps);
    state.m_bConversionNeeded = c.conversionNeeded;
    EXPECT_EQ(ComposeReport(c.result, state), c.expected) << c.name;
    EXPECT_EQ(state.m_bConversionNeeded, c.neededAfter) << c.name;
  }
}

// The summary says what a file names instead of an old model, read from the
// run itself, with the notes every front end shows.
TEST(ConversionReportTest, SummaryNamesWhatTheModelLineHolds) {
  const std::string notOld = ", not KRV110, KRV330, KRV440 or KRV880";
  struct Case {
    const char* name;
    std::string source;
    RunOutcome outcome;
    std::optional<std::string> model;
    std::vector<std::string> notes;
  };
  const Case cases[] = {
      {"another instrument", "@i1TS9200 Total Station\r\n$\"a\"1;120\r\n", RunOutcome::NotNecessary, "TS9200",
       {"the model line names \"TS9200\"" + notOld}},
      {"a typo", "@i1KRV550\r\n", RunOutcome::NotNecessary, "KRV550", {"the model line names \"KRV550\"" + notOld}},
      {"lower case", "@i1krv330\n", RunOutcome::NotNecessary, "krv330", {"the model line names \"krv330\"" + notOld}},
      // The name ends with its line, whichever line end it has.
      {"a short name", "@i1KRV\r\n$\"a\"1;120\r\n", RunOutcome::NotNecessary, "KRV",
       {"the model line names \"KRV\"" + notOld}},
      // A name out of a file is shown as a file name would be.
      {"a control character", "@i1\x1b[2J\r\n", RunOutcome::NotNecessary, "\x1b[2J",
       {"the model line names \"\\x1b[2J\"" + notOld}},
      {"an old model", "@i1KRV110\r\n", RunOutcome::Converted, "KRV110", {}},
      // The last model line is the one that decided.
      {"old, then another", "@i1KRV110\r\n@i1TS9200\r\n", RunOutcome::NotNecessary, "TS9200",
       {"the model line names \"TS9200\"" + notOld}},
      {"no model line", "hello\r\n", RunOutcome::Converted, std::nullopt, {std::string(kNoModelLineNote)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionState state;
    std::string target;
    const ConversionSummary summary = SummarizeConversion(ConvertFormatBytes(c.source, state, target), state);
    EXPECT_EQ(summary.outcome, c.outcome);
    EXPECT_EQ(summary.model, c.model);
    EXPECT_EQ(summary.notes, c.notes);
  }
  EXPECT_EQ(NotNecessaryNote(std::string()), "the model line names nothing" + notOld);
  EXPECT_EQ(NotNecessaryNote(std::nullopt), "the file has no model line");
}

TEST(ConversionReportTest, LongestReportIs611Characters) {
  ConversionState state = StateWith({51, 58, 652, 653, 656}, {120, 123});
  const std::wstring report = ComposeReport(ResultOk, state);
  EXPECT_EQ(report.size(), kLongestReportLength);
  EXPECT_EQ(report.substr(report.size() - kWarning.size()), kWarning);
  EXPECT_NE(report.find(L"653: Prism Type\n656: EDM Mode\n\nPlease"), std::wstring::npos);
  EXPECT_EQ(ReportToAscii(report).size(), kLongestReportLength);
}

}  // namespace
}  // namespace quarnel
