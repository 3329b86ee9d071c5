// Test helper: writes chosen bytes, so that the command runner's tests need
// no shell utility and read the same on every platform. Operations run in
// order:
//   -o TEXT         TEXT to standard output
//   -e TEXT         TEXT to standard error
//   -r COUNT TEXT   TEXT COUNT times to standard output
//   -z COUNT        COUNT zero bytes to standard output, stopping quietly at
//                   the first write that fails (the reader has gone)
//   -t PATH         creates PATH (a mark that the program got this far)
// TEXT may hold \r, \n, \\ and \xHH. Output is binary: no byte is changed.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <csignal>
#endif

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const char* text, std::string& bytes) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '\\') {
      bytes.push_back(*p);
      continue;
    }
    ++p;
    if (*p == 'r')
      bytes.push_back('\r');
    else if (*p == 'n')
      bytes.push_back('\n');
    else if (*p == '\\')
      bytes.push_back('\\');
    else if (*p == 'x' && HexDigit(p[1]) >= 0 && HexDigit(p[2]) >= 0) {
      bytes.push_back(static_cast<char>(HexDigit(p[1]) * 16 + HexDigit(p[2])));
      p += 2;
    } else {
      return false;
    }
  }
  return true;
}

bool Write(std::FILE* stream, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
         std::fflush(stream) == 0;
}

int Usage() {
  std::fputs("usage: emit_bytes [-o TEXT | -e TEXT | -r COUNT TEXT | -z COUNT | -t PATH]...\n",
             stderr);
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#else
  std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is a failed write, not the end
#endif
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const int operands = option == "-r" ? 2 : 1;
    if (i + operands >= argc) return Usage();
    std::string bytes;
    if (option == "-o" || option == "-e") {
      if (!Unescape(argv[++i], bytes)) return Usage();
      Write(option == "-o" ? stdout : stderr, bytes);
    } else if (option == "-r") {
      const unsigned long count = std::strtoul(argv[++i], nullptr, 10);
      if (!Unescape(argv[++i], bytes)) return Usage();
      std::string all;
      for (unsigned long n = 0; n < count; ++n) all += bytes;
      Write(stdout, all);
    } else if (option == "-z") {
      std::size_t left = std::strtoul(argv[++i], nullptr, 10);
      const std::string zeros(4096, '\0');
      while (left > 0) {
        const std::size_t piece = left < zeros.size() ? left : zeros.size();
        if (!Write(stdout, zeros.substr(0, piece))) break;
        left -= piece;
      }
    } else if (option == "-t") {
      std::FILE* mark = std::fopen(argv[++i], "wb");
      if (mark == nullptr) return 1;
      std::fclose(mark);
    } else {
      return Usage();
    }
  }
  return 0;
}
