// The whole workflow against a scripted search (no devices, no waiting) and
// the stand-in updater tool through the real pipe.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "device_presence.h"
#include "fake_hid_search.h"
#include "standin_dir.h"
#include "standin_texts.h"
#include "update_procedure.h"

namespace {


// The device follows the product ID the stand-in last set; the scenario may
// override any single search.
struct Scenario {
  const char* name;
  std::string info;
  std::string flash;
  std::string boot_delay;    // "never": the tool does not change the mode
  std::string resume_delay;
  int missing_from_search;   // from this search on the device is gone (0: never)
  std::string expected_stdout;
  int expected_status;
  std::string expected_calls;
  int expected_searches;
  std::size_t expected_pauses;
};

const Scenario kScenarios[] = {
    {"up_to_date", kInfoBanner + kInfoHardware + kInfoLatest, "", "", "", 0,
     "All have been update to the latest verison.", 0, kQueryCalls, 125, 0},
    {"up_to_date_crlf", "Banner\r\nHardware revision:  84020006\r\nBootloader version: 1526361203\r\n",
     "", "", "", 0, "All have been update to the latest verison.", 0, kQueryCalls, 125, 0},
    {"needs_flash", kInfoBanner + kInfoHardware + kInfoOlder, "Writing 100% of %s %d\nDone", "", "",
     0, "Writing 100% of %s %d\nDone\n", 0, kQueryCalls + kFlashCall, 126, 0},
    {"flash_prints_nothing", kInfoBanner + kInfoHardware + kInfoOlder, "", "", "", 0, "\n", 0,
     kQueryCalls + kFlashCall, 126, 0},
    {"flash_output_ends_in_newline", kInfoBanner + kInfoHardware + kInfoOlder, "Done\n", "", "", 0,
     "Done\n\n", 0, kQueryCalls + kFlashCall, 126, 0},
    {"flash_output_with_zero_byte", kInfoBanner + kInfoHardware + kInfoOlder,
     std::string("a\0b", 3), "", "", 0, std::string("a\0b\n", 4), 0, kQueryCalls + kFlashCall, 126, 0},
    {"newer_version_still_flashes", kInfoBanner + kInfoHardware + "Bootloader version: 1999999999\n",
     "ok", "", "", 0, "ok\n", 0, kQueryCalls + kFlashCall, 126, 0},
    {"unsupported_hardware", kInfoBanner + "Hardware revision:  84020007\n" + kInfoLatest, "", "", "",
     0, "Korrind (2018) only.\n", -1, kQueryCalls, 125, 0},
    {"info_without_labels", "nothing useful\n", "", "", "", 0, "Korrind (2018) only.\n", -1, kQueryCalls,
     125, 0},
    {"no_device", "", "", "", "", 1, "Korrind (2018) only.\n", -1, "", 5, 5},
    {"device_gone_on_last_first_attempt", "", "", "", "", 5, "Korrind (2018) only.\n", -1, "", 5, 1},
    {"cannot_change_mode", "", "", "never", "", 0, "Cannot change the mode.\n", -1, "-bw3\n", 65,
     60},
    {"cannot_resume", kInfoBanner + kInfoHardware + kInfoLatest, "", "", "never", 0,
     "Cannot resume the device. Please re-plug USB again.\n", -1, kQueryCalls, 125, 60},
    // Present at the last attempt of the resume poll, gone at the flashing step.
    {"device_gone_at_flashing_step", kInfoBanner + kInfoHardware + kInfoOlder, "", "", "", 126,
     "Korrind (2018) only.\n", -1, kQueryCalls, 126, 0},
};

class WorkflowTest : public testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    PutStandinToolOnPath();
    dir_ = MakeTempFolder("workflow");
    ASSERT_EQ(setenv("STANDIN_DIR", dir_.c_str(), 1), 0);
    TheFakeSearch() = FakeSearch{};
  }

  // The device as the stand-in tool left it.
  void FollowStandin(int missing_from_search) {
    TheFakeSearch().present = [this, missing_from_search](std::uint32_t product_id, int search) {
      if (missing_from_search != 0 && search >= missing_from_search) return false;
      std::string product = ReadFile(dir_ + "/product");
      if (product.empty()) product = "2300\n";
      return product == (product_id == kControllerProductId ? "2300\n" : "2301\n");
    };
  }

  std::string dir_;
};

