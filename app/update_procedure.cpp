#include "update_procedure.h"

#include <cstdio>

#include "device_presence.h"
#include "command_runner.h"
#include "updater_tool.h"

namespace {
void PrintMessage(const char* message) {
  std::fputs(message, stdout);
  std::fflush(stdout);
}

bool Contains(const std::string& text, const char* label) {
  return text.find(label) != std::string::npos;
}
}  // namespace

int QueryDeviceInfo(InfoText& info_text) {
  if (PollUntilPresent(kFirstPresenceAttempts, DetectControllerMode) != 0) {
    PrintMessage(kOnlySupportedDeviceMessage);
    return -1;
  }
  // Whether the tool did its work is judged only by the polls that follow.
  RunCommand(ComposeCommand(kEnterBootloaderFormat, kUpdaterExecutable));
  if (PollUntilPresent(kModeChangeAttempts, DetectBootloaderMode) != 0) {
    PrintMessage(kCannotChangeModeMessage);
    return -1;
  }
  info_text = RunCommand(ComposeCommand(kQueryInfoFormat, kUpdaterExecutable));
  RunCommand(ComposeCommand(kResumeControllerFormat, kUpdaterExecutable));
  if (PollUntilPresent(kModeChangeAttempts, DetectControllerMode) != 0) {
    PrintMessage(kCannotResumeMessage);
    return -1;
  }
  return 0;
}

int ExtractLabelledLine(const std::string& text, const std::string& label, std::string& line) {
  // Lines are the runs between newlines; empty runs are no lines, and the
  // first line is never examined. The text is scanned once, in place.
  if (label.find('\n') != std::string::npos) return -1;  // no line can hold it
  const std::size_t first_line = text.find_first_not_of('\n');
  if (first_line == std::string::npos) return -1;
  const std::size_t after_first = text.find('\n', first_line);
  if (after_first == std::string::npos) return -1;

  std::size_t line_start;
  if (label.empty()) {
    line_start = text.find_first_not_of('\n', after_first);
    if (line_start == std::string::npos) return -1;
  } else {
    const std::size_t hit = text.find(label, after_first);
    if (hit == std::string::npos) return -1;
    line_start = text.rfind('\n', hit) + 1;
  }
  std::size_t line_end = text.find('\n', line_start);
  if (line_end == std::string::npos) line_end = text.size();
  line.assign(text, line_start, line_end - line_start);
  return 0;
}

InfoVerdict EvaluateInfoText(const InfoText& info_text) {
  if (!Contains(info_text, kHardwarePresenceLabel) ||
      !Contains(info_text, kBootloaderPresenceLabel)) {
    return InfoVerdict::kUnsupported;
  }
  std::string hardware_line;
  std::string bootloader_line;
  if (ExtractLabelledLine(info_text, kHardwareExtractionLabel, hardware_line) != 0 ||
      ExtractLabelledLine(info_text, kBootloaderExtractionLabel, bootloader_line) != 0) {
    return InfoVerdict::kUnsupported;
  }
  if (hardware_line != kSupportedHardwareLine) return InfoVerdict::kUnsupported;
  // Compared whole, as bytes: any other line, a newer number too, is flashed.
  if (bootloader_line == kLatestBootloaderLine) return InfoVerdict::kUpToDate;
  return InfoVerdict::kNeedsFlash;
}

int FlashBootloader() {
  if (!DetectControllerMode(1)) return -1;
  std::string output;
  const bool started =
      CaptureCommandOutput(ComposeCommand(kFlashFormat, kUpdaterExecutable, kFirmwareFile), output);
  // Written whole, so that no byte of it is taken for a format or an end.
  std::fwrite(output.data(), 1, output.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  // The tool's exit status is no verdict; only a flash that never started is.
  return started ? 0 : -1;
}

int RunUpdateProcedure() {
  InfoText info_text;
  if (QueryDeviceInfo(info_text) != 0) return -1;
  switch (EvaluateInfoText(info_text)) {
    case InfoVerdict::kUnsupported:
      PrintMessage(kOnlySupportedDeviceMessage);
      return -1;
    case InfoVerdict::kUpToDate:
      PrintMessage(kUpToDateMessage);
      return 0;
    case InfoVerdict::kNeedsFlash:
      break;
  }
  return FlashBootloader();
}
