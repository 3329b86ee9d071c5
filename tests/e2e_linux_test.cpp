// The built program itself, run under umockdev-run against an emulated
// device, with the stand-in updater tool first on PATH.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "hidraw_testbed.h"
#include "standin_dir.h"
#include "standin_texts.h"

extern char** environ;

namespace {

const std::string kOnly = "Korrind (2018) only.\n";

struct ProgramRun {
  std::string out;
  std::string err;
  int exit_status = -1000;  // as the shell sees it
  double seconds = 0;
};

struct Case {
  const char* name;
  bool device_attached;
  // Stand-in files: name, contents.
  std::vector<std::pair<std::string, std::string>> standin;
  std::string expected_stdout;
  int expected_exit_status;
  std::string expected_calls;
  double min_seconds;  // the waits the run must have made
};

ProgramRun RunProgram(const std::string& dir, bool device_attached) {
  // A keyboard is always there, so the search always has a node to pass over.
  std::vector<EmulatedHidraw> devices = {{0, 0x046D, 0xC31C}};
  if (device_attached) devices.push_back({3, 0x28DE, 0x2300});
  const std::string description = dir + "/testbed.umockdev";
  WriteFile(description, DescribeHidraws(devices));

  const std::string out_path = dir + "/stdout";
  const std::string err_path = dir + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args = {UMOCKDEV_RUN, "-d", description, "--", PROGRAM_PATH};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  ProgramRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

class ProgramTest : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    PutStandinToolOnPath();
    dir_ = MakeTempFolder("e2e");
    ASSERT_EQ(setenv("STANDIN_DIR", dir_.c_str(), 1), 0);
  }
  std::string dir_;
};

TEST_P(ProgramTest, PrintsTheVerdictAndExitsWithItsStatus) {
  const Case& c = GetParam();
  for (const auto& [name, contents] : c.standin) WriteFile(dir_ + "/" + name, contents);
  const ProgramRun run = RunProgram(dir_, c.device_attached);
  EXPECT_EQ(run.out, c.expected_stdout);
  EXPECT_EQ(run.exit_status, c.expected_exit_status);
  EXPECT_EQ(ReadFile(dir_ + "/calls"), c.expected_calls);
  EXPECT_GE(run.seconds, c.min_seconds);
  // No poll made more pauses than it had to.
  EXPECT_LT(run.seconds, c.min_seconds + 4.0);
  EXPECT_EQ(run.err.find("stand-in:"), std::string::npos) << run.err;
}

const Case kCases[] = {
    {"up_to_date", true,
     {{"info", "Banner\r\nHardware revision:  84020006\r\nBootloader version: 1526361203\r\n"}},
     "All have been update to the latest verison.", 0, kQueryCalls, 0},
    {"needs_flash", true,
     {{"info", kInfoBanner + kInfoHardware + kInfoOlder}, {"flash", "Writing 100% of %s%n\r\nDone\r\n"}},
     "Writing 100% of %s%n\nDone\n\n", 0, kQueryCalls + kFlashCall, 0},
    {"unsupported_hardware", true,
     {{"info", kInfoBanner + "Hardware revision: 84020006\n" + kInfoLatest}}, kOnly, 255, kQueryCalls, 0},
    {"no_device", false, {}, kOnly, 255, "", 5.0},
    {"bootloader_appears_late", true,
     {{"info", kInfoBanner + kInfoHardware + kInfoLatest}, {"boot_delay", "2.5"}, {"resume_delay", "1.5"}},
     "All have been update to the latest verison.", 0, kQueryCalls, 4.0},
    // The tool's own faults.
    {"info_tool_killed_mid_output", true,
     {{"on_aw3", "printf 'Banner\\nHardware revision:  84020006\\nBootl'; kill -KILL $$\n"}}, kOnly,
     255, kQueryCalls, 0},
    {"flash_tool_killed_mid_output", true,
     {{"info", kInfoBanner + kInfoHardware + kInfoOlder}, {"on_flash", "printf 'Writing 10%%'; kill -KILL $$\n"}},
     "Writing 10%\n", 0, kQueryCalls + kFlashCall, 0},
    {"info_tool_closes_stdout_and_runs_on", true,
     {{"info", kInfoBanner + kInfoHardware + kInfoLatest}, {"on_aw3", "cat \"$dir/info\"; exec >&-; sleep 3\n"}},
     "All have been update to the latest verison.", 0, kQueryCalls, 3.0},
    {"flash_output_ends_at_ctrl_z", true,
     {{"info", kInfoBanner + kInfoHardware + kInfoOlder},
      {"on_flash", "printf 'Done\\032after'; head -c 10000000 /dev/zero | tr '\\0' y\n"}},
     "Done\n", 0, kQueryCalls + kFlashCall, 0},
    {"tool_writes_to_stderr", true,
     {{"info", kInfoBanner + kInfoHardware + kInfoLatest},
      {"on_aw3", "echo 'warning: emulated' >&2; cat \"$dir/info\"; echo 'Bootloader version: 1' >&2\n"}},
     "All have been update to the latest verison.", 0, kQueryCalls, 0},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, ProgramTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, ToolStandardErrorReachesTheUserUncaptured) {
  WriteFile(dir_ + "/info", kInfoBanner + kInfoHardware + kInfoOlder);
  WriteFile(dir_ + "/on_flash", "echo 'flash warning' >&2; echo flashed\n");
  const ProgramRun run = RunProgram(dir_, true);
  EXPECT_EQ(run.out, "flashed\n\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_NE(run.err.find("flash warning"), std::string::npos);
}

TEST_F(ProgramTest, LongLinesWithoutNewlineArriveWhole) {
  const std::string long_line(10'000'000, 'z');
  WriteFile(dir_ + "/info", kInfoBanner + kInfoHardware + kInfoOlder + long_line);
  WriteFile(dir_ + "/flash", long_line);
  const ProgramRun run = RunProgram(dir_, true);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out.size(), long_line.size() + 1);
  EXPECT_TRUE(run.out == long_line + "\n");
}

// These wait out a whole 60-attempt poll.
const Case kSlowCases[] = {
    {"cannot_change_mode", true, {{"boot_delay", "never"}}, "Cannot change the mode.\n", 255,
     "-bw3\n", 60.0},
    {"cannot_resume", true, {{"info", kInfoBanner + kInfoHardware + kInfoLatest}, {"on_rw3", "set_product none\n"}},
     "Cannot resume the device. Please re-plug USB again.\n", 255, kQueryCalls, 60.0},
};

INSTANTIATE_TEST_SUITE_P(SlowScenarios, ProgramTest, testing::ValuesIn(kSlowCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
