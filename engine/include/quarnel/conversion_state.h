// The record through which the engine's routines talk to each other during one
// conversion, and through which the run's findings reach the report.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quarnel {

// Integer result of the engine routines and of a run as a whole. The values are
// pinned: stored reports and callers compare them, so never renumber them.
// Any value without a name here is reported as a failure of no particular kind.
using ConversionResult = int;

inline constexpr ConversionResult ResultOk = 0;
// The source or the target could not be opened.
inline constexpr ConversionResult ResultInvalidInput = 1;
// A header or format line cannot be converted (no terminator in its chunk, a
// kind-t header without "FRT", a NUL byte in the source).
inline constexpr ConversionResult ResultInvalidFormatFile = 2;
// The end marker 0xFF ended the data; nothing behind it is converted.
inline constexpr ConversionResult ResultEndMarker = 3;
// The chunk ends inside a line; its tail is read again with the next chunk.
inline constexpr ConversionResult ResultIncompleteLine = 4;
// Reading the source, or writing or replacing the target, failed part way.
inline constexpr ConversionResult ResultFileError = 5;

// True for the results after which a run counts as successful.
constexpr bool IsSuccess(ConversionResult result) {
  return result == ResultOk || result == ResultEndMarker || result == ResultIncompleteLine;
}

inline constexpr std::int16_t kFreeSlot = -1;
inline constexpr std::size_t kListCapacity = 10;

using NumberList = std::array<std::int16_t, kListCapacity>;

struct ConversionState {
  // Set while the source counts as a format file of an old model. A model line
  // naming any other model clears it: the rest of its chunk is copied as it
  // stands and the run ends with that chunk.
  bool m_bConversionNeeded = true;
  // Set when the model line named KRV880: format lines use the wide layout.
  bool m_bWideCodes = false;
  // Set when the run met a model line (a kind-i header line), whichever model
  // it names; a source without one may be no format file at all. Cleared by
  // the driver at the start of every run.
  bool m_bModelLineSeen = false;
  // What the last model line named, as the comparison with the old models
  // read it: the characters at positions 4 to 9, fewer where the line ends
  // sooner. Holds this run's model line only while m_bModelLineSeen is set.
  std::string m_strModelName;
  // Variables the user must move by hand, in order of first appearance.
  NumberList m_aFlaggedVariables = EmptyList();
  // Applications whose codes were removed, in order of first appearance.
  NumberList m_aRemovedApps = EmptyList();

  static constexpr NumberList EmptyList() {
    NumberList list{};
    list.fill(kFreeSlot);
    return list;
  }
};

// Readies the state for the next run as the dialog's Convert does: empties both
// lists and sets m_bConversionNeeded. m_bWideCodes keeps the previous run's
// value until a model line sets it again.
void PrepareForConversion(ConversionState& state);

// Adds `value` to `list` unless it is already there; a full list drops it.
// The list stays filled from slot 0 without gaps or duplicates.
void AddToList(NumberList& list, std::int16_t value);

// Number of used slots: the index of the first free slot, or the capacity.
std::size_t ListLength(const NumberList& list);

}  // namespace quarnel