TEST_P(WorkflowTest, PrintsExactlyTheVerdictAndExitStatus) {
  const Scenario& s = GetParam();
  if (!s.info.empty()) WriteFile(dir_ + "/info", s.info);
  WriteFile(dir_ + "/flash", s.flash);
  if (!s.boot_delay.empty()) WriteFile(dir_ + "/boot_delay", s.boot_delay);
  if (!s.resume_delay.empty()) WriteFile(dir_ + "/resume_delay", s.resume_delay);
  FollowStandin(s.missing_from_search);

  testing::internal::CaptureStdout();
  const int status = RunUpdateProcedure();
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(out, s.expected_stdout);
  EXPECT_EQ(status, s.expected_status);
  EXPECT_EQ(ReadFile(dir_ + "/calls"), s.expected_calls);
  EXPECT_EQ(TheFakeSearch().searches, s.expected_searches);
  EXPECT_EQ(TheFakeSearch().pauses, std::vector<unsigned>(s.expected_pauses, kPollIntervalMs));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WorkflowTest, testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

class WorkflowStepTest : public WorkflowTest {};

TEST_F(WorkflowStepTest, BootloaderShowingUpLateIsWaitedFor) {
  WriteFile(dir_ + "/info", kInfoBanner + kInfoHardware + kInfoLatest);
  // Searches 1-5 find the controller; the bootloader is missing for the
  // first three searches after the switch.
  TheFakeSearch().present = [](std::uint32_t product_id, int search) {
    if (product_id == kBootloaderProductId) return search > 8;
    return search <= 5 || search > 65;
  };
  InfoText info;
  testing::internal::CaptureStdout();
  EXPECT_EQ(QueryDeviceInfo(info), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(info, kInfoBanner + kInfoHardware + kInfoLatest);
  EXPECT_EQ(TheFakeSearch().pauses.size(), 3u);
}

TEST_F(WorkflowStepTest, InfoIsHandedOverEvenWhenTheResumeFails) {
  WriteFile(dir_ + "/info", "the info\n");
  WriteFile(dir_ + "/resume_delay", "never");
  FollowStandin(0);
  InfoText info = "previous";
  testing::internal::CaptureStdout();
  EXPECT_EQ(QueryDeviceInfo(info), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Cannot resume the device. Please re-plug USB again.\n");
  EXPECT_EQ(info, "the info\n");
}

TEST_F(WorkflowStepTest, InfoKeepsItsContentsWhenTheCycleFailsBeforeTheQuery) {
  WriteFile(dir_ + "/boot_delay", "never");
  FollowStandin(0);
  InfoText info = "previous";
  testing::internal::CaptureStdout();
  EXPECT_EQ(QueryDeviceInfo(info), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot change the mode.\n");
  EXPECT_EQ(info, "previous");
}

TEST_F(WorkflowStepTest, FlashThatCannotStartSaysErrorAndFails) {
  FollowStandin(0);
  testing::internal::CaptureStdout();
  // With no descriptor left to take, the pipe cannot be opened.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const int status = FlashBootloader();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(ReadFile(dir_ + "/calls"), "");
}

TEST_F(WorkflowStepTest, ToolThatPrintsErrorIsNotAFailedStart) {
  WriteFile(dir_ + "/flash", "Error");
  FollowStandin(0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(FlashBootloader(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error\n");
  EXPECT_EQ(ReadFile(dir_ + "/calls"), kFlashCall);
}

}  // namespace
