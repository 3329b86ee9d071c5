// Info lines the stand-in tool prints, and the calls it logs, as the
// workflow and end-to-end scenarios use them.
#pragma once

#include <string>

inline const std::string kInfoBanner = "Updater for the emulated device\n";
inline const std::string kInfoHardware = "Hardware revision:  84020006\n";
inline const std::string kInfoLatest = "Bootloader version: 1526361203\n";
inline const std::string kInfoOlder = "Bootloader version: 1400000000\n";
inline const std::string kQueryCalls = "-bw3\n-aw3\n-Rw3\n";
inline const std::string kFlashCall = "--target=bootloader zandor_korrind_bootloader.fw\n";
