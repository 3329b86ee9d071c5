// Runs the updater tool's command lines through the system command interpreter
// and captures their standard output as text-mode reads deliver it.
#pragma once

#include <cstddef>
#include <string>

inline constexpr std::size_t kCommandBufferSize = 2048;  // a command line is at most 2047 bytes
inline constexpr std::size_t kReadBufferSize = 64 * 1024;  // bytes asked of the pipe per read

// What RunCommand returns when the pipe or the interpreter cannot be started.
inline constexpr char kRunCommandFailure[] = "Error";

// Formats a command line with snprintf semantics into a zero-filled buffer of
// kCommandBufferSize bytes; a longer result is cut to 2047 bytes.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string ComposeCommand(const char* format, ...);

// Runs command_line, waits for it to end and returns everything it wrote to
// standard output, decoded as text mode; kRunCommandFailure when it could not
// be started. Standard input and standard error stay the program's own.
std::string RunCommand(const std::string& command_line);

// RunCommand for callers that must tell a failed start from a tool that
// printed kRunCommandFailure: returns false, with output set to it, when the
// command could not be started.
bool CaptureCommandOutput(const std::string& command_line, std::string& output);

// Streaming text-mode decoding, the same on every platform: CR LF becomes LF,
// any other CR stays, and a 0x1A byte ends the data. Chunks may split anywhere.
struct TextModeDecoder {
  bool pending_cr = false;  // the last chunk ended in a CR not yet known to pair with LF
  bool ended = false;       // a 0x1A was seen: nothing more is data
};

// Appends the decoding of [data, data + size) to out. Returns false once the
// data has ended at a 0x1A byte (this chunk's or an earlier one's).
bool DecodeTextModeChunk(TextModeDecoder& decoder, const char* data, std::size_t size,
                         std::string& out);

// Flushes a CR left pending at the end of the data.
void FinishTextModeDecoding(TextModeDecoder& decoder, std::string& out);
