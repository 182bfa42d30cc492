#include "quarnel/conversion_state.h"

namespace quarnel {

void PrepareForConversion(ConversionState& state) {
  state.m_aFlaggedVariables = ConversionState::EmptyList();
  state.m_aRemovedApps = ConversionState::EmptyList();
  state.m_bConversionNeeded = true;
}

void AddToList(NumberList& list, std::int16_t value) {
  for (std::int16_t& slot : list) {
    if (slot == value) return;
    if (slot == kFreeSlot) {
      slot = value;
      return;
    }
  }
}

std::size_t ListLength(const NumberList& list) {
  std::size_t length = 0;
  while (length < list.size() && list[length] != kFreeSlot) ++length;
  return length;
}

}  // namespace quarnel
