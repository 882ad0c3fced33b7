// The operating-characteristics table: which event probabilities get a row
// (THETA's own, then the 0.05 grid from the truncated percentage of the
// exact 100 * THETA up to 0.95) and how the table is laid out.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "driver/driver.h"
#include "driver/run_program.h"

namespace {

const std::string header =
    "THETA   PHI*    E[Y]    SD[Y]   E[N]    SD[N]   E[Y/N]  SD[Y/N] \n\n";

// The first column of every table row of a K = 1 run at theta.
std::vector<std::string> row_labels(const std::string& theta) {
  const test_driver::temp_dir dir;
  const auto r = test_driver::run_program("1 " + theta + " 0.5\n", dir.path());
  EXPECT_EQ(r.status, 0);
  const auto start = r.out.find(header);
  const auto end = r.out.find("\nDefintions: \n  Y ");
  std::istringstream rows(r.out.substr(start + header.size(), end - start - header.size()));
  std::vector<std::string> labels;
  for (std::string line; std::getline(rows, line);) labels.push_back(line.substr(0, 8));
  return labels;
}

std::vector<std::string> grid_from(int percent, std::vector<std::string> labels = {}) {
  for (int i = percent; i <= 95; i += 5) {
    char text[16];
    std::snprintf(text, sizeof text, "%-8.2f", i / 100.0);
    labels.emplace_back(text);
  }
  return labels;
}

TEST(TableGrid, StartsAtTheTruncatedPercentageOfTheExactProduct) {
  // 0.15 and 0.21 are stored a hair below 15 and 21 hundredths.
  EXPECT_EQ(truncated_percent(0.15), 14);
  EXPECT_EQ(truncated_percent(0.21), 20);
  EXPECT_EQ(truncated_percent(0.2), 20);
  EXPECT_EQ(truncated_percent(0.151), 15);
  EXPECT_EQ(truncated_percent(0.97), 96);
  EXPECT_EQ(truncated_percent(0.5), 50);
  EXPECT_EQ(truncated_percent(1e-11), 0);
  // Against the exact product in long double, whose 64-bit significand holds
  // every double times 100, for every percentage and its neighbours.
  for (int i = 1; i < 100; ++i) {
    const double nearest = i / 100.0;
    for (const double theta : {std::nextafter(nearest, 0.0), nearest, std::nextafter(nearest, 1.0)}) {
      const auto exact = static_cast<int>(100.0L * static_cast<long double>(theta));
      EXPECT_EQ(truncated_percent(theta), exact) << theta;
    }
  }
  EXPECT_EQ(round_up(14, 5), 15);
  EXPECT_EQ(round_up(15, 5), 15);
  EXPECT_EQ(round_up(0, 5), 0);
  EXPECT_EQ(round_up(96, 5), 100);
}

TEST(TableGrid, ThetaOnTheGridHasNoRowOfItsOwn) {
  EXPECT_EQ(row_labels("0.2"), grid_from(20));
  EXPECT_EQ(row_labels("0.15"), grid_from(15));
  EXPECT_EQ(row_labels("0.95"), grid_from(95));
}

TEST(TableGrid, ThetaOffTheGridComesFirst) {
  EXPECT_EQ(row_labels("0.23"), grid_from(25, {"0.23    "}));
  EXPECT_EQ(row_labels("0.151"), grid_from(15, {"0.15    "}));
  EXPECT_EQ(row_labels("0.96"), grid_from(95, {"0.96    "}));
  EXPECT_EQ(row_labels("0.97"), std::vector<std::string>{"0.97    "});
  // Stored below a whole percentage: the grid starts just below THETA.
  for (const char* theta : {"0.21", "0.06", "0.31", "0.36", "0.41", "0.61", "0.71", "0.86"}) {
    const int percent = std::atoi(theta + 2);
    EXPECT_EQ(row_labels(theta), grid_from(percent - 1 - (percent - 1) % 5, {std::string(theta) + "    "}))
        << theta;
  }
}

TEST(TableGrid, ThetaBelowOnePercentKeepsItsRowAndSkipsZero) {
  EXPECT_EQ(row_labels("0.004"), grid_from(5, {"0.00    "}));
  EXPECT_EQ(row_labels("0.009"), grid_from(5, {"0.01    "}));
  EXPECT_EQ(row_labels("1e-11"), grid_from(5, {"0.00    "}));
}

TEST(TableLayout, HeaderRowsAndDefinitions) {
  EXPECT_EQ(header.size(), 64u + 2u);
  const test_driver::temp_dir dir;
  const auto out = test_driver::run_program("1 0.2 0.5\n", dir.path()).out;
  EXPECT_NE(out.find("b[1] = 1 \n\n" + header +
                     "0.20    0.200   0.20    0.40    1.00    0.00    0.20    0.40    \n"
                     "0.25    "),
            std::string::npos);
  EXPECT_NE(out.find("0.95    0.950   0.95    0.22    1.00    0.00    0.95    0.22    \n"
                     "\n"
                     "Defintions: \n"
                     "  Y    = the number of events, random, between 0 and N\n"
                     "  N    = the number of patients, random, between 1 and K\n"
                     "  PHI* = the actual probability of early stopping (hitting the boundary)\n"
                     "  E[ ]   denotes the expected value (mean)\n"
                     "  SD[ ]  denotes the standard deviation\n"
                     "\n"
                     "\n"
                     "The boundary has been written"),
            std::string::npos);
}

}  // namespace

