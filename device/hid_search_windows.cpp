// The device search over SetupAPI and the HID library: every present HID
// interface, by member index, until one opens for reading and writing and
// reports the wanted IDs. No error code is read: any failure is a miss.
#include "device_presence.h"
#include "hid_search_windows.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
#include <hidsdi.h>  // declares its functions without a C linkage block
}

#if !defined(_WIN64)
// The record sizes that 32-bit Windows expects.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "interface data record size");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6, "detail record fixed size");
#endif

namespace {
struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
}  // namespace

bool AttributesMatch(HANDLE device, std::uint32_t vendor_id, std::uint32_t product_id) {
  // All zero before the query, the size field too.
  HIDD_ATTRIBUTES attributes;
  std::memset(&attributes, 0, sizeof attributes);
  if (!HidD_GetAttributes(device, &attributes)) return false;
  return static_cast<std::uint32_t>(attributes.VendorID) == vendor_id &&
         static_cast<std::uint32_t>(attributes.ProductID) == product_id;
}

bool InterfaceMatches(HDEVINFO device_info_set, SP_DEVICE_INTERFACE_DATA& interface_data,
                      std::uint32_t vendor_id, std::uint32_t product_id) {
  // The size call fails by design; only the size it reports counts, and a
  // call that reports none leaves it at zero.
  DWORD required_size = 0;
  SetupDiGetDeviceInterfaceDetailW(device_info_set, &interface_data, nullptr, 0, &required_size,
                                   nullptr);

  std::unique_ptr<void, FreeDeleter> buffer(std::malloc(required_size));
  if (!buffer) return false;
  // A buffer that cannot hold the size field cannot be handed on either.
  if (required_size == 0 || required_size < sizeof(DWORD)) return false;
  std::memset(buffer.get(), 0, required_size);
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.get());
  // The fixed part's size (6 on 32-bit Windows), not the buffer's.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(device_info_set, &interface_data, detail, required_size,
                                        nullptr, nullptr)) {
    return false;
  }

  // Fails too when another program holds the device exclusively.
  const HANDLE device = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  const bool match = AttributesMatch(device, vendor_id, product_id);
  CloseHandle(device);
  return match;
}

bool FindHidDevice(std::uint32_t vendor_id, std::uint32_t product_id) {
  GUID hid_guid;
  HidD_GetHidGuid(&hid_guid);
  const HDEVINFO device_info_set =
      SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (device_info_set == INVALID_HANDLE_VALUE) return false;

  bool found = false;
  for (DWORD member_index = 0;; ++member_index) {
    SP_DEVICE_INTERFACE_DATA interface_data;
    std::memset(&interface_data, 0, sizeof interface_data);
    interface_data.cbSize = sizeof interface_data;
    // False past the last interface, and on any other failure: either ends it.
    if (!SetupDiEnumDeviceInterfaces(device_info_set, nullptr, &hid_guid, member_index,
                                     &interface_data)) {
      break;
    }
    if (InterfaceMatches(device_info_set, interface_data, vendor_id, product_id)) {
      found = true;
      break;
    }
  }
  SetupDiDestroyDeviceInfoList(device_info_set);
  return found;
}

void PauseMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }
