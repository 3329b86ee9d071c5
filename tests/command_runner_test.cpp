#include "command_runner.h"

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // std::min, not the macro
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
constexpr char kNullDevice[] = "NUL";
constexpr char kHelperName[] = "emit_bytes.exe";
#else
constexpr char kNullDevice[] = "/dev/null";
constexpr char kHelperName[] = "emit_bytes";
#endif

// The folder of this test program, where the build puts emit_bytes too.
std::string ProgramFolder() {
  std::string path(4096, '\0');
#if defined(_WIN32)
  path.resize(GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of("\\/") + 1);
#else
  const ssize_t length = readlink("/proc/self/exe", &path[0], path.size());
  path.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return path.substr(0, path.rfind('/') + 1);
#endif
}

// One argument for the command interpreter, taken literally by it.
std::string Quoted(const std::string& argument) {
#if defined(_WIN32)
  return '"' + argument + '"';
#else
  return "'" + argument + "'";
#endif
}

// A command line that runs emit_bytes (see tests/tools/emit_bytes.cpp) with
// these arguments, the same on both platforms' interpreters.
std::string EmitBytes(const std::string& arguments) {
  std::string line = Quoted(ProgramFolder() + kHelperName) + " " + arguments;
#if defined(_WIN32)
  // cmd /c drops the first and the last quote of a line that starts with one.
  line = '"' + line + '"';
#endif
  return line;
}

std::string DecodeInChunks(const std::string& raw, std::size_t chunk_size) {
  TextModeDecoder decoder;
  std::string out;
  for (std::size_t pos = 0; pos < raw.size(); pos += chunk_size) {
    if (!DecodeTextModeChunk(decoder, raw.data() + pos, std::min(chunk_size, raw.size() - pos),
                             out)) {
      break;
    }
  }
  FinishTextModeDecoding(decoder, out);
  return out;
}

struct DecodeCase {
  const char* name;
  std::string raw;
  std::string decoded;
};

const DecodeCase kDecodeCases[] = {
    {"empty", "", ""},
    {"plain_lf", "a\nb\n", "a\nb\n"},
    {"crlf_becomes_lf", "Hardware revision:  84020006\r\nBootloader version: 1\r\n",
     "Hardware revision:  84020006\nBootloader version: 1\n"},
    {"cr_cr_lf_keeps_one_cr", "x\r\r\ny", "x\r\ny"},
    {"lone_cr_stays", "a\rb", "a\rb"},
    {"cr_at_end_stays", "a\r", "a\r"},
    {"ctrl_z_ends_data_mid_line", "ab\x1A" "cd\nef\n", "ab"},
    {"ctrl_z_after_cr", "a\r\x1A\n", "a\r"},
    {"ctrl_z_first", "\x1A" "abc", ""},
    {"zero_byte_kept", std::string("a\0b\r\nc", 6), std::string("a\0b\nc", 5)},
    {"lf_cr_is_no_pair", "a\n\rb", "a\n\rb"},
};

class TextModeDecodingTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(TextModeDecodingTest, DecodesTheSameWhateverTheReadBoundaries) {
  const DecodeCase& c = GetParam();
  for (std::size_t chunk = 1; chunk <= c.raw.size() + 1; ++chunk) {
    EXPECT_EQ(DecodeInChunks(c.raw, chunk), c.decoded) << "chunks of " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TextModeDecodingTest, testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextModeDecoding, CrEndingOneReadPairsWithLfStartingTheNext) {
  TextModeDecoder decoder;
  std::string out;
  EXPECT_TRUE(DecodeTextModeChunk(decoder, "line\r", 5, out));
  EXPECT_TRUE(DecodeTextModeChunk(decoder, "\nnext\r", 6, out));
  EXPECT_TRUE(DecodeTextModeChunk(decoder, "x", 1, out));
  FinishTextModeDecoding(decoder, out);
  EXPECT_EQ(out, "line\nnext\rx");
}

TEST(TextModeDecoding, NothingIsDataAfterCtrlZ) {
  TextModeDecoder decoder;
  std::string out;
  EXPECT_FALSE(DecodeTextModeChunk(decoder, "a\x1A", 2, out));
  EXPECT_FALSE(DecodeTextModeChunk(decoder, "more", 4, out));
  FinishTextModeDecoding(decoder, out);
  EXPECT_EQ(out, "a");
}

TEST(ComposeCommand, FormatsTheToolsCommandLines) {
  EXPECT_EQ(ComposeCommand("%s -bw3", "tool.exe"), "tool.exe -bw3");
  EXPECT_EQ(ComposeCommand("%s --target=bootloader %s", "tool.exe", "fw.bin"),
            "tool.exe --target=bootloader fw.bin");
}

TEST(ComposeCommand, CutsALongerLineTo2047Bytes) {
  const std::string long_name(3000, 'n');
  const std::string line = ComposeCommand("%s -aw3", long_name.c_str());
  EXPECT_EQ(line.size(), kCommandBufferSize - 1);
  EXPECT_EQ(line, long_name.substr(0, kCommandBufferSize - 1));

  const std::string fits(kCommandBufferSize - 1 - 5, 'f');
  EXPECT_EQ(ComposeCommand("%s -aw3", fits.c_str()), fits + " -aw3");
}

// The real pipe through /bin/sh or cmd.exe.
TEST(RunCommand, CapturesStandardOutputDecodedAsTextMode) {
  EXPECT_EQ(RunCommand(EmitBytes("-o " + Quoted("one\\r\\ntwo\\r\\r\\nthree"))),
            "one\ntwo\r\nthree");
}

TEST(RunCommand, ACommandThatWritesNothingGivesEmptyTextNotError) {
  EXPECT_EQ(RunCommand(EmitBytes("")), "");
  EXPECT_EQ(RunCommand("exit 3"), "");
}

TEST(RunCommand, AMissingCommandGivesOnlyWhatReachedStandardOutput) {
  EXPECT_EQ(RunCommand(std::string("no_such_command_anywhere_here 2>") + kNullDevice), "");
}

TEST(RunCommand, JoinsALineManyTimesTheReadBuffer) {
  const std::size_t length = 5 * kReadBufferSize + 17;
  const std::string output =
      RunCommand(EmitBytes("-r " + std::to_string(length) + " x -o " + Quoted("\\n")));
  EXPECT_EQ(output, std::string(length, 'x') + "\n");
}

TEST(RunCommand, KeepsZeroBytes) {
  EXPECT_EQ(RunCommand(EmitBytes("-o " + Quoted("a\\x00b\\n"))), std::string("a\0b\n", 4));
}

TEST(RunCommand, StopsAtCtrlZAndStillWaitsForTheCommand) {
  // The command writes far more than a pipe holds after the 0x1A, then leaves
  // a mark: the close must not block on it, and must wait until it has ended.
  const std::string mark = testing::TempDir() + "ctrl_z_mark";
  std::remove(mark.c_str());
  const std::string output = RunCommand(EmitBytes("-o " + Quoted("head\\x1Atail") +
                                                  " -z 4000000 -t " + Quoted(mark)));
  EXPECT_EQ(output, "head");
  std::FILE* file = std::fopen(mark.c_str(), "r");
  EXPECT_NE(file, nullptr) << "the close returned before the command ended";
  if (file != nullptr) std::fclose(file);
}

TEST(RunCommand, StandardErrorIsNotCaptured) {
  EXPECT_EQ(RunCommand(EmitBytes("-o " + Quoted("out\\n") + " -e " + Quoted("err\\n"))), "out\n");
}

}  // namespace
