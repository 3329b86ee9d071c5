// What the program passes to the outside updater tool. The tool is found by
// the command interpreter like any other command, so it is named bare.
#pragma once

inline constexpr char kUpdaterExecutable[] = "lighthouse_watchman_update.exe";

// Each format takes kUpdaterExecutable as its first %s.
inline constexpr char kEnterBootloaderFormat[] = "%s -bw3";   // device to bootloader mode
inline constexpr char kQueryInfoFormat[] = "%s -aw3";         // prints hardware and bootloader info
inline constexpr char kResumeControllerFormat[] = "%s -Rw3";  // device back to controller mode
inline constexpr char kFlashFormat[] = "%s --target=bootloader %s";  // second %s: firmware file
