#include "run/version.h"

#include <gtest/gtest.h>

namespace vard {
namespace {

TEST(ParseVersion, CombinesMajorAndMinorIntoOneComparableNumber) {
  EXPECT_EQ(ParseVersion("1.00"), 0x10000);
  EXPECT_EQ(ParseVersion("1.01"), 0x10001);
  // Leading zeros of the minor number do not count: 1.1 is 1.01, and 1.10 is newer than 1.9.
  EXPECT_EQ(ParseVersion("1.1"), ParseVersion("1.01"));
  EXPECT_EQ(ParseVersion("1.10"), 65546);
  EXPECT_GT(ParseVersion("1.10"), ParseVersion("1.9"));
  EXPECT_GT(ParseVersion("2.00"), ParseVersion("1.01"));
  EXPECT_LT(ParseVersion("0.90"), ParseVersion("1.00"));
}

TEST(ParseVersion, NumbersTheScanDoesNotReachStayZero) {
  EXPECT_EQ(ParseVersion("1"), 65536);
  EXPECT_EQ(ParseVersion("2"), 0x20000);
  EXPECT_EQ(ParseVersion(".5"), 0);
  EXPECT_EQ(ParseVersion(""), 0);
  EXPECT_EQ(ParseVersion("v1.0"), 0);
  EXPECT_EQ(ParseVersion("0.0"), 0);
  EXPECT_EQ(ParseVersion("1,5"), 0x10000);   // no dot: the minor is not reached
  EXPECT_EQ(ParseVersion("1 .5"), 0x10000);  // the dot must follow the digits at once
}

TEST(ParseVersion, ScansLikePercentD) {
  EXPECT_EQ(ParseVersion("  1.02xyz"), 0x10002);
  EXPECT_EQ(ParseVersion("1. 2"), 0x10002);  // each number may be preceded by white space
  EXPECT_EQ(ParseVersion("+1.+2"), 0x10002);
  EXPECT_EQ(ParseVersion("1.-1"), -1);       // a negative minor spills into the major's bits
  EXPECT_EQ(ParseVersion("-1.0"), static_cast<std::int32_t>(0xFFFF0000u));
  EXPECT_EQ(ParseVersion("1.65536"), 0x10000);  // 65,536 lands on the major's lowest bit
}

TEST(ParseVersion, OverlongNumbersWrapWithoutFault) {
  // 4294967297 wraps to 1 in 32 bits.
  EXPECT_EQ(ParseVersion("4294967297.4294967298"), 0x10002);
}

TEST(FindStartingSet, MatchesStartingVersionsByNumber) {
  const std::vector<std::string> others{"1.02", "1.5"};
  EXPECT_EQ(FindStartingSet(ParseVersion("1.00"), "1.0", others), 0);
  EXPECT_EQ(FindStartingSet(ParseVersion("1.02"), "1.00", others), 1);
  EXPECT_EQ(FindStartingSet(ParseVersion("1.05"), "1.00", others), 2);
  // Below, between and above the starting versions: none applies.
  for (const char* installed : {"0.99", "1.01", "1.03", "2.00"})
    EXPECT_EQ(FindStartingSet(ParseVersion(installed), "1.00", others), -1) << installed;
  EXPECT_EQ(FindStartingSet(ParseVersion("1.02"), "1.00", {}), -1);
}

}  // namespace
}  // namespace vard
