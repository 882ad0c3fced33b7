// Whole-program tests of the input dialogue: the banner and prompt come
// before any input is read, and every bad input ends with its exact message
// and status 1 before any design is made.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "driver/expected_banner.h"
#include "driver/run_program.h"

namespace {

using test_driver::run_program;
using test_driver::temp_dir;

const std::string& banner = test_driver::expected_banner;

struct refused_input {
  std::string input;
  std::string message;
};

class RefusedInput : public testing::TestWithParam<refused_input> {};

// "03_10_minus0_5_0_05" for case 3, input "10 -0.5 0.05": the case number
// keeps names unique where inputs differ only in separators.
std::string case_name(const testing::TestParamInfo<refused_input>& info) {
  std::string name = (info.index < 10 ? "0" : "") + std::to_string(info.index);
  bool gap = true;
  for (const char c : info.param.input) {
    if (name.size() >= 32) break;
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      if (gap) name += '_';
      name += c;
      gap = false;
    } else if (c == '-') {
      name += "_minus";
      gap = false;
    } else {
      gap = true;
    }
  }
  return name;
}

TEST_P(RefusedInput, PrintsBannerThenMessageAndExitsOne) {
  const temp_dir dir;
  const auto r = run_program(GetParam().input, dir.path());
  EXPECT_EQ(r.out, banner + GetParam().message);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "_bndry_.dat"));
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, RefusedInput,
    testing::Values(
        refused_input{"0 0.2 0.05\n", "ReadData: n = 0 is outside [1:255]\n"},
        refused_input{"256 0.2 0.05\n", "ReadData: n = 256 is outside [1:255]\n"},
        refused_input{"-3\n", "ReadData: n = -3 is outside [1:255]\n"},
        refused_input{"ten 0.2 0.05\n", "int_read: input error.\n"},
        refused_input{"10 0 0.05\n", "ReadData: theta = 0 is outside (0,1)\n"},
        refused_input{"10 1 0.05\n", "ReadData: theta = 1 is outside (0,1)\n"},
        refused_input{"10 -0.5 0.05\n", "ReadData: theta = -0.5 is outside (0,1)\n"},
        refused_input{"10 abc 0.05\n", "dbl_read: input error.\n"},
        refused_input{"10 0.2 1\n", "ReadData: phi = 1 is outside (0,1)\n"},
        refused_input{"10 0.2 0\n", "ReadData: phi = 0 is outside (0,1)\n"},
        refused_input{"10 0.2 x\n", "dbl_read: input error.\n"},
        refused_input{"", "int_read: end of file error.\n"},
        refused_input{"  \n\t ", "int_read: end of file error.\n"},
        refused_input{"10", "dbl_read: end of file error.\n"},
        refused_input{"10 0.2\n", "dbl_read: end of file error.\n"},
        // A K beyond 255 is refused before THETA is read, however bad THETA is.
        refused_input{"256 garbage", "ReadData: n = 256 is outside [1:255]\n"}),
    case_name);

// A number must fill its whole token; before, "10.5 0.2 0.05" designed for
// K = 10, THETA = 0.5, PHI = 0.2.
INSTANTIATE_TEST_SUITE_P(
    HalfReadNumbers, RefusedInput,
    testing::Values(refused_input{"10.5 0.2 0.05\n", "int_read: input error.\n"},
                    refused_input{"10abc 0.2 0.05\n", "int_read: input error.\n"},
                    refused_input{"0x10 0.2 0.05\n", "int_read: input error.\n"},
                    refused_input{"2147483648 0.2 0.05\n", "int_read: input error.\n"},
                    refused_input{"-99999999999999999999 0.2 0.05\n", "int_read: input error.\n"},
                    refused_input{"10 0.2,0.05\n", "dbl_read: input error.\n"},
                    refused_input{"10 0.2abc 0.05\n", "dbl_read: input error.\n"},
                    refused_input{"10 0.2 0.05x\n", "dbl_read: input error.\n"},
                    refused_input{std::string("10 0.2\0 0.05", 11), "dbl_read: input error.\n"}),
    case_name);

// NaN passed both range tests before, since every comparison with it is false.
INSTANTIATE_TEST_SUITE_P(
    NotANumber, RefusedInput,
    testing::Values(refused_input{"10 nan 0.05\n", "ReadData: theta = nan is outside (0,1)\n"},
                    refused_input{"10 NAN(123) 0.05\n", "ReadData: theta = nan is outside (0,1)\n"},
                    refused_input{"10 0.2 nan\n", "ReadData: phi = nan is outside (0,1)\n"},
                    refused_input{"10 inf 0.05\n", "ReadData: theta = inf is outside (0,1)\n"},
                    refused_input{"10 0.2 -infinity\n", "ReadData: phi = -inf is outside (0,1)\n"}),
    case_name);

TEST(Dialogue, BannerComesBeforeAnyInputIsRead) {
  // Even with no input at all the whole banner and prompt are shown first.
  const temp_dir dir;
  const auto r = run_program("", dir.path());
  EXPECT_EQ(r.out.substr(0, banner.size()), banner);
}

// Two inputs that must design the same thing print the same run.
void expect_same_run(const std::string& first, const std::string& second) {
  const temp_dir a_dir;
  const temp_dir b_dir;
  const auto a = run_program(first, a_dir.path());
  const auto b = run_program(second, b_dir.path());
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(test_driver::mask_date(a.out), test_driver::mask_date(b.out));
}

TEST(Dialogue, NumbersOnSeparateLinesReadAsOnOneLine) {
  expect_same_run("3 0.3 0.2\n", "\n  3\n\n0.3\n\t0.2");
}

TEST(Dialogue, AcceptsEveryFormOfNumberThatFillsItsToken) {
  // Signs, a bare fraction, an exponent and a hexadecimal constant are read
  // as the conventional readers read them; 0x1.999999999999ap-3 is 0.2.
  expect_same_run("3 0.2 0.05\n", "+3 0x1.999999999999ap-3 5e-2\n");
  const temp_dir tiny;
  EXPECT_EQ(run_program("3 1e-9 .05", tiny.path()).status, 0);
}

}  // namespace
