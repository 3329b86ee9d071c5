// The capture of a command's output against its two limits: reading the same
// pipe and throwing the data away, and a first write to as much fresh memory.
// Peak memory is measured in a fresh process of its own, so that nothing else
// this benchmark holds is counted.
#include "command_runner.h"

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr std::size_t kMebibytes = 200;
constexpr std::size_t kOutputBytes = kMebibytes << 20;
constexpr char kPeakFlag[] = "--peak-of-capture";

std::string WriterCommand(std::size_t mebibytes = kMebibytes) {
  return std::string("'") + TEXT_WRITER_PATH + "' " + std::to_string(mebibytes);
}

// The peak resident set of this process so far, in bytes.
std::size_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

void BM_RunCommand(benchmark::State& state) {
  const std::string command = WriterCommand();
  for (auto _ : state) {
    const std::string output = RunCommand(command);
    // Every other line loses its CR; a short capture would be no figure.
    if (output.size() < kOutputBytes * 49 / 50 || output.size() >= kOutputBytes) {
      state.SkipWithError("the capture is not the command's output");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kOutputBytes));
}

void BM_PipeReadLimit(benchmark::State& state) {
  const std::string command = WriterCommand();
  std::vector<char> buffer(kReadBufferSize);
  for (auto _ : state) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
      state.SkipWithError("popen failed");
      break;
    }
    std::size_t total = 0;
    for (ssize_t got; (got = read(fileno(pipe), buffer.data(), buffer.size())) > 0;) {
      total += static_cast<std::size_t>(got);
    }
    pclose(pipe);
    if (total != kOutputBytes) {
      state.SkipWithError("the pipe did not deliver the command's output");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kOutputBytes));
}

void BM_FreshMemoryLimit(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<char[]> memory(new char[kOutputBytes]);
    std::memset(memory.get(), 'x', kOutputBytes);
    benchmark::DoNotOptimize(memory.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kOutputBytes));
}

// Runs this program again to capture once and report its peak; the counters
// are that peak and the size of what it captured. The peak depends on where
// the text's last doubling falls, so other sizes than the goal's are shown.
void BM_RunCommandPeakMemory(benchmark::State& state) {
  for (auto _ : state) {
    const std::string self = "/proc/self/exe";
    const std::string report_path = "/tmp/capture_bench_peak." + std::to_string(getpid());
    const std::string mebibytes = std::to_string(state.range(0));
    char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>(kPeakFlag),
                    const_cast<char*>(report_path.c_str()), const_cast<char*>(mebibytes.c_str()),
                    nullptr};
    pid_t child = 0;
    int status = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, environ) != 0 ||
        waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("the measuring process failed");
      break;
    }
    std::ifstream report(report_path);
    double peak = 0, output = 0;
    report >> peak >> output;
    std::remove(report_path.c_str());
    if (output <= 0) {
      state.SkipWithError("no report from the measuring process");
      break;
    }
    state.counters["peak_bytes"] = peak;
    state.counters["output_bytes"] = output;
    state.counters["peak_per_output_byte"] = peak / output;
  }
}

void Timed(benchmark::internal::Benchmark* bench) {
  bench->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5);
}

BENCHMARK(BM_RunCommand)->Apply(Timed);
BENCHMARK(BM_PipeReadLimit)->Apply(Timed);
BENCHMARK(BM_FreshMemoryLimit)->Apply(Timed);
BENCHMARK(BM_RunCommandPeakMemory)
    ->ArgName("mebibytes")
    ->Arg(200)
    ->Arg(100)
    ->Arg(150)
    ->Arg(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], kPeakFlag) == 0) {
    const std::string output = RunCommand(WriterCommand(std::stoul(argv[3])));
    std::ofstream report(argv[2]);
    report << PeakResidentBytes() << ' ' << output.size() << '\n';
    return report ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
