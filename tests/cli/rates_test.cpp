// The grammar of the command line's numbers and --oc rate lists: whole
// tokens only, ranges stepped in exact decimal, order kept, limits enforced.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/internal.h"

namespace {

using cli::parse_rates;

std::string failure(const std::string& text) {
  try {
    parse_rates(text);
  } catch (const cli::error& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(Numbers, MustFillTheWholeToken) {
  EXPECT_EQ(cli::parse_int("10"), 10);
  EXPECT_EQ(cli::parse_int("+7"), 7);
  EXPECT_EQ(cli::parse_int("-1"), -1);
  for (const char* bad : {"10.5", "1e1", "10 ", " 10", "", "+", "0x10", "2147483648", "ten"})
    EXPECT_FALSE(cli::parse_int(bad)) << bad;
  EXPECT_EQ(cli::parse_number("0.2"), 0.2);
  EXPECT_EQ(cli::parse_number(".05"), 0.05);
  EXPECT_EQ(cli::parse_number("5e-2"), 0.05);
  EXPECT_EQ(cli::parse_number("5."), 5.0);
  for (const char* bad : {"0.2abc", "", ".", "e5", "1e", "0x1p-3", "inf", "nan", "0.2 ", "--1", "1e+"})
    EXPECT_FALSE(cli::parse_number(bad)) << bad;
}

TEST(Rates, ListsAndRangesInTheOrderGiven) {
  EXPECT_EQ(parse_rates("0.3,0.1,0.3"), (std::vector<double>{0.3, 0.1, 0.3}));
  EXPECT_EQ(parse_rates(" 0.3 , 0.1"), (std::vector<double>{0.3, 0.1}));
  EXPECT_EQ(parse_rates("0.5,0.1:0.2:0.05,0.01"), (std::vector<double>{0.5, 0.1, 0.15, 0.2, 0.01}));
  EXPECT_EQ(parse_rates("0.2:0.2:0.1"), (std::vector<double>{0.2}));
  EXPECT_EQ(parse_rates("0.1:0.25:0.1"), (std::vector<double>{0.1, 0.2}));
}

TEST(Rates, EachRangeRateIsTheDoubleNearestItsDecimalValue) {
  // Repeated double additions give 0.15000000000000002 and miss 0.3.
  EXPECT_EQ(parse_rates("0.05:0.2:0.05"), (std::vector<double>{0.05, 0.1, 0.15, 0.2}));
  EXPECT_EQ(parse_rates("0.1:0.3:0.1"), (std::vector<double>{0.1, 0.2, 0.3}));
  EXPECT_EQ(parse_rates("5e-2:2E-1:.05"), (std::vector<double>{0.05, 0.1, 0.15, 0.2}));
  const auto fine = parse_rates("0.001:0.999:0.001");
  ASSERT_EQ(fine.size(), 999U);
  for (int i = 1; i <= 999; ++i) {
    const std::string text = "0." + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i);
    EXPECT_EQ(fine[static_cast<std::size_t>(i - 1)], std::stod(text)) << text;
  }
  // Places beyond a double's precision still step exactly.
  const auto tiny = parse_rates("0.1:0.1000000000000000000000000003:0.0000000000000000000000000001");
  ASSERT_EQ(tiny.size(), 4U);
  EXPECT_EQ(tiny[3], 0.1000000000000000000000000003);
}

TEST(Numbers, InsideZeroOneAsTheExactDecimal) {
  for (const char* inside : {"0.5", "+1e-400", "5e-99999999999", "0.99999999999999999", ".5e0", "50e-2"})
    EXPECT_TRUE(cli::decimal_inside_0_1(inside)) << inside;
  // A mantissa longer than any exponent cap must not outweigh the exponent.
  const std::string long_one = "1" + std::string(200000, '0') + "e-99999999999";
  EXPECT_TRUE(cli::decimal_inside_0_1(long_one));
  for (const char* outside : {"0", "0e-99999999999", "-1e-400", "1", "1.0", "10e-1", "5e99999999999", "x"})
    EXPECT_FALSE(cli::decimal_inside_0_1(outside)) << outside;
}

TEST(Numbers, BlanksAroundAreNoPartAndRoundingIsNamed) {
  EXPECT_EQ(cli::trimmed(" \t0.2 \t"), "0.2");
  EXPECT_EQ(cli::trimmed("0. 2"), "0. 2");
  EXPECT_EQ(cli::trimmed("   "), "");
  EXPECT_EQ(cli::rounding_note("1e-400", 0.0), ", which rounds to 0 as a double");
  EXPECT_EQ(cli::rounding_note("0.99999999999999999", 1.0), ", which rounds to 1 as a double");
  for (const char* exact : {"0", "1", "-1e-400", "2"})
    EXPECT_EQ(cli::rounding_note(exact, 0.0), "") << exact;
  EXPECT_EQ(cli::rounding_note("0.5", 0.5), "");
}

TEST(Rates, TheWholeGridWithThetaInItsPlace) {
  std::vector<double> grid;
  for (int i = 1; i <= 19; ++i) grid.push_back(i / 20.0);  // the double nearest i x 0.05
  EXPECT_EQ(cli::full_grid(0.3), grid);
  EXPECT_EQ(cli::full_grid(0.05), grid);
  std::vector<double> low = grid;
  low.insert(low.begin(), 0.01);
  EXPECT_EQ(cli::full_grid(0.01), low);
  std::vector<double> mid = grid;
  mid.insert(mid.begin() + 4, 0.23);
  EXPECT_EQ(cli::full_grid(0.23), mid);
  std::vector<double> high = grid;
  high.push_back(0.99);
  EXPECT_EQ(cli::full_grid(0.99), high);
}

TEST(Rates, AtMostTenThousand) {
  EXPECT_EQ(parse_rates("0.0001:0.9999:0.0001").size(), 9999U);
  EXPECT_EQ(parse_rates("0.0001:0.9999:0.0001,0.5").size(), 10000U);
  EXPECT_EQ(failure("0.0001:0.9999:0.0001,0.5,0.5"), "--oc: more than 10000 rates");
  // A range far too long is refused without being listed.
  EXPECT_EQ(failure("1e-50:0.9:1e-50"), "--oc: more than 10000 rates");
}

TEST(Rates, ErrorsNameTheItemAndWhatIsValid) {
  struct refused {
    const char* text;
    const char* message;
  };
  const refused cases[] = {
      {"", "--oc: empty item in ''; give rates separated by commas"},
      {"0.1,", "--oc: empty item in '0.1,'; give rates separated by commas"},
      {"0.1,,0.2", "--oc: empty item in '0.1,,0.2'; give rates separated by commas"},
      {"abc", "--oc: 'abc' is not a number or a range FROM:TO:STEP"},
      {"0.2abc", "--oc: '0.2abc' is not a number or a range FROM:TO:STEP"},
      {"1", "--oc: every rate must be strictly between 0 and 1, got 1"},
      {"0", "--oc: every rate must be strictly between 0 and 1, got 0"},
      {"-0.5", "--oc: every rate must be strictly between 0 and 1, got -0.5"},
      {"1e-400",
       "--oc: every rate must be strictly between 0 and 1, got 1e-400, which rounds to 0 as a "
       "double"},
      {" 0.99999999999999999 ",
       "--oc: every rate must be strictly between 0 and 1, got 0.99999999999999999, which "
       "rounds to 1 as a double"},
      {"0. 5", "--oc: '0. 5' is not a number or a range FROM:TO:STEP"},
      {"0.1:0.2", "--oc: '0.1:0.2' is not a range FROM:TO:STEP"},
      {"0.1:0.2:0.1:0.1", "--oc: '0.1:0.2:0.1:0.1' is not a range FROM:TO:STEP"},
      {"0.3:0.1:0.1", "--oc: in '0.3:0.1:0.1', FROM is greater than TO"},
      {"0.1:0.3:0", "--oc: in '0.1:0.3:0', STEP must be strictly between 0 and 1, got 0"},
      {"0.1:0.3:-0.1",
       "--oc: in '0.1:0.3:-0.1', STEP must be strictly between 0 and 1, got -0.1"},
      {"0.1:1:0.1", "--oc: in '0.1:1:0.1', TO must be strictly between 0 and 1, got 1"},
      {"0:0.5:0.1", "--oc: in '0:0.5:0.1', FROM must be strictly between 0 and 1, got 0"},
      {"x:0.5:0.1", "--oc: in 'x:0.5:0.1', FROM 'x' is not a number"},
      {"0.1:0.5:1e-61",
       "--oc: in '0.1:0.5:1e-61', STEP 1e-61 has more than 60 decimal places"},
      {"0.1:0.99999999999999999999:0.1",
       "--oc: in '0.1:0.99999999999999999999:0.1', TO 0.99999999999999999999 rounds to 1 as a "
       "double"},
  };
  for (const refused& r : cases) EXPECT_EQ(failure(r.text), r.message) << r.text;
}

TEST(Looks, ListsAndRangesReadBackAsWritten) {
  using v = std::vector<int>;
  EXPECT_EQ(cli::parse_looks("10, 20 ,35,50", 50), (v{10, 20, 35, 50}));
  EXPECT_EQ(cli::parse_looks("5:20:5,22", 40), (v{5, 10, 15, 20, 22}));
  EXPECT_EQ(cli::parse_looks("3:10:4", 10), (v{3, 7}));  // TO need not be on the grid
  // A step that would carry past the largest int ends the range.
  EXPECT_EQ(cli::parse_looks("9999:10000:2147483647", 10000), (v{9999}));
  EXPECT_EQ(cli::looks_text(v{5, 10, 15, 20, 22}), "5:20:5,22");
  EXPECT_EQ(cli::looks_text(v{10, 20, 35, 40}), "10,20,35,40");
  EXPECT_EQ(cli::looks_text(v{10, 20, 35, 50}), "10,20:50:15");
  EXPECT_EQ(cli::looks_text(v{1, 2}), "1,2");
  EXPECT_EQ(cli::looks_text(v{7}), "7");
  for (const v& looks : {v{1, 2, 3, 4, 9, 11, 13}, v{2, 4, 6, 7, 8, 20}, v{1, 3, 4, 5, 6}}) {
    EXPECT_EQ(cli::parse_looks(cli::looks_text(looks), 20), looks) << cli::looks_text(looks);
  }
  for (const char* bad : {"", "1,", "-1", "+3", "1:2", "1:5:1:1", "5:1:1", "x", "3,3", "21"}) {
    EXPECT_THROW(cli::parse_looks(bad, 20), cli::error) << bad;
  }
}

}  // namespace
