// The built program end to end under umockdev-run with the stand-in tool:
// on a large info text (time and peak memory), and with no device attached
// (the time of its five pauses). The program is timed by a small launcher
// running inside umockdev-run, so the testbed's own setup is not counted.
#include "hidraw_testbed.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr char kLaunchFlag[] = "--launch-timed";
constexpr char kUpToDate[] = "All have been update to the latest verison.";
constexpr char kNoDevice[] = "Korrind (2018) only.\n";

struct Run {
  double seconds = 0;
  double peak_bytes = 0;
  int exit_status = -1;
  std::string out;
};

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

bool WriteAll(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
  return file.good();
}

// A folder for one benchmark's stand-in files and testbed, removed after it.
class Workspace {
 public:
  Workspace() {
    std::string pattern = "/tmp/korrind_bench_XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
  }
  ~Workspace() {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// An info text of about mebibytes MiB: a banner, lines of other output (LF
// and CR LF), and the two labelled lines last, so that every scan of the
// text goes through all of it.
bool WriteInfoText(const std::string& path, std::size_t mebibytes, std::size_t& size) {
  std::string block;
  for (unsigned line = 0; block.size() < (1u << 20) - 64; ++line) {
    block += "Diagnostic " + std::to_string(line) + ": sensor calibration table entry ok";
    block += line % 2 == 0 ? "\n" : "\r\n";
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << "Updater for the emulated device\r\n";
  for (std::size_t i = 0; i < mebibytes; ++i) file << block;
  file << "Hardware revision:  84020006\r\nBootloader version: 1526361203\r\n";
  size = static_cast<std::size_t>(file.tellp());
  file.close();
  if (!file) return false;
  // Written back to disk now, so that the runs do not share the machine
  // with the writeback of the text they read.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  return synced;
}

std::string Testbed(bool device_attached) {
  std::vector<EmulatedHidraw> devices(1);
  devices[0].node = 0;
  devices[0].vendor_id = 0x046D;
  devices[0].product_id = 0xC31C;
  if (device_attached) devices.push_back(EmulatedHidraw{3, 0x28DE, 0x2300, true, ""});
  return DescribeHidraws(devices);
}

// Runs the program through umockdev-run and the launcher below.
bool RunProgram(const std::string& dir, bool device_attached, Run& run) {
  const std::string description = dir + "/testbed.umockdev";
  const std::string report = dir + "/report";
  if (!WriteAll(description, Testbed(device_attached))) return false;
  std::remove((dir + "/calls").c_str());
  std::remove(report.c_str());

  std::vector<std::string> args = {UMOCKDEV_RUN_PATH, "-d",   description, "--",
                                   SELF_PATH,         kLaunchFlag, report,     PROGRAM_PATH};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
      waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return false;
  }
  std::istringstream figures(ReadAll(report));
  figures >> run.seconds >> run.peak_bytes >> run.exit_status;
  run.out = ReadAll(report + ".out");
  return static_cast<bool>(figures);
}

// The launcher: starts the program with its output to a file, waits for it,
// and writes the elapsed time, its peak resident set (the largest of it and
// the commands it waited for) and its exit status.
int LaunchTimed(const std::string& report, const char* program) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (report + ".out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  char* argv[] = {const_cast<char*>(program), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) return 1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return 1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  std::ofstream out(report);
  out.precision(6);
  out << std::fixed << seconds << ' ' << usage.ru_maxrss * 1024.0 << ' '
      << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << '\n';
  return out ? 0 : 1;
}

bool Prepare(benchmark::State& state, const Workspace& workspace) {
  if (workspace.dir().empty() || setenv("STANDIN_DIR", workspace.dir().c_str(), 1) != 0) {
    state.SkipWithError("no workspace");
    return false;
  }
  const char* path = getenv("PATH");
  const std::string value = std::string(STANDIN_TOOL_DIR) + ":" + (path ? path : "");
  setenv("PATH", value.c_str(), 1);
  return true;
}

// Prepares the workspace and writes an info text of state.range(0) bytes.
bool PrepareInfoText(benchmark::State& state, Workspace& workspace, std::size_t& text_bytes) {
  if (!Prepare(state, workspace)) return false;
  if (!WriteInfoText(workspace.dir() + "/info", static_cast<std::size_t>(state.range(0)),
                     text_bytes)) {
    state.SkipWithError("cannot write the info text");
    return false;
  }
  return true;
}

void BM_ProgramOnInfoText(benchmark::State& state) {
  Workspace workspace;
  std::size_t text_bytes = 0;
  if (!PrepareInfoText(state, workspace, text_bytes)) return;
  double peak = 0;
  for (auto _ : state) {
    Run run;
    if (!RunProgram(workspace.dir(), true, run) || run.out != kUpToDate || run.exit_status != 0) {
      state.SkipWithError("the program did not give the up-to-date verdict");
      break;
    }
    state.SetIterationTime(run.seconds);
    peak = std::max(peak, run.peak_bytes);
  }
  state.counters["text_bytes"] = static_cast<double>(text_bytes);
  state.counters["peak_bytes"] = peak;
  state.counters["peak_per_text_byte"] = peak / static_cast<double>(text_bytes);
}

// The part of the program's run that is not the program's: the stand-in
// printing the same text into a pipe, read and thrown away.
void BM_StandinOutputAlone(benchmark::State& state) {
  Workspace workspace;
  std::size_t text_bytes = 0;
  if (!PrepareInfoText(state, workspace, text_bytes)) return;
  std::vector<char> buffer(1 << 16);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::FILE* pipe = popen("lighthouse_watchman_update.exe -aw3", "r");
    if (pipe == nullptr) {
      state.SkipWithError("popen failed");
      break;
    }
    std::size_t total = 0;
    for (ssize_t got; (got = read(fileno(pipe), buffer.data(), buffer.size())) > 0;) {
      total += static_cast<std::size_t>(got);
    }
    pclose(pipe);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (total != text_bytes) {
      state.SkipWithError("the stand-in did not print the text");
      break;
    }
  }
}

void BM_ProgramNoDevice(benchmark::State& state) {
  Workspace workspace;
  if (!Prepare(state, workspace)) return;
  for (auto _ : state) {
    Run run;
    if (!RunProgram(workspace.dir(), false, run) || run.out != kNoDevice ||
        run.exit_status != 255) {
      state.SkipWithError("the program did not give the no-device verdict");
      break;
    }
    state.SetIterationTime(run.seconds);
  }
}

BENCHMARK(BM_ProgramOnInfoText)
    ->ArgName("mebibytes")
    ->Arg(200)
    ->Arg(400)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StandinOutputAlone)
    ->ArgName("mebibytes")
    ->Arg(200)
    ->Arg(400)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramNoDevice)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], kLaunchFlag) == 0) return LaunchTimed(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
