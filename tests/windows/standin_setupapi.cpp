// Test-only setupapi.dll: serves the HID interfaces of the testbed folder
// (see standin_testbed.h) and logs every call with what it was given, so that
// the end-to-end tests can check how the program uses the interface. It finds
// each detail buffer on the process heaps, to log the size allocated and to
// check that the buffer was freed before the search went on.
#define _SETUPAPI_  // these definitions are the exports, not imports
#include <windows.h>
// after windows.h
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "standin_testbed.h"

namespace {
const GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct Interface {
  std::wstring path;
  std::string text;  // the file's text when the set was made
};

struct DeviceSet {
  std::vector<Interface> interfaces;
  bool released = false;
};

std::map<ULONG_PTR, DeviceSet> sets;  // by handle value; released sets stay, marked
ULONG_PTR next_set = 0x5e70;

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", value);
  return text;
}

std::string Pointer(const void* pointer) { return pointer == nullptr ? "null" : "set"; }

bool AllZero(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

// The process heap block that starts at `block`, if any: the program's
// runtime allocates from one of them.
bool FindHeapBlock(const void* block, HANDLE& heap, SIZE_T& size) {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (HeapValidate(heaps[i], 0, block)) {
      heap = heaps[i];
      size = HeapSize(heaps[i], 0, block);
      return true;
    }
  }
  return false;
}

struct DetailBuffer {
  HANDLE heap;
  const void* block;
  std::string device;
};
std::vector<DetailBuffer> detail_buffers;  // handed in, not yet seen freed

// Logs "unfreed" for every detail buffer still allocated, then forgets them.
void CheckBuffersFreed(const char* when) {
  for (const DetailBuffer& each : detail_buffers) {
    if (HeapValidate(each.heap, 0, each.block)) {
      standin::Log("unfreed device=" + each.device + " at=" + when);
    }
  }
  detail_buffers.clear();
}

// Asks the stand-in hid.dll whether every handle it has seen is closed by now.
void CheckHandlesClosed(const char* when) {
  CheckBuffersFreed(when);
  using Check = int(WINAPI*)(const char*);
  const HMODULE hid = GetModuleHandleW(L"hid.dll");
  if (hid == nullptr) return;
  const auto check = reinterpret_cast<Check>(
      reinterpret_cast<void*>(GetProcAddress(hid, "StandinCheckHandlesClosed")));
  if (check != nullptr) check(when);
}

DeviceSet* FindSet(HDEVINFO handle) {
  const auto it = sets.find(reinterpret_cast<ULONG_PTR>(handle));
  if (it == sets.end() || it->second.released) return nullptr;
  return &it->second;
}

std::vector<Interface> ListInterfaces() {
  const std::wstring folder = standin::TestbedFolder() + L"devices\\";
  std::vector<Interface> found;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::wstring path = folder + entry.cFileName;
    found.push_back({path, standin::ReadWholeFile(path)});
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  std::sort(found.begin(), found.end(),
            [](const Interface& a, const Interface& b) { return a.path < b.path; });
  return found;
}

std::string NameOf(const Interface& member) {
  return standin::Narrow(member.path.substr(member.path.find_last_of(L'\\') + 1));
}

