// The SetupAPI search's per-interface steps, apart so that tests and readers
// can take them one at a time.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstdint>

// True when the interface's device path opens for reading and writing and the
// open device reports exactly these IDs. Releases its detail buffer and closes
// its handle before every return.
bool InterfaceMatches(HDEVINFO device_info_set, SP_DEVICE_INTERFACE_DATA& interface_data,
                      std::uint32_t vendor_id, std::uint32_t product_id);

// True when the attribute query on the open device succeeds and reports
// exactly these IDs; the version number is not looked at.
bool AttributesMatch(HANDLE device, std::uint32_t vendor_id, std::uint32_t product_id);
