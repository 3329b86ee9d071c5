// Whether the supported device is attached, and in which mode, from a fresh
// search of the system's HID interfaces matched on vendor and product ID.
#pragma once

#include <cstdint>
#include <functional>

inline constexpr std::uint32_t kVendorId = 0x28DE;
inline constexpr std::uint32_t kControllerProductId = 0x2300;  // normal firmware
inline constexpr std::uint32_t kBootloaderProductId = 0x2301;  // bootloader
inline constexpr unsigned kPollIntervalMs = 1000;              // pause after each miss

// Printed by a detector asked to report absence, and by the workflow.
inline constexpr char kOnlySupportedDeviceMessage[] = "Korrind (2018) only.\n";

// True when a present HID interface reports exactly these IDs and can be
// opened for reading and writing. Searches afresh on every call.
bool FindHidDevice(std::uint32_t vendor_id, std::uint32_t product_id);

// Blocks the caller for the given time.
void PauseMilliseconds(unsigned milliseconds);

// One search for the mode's IDs. With report_absence nonzero, a miss prints
// kOnlySupportedDeviceMessage.
bool DetectControllerMode(std::uint8_t report_absence);
bool DetectBootloaderMode(std::uint8_t report_absence);

using Detector = std::function<bool(std::uint8_t report_absence)>;
using Pause = std::function<void(unsigned milliseconds)>;

// Calls the detector, quietly, exactly `attempts` times, pausing
// kPollIntervalMs after each miss (the last one too). Returns 0 when the last
// attempt found the device, -1 otherwise or when attempts is 0.
int PollUntilPresent(std::uint8_t attempts, const Detector& detector,
                     const Pause& pause = PauseMilliseconds);
