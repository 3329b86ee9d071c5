#include "device_presence.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A detector that answers from a script of attempts and records the pauses.
struct PollRecord {
  int searches = 0;
  std::vector<unsigned> pauses;
  std::vector<int> pause_after_search;
};

int Poll(std::uint8_t attempts, const std::function<bool(int attempt)>& present_at,
         PollRecord& record) {
  return PollUntilPresent(
      attempts,
      [&](std::uint8_t report_absence) {
        EXPECT_EQ(report_absence, 0) << "polling must be quiet";
        return present_at(++record.searches);
      },
      [&](unsigned milliseconds) {
        record.pauses.push_back(milliseconds);
        record.pause_after_search.push_back(record.searches);
      });
}

TEST(PollUntilPresent, ZeroAttemptsFailsWithoutSearching) {
  PollRecord record;
  EXPECT_EQ(Poll(0, [](int) { return true; }, record), -1);
  EXPECT_EQ(record.searches, 0);
  EXPECT_TRUE(record.pauses.empty());
}

TEST(PollUntilPresent, PresentFromTheStartMakesAllAttemptsWithoutPausing) {
  PollRecord record;
  EXPECT_EQ(Poll(60, [](int) { return true; }, record), 0);
  EXPECT_EQ(record.searches, 60);
  EXPECT_TRUE(record.pauses.empty());
}

TEST(PollUntilPresent, DeviceAppearingDuringTheTenthPause) {
  PollRecord record;
  EXPECT_EQ(Poll(60, [](int attempt) { return attempt > 10; }, record), 0);
  EXPECT_EQ(record.searches, 60);
  ASSERT_EQ(record.pauses.size(), 10u);
  for (std::size_t i = 0; i < record.pauses.size(); ++i) {
    EXPECT_EQ(record.pauses[i], kPollIntervalMs);
    EXPECT_EQ(record.pause_after_search[i], static_cast<int>(i) + 1);
  }
}

TEST(PollUntilPresent, AbsentFor255AttemptsPausesAfterEveryOneIncludingTheLast) {
  PollRecord record;
  EXPECT_EQ(Poll(255, [](int) { return false; }, record), -1);
  EXPECT_EQ(record.searches, 255);
  EXPECT_EQ(record.pauses.size(), 255u);
  EXPECT_EQ(record.pause_after_search.back(), 255);
}

TEST(PollUntilPresent, OnlyTheLastAttemptCounts) {
  PollRecord gone;
  EXPECT_EQ(Poll(5, [](int attempt) { return attempt < 5; }, gone), -1);
  EXPECT_EQ(gone.searches, 5);

  PollRecord flapping;
  EXPECT_EQ(Poll(5, [](int attempt) { return attempt != 3; }, flapping), 0);
  EXPECT_EQ(flapping.searches, 5);
  EXPECT_EQ(flapping.pause_after_search, std::vector<int>{3});
}

TEST(PauseMilliseconds, WaitsAtLeastTheTimeAsked) {
  const auto start = std::chrono::steady_clock::now();
  PauseMilliseconds(50);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

}  // namespace
