// What the test-only stand-ins for setupapi.dll, hid.dll and the updater tool
// share: an emulated set of HID interfaces in a testbed folder beside them.
//
//   testbed\devices\<name>   one file per HID interface, listed in name
//                            order; its path is the device path. Its text is
//                            "VVVV PPPP" (vendor and product ID, hex) and
//                            optional words that make a call misbehave:
//                            nosize     the size query reports no size
//                            zerosize   the size query reports size 0
//                            tinysize   it reports 2, too small for any record
//                            faildetail the detail query fails
//                            failattributes  HidD_GetAttributes fails
//   testbed\fail_classdevs   when present, SetupDiGetClassDevsW fails
//   testbed\fail_enum        when present, SetupDiEnumDeviceInterfaces fails
//   testbed\log              written by the DLLs: one line per call
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <sstream>
#include <string>

namespace standin {

// The folder of the module that holds `address`, with a trailing backslash.
inline std::wstring ModuleFolder(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      static_cast<LPCWSTR>(address), &module);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

inline std::wstring TestbedFolder() {
  static const std::wstring folder =
      ModuleFolder(reinterpret_cast<const void*>(&TestbedFolder)) + L"testbed\\";
  return folder;
}

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file, or an empty text when it cannot be read.
inline std::string ReadWholeFile(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// Appends one line to testbed\log.
inline void Log(const std::string& line) {
  const std::wstring path = TestbedFolder() + L"log";
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

inline std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

// True when the whitespace-separated words of text include word.
inline bool HasWord(const std::string& text, const std::string& word) {
  std::istringstream words(text);
  std::string each;
  while (words >> each) {
    if (each == word) return true;
  }
  return false;
}

}  // namespace standin
