// The plan command and --stopping as a user runs them: the scan against
// `design` run for each K, the answers where power is not monotone, every
// format and picture, and each refused argument with status 1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_program.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test_driver::run_result;

run_result run(const std::vector<std::string>& args, const fs::path& dir) {
  test_driver::run_options options;
  options.args = args;
  return test_driver::run_program("", dir, options);
}

// Power 0.5367 at K = 14, 0.5197 at K = 15, at least 0.5495 from K = 16 on.
const std::vector<std::string> falls_back{"plan", "0.3", "0.5", "0.1", "0.53", "--k-max", "30"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(Plan, ScanIsTheDesignAtEachK) {
  const test_driver::temp_dir dir;
  const auto r = run(with(falls_back, {"--format", "json"}), dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  ASSERT_EQ(j["scan"].size(), 30u);
  for (const json& e : j["scan"]) {
    const std::string K = std::to_string(e["K"].get<int>());
    const auto d = run({"design", K, "0.3", "0.1", "--oc", "0.3,0.5", "--format", "json", "--no-boundary-file"},
                       dir.path());
    ASSERT_EQ(d.status, 0) << d.err;
    const json dj = json::parse(d.out);
    EXPECT_EQ(e["phi_star"], dj["phi_star"]) << K;
    EXPECT_EQ(e["power"], dj["oc"][1]["phi_star"]) << K;
    EXPECT_EQ(e["mean_n0"], dj["oc"][0]["mean_n"]) << K;
    EXPECT_EQ(e["mean_n1"], dj["oc"][1]["mean_n"]) << K;
  }
  EXPECT_EQ(j["first"]["K"], 14);
  EXPECT_EQ(j["stable"]["K"], 16);
  EXPECT_EQ(j["monotone"], false);
  EXPECT_EQ(j["first"]["oc"].size(), 2u);
  EXPECT_FALSE(j["first"]["oc"][0].contains("stopping"));
}

TEST(Plan, TextSaysWhenPowerIsNotMonotone) {
  const test_driver::temp_dir dir;
  const auto r = run(falls_back, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Power is not monotone in K: K = 14 is the smallest K whose power reaches 0.53 "
                       "(power 0.536743), but some larger K fall short.\n"
                       "Every K from 16 to 30 reaches it; K = 15 does not.\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("The design at K = 14 (the smallest K reaching the power):"), std::string::npos);
  EXPECT_NE(r.out.find("The design at K = 16 (from which every K reaches the power):"), std::string::npos);
  const auto none = run({"plan", "0.3", "0.5", "0.1", "0.99", "--k-max", "20"}, dir.path());
  EXPECT_EQ(none.status, 0);
  EXPECT_NE(none.out.find("No K from 1 to 20 reaches power 0.99: the largest power is 0.619389, at K = 19.\n"),
            std::string::npos)
      << none.out;
  const auto nothing = run({"plan", "0.3", "0.5", "0.1", "0.99", "--k-max", "20", "--format", "json"}, dir.path());
  const json j = json::parse(nothing.out);
  EXPECT_TRUE(j["first"].is_null());
  EXPECT_EQ(j["best"]["K"], 19);
}

TEST(Plan, CsvIsTheScanAndStoppingGoesToTheAnswers) {
  const test_driver::temp_dir dir;
  const auto csv = run(with(falls_back, {"--format", "csv", "--k-min", "28", "--stopping"}), dir.path());
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')), "K,phi_star,power,mean_n0,mean_n1");
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 4);
  const auto j = json::parse(run(with(falls_back, {"--format", "json", "--stopping"}), dir.path()).out);
  for (const char* answer : {"first", "stable"}) {
    const json& oc = j[answer]["oc"];
    ASSERT_EQ(oc.size(), 2u);
    EXPECT_EQ(oc[1]["stopping"]["cum_high"].size(), j[answer]["K"].get<std::size_t>());
  }
}

TEST(Plan, PicturesAreWritten) {
  const test_driver::temp_dir dir;
  const auto r = run(with(falls_back, {"--plot", "scan.svg", "--html", "plan.html", "--stopping"}), dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = test_driver::slurp(dir.path() / "scan.svg");
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("class=\"guide-first\""), std::string::npos);
  EXPECT_NE(svg.find("class=\"guide-stable\""), std::string::npos);
  const std::string html = test_driver::slurp(dir.path() / "plan.html");
  EXPECT_NE(html.find("Power is not monotone in K"), std::string::npos);
  EXPECT_NE(html.find("The design at K = 14"), std::string::npos);
  EXPECT_NE(html.find("id=\"panel-stopped-by\""), std::string::npos);
  const auto same = run(with(falls_back, {"--plot", "x.svg", "--html", "x.svg"}), dir.path());
  EXPECT_EQ(same.status, 1);
}

TEST(Plan, RefusedArguments) {
  const test_driver::temp_dir dir;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"plan", "0.35", "0.2", "0.1", "0.8"}, "THETA0 must be below THETA1, got 0.35 and 0.2"},
      {{"plan", "0.2", "0.2", "0.1", "0.8"}, "THETA0 must be below THETA1, got 0.2 and 0.2"},
      {{"plan", "0.2", "1", "0.1", "0.8"}, "THETA1 must be strictly between 0 and 1, got 1"},
      {{"plan", "0.2", "0.35", "0.1", "1"}, "POWER must be strictly between 0 and 1, got 1"},
      {{"plan", "0.2", "0.35", "0.1", "0"}, "POWER must be strictly between 0 and 1, got 0"},
      {{"plan", "0.2", "0.35", "0.1", "0.8", "--k-min", "50", "--k-max", "40"},
       "--k-min must not exceed --k-max, got 50 and 40"},
      {{"plan", "0.2", "0.35", "0.1", "0.8", "--k-max", "10001"},
       "--k-max must be a whole number from 1 to 10000, got 10001"},
      {{"plan", "0.2", "0.35", "0.1", "0.8", "--k-min", "0", "--k-max", "40"},
       "--k-min must be a whole number from 1 to 10000, got 0"},
      {{"plan", "0.2", "0.35", "0.1", "0.8", "--k-max", "x"}, "--k-max must be a whole number, got 'x'"},
      {{"plan", "0.2", "0.35", "0.1"}, "POWER is required (see 'stopbound plan --help')"},
      {{"plan", "0.2", "0.35", "0.1", "0.8", "--k-max", "40", "--format", "xml"},
       "--format must be text, json or csv, got 'xml'"},
      {{"plan", "0.2", "0.35", "0.1", "0.8", "--k-max", "40", "--stopping-rows"},
       "unknown option '--stopping-rows' (see 'stopbound plan --help')"},
      {{"design", "10", "0.2", "0.1", "--stopping-rows"}, "--stopping-rows needs --stopping"},
  };
  for (const auto& [args, message] : cases) {
    const auto r = run(args, dir.path());
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.out, "") << message;
    EXPECT_EQ(r.err, "stopbound: " + message + "\n");
  }
}