namespace {

TEST(PrintsAlike, SettlesOnlyIntervalsClearOfARoundingPoint) {
  // Exact decimal ties: the digits depend on the last bit, so any error unsettles them.
  EXPECT_FALSE(prints_alike(2, 0.125, 1e-15));
  EXPECT_FALSE(prints_alike(3, 0.0625, 1e-15));
  EXPECT_FALSE(prints_alike(2, 2.675, 1e-12));  // stored just below 2.675: prints 2.67, 2.68 above
  EXPECT_TRUE(prints_alike(2, 2.675, 0.0));     // no error: nothing to settle
  // Far from a half step: settled without converting.
  EXPECT_TRUE(prints_alike(2, 0.2, 1e-9));
  EXPECT_TRUE(prints_alike(3, 0.0421258, 1e-9));
  EXPECT_TRUE(prints_alike(2, 254.99, 1e-9));
  // Near a half step, settled by conversion when the interval stays on one side.
  EXPECT_TRUE(prints_alike(2, 0.12500001, 1e-9));
  EXPECT_FALSE(prints_alike(2, 0.12500001, 2e-8));
  // Zero, with an interval cut at zero: never "-0.00".
  EXPECT_TRUE(prints_alike(2, 0.0, 1e-12));
  EXPECT_FALSE(prints_alike(2, 0.0, 0.01));
}

TEST(TableRow, PrintsSummarysDigits) {
  // THETA = 0.25 on a 0.05 grid with K = 3: exact decimal ties, where only
  // the walk's own last bits give the right digits.
  const int b[] = {0, 2, 2, 3};
  const int lower[] = {-1, -1, -1, -1};
  for (const double theta : {0.05, 0.25, 0.5, 0.75}) {
    const oc_record r = table_row(theta, 3, lower, b);
    const oc_record s = summary(theta, 3, lower, b);
    char got[128];
    char expected[128];
    std::snprintf(got, sizeof got, "%.3f %.2f %.2f %.2f %.2f %.2f %.2f", r.phi_star, r.mean_y, r.sd_y,
                  r.mean_n, r.sd_n, r.mean_yn, r.sd_yn);
    std::snprintf(expected, sizeof expected, "%.3f %.2f %.2f %.2f %.2f %.2f %.2f", s.phi_star, s.mean_y,
                  s.sd_y, s.mean_n, s.sd_n, s.mean_yn, s.sd_yn);
    EXPECT_STREQ(got, expected) << theta;
  }
}

}  // namespace
