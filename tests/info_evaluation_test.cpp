#include "update_procedure.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ExtractCase {
  const char* name;
  std::string text;
  std::string label;
  int status;
  std::string line;  // expected line; on failure the untouched sentinel
};

const std::string kUntouched = "untouched";

const ExtractCase kExtractCases[] = {
    {"second_line", "banner\nHardware revision:  84020006\n", "Hardware revision: ", 0,
     "Hardware revision:  84020006"},
    {"first_line_never_examined", "Hardware revision:  84020006\nother\n", "Hardware revision: ",
     -1, kUntouched},
    {"first_non_empty_line_is_the_skipped_one", "\n\nHardware revision: 1\nHardware revision: 2\n",
     "Hardware revision: ", 0, "Hardware revision: 2"},
    {"blank_lines_between", "banner\n\n\n\nx\n\n\nBootloader version: 7\n\n", "Bootloader version: ",
     0, "Bootloader version: 7"},
    {"label_anywhere_in_the_line", "b\n  -> Bootloader version: 9 <-\n", "Bootloader version: ", 0,
     "  -> Bootloader version: 9 <-"},
    {"first_matching_line_wins", "b\nBootloader version: 1\nBootloader version: 2",
     "Bootloader version: ", 0, "Bootloader version: 1"},
    {"last_line_without_newline", "b\nBootloader version: 3", "Bootloader version: ", 0,
     "Bootloader version: 3"},
    {"label_without_its_blank", "b\nHardware revision:\n", "Hardware revision: ", -1, kUntouched},
    {"empty_text", "", "Hardware revision: ", -1, kUntouched},
    {"only_newlines", "\n\n\n", "Hardware revision: ", -1, kUntouched},
    {"single_line", "Hardware revision:  84020006", "Hardware revision: ", -1, kUntouched},
    {"cr_is_part_of_the_line", "b\nBootloader version: 1\r\n", "Bootloader version: ", 0,
     "Bootloader version: 1\r"},
    {"zero_byte_is_an_ordinary_byte", std::string("b\nx\0Bootloader version: 5\n", 26),
     "Bootloader version: ", 0, std::string("x\0Bootloader version: 5", 23)},
};

class ExtractLabelledLineTest : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractLabelledLineTest, FindsTheFirstLabelledLineAfterTheFirstLine) {
  const ExtractCase& c = GetParam();
  std::string line = kUntouched;
  EXPECT_EQ(ExtractLabelledLine(c.text, c.label, line), c.status);
  EXPECT_EQ(line, c.line);
}

INSTANTIATE_TEST_SUITE_P(Table, ExtractLabelledLineTest, testing::ValuesIn(kExtractCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct VerdictCase {
  const char* name;
  std::string info;
  InfoVerdict verdict;
};

const std::string kBanner = "Updater 1.0\n";
const std::string kHardware = "Hardware revision:  84020006\n";
const std::string kLatest = "Bootloader version: 1526361203\n";
const std::string kOlder = "Bootloader version: 1400000000\n";

const VerdictCase kVerdictCases[] = {
    {"up_to_date", kBanner + kHardware + kLatest, InfoVerdict::kUpToDate},
    {"older_needs_flash", kBanner + kHardware + kOlder, InfoVerdict::kNeedsFlash},
    {"newer_number_still_flashes", kBanner + kHardware + "Bootloader version: 1999999999\n",
     InfoVerdict::kNeedsFlash},
    {"trailing_blank_on_version_flashes", kBanner + kHardware + "Bootloader version: 1526361203 \n",
     InfoVerdict::kNeedsFlash},
    {"bootloader_before_hardware", kBanner + kLatest + kHardware, InfoVerdict::kUpToDate},
    {"blank_lines_everywhere", "\n\n" + kBanner + "\n\n" + kHardware + "\n\n" + kLatest + "\n\n",
     InfoVerdict::kUpToDate},
    {"one_blank_in_hardware_line", kBanner + "Hardware revision: 84020006\n" + kLatest,
     InfoVerdict::kUnsupported},
    {"trailing_blank_on_hardware_line", kBanner + "Hardware revision:  84020006 \n" + kLatest,
     InfoVerdict::kUnsupported},
    {"other_hardware", kBanner + "Hardware revision:  84020007\n" + kLatest,
     InfoVerdict::kUnsupported},
    {"hardware_only_on_first_line", kHardware + kLatest, InfoVerdict::kUnsupported},
    {"hardware_label_without_blank", kBanner + "Hardware revision:\n" + kLatest,
     InfoVerdict::kUnsupported},
    {"no_bootloader_label", kBanner + kHardware, InfoVerdict::kUnsupported},
    {"no_labels", "Error", InfoVerdict::kUnsupported},
    {"empty", "", InfoVerdict::kUnsupported},
    {"hardware_line_with_cr", kBanner + "Hardware revision:  84020006\r\n" + kLatest,
     InfoVerdict::kUnsupported},
};

class EvaluateInfoTextTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(EvaluateInfoTextTest, GivesTheVerdict) {
  EXPECT_EQ(EvaluateInfoText(GetParam().info), GetParam().verdict);
}

INSTANTIATE_TEST_SUITE_P(Table, EvaluateInfoTextTest, testing::ValuesIn(kVerdictCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