// --stopping for design and evaluate.
TEST(Stopping, EveryFormatOfDesign) {
  const test_driver::temp_dir dir;
  const std::vector<std::string> design{"design", "10", "0.2", "0.05", "--oc", "0.2,0.5", "--no-boundary-file",
                                        "--stopping"};
  const auto j = json::parse(run(with(design, {"--format", "json"}), dir.path()).out);
  for (const json& row : j["oc"]) {
    const json& st = row["stopping"];
    ASSERT_EQ(st["cum_high"].size(), 10u);
    EXPECT_NEAR(st["cum_high"][9].get<double>(), row["phi_star"].get<double>(), 1e-15);
    EXPECT_LE(st["q10"].get<int>(), st["median"].get<int>());
    EXPECT_LE(st["median"].get<int>(), st["q90"].get<int>());
  }
  const auto csv = run(with(design, {"--format", "csv"}), dir.path());
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')), "theta,n,p_high,p_low,cum_high,cum_low");
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 21);
  EXPECT_NE(csv.out.find("\n0.5,10,"), std::string::npos);
  const auto text = run(design, dir.path());
  EXPECT_NE(text.out.find("SD[Y/N] N(10%)  N(50%)  N(90%)  E[N|STOP]\n"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("When the trial stops"), std::string::npos);
  const auto rows = run(with(design, {"--stopping-rows"}), dir.path());
  EXPECT_NE(rows.out.find("When the trial stops, at THETA = 0.5:\n"), std::string::npos) << rows.out;
  // Without --stopping every output stays as it was.
  const auto plain = run({"design", "10", "0.2", "0.05", "--oc", "0.2,0.5", "--no-boundary-file"}, dir.path());
  EXPECT_EQ(plain.out.find("N(10%)"), std::string::npos);
}

TEST(Stopping, EvaluatedFileOnThePage) {
  const test_driver::temp_dir dir;
  std::ofstream(dir.path() / "f.dat") << "0.2\n6\n-1 2\n-1 3\n0 3\n0 3\n1 4\n2 4\n";
  const auto r = run({"evaluate", "f.dat", "--stopping", "--html", "f.html", "--format", "json"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  for (const json& row : j["oc"]) EXPECT_NEAR(row["stopping"]["cum_low"][5].get<double>(), row["p_lower"].get<double>(), 1e-15);
  const std::string html = test_driver::slurp(dir.path() / "f.html");
  EXPECT_NE(html.find("When the trial stops"), std::string::npos);
  EXPECT_NE(html.find("(the first 5 rates)"), std::string::npos);
}

}  // namespace
