// Checks shared by the fuzz targets. A broken invariant prints what broke and
// aborts, which libFuzzer reports as a crash together with its reproducer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "quarnel/conversion_state.h"
#include "reported_numbers.h"

namespace quarnel::fuzz {

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

inline void Require(bool holds, const char* what) {
  if (!holds) Fail(what);
}

// The `index`-th number of `kind` in the table of reported numbers, counting
// round: the only numbers the format-line converter may add to that kind's list.
inline std::int16_t ReportedNumberOfKind(ReportedKind kind, std::size_t index) {
  std::size_t count = 0;
  for (const ReportedNumber& entry : kReportedNumbers) count += entry.kind == kind ? 1 : 0;
  index %= count;
  for (const ReportedNumber& entry : kReportedNumbers) {
    if (entry.kind == kind && index-- == 0) return entry.number;
  }
  return 0;
}

// `after` must be `before` grown at its end only: the old entries in place,
// new ones of `kind`, filled from slot 0 without gaps or duplicates.
inline void RequireListGrew(const NumberList& before, const NumberList& after, ReportedKind kind,
                            const char* what) {
  const std::size_t oldLength = ListLength(before);
  const std::size_t newLength = ListLength(after);
  if (newLength < oldLength || !std::equal(before.begin(), before.begin() + oldLength, after.begin()))
    Fail(what);
  for (std::size_t i = oldLength; i < newLength; ++i) {
    if (!IsReported(after[i], kind)) Fail(what);
  }
  for (std::size_t i = newLength; i < after.size(); ++i) {
    if (after[i] != kFreeSlot) Fail(what);
  }
  for (std::size_t i = 0; i < newLength; ++i) {
    if (std::find(after.begin() + i + 1, after.begin() + newLength, after[i]) !=
        after.begin() + newLength)
      Fail(what);
  }
}

inline bool SameState(const ConversionState& a, const ConversionState& b) {
  return a.m_bConversionNeeded == b.m_bConversionNeeded && a.m_bWideCodes == b.m_bWideCodes &&
         a.m_aFlaggedVariables == b.m_aFlaggedVariables && a.m_aRemovedApps == b.m_aRemovedApps;
}

}  // namespace quarnel::fuzz
