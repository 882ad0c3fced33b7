// The rates the figures are drawn at and the report page's date.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "cli/internal.h"

namespace {

TEST(FigureRates, FineGridThetaAndTheGivenRatesOnceEachInOrder) {
  const std::vector<double> grid = cli::figure_rates(0.2, {});
  ASSERT_EQ(grid.size(), 199u);  // THETA = 0.2 is on the grid
  EXPECT_EQ(grid.front(), 0.005);
  EXPECT_EQ(grid[66], 0.335);  // each the double of its decimal, not a running sum
  EXPECT_EQ(grid.back(), 0.995);

  const std::vector<double> given{0.7, 0.123, 0.7, 0.5, 0.999};
  const std::vector<double> all = cli::figure_rates(0.231, given);
  EXPECT_EQ(all.size(), 199u + 3);  // 0.231, 0.123 and 0.999 are off the grid
  for (std::size_t i = 1; i < all.size(); ++i) ASSERT_LT(all[i - 1], all[i]);
  for (const double r : {0.231, 0.123, 0.999, 0.7})
    EXPECT_EQ(std::count(all.begin(), all.end(), r), 1) << r;
}

TEST(ReportDate, NowOrTheReproducibleEpoch) {
  ::setenv("SOURCE_DATE_EPOCH", "1765200000", 1);
  EXPECT_EQ(cli::report_date(), "2025-12-08 13:20 UTC");
  for (const char* bad : {"yesterday", "-5", "12x", "99999999999999999999999"}) {
    ::setenv("SOURCE_DATE_EPOCH", bad, 1);
    EXPECT_THROW((void)cli::report_date(), cli::error) << bad;
  }
  // Set but empty is unset: now, in UTC too, whatever the local zone.
  ::setenv("TZ", "EST+5", 1);
  for (const bool empty : {true, false}) {
    if (empty) ::setenv("SOURCE_DATE_EPOCH", "", 1);
    else ::unsetenv("SOURCE_DATE_EPOCH");
    const std::time_t before = std::time(nullptr);
    const std::string date = cli::report_date();
    const std::time_t after = std::time(nullptr);
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d UTC)"))) << date;
    std::vector<std::string> utc;
    for (const std::time_t t : {before, after}) {
      std::tm parts{};
      char text[64];
      ASSERT_NE(::gmtime_r(&t, &parts), nullptr);
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts);
      utc.emplace_back(text);
    }
    EXPECT_TRUE(date == utc[0] || date == utc[1]) << date;
  }
  ::unsetenv("TZ");
}

}  // namespace
