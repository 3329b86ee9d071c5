// Any info text gets exactly one verdict, the one the decision rules give when
// written out here over an explicit list of lines; and any label is extracted
// as that list says.
//
// Input layout: byte 0 gives the length of a label for the extraction check
// (0 to 31, cut to what is there); the label follows, then the info text.
#include "update_procedure.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Lines are the maximal runs of bytes other than '\n'; there are no empty
// lines. Zero bytes are ordinary bytes.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (const char c : text) {
    if (c != '\n') {
      line.push_back(c);
    } else if (!line.empty()) {
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The first line after the first one that holds label; false when none does.
bool LabelledLineByRule(const std::vector<std::string>& lines, const std::string& label,
                        std::string& line) {
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].find(label) != std::string::npos) {
      line = lines[i];
      return true;
    }
  }
  return false;
}

InfoVerdict VerdictByRule(const std::string& text) {
  if (text.find("Hardware revision:") == std::string::npos ||
      text.find("Bootloader version:") == std::string::npos) {
    return InfoVerdict::kUnsupported;
  }
  const std::vector<std::string> lines = SplitLines(text);
  std::string hardware;
  std::string bootloader;
  if (!LabelledLineByRule(lines, "Hardware revision: ", hardware) ||
      !LabelledLineByRule(lines, "Bootloader version: ", bootloader) ||
      hardware != "Hardware revision:  84020006") {
    return InfoVerdict::kUnsupported;
  }
  return bootloader == "Bootloader version: 1526361203" ? InfoVerdict::kUpToDate
                                                       : InfoVerdict::kNeedsFlash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t label_size = std::min<std::size_t>(data[0] % 32, size - 1);
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string label(bytes + 1, label_size);
  const std::string text(bytes + 1 + label_size, size - 1 - label_size);

  const InfoVerdict verdict = EvaluateInfoText(text);
  Require(verdict == InfoVerdict::kUnsupported || verdict == InfoVerdict::kUpToDate ||
          verdict == InfoVerdict::kNeedsFlash);
  Require(verdict == VerdictByRule(text));

  const std::vector<std::string> lines = SplitLines(text);
  std::string expected_line = "untouched";
  const bool found = LabelledLineByRule(lines, label, expected_line);
  std::string line = "untouched";
  Require(ExtractLabelledLine(text, label, line) == (found ? 0 : -1));
  Require(line == expected_line);
  return 0;
}
