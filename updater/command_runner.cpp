#include "command_runner.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define OpenProcessPipe(command) _popen((command), "rb")
#define CloseProcessPipe _pclose
#define ReadDescriptor(fd, buffer, size) _read((fd), (buffer), static_cast<unsigned>(size))
#define DescriptorOf _fileno
#else
#include <unistd.h>
#define OpenProcessPipe(command) popen((command), "r")
#define CloseProcessPipe pclose
#define ReadDescriptor(fd, buffer, size) read((fd), (buffer), (size))
#define DescriptorOf fileno
#endif

std::string ComposeCommand(const char* format, ...) {
  char buffer[kCommandBufferSize] = {};
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  return std::string(buffer);
}

std::string RunCommand(const std::string& command_line) {
  std::string output;
  CaptureCommandOutput(command_line, output);
  return output;
}

bool CaptureCommandOutput(const std::string& command_line, std::string& output) {
  output.clear();
  // The pipe is read binary and decoded here, so that every platform delivers
  // the same text; reading the descriptor directly skips the stream's small
  // buffer.
  std::FILE* pipe = OpenProcessPipe(command_line.c_str());
  if (pipe == nullptr) {
    output = kRunCommandFailure;
    return false;
  }

  std::vector<char> buffer(kReadBufferSize);
  const int fd = DescriptorOf(pipe);
  TextModeDecoder decoder;
  for (;;) {
    const auto got = ReadDescriptor(fd, buffer.data(), buffer.size());
    if (got <= 0) {
#if !defined(_WIN32)
      if (got < 0 && errno == EINTR) continue;
#endif
      break;
    }
    if (!DecodeTextModeChunk(decoder, buffer.data(), static_cast<std::size_t>(got), output)) {
      break;
    }
  }
  FinishTextModeDecoding(decoder, output);
  // Closes the reading end first, so a command still writing after a 0x1A
  // gets an error instead of blocking, then waits for it to end.
  CloseProcessPipe(pipe);
  return true;
}
