// Every figure the command line writes lies in the range it has for a trial
// of at most K patients, whatever the rounding: probabilities in [0, 1],
// E[N] in [1, K], SD[N] in [0, (K - 1) / 2], standard deviations >= 0; a
// boundary that cannot stop gives exactly E[N] = K and SD[N] = 0. Checked in
// JSON and CSV over 9,999 rates, where the engine's sums come out a few ulps
// past 1 or past K.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_program.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

test_driver::run_result run(const std::vector<std::string>& args, const fs::path& dir) {
  test_driver::run_options options;
  options.args = args;
  return test_driver::run_program("", dir, options);
}

struct row {
  double theta, phi_star, p_lower, mean_y, sd_y, mean_n, sd_n, mean_yn, sd_yn;
};

std::vector<row> from_json(const std::string& text) {
  std::vector<row> rows;
  const json j = json::parse(text);
  for (const auto& r : j["oc"])
    rows.push_back({r["theta"], r["phi_star"], r["p_lower"], r["mean_y"], r["sd_y"], r["mean_n"],
                    r["sd_n"], r["mean_yn"], r["sd_yn"]});
  return rows;
}

std::vector<row> from_csv(const std::string& text) {
  std::vector<row> rows;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<double> v;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) v.push_back(std::stod(field));
    EXPECT_EQ(v.size(), 9U) << line;
    if (v.size() == 9) rows.push_back({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]});
  }
  return rows;
}

// How many rows break a bound (each is also reported, the first few in full).
int out_of_range(const std::vector<row>& rows, int K, bool cannot_stop) {
  const double k = K;
  int bad = 0;
  for (const row& r : rows) {
    const bool ok = r.phi_star >= 0 && r.phi_star <= 1 && r.p_lower >= 0 && r.p_lower <= 1 &&
                    r.mean_y >= 0 && r.mean_y <= k && r.sd_y >= 0 && r.sd_y <= k / 2 &&
                    r.mean_n >= 1 && r.mean_n <= k && r.sd_n >= 0 && r.sd_n <= (k - 1) / 2 &&
                    r.mean_yn >= 0 && r.mean_yn <= 1 && r.sd_yn >= 0 && r.sd_yn <= 0.5 &&
                    (!cannot_stop || (r.mean_n == k && r.sd_n == 0));
    if (!ok && ++bad <= 3)
      ADD_FAILURE() << "theta " << r.theta << ": phi_star " << r.phi_star << " p_lower "
                    << r.p_lower << " mean_n " << r.mean_n << " sd_n " << r.sd_n << " mean_yn "
                    << r.mean_yn;
  }
  return bad;
}

void expect_in_range(const std::vector<std::string>& command, int K, bool cannot_stop,
                     std::size_t rates) {
  const test_driver::temp_dir dir;
  fs::copy_file(
      fs::path(TEST_DATA_DIR).parent_path().parent_path().parent_path() / "docs/futility-k40.dat",
      dir.path() / "futility.dat");
  for (const char* format : {"json", "csv"}) {
    std::vector<std::string> args = command;
    args.insert(args.end(), {"--format", format});
    const auto r = run(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<row> rows =
        std::string(format) == "json" ? from_json(r.out) : from_csv(r.out);
    EXPECT_EQ(rows.size(), rates);
    EXPECT_EQ(out_of_range(rows, K, cannot_stop), 0) << args[1] << " " << args[2] << " " << format;
  }
}

const std::vector<std::string> every_rate{"--oc", "0.0001:0.9999:0.0001"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(OutputRanges, LargestDesignOverEveryRate) {
  // Before: 685 rates with phi_star above 1, up to 1.0000000000000011.
  expect_in_range(with({"design", "255", "0.2", "0.05", "--no-boundary-file"}, every_rate), 255,
                  false, 9999);
}

TEST(OutputRanges, FortyPatientDesignOverEveryRate) {
  // Before: phi_star 1.0000000000000002 at 0.8776 among others.
  expect_in_range(with({"design", "40", "0.2", "0.1", "--no-boundary-file"}, every_rate), 40, false,
                  9999);
  expect_in_range({"design", "40", "0.2", "0.1", "--no-boundary-file", "--oc", "0.8776,0.9"}, 40,
                  false, 2);
}

TEST(OutputRanges, ABoundaryThatCannotStopRunsToKExactly) {
  // Before: mean_n 40.00000000000002 and sd_n 2.1e-14. THETA = 0.9: even 40
  // events of 40 (0.9^40 = 0.015) stop too often for PHI = 0.001.
  expect_in_range(with({"design", "40", "0.9", "0.001", "--no-boundary-file"}, every_rate), 40,
                  true, 9999);
  const test_driver::temp_dir dir;
  std::string never = "0.2\n40\n";
  for (int n = 1; n <= 40; ++n) never += "-1 " + std::to_string(n + 1) + "\n";
  test_driver::write_file(dir.path() / "never.dat", never);
  for (const char* format : {"json", "csv"}) {
    const auto r = run(
        {"evaluate", "never.dat", "--format", format, "--oc", "0.0001:0.9999:0.0001"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<row> rows =
        std::string(format) == "json" ? from_json(r.out) : from_csv(r.out);
    EXPECT_EQ(rows.size(), 9999U);
    EXPECT_EQ(out_of_range(rows, 40, true), 0) << format;
  }
}

TEST(OutputRanges, ALowerBoundaryAtAlmostNoEvents) {
  // Before: p_lower 1.0000000000000002 at 1e-12.
  expect_in_range({"evaluate", "futility.dat", "--oc", "1e-12,0.0001:0.9999:0.0001"}, 40, false,
                  10000);
}

}  // namespace
