#include "sec/helper_tool_result.h"

#include <gtest/gtest.h>

namespace {

TEST(HelperToolResult, StatusToExitStatus) {
  const struct {
    OSStatus status;
    int exit_status;
  } cases[] = {
      {0, 0},    {-60005, 2}, {-60006, 3}, {5361, 1},  {5362, 2},      {5363, 3},
      {5364, 4}, {5360, 4},   {5365, 4},   {1, 4},     {-1, 4},        {-50, 4},
      {32, 4},   {-60002, 4}, {-108, 4},   {-4960, 4}, {INT32_MIN, 4}, {INT32_MAX, 4},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(TolvanSecErrorToHelperToolResult(c.status), c.exit_status) << c.status;
  }
}

TEST(HelperToolResult, ExitStatusToStatus) {
  const struct {
    int exit_status;
    OSStatus status;
  } cases[] = {
      {0, 0},    {1, 5361},  {2, 5362},   {3, 5363},       {4, 5364},
      {5, 5364}, {-1, 5364}, {255, 5364}, {128 + 9, 5364},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(TolvanSecHelperToolResultToError(c.exit_status), c.status) << c.exit_status;
  }
}

TEST(HelperToolResult, RoundTripKeepsTheToolsOwnResultsAndFoldsTheRest) {
  EXPECT_EQ(TolvanSecHelperToolResultToError(TolvanSecErrorToHelperToolResult(-60005)), 5362);
  EXPECT_EQ(TolvanSecHelperToolResultToError(TolvanSecErrorToHelperToolResult(-60006)), 5363);
  EXPECT_EQ(TolvanSecHelperToolResultToError(TolvanSecErrorToHelperToolResult(-50)), 5364);
  for (OSStatus own = 5361; own <= 5364; ++own) {
    EXPECT_EQ(TolvanSecHelperToolResultToError(TolvanSecErrorToHelperToolResult(own)), own);
  }
}

}  // namespace
