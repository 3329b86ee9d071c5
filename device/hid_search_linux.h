// The hidraw search's pure steps, apart so that they can be tested on text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the IDs from a HID device's uevent text, whose line
// "HID_ID=0003:000028DE:00002300" holds bus, vendor and product in hex.
// Returns false when the line is missing or malformed.
bool ParseHidId(const std::string& uevent_text, std::uint32_t& vendor_id,
                std::uint32_t& product_id);

// True when the uevent text names exactly these IDs.
bool AttributesMatch(const std::string& uevent_text, std::uint32_t vendor_id,
                     std::uint32_t product_id);

// Keeps the "hidrawN" names and orders them by N, so that the first match is
// the same on every search whatever order the directory lists them in.
std::vector<std::string> OrderHidrawNodes(std::vector<std::string> names);
