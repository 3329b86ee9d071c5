// The update workflow: query the device's info through the updater tool,
// refuse unsupported hardware, and flash the bootloader when it is not current.
#pragma once

#include <cstdint>
#include <string>

// The captured output of the info query, lines separated by "\n".
using InfoText = std::string;

inline constexpr char kFirmwareFile[] = "zandor_korrind_bootloader.fw";

inline constexpr std::uint8_t kFirstPresenceAttempts = 5;
inline constexpr std::uint8_t kModeChangeAttempts = 60;

inline constexpr char kHardwarePresenceLabel[] = "Hardware revision:";
inline constexpr char kHardwareExtractionLabel[] = "Hardware revision: ";
inline constexpr char kSupportedHardwareLine[] = "Hardware revision:  84020006";
inline constexpr char kBootloaderPresenceLabel[] = "Bootloader version:";
inline constexpr char kBootloaderExtractionLabel[] = "Bootloader version: ";
inline constexpr char kLatestBootloaderLine[] = "Bootloader version: 1526361203";

inline constexpr char kCannotChangeModeMessage[] = "Cannot change the mode.\n";
inline constexpr char kCannotResumeMessage[] =
    "Cannot resume the device. Please re-plug USB again.\n";
inline constexpr char kUpToDateMessage[] = "All have been update to the latest verison.";

enum class InfoVerdict { kUnsupported, kUpToDate, kNeedsFlash };

// Moves the device to bootloader mode, reads its info into info_text, and
// brings it back. Returns 0, or -1 after printing why the cycle failed.
int QueryDeviceInfo(InfoText& info_text);

// Assigns to line the first line from the second on (empty lines skipped)
// that contains label. Returns 0, or -1 with line unchanged when none does.
int ExtractLabelledLine(const std::string& text, const std::string& label, std::string& line);

// The decision over an info text; prints nothing.
InfoVerdict EvaluateInfoText(const InfoText& info_text);

// Flashes the bootloader and shows the tool's output. Returns 0 when the tool
// ran, -1 when no device was found or the command could not be started.
int FlashBootloader();

// The whole run: the program's exit status, 0 or -1.
int RunUpdateProcedure();
