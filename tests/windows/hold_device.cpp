// Test helper: holds a file open for reading and writing, as another program
// holds a HID device, prints "held" and waits for the given seconds. Without
// "shared" it allows no other open at all, as a program that has taken the
// device for itself; with it, it shares reading and writing.
// Usage: hold_device PATH SECONDS [shared]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const bool shared = argc == 4 && std::strcmp(argv[3], "shared") == 0;
  if (argc != 3 && !shared) {
    std::fputs("usage: hold_device PATH SECONDS [shared]\n", stderr);
    return 2;
  }
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE,
                                  shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_device: cannot open %s\n", argv[1]);
    return 1;
  }
  std::puts("held");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10) * 1000));
  CloseHandle(file);
  return 0;
}
