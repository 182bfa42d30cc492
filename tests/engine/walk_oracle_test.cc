// The engine's walk against the plain step-by-step one, on many random chunks
// built from the pieces format files are made of, odd bytes included.
#include <gtest/gtest.h>

#include <random>

#include "engine_test_support.h"
#include "reference_walk.h"

namespace quarnel {
namespace {

std::string RandomPiece(std::mt19937& random) {
  static const char* const pieces[] = {
      "$\"Point\"",  "$\"",     "\"",       "123456051", "120000653", "12345670051", "12345670656",
      ";",           ";100",    ";120",     ";123",      ";00100",    ";00123",      ";65656",
      "100",         "0100",    "\n",       "\n",        "\n",        "\xFF",        "@i1KRV330",
      "@i1KRV880",   "@i1XYZ",  "@l0",      "@t1FRT",    "@t1ABC",    "@x",          "@",
      "$",           " ",       ",",        "\t",        "+",         "-",           "0",
      "9",           "abc",     "\r",       "058",       "652",       "653",         "00051",
  };
  if (random() % 8 == 0) return std::string(1, static_cast<char>(1 + random() % 255));
  return pieces[random() % (sizeof pieces / sizeof *pieces)];
}

TEST(WalkOracleTest, EngineWalkEqualsThePlainWalk) {
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string chunk;
    const std::size_t target = 1 + random() % (round % 10 == 0 ? kMaxChunkLength : 120);
    while (chunk.size() < target) chunk += RandomPiece(random);
    chunk.resize(std::min(chunk.size(), kMaxChunkLength));

    ConversionState start;
    start.m_bWideCodes = random() % 2 == 0;
    start.m_bConversionNeeded = random() % 8 != 0;

    ConversionState expectedState = start;
    std::vector<char> expectedChunk(chunk.begin(), chunk.end());
    expectedChunk.push_back('\0');
    std::vector<char> expectedOutput(kOutputCapacity, '\0');
    std::uint32_t expectedConsumed = 0;
    const ConversionResult expectedResult =
        reference::ConvertChunk(expectedState, expectedChunk.data(), expectedOutput.data(), expectedConsumed);

    ConversionState state = start;
    std::vector<char> actualChunk(chunk.begin(), chunk.end());
    actualChunk.push_back('\0');
    std::vector<char> output(kOutputCapacity, '\0');
    std::uint32_t consumed = 0;
    const ConversionResult result = ConvertChunk(state, actualChunk.data(), output.data(), consumed);

    ASSERT_EQ(result, expectedResult) << "round " << round;
    ASSERT_EQ(consumed, expectedConsumed) << "round " << round;
    ASSERT_EQ(output, expectedOutput) << "round " << round;
    ASSERT_EQ(actualChunk, expectedChunk) << "round " << round << ": in-place rewrites differ";
    ASSERT_EQ(state.m_bConversionNeeded, expectedState.m_bConversionNeeded) << "round " << round;
    ASSERT_EQ(state.m_bWideCodes, expectedState.m_bWideCodes) << "round " << round;
    ASSERT_EQ(state.m_aFlaggedVariables, expectedState.m_aFlaggedVariables) << "round " << round;
    ASSERT_EQ(state.m_aRemovedApps, expectedState.m_aRemovedApps) << "round " << round;
  }
}

}  // namespace
}  // namespace quarnel
