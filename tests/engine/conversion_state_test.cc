#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace quarnel {
namespace {

TEST(ConversionStateTest, ListDiscipline) {
  NumberList list = ConversionState::EmptyList();
  EXPECT_EQ(ListLength(list), 0u);
  for (std::int16_t v : {5, 3, 5, 3, 9}) AddToList(list, v);
  EXPECT_EQ(testing::Listed(list), (std::vector<std::int16_t>{5, 3, 9}));
  for (std::int16_t v = 100; v < 120; ++v) AddToList(list, v);
  EXPECT_EQ(ListLength(list), kListCapacity);
  EXPECT_EQ(list[9], 106) << "a full list drops further numbers";
}

TEST(ConversionStateTest, PrepareKeepsTheLayout) {
  ConversionState state;
  state.m_bConversionNeeded = false;
  state.m_bWideCodes = true;
  AddToList(state.m_aFlaggedVariables, 51);
  AddToList(state.m_aRemovedApps, 120);
  PrepareForConversion(state);
  EXPECT_TRUE(state.m_bConversionNeeded);
  EXPECT_TRUE(state.m_bWideCodes);
  EXPECT_EQ(ListLength(state.m_aFlaggedVariables), 0u);
  EXPECT_EQ(ListLength(state.m_aRemovedApps), 0u);
}

}  // namespace
}  // namespace quarnel
