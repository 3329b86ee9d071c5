// Test-only hid.dll: answers HidD_GetAttributes from the testbed file that the
// handle was opened on (see standin_testbed.h), read through that handle, and
// logs what it was given. It remembers the handles, so that the stand-in
// setupapi.dll can check that each was closed before the search went on.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "standin_testbed.h"

extern "C" {
#include <hidsdi.h>
}

namespace {
const GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct SeenHandle {
  HANDLE handle;
  std::string device;
};
std::vector<SeenHandle> seen;

std::string Hex(unsigned long value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*lX", digits, value);
  return text;
}

std::string DeviceName(HANDLE handle) {
  alignas(FILE_NAME_INFO) char buffer[sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(WCHAR)] = {};
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer);
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof buffer - sizeof(WCHAR))) {
    return "?";
  }
  const std::wstring name(info->FileName, info->FileNameLength / sizeof(WCHAR));
  return standin::Narrow(name.substr(name.find_last_of(L"\\/") + 1));
}

// The access the handle was opened with, as the kernel granted it.
unsigned long GrantedAccess(HANDLE handle) {
  PUBLIC_OBJECT_BASIC_INFORMATION info = {};
  ULONG length = 0;
  if (NtQueryObject(handle, ObjectBasicInformation, &info, sizeof info, &length) != 0) return 0;
  return info.GrantedAccess;
}

// Whether the handle was opened for overlapped I/O (no synchronous mode).
bool IsOverlapped(HANDLE handle) {
  constexpr int kFileModeInformation = 16;
  constexpr ULONG kSynchronousModes = 0x10 | 0x20;  // FILE_SYNCHRONOUS_IO_(NON)ALERT
  ULONG mode = 0;
  IO_STATUS_BLOCK status = {};
  if (NtQueryInformationFile(handle, &status, &mode, sizeof mode,
                             static_cast<FILE_INFORMATION_CLASS>(kFileModeInformation)) != 0) {
    return false;
  }
  return (mode & kSynchronousModes) == 0;
}

// Reads the file from its start through the (overlapped) handle.
bool ReadThroughHandle(HANDLE handle, std::string& text) {
  char buffer[256] = {};
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD got = 0;
  bool ok = ReadFile(handle, buffer, sizeof buffer - 1, nullptr, &overlapped) ||
            GetLastError() == ERROR_IO_PENDING;
  ok = ok && GetOverlappedResult(handle, &overlapped, &got, TRUE);
  CloseHandle(overlapped.hEvent);
  if (ok) text.assign(buffer, got);
  return ok;
}
}  // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID guid) {
  *guid = kHidGuid;
  standin::Log("hidguid");
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  const std::string device = DeviceName(handle);
  seen.push_back({handle, device});
  std::string line =
      "attributes device=" + device + " size=" + std::to_string(attributes->Size) + " rest=" +
      (attributes->VendorID == 0 && attributes->ProductID == 0 && attributes->VersionNumber == 0
           ? "zero"
           : "dirty") +
      " access=0x" + Hex(GrantedAccess(handle), 1) +
      " overlapped=" + (IsOverlapped(handle) ? "yes" : "no");
  std::string text;
  unsigned vendor = 0, product = 0;
  if (!ReadThroughHandle(handle, text) ||
      std::sscanf(text.c_str(), "%x %x", &vendor, &product) != 2 ||
      standin::HasWord(text, "failattributes")) {
    standin::Log(line + " -> fail");
    return FALSE;
  }
  attributes->Size = sizeof(HIDD_ATTRIBUTES);
  attributes->VendorID = static_cast<USHORT>(vendor);
  attributes->ProductID = static_cast<USHORT>(product);
  attributes->VersionNumber = 0x0100;
  standin::Log(line + " -> " + Hex(vendor, 4) + ":" + Hex(product, 4));
  return TRUE;
}

// For the stand-in setupapi.dll: logs "leak" for every handle seen by
// HidD_GetAttributes that is still open, then forgets them all. Returns the
// number of leaks.
int WINAPI StandinCheckHandlesClosed(const char* when) {
  int leaks = 0;
  for (const SeenHandle& each : seen) {
    DWORD flags = 0;
    if (GetHandleInformation(each.handle, &flags)) {
      ++leaks;
      standin::Log(std::string("leak device=") + each.device + " at=" + when);
    }
  }
  seen.clear();
  return leaks;
}

}  // extern "C"
