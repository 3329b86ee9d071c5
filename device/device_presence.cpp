// The detectors and the polling loop: the same on every platform.
#include "device_presence.h"

#include <cstdio>

namespace {
bool DetectMode(std::uint32_t product_id, std::uint8_t report_absence) {
  const bool found = FindHidDevice(kVendorId, product_id);
  if (!found && report_absence != 0) {
    std::fputs(kOnlySupportedDeviceMessage, stdout);
    std::fflush(stdout);
  }
  return found;
}
}  // namespace

bool DetectControllerMode(std::uint8_t report_absence) {
  return DetectMode(kControllerProductId, report_absence);
}

bool DetectBootloaderMode(std::uint8_t report_absence) {
  return DetectMode(kBootloaderProductId, report_absence);
}

int PollUntilPresent(std::uint8_t attempts, const Detector& detector, const Pause& pause) {
  if (attempts == 0) return -1;
  bool present = false;
  // Every attempt is made: only the last one decides, so a device that shows
  // up and goes away again before the end counts as absent.
  for (unsigned attempt = 0; attempt < attempts; ++attempt) {
    present = detector(0);
    if (!present) pause(kPollIntervalMs);
  }
  return present ? 0 : -1;
}
