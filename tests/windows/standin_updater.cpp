// Test-only lighthouse_watchman_update.exe for the Windows end-to-end tests,
// the twin of tests/standin/lighthouse_watchman_update.exe. It logs each
// command line, moves the emulated device between controller (2300) and
// bootloader (2301) mode and prints chosen output, all from files in the
// testbed folder beside it:
//   info, flash        printed on -aw3 and on --target=bootloader, byte for byte
//   boot_delay, resume_delay   "never": the mode does not change (else at once)
//   calls              written by it: one line per call, the arguments it got
//   product            written by it: the product ID it set last
// A mode change rewrites the IDs of every testbed\devices file that names the
// device in either mode and keeps the rest of its text.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "standin_testbed.h"

namespace {
const std::wstring kFolder = standin::TestbedFolder();

void WriteWholeFile(const std::wstring& path, const std::string& text) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void AppendCall(const std::string& arguments) {
  std::string calls = standin::ReadWholeFile(kFolder + L"calls");
  WriteWholeFile(kFolder + L"calls", calls + arguments + "\n");
}

void SetProduct(const char* product) {
  WriteWholeFile(kFolder + L"product", std::string(product) + "\n");
  const std::wstring devices = kFolder + L"devices\\";
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((devices + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring path = devices + entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    std::string text = standin::ReadWholeFile(path);
    if (text.compare(0, 9, "28DE 2300") == 0 || text.compare(0, 9, "28DE 2301") == 0) {
      WriteWholeFile(path, "28DE " + std::string(product) + text.substr(9));
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

void ChangeMode(const char* product, const wchar_t* delay_file) {
  const std::string delay = standin::ReadWholeFile(kFolder + delay_file);
  if (delay.compare(0, 5, "never") == 0) return;
  SetProduct(product);
}

void Print(const wchar_t* file) {
  const std::string text = standin::ReadWholeFile(kFolder + file);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // the chosen bytes, unchanged
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += (i > 1 ? " " : "") + std::string(argv[i]);
  AppendCall(arguments);

  if (arguments == "-bw3") {
    ChangeMode("2301", L"boot_delay");
  } else if (arguments == "-Rw3") {
    ChangeMode("2300", L"resume_delay");
  } else if (arguments == "-aw3") {
    Print(L"info");
  } else if (arguments == "--target=bootloader zandor_korrind_bootloader.fw") {
    Print(L"flash");
  } else {
    std::fprintf(stderr, "stand-in: unexpected arguments: %s\n", arguments.c_str());
    return 2;
  }
  return 0;
}