// The set and member index an interface record was filled for, or false.
bool RecordOf(PSP_DEVICE_INTERFACE_DATA data, ULONG_PTR& set, DWORD& index) {
  if (data == nullptr || data->Reserved == 0) return false;
  set = data->Reserved >> 16;
  index = static_cast<DWORD>(data->Reserved & 0xFFFF) - 1;
  return true;
}
}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* class_guid, PCWSTR enumerator, HWND parent,
                                     DWORD flags) {
  std::string line =
      "classdevs guid=" +
      std::string(class_guid != nullptr && IsEqualGUID(*class_guid, kHidGuid) ? "hid" : "other") +
      " enumerator=" + Pointer(enumerator) + " parent=" + Pointer(parent) + " flags=" + Hex(flags);
  if (standin::FileExists(standin::TestbedFolder() + L"fail_classdevs")) {
    standin::Log(line + " -> invalid");
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const ULONG_PTR handle = next_set++;
  sets[handle].interfaces = ListInterfaces();
  standin::Log(line + " -> set=" + Hex(handle) +
               " interfaces=" + std::to_string(sets[handle].interfaces.size()));
  return reinterpret_cast<HDEVINFO>(handle);
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA info,
                                           const GUID* class_guid, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data) {
  CheckHandlesClosed("enum");
  std::string line =
      "enum set=" + Hex(reinterpret_cast<ULONG_PTR>(handle)) + " info=" + Pointer(info) +
      " guid=" + (class_guid != nullptr && IsEqualGUID(*class_guid, kHidGuid) ? "hid" : "other") +
      " index=" + std::to_string(index);
  if (data != nullptr) {
    line += " cbSize=" + std::to_string(data->cbSize) + " rest=" +
            (AllZero(reinterpret_cast<const char*>(data) + sizeof data->cbSize,
                     sizeof *data - sizeof data->cbSize)
                 ? "zero"
                 : "dirty");
  }
  DeviceSet* set = FindSet(handle);
  if (set == nullptr || data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    standin::Log(line + " -> bad");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (standin::FileExists(standin::TestbedFolder() + L"fail_enum")) {
    standin::Log(line + " -> fail");
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (index >= set->interfaces.size()) {
    standin::Log(line + " -> end");
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->InterfaceClassGuid = kHidGuid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = (reinterpret_cast<ULONG_PTR>(handle) << 16) | (index + 1);
  standin::Log(line + " -> ok device=" + NameOf(set->interfaces[index]));
  return TRUE;
}

WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                DWORD detail_size, PDWORD required_size,
                                                PSP_DEVINFO_DATA info) {
  std::string line = "detail set=" + Hex(reinterpret_cast<ULONG_PTR>(handle)) +
                     " buffer=" + Pointer(detail) + " size=" + std::to_string(detail_size) +
                     " required=" + Pointer(required_size) + " info=" + Pointer(info);
  ULONG_PTR record_set = 0;
  DWORD index = 0;
  DeviceSet* set = FindSet(handle);
  if (set == nullptr || !RecordOf(data, record_set, index) ||
      record_set != reinterpret_cast<ULONG_PTR>(handle) || index >= set->interfaces.size()) {
    standin::Log(line + " -> bad");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Interface& member = set->interfaces[index];
  line += " index=" + std::to_string(index) + " device=" + NameOf(member);
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                          (member.path.size() + 1) * sizeof(WCHAR));
  if (detail == nullptr) {
    if (standin::HasWord(member.text, "nosize")) {
      standin::Log(line + " -> nosize");
    } else {
      const DWORD reported = standin::HasWord(member.text, "zerosize")   ? 0
                             : standin::HasWord(member.text, "tinysize") ? 2
                                                                         : needed;
      if (required_size != nullptr) *required_size = reported;
      standin::Log(line + " -> need=" + std::to_string(reported));
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  HANDLE heap = nullptr;
  SIZE_T block_size = 0;
  if (FindHeapBlock(detail, heap, block_size)) {
    detail_buffers.push_back({heap, detail, NameOf(member)});
    line += " block=" + std::to_string(block_size);
  } else {
    line += " block=unknown";
  }
  line += " cbSize=" + std::to_string(detail_size >= sizeof(DWORD) ? detail->cbSize : 0) +
          " rest=" +
          (detail_size >= sizeof(DWORD) &&
                   AllZero(reinterpret_cast<const char*>(detail) + sizeof(DWORD),
                           detail_size - sizeof(DWORD))
               ? "zero"
               : "dirty");
  if (detail_size < sizeof(DWORD) || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    standin::Log(line + " -> badsize");
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (detail_size < needed) {
    standin::Log(line + " -> short");
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (standin::HasWord(member.text, "faildetail")) {
    standin::Log(line + " -> fail");
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  std::copy(member.path.begin(), member.path.end(), detail->DevicePath);
  detail->DevicePath[member.path.size()] = L'\0';
  if (required_size != nullptr) *required_size = needed;
  standin::Log(line + " -> ok");
  return TRUE;
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  CheckHandlesClosed("destroy");
  DeviceSet* set = FindSet(handle);
  standin::Log("destroy set=" + Hex(reinterpret_cast<ULONG_PTR>(handle)) +
               (set == nullptr ? " -> bad" : " -> ok"));
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  set->released = true;
  return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {
    std::size_t open = 0;
    for (const auto& entry : sets) open += entry.second.released ? 0 : 1;
    standin::Log("exit sets_open=" + std::to_string(open));
  }
  return TRUE;
}

}  // extern "C"
