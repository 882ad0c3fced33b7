// The command line as a user runs it: help and version, both commands in
// each format, agreement with the dialogue, lower boundaries, and every
// failure as one line on standard error with status 1 and nothing on
// standard output.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bndry/bndry.h"
#include "driver/driver.h"
#include "driver/run_program.h"
#include "sanitizer.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test_driver::run_result;
using test_driver::slurp;

run_result run(const std::vector<std::string>& args, const fs::path& dir,
               test_driver::run_options options = {}) {
  options.args = args;
  return test_driver::run_program("", dir, options);
}

std::string write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

// The design K = 3, THETA = 0.2, PHI = 0.3: b = 1, 2, 2, PHI* = 0.2 + 0.8 *
// 0.2^2 = 0.232; at 0.55, PHI* = 0.55 + 0.45 * 0.55^2 and E[N] = 0.55 * 1 +
// 0.45 * 3 = 1.9.
const std::vector<std::string> small_design{"design", "3", "0.2", "0.3", "--oc", "0.2,0.55",
                                            "--no-boundary-file"};

struct failure_case {
  std::vector<std::string> args;
  std::string message;
};

TEST(CommandLine, HelpAndVersion) {
  const test_driver::temp_dir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}}) {
    const auto r = run(args, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Usage: stopbound [OPTIONS] SUBCOMMAND"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("stopbound design K THETA PHI [options]"), std::string::npos);
    EXPECT_NE(r.out.find("stopbound evaluate FILE [options]"), std::string::npos);
  }
  const auto design = run({"design", "--help"}, dir.path());
  EXPECT_EQ(design.status, 0);
  EXPECT_NE(design.out.find("Usage: stopbound design [OPTIONS] K THETA PHI"), std::string::npos);
  for (const char* option : {"--oc RATES", "--format FORMAT", "--boundary-file PATH", "--no-boundary-file"})
    EXPECT_NE(design.out.find(option), std::string::npos) << option;
  EXPECT_EQ(design.out.find("Excludes"), std::string::npos);
  const auto evaluate = run({"evaluate", "-h"}, dir.path());
  EXPECT_EQ(evaluate.status, 0);
  EXPECT_NE(evaluate.out.find("Usage: stopbound evaluate [OPTIONS] FILE"), std::string::npos);
  EXPECT_EQ(evaluate.out.find("--boundary-file"), std::string::npos);

  // `stopbound COMMAND --version` is `stopbound --version`.
  for (const auto& args : std::vector<std::vector<std::string>>{{"--version"},
                                                                {"design", "--version"},
                                                                {"evaluate", "--version"},
                                                                {"design", "10", "--version"}}) {
    const auto version = run(args, dir.path());
    EXPECT_EQ(version.status, 0) << args.front();
    EXPECT_EQ(version.out, "stopbound 1.2\n");
    EXPECT_EQ(version.err, "");
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// The words of a help text, its lines joined: what it says, however broken.
std::string words(const std::string& text) {
  std::istringstream in(text);
  std::string all;
  for (std::string word; in >> word;) all += (all.empty() ? "" : " ") + word;
  return all;
}

TEST(CommandLine, HelpBreaksBetweenWordsWithinEightyColumns) {
  const test_driver::temp_dir dir;
  const auto top = run({"--help"}, dir.path()).out;
  const auto design = run({"design", "--help"}, dir.path()).out;
  const auto evaluate = run({"evaluate", "--help"}, dir.path()).out;
  for (const std::string& help : {top, design, evaluate}) {
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80U) << line;
  }
  // A command's description stands whole as the first line of its help ...
  EXPECT_EQ(evaluate.substr(0, evaluate.find('\n')),
            "operating characteristics of the boundaries in a file laid out as _bndry_.dat");
  EXPECT_EQ(design.substr(0, design.find('\n')), "design the upper boundary for K, THETA and PHI");
  // ... and is broken between words beside its name in the list; the
  // program's description is broken at 80 columns.
  EXPECT_NE(
      top.find("  evaluate                    operating characteristics of the boundaries in a\n"
               "                              file laid out as _bndry_.dat\n"),
      std::string::npos)
      << top;
  EXPECT_EQ(top.substr(0, top.find('\n')),
            "Exact stopping boundaries for a single-arm trial with a binary outcome,");
  EXPECT_NE(words(top).find("Exact stopping boundaries for a single-arm trial with a binary outcome, "
                            "monitored as patients accrue: Pocock-type by default, or O'Brien-Fleming, "
                            "Wang-Tsiatis, Bayesian, SPRT and MaxSPRT, at every patient or at chosen "
                            "looks. Without arguments the program asks for K, THETA and PHI."),
            std::string::npos);
  EXPECT_NE(
      words(evaluate).find("THETA on line 1, K on line 2, then K lines 'lower upper'; - reads "
                           "standard input"),
      std::string::npos);
}

TEST(CommandLine, DesignAsText) {
  const test_driver::temp_dir dir;
  const auto r = run(small_design, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "stopbound 1.2: design of a Pocock-type upper boundary (Exact calculations)\n"
            "\n"
            "K     = 3\n"
            "THETA = 0.2\n"
            "PHI   = 0.3\n"
            "PHI*  = 0.232 = the actual probability of hitting the upper boundary\n"
            "ALPHA = 0.28 = the pointwise stopping probability\n"
            "Next more liberal boundary: PHI* = 0.36, using tails up to 0.36 (b[2] = 1)\n"
            "\n"
            "Stopping rule, on the number of events among patients 1..n after each patient n:\n"
            "  patient 1: stop at 1 or more events\n"
            "  patients 2-3: stop at 2 or more events\n"
            "\n"
            "Operating characteristics:\n"
            "THETA     PHI*    E[Y]    SD[Y]   E[N]    SD[N]   E[Y/N]  SD[Y/N]\n"
            "0.2       0.232   0.52    0.56    2.60    0.80    0.31    0.39\n"
            "0.55      0.686   1.04    0.47    1.90    0.99    0.72    0.35\n"
            "\n"
            "  PHI*   = the probability of stopping at the upper boundary\n"
            "  Y      = the number of events, N = the number of patients, at the end\n"
            "  E[ ], SD[ ] = expected value (mean) and standard deviation\n");
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CommandLine, DesignAsCsvInTheShortestFormThatReadsBack) {
  const test_driver::temp_dir dir;
  auto args = small_design;
  args.insert(args.end(), {"--format", "csv"});
  const auto r = run(args, dir.path());
  EXPECT_EQ(r.status, 0);
  // As JSON writes them: 0.2 for the double nearest 0.2, not 0.20000000000000001.
  EXPECT_EQ(r.out,
            "theta,phi_star,p_lower,mean_y,sd_y,mean_n,sd_n,mean_yn,sd_yn\n"
            "0.2,0.232,0,0.5199999999999999,0.5599999999999999,"
            "2.6,0.8,0.30666666666666664,0.38551552786135895\n"
            "0.55,0.6861250000000001,0,1.045,0.4745787605866912,"
            "1.9,0.99498743710662,0.7150000000000001,0.35217183305880667\n");
  // Every number reads back as the double the JSON holds.
  args.back() = "json";
  const json j = json::parse(run(args, dir.path()).out);
  std::istringstream rows(r.out);
  std::string line;
  std::getline(rows, line);
  for (std::size_t i = 0; std::getline(rows, line); ++i) {
    std::istringstream fields(line);
    std::string field;
    for (const char* column :
         {"theta", "phi_star", "p_lower", "mean_y", "sd_y", "mean_n", "sd_n", "mean_yn", "sd_yn"}) {
      ASSERT_TRUE(std::getline(fields, field, ','));
      EXPECT_EQ(std::stod(field), j["oc"][i][column].get<double>()) << column;
    }
  }
}

TEST(CommandLine, AnOptionGivenTwiceIsRefusedByName) {
  const test_driver::temp_dir dir;
  write(dir.path() / "b.dat", "0.2\n3\n-1 1\n-1 2\n-1 2\n");
  const std::vector<failure_case> twice{
      {{"design", "10", "0.2", "0.1", "--oc", "0.2", "--oc", "0.3"}, "--oc"},
      {{"design", "10", "0.2", "0.1", "--format", "json", "--format", "csv"}, "--format"},
      {{"design", "10", "0.2", "0.1", "--plot", "a.svg", "--plot", "b.svg"}, "--plot"},
      {{"design", "10", "0.2", "0.1", "--html", "a.html", "--html=b.html"}, "--html"},
      {{"design", "10", "0.2", "0.1", "--boundary-file", "a.dat", "--boundary-file", "b.dat"},
       "--boundary-file"},
      {{"evaluate", "b.dat", "--oc", "0.2", "--oc=0.3"}, "--oc"},
      {{"evaluate", "b.dat", "--format", "csv", "--format", "csv"}, "--format"},
      {{"evaluate", "b.dat", "--plot", "a.svg", "--plot", "a.svg"}, "--plot"},
      {{"evaluate", "b.dat", "--html", "a.html", "--html", "b.html"}, "--html"},
  };
  for (const auto& [args, option] : twice) {
    const auto r = run(args, dir.path());
    EXPECT_EQ(r.status, 1) << option;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "stopbound: " + option + ": given more than once; give it once\n");
  }
  EXPECT_EQ(test_driver::entries(dir.path()), std::vector<std::string>{"b.dat"});
}

// Every number of the JSON reads back as the double the program computed:
// the summary of the same boundary, bit for bit.
void expect_oc(const json& oc, const std::vector<double>& rates, const std::vector<int>& lower,
               const std::vector<int>& upper) {
  ASSERT_EQ(oc.size(), rates.size());
  const int K = static_cast<int>(upper.size()) - 1;
  for (std::size_t i = 0; i < rates.size(); ++i) {
    const oc_record r = summary(rates[i], K, lower.data(), upper.data());
    EXPECT_EQ(oc[i].size(), 9U);
    EXPECT_EQ(oc[i]["theta"].get<double>(), rates[i]);
    EXPECT_EQ(oc[i]["phi_star"].get<double>(), r.phi_star);
    EXPECT_EQ(oc[i]["p_lower"].get<double>(), r.p_lower);
    EXPECT_EQ(oc[i]["mean_y"].get<double>(), r.mean_y);
    EXPECT_EQ(oc[i]["sd_y"].get<double>(), r.sd_y);
    EXPECT_EQ(oc[i]["mean_n"].get<double>(), r.mean_n);
    EXPECT_EQ(oc[i]["sd_n"].get<double>(), r.sd_n);
    EXPECT_EQ(oc[i]["mean_yn"].get<double>(), r.mean_yn);
    EXPECT_EQ(oc[i]["sd_yn"].get<double>(), r.sd_yn);
  }
}

TEST(CommandLine, DesignAsJsonFieldByField) {
  const test_driver::temp_dir dir;
  const auto r = run({"design", "10", "0.2", "0.05", "--format", "json", "--oc", "0.2,0.05:0.15:0.05,0.5"},
                     dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const json j = json::parse(r.out);
  // Every key, in the order written (top-level keys are indented by two).
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys.size(), 17U);
  std::size_t at = 0;
  for (const char* key : {"K", "theta", "phi", "alpha", "phi_star", "upper", "rule", "family", "threshold",
                          "alpha_used", "looks", "min_events", "within_bound", "next", "oc", "method",
                          "version"}) {
    const auto next = r.out.find("\n  \"" + std::string(key) + "\": ");
    EXPECT_NE(next, std::string::npos) << key;
    EXPECT_GT(next, at) << key;
    at = next;
  }
  EXPECT_EQ(j["K"], 10);
  EXPECT_EQ(j["theta"].get<double>(), 0.2);
  EXPECT_EQ(j["phi"].get<double>(), 0.05);
  std::vector<int> b(max_patients + 1);
  double alpha = 0, phi_star = 0;
  ASSERT_EQ(FindBndry(b.data(), &alpha, &phi_star, 10, 0.2, 0.05), 0);
  EXPECT_EQ(j["alpha"].get<double>(), alpha);
  EXPECT_EQ(j["phi_star"].get<double>(), phi_star);
  EXPECT_EQ(j["upper"], json({2, 3, 3, 3, 4, 4, 5, 5, 5, 6}));
  // The discreteness gap: the largest tail the boundary uses, and the next
  // attainable boundary, as the core computes them.
  EXPECT_EQ(j["alpha_used"].get<double>(), alpha_used(b.data(), 10, 0.2));
  std::vector<int> next(12, 0);
  double next_phi_star = 0;
  ASSERT_EQ(next_boundary(next.data(), &next_phi_star, 10, 0.2, alpha), 0);
  EXPECT_EQ(j["next"].size(), 4U);
  EXPECT_EQ(j["next"]["alpha_used"].get<double>(), alpha_used(next.data(), 10, 0.2));
  EXPECT_EQ(j["next"]["phi_star"].get<double>(), next_phi_star);
  EXPECT_EQ(j["next"]["upper"], json({2, 3, 3, 3, 4, 4, 5, 5, 5, 5}));
  EXPECT_NEAR(next_phi_star, 0.0525067, 5e-8);
  EXPECT_EQ(j["rule"], json::parse(R"([{"first":3,"last":4,"stop_at":3},{"first":5,"last":6,"stop_at":4},
                                        {"first":7,"last":9,"stop_at":5},{"first":10,"last":10,"stop_at":6}])"));
  EXPECT_EQ(j["method"], "Exact");
  EXPECT_EQ(j["version"], "1.2");
  b.resize(11);
  expect_oc(j["oc"], {0.2, 0.05, 0.1, 0.15, 0.5}, std::vector<int>(11, -1), b);
  // The figures every correct program gives for this design.
  EXPECT_NEAR(j["oc"][4]["mean_n"].get<double>(), 7.4082, 5e-5);
  EXPECT_NEAR(j["oc"][4]["phi_star"].get<double>(), 0.560547, 5e-7);
}

// The table rows of a dialogue run, from its header to the definitions.
std::vector<std::string> dialogue_rows(const std::string& out) {
  const std::string header = "SD[Y/N] \n\n";
  const auto start = out.find(header) + header.size();
  const auto end = out.find("\nDefintions: \n  Y ");
  std::vector<std::string> rows;
  std::istringstream in(out.substr(start, end - start));
  for (std::string line; std::getline(in, line);) rows.push_back(line + "\n");
  return rows;
}

// A JSON row printed as the dialogue prints its table rows.
std::string as_dialogue_row(const json& r) {
  char text[128];
  std::snprintf(text, sizeof text, "%-8.2f%-8.3f%-8.2f%-8.2f%-8.2f%-8.2f%-8.2f%-8.2f\n",
                r["theta"].get<double>(), r["phi_star"].get<double>(), r["mean_y"].get<double>(),
                r["sd_y"].get<double>(), r["mean_n"].get<double>(), r["sd_n"].get<double>(),
                r["mean_yn"].get<double>(), r["sd_yn"].get<double>());
  return text;
}

TEST(CommandLine, DesignAndEvaluateAgreeWithTheDialogue) {
  // THETA = 0.23 has a row of its own before the grid.
  const test_driver::temp_dir dir;
  const auto dialogue = test_driver::run_program("12 0.23 0.1\n", dir.path(), {.argv0 = "./stopbound"});
  ASSERT_EQ(dialogue.status, 0);
  const std::string dialogue_file = slurp(dir.path() / "_bndry_.dat");
  const auto rows = dialogue_rows(dialogue.out);
  ASSERT_EQ(rows.size(), 16U);

  fs::rename(dir.path() / "_bndry_.dat", dir.path() / "dialogue.dat");
  const auto design = run({"design", "12", "0.23", "0.1", "--format", "json"}, dir.path(), {.argv0 = "./stopbound"});
  ASSERT_EQ(design.status, 0);
  EXPECT_EQ(slurp(dir.path() / "_bndry_.dat"), dialogue_file);
  const auto evaluate = run({"evaluate", "dialogue.dat", "--format", "json"}, dir.path());
  ASSERT_EQ(evaluate.status, 0);

  const json d = json::parse(design.out);
  const json e = json::parse(evaluate.out);
  ASSERT_EQ(d["oc"].size(), rows.size());
  ASSERT_EQ(e["oc"].size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(as_dialogue_row(d["oc"][i]), rows[i]);
    EXPECT_EQ(e["oc"][i], d["oc"][i]);
  }
  char results[128];
  std::snprintf(results, sizeof results, "PHI*  = %g = the actual", d["phi_star"].get<double>());
  EXPECT_NE(dialogue.out.find(results), std::string::npos) << results;
  std::snprintf(results, sizeof results, "ALPHA = %g = the pointwise", d["alpha"].get<double>());
  EXPECT_NE(dialogue.out.find(results), std::string::npos) << results;
  EXPECT_EQ(e["upper"], d["upper"]);
  EXPECT_EQ(e["lower"], json(std::vector<int>(12, -1)));
  EXPECT_EQ(e["rule"], d["rule"]);
  EXPECT_EQ(e["rule_lower"], json::array());
  EXPECT_EQ(e["file"], "dialogue.dat");
  EXPECT_EQ(e["theta"].get<double>(), 0.23);
}

TEST(CommandLine, BoundaryFileWhereAskedByteForByteTheDialogues) {
  const test_driver::temp_dir dir;
  fs::create_directory(dir.path() / "out");
  const auto r = run({"design", "4", "0.3", "0.2", "--boundary-file", "out/b.dat", "--format", "csv"},
                     dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(slurp(dir.path() / "out/b.dat"),
            slurp(fs::path(TEST_DATA_DIR).parent_path().parent_path() / "driver/data/golden/k4_theta0.3_phi0.2.dat"));
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(dir.path() / "out"), {}),
            std::vector<fs::path>{dir.path() / "out/b.dat"});
  EXPECT_FALSE(fs::exists(dir.path() / "_bndry_.dat"));
}

TEST(CommandLine, EvaluateWithALowerBoundary) {
  // The lower boundary rises by 2 at patient 3 and by 2 at patient 5: the
  // probabilities come from the same summary the enumeration tests check.
  const test_driver::temp_dir dir;
  write(dir.path() / "low.dat", "0.3\n5\n-1 2\n-1 3\n1 3\n1 4\n3 4\nany trailer\n");
  const auto r = run({"evaluate", "low.dat", "--format", "json", "--oc", "0.3,0.6"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["lower"], json({-1, -1, 1, 1, 3}));
  EXPECT_EQ(j["upper"], json({2, 3, 3, 4, 4}));
  EXPECT_EQ(j["rule"], json::parse(R"([{"first":3,"last":3,"stop_at":3},{"first":4,"last":5,"stop_at":4}])"));
  EXPECT_EQ(j["rule_lower"], json::parse(R"([{"first":3,"last":4,"stop_at":1},{"first":5,"last":5,"stop_at":3}])"));
  expect_oc(j["oc"], {0.3, 0.6}, {-1, -1, -1, 1, 1, 3}, {0, 2, 3, 3, 4, 4});
  // P(stop low) at 0.3 by hand: at patient 3 with 0 or 1 events and no stop
  // before (0.7^3 + 3 * 0.3 * 0.7^2 = 0.784, all of them: the upper boundary
  // needs 3), then at patient 5 those of the rest with 2 or 3 events.
  EXPECT_GT(j["oc"][0]["p_lower"].get<double>(), 0.784);

  const auto text = run({"evaluate", "low.dat", "--oc", "0.3"}, dir.path());
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("  patients 1-2: no count can stop the trial\n"
                          "  patient 3: stop at 1 or fewer events, or stop at 3 or more events\n"
                          "  patient 4: stop at 1 or fewer events, or stop at 4 or more events\n"
                          "  patient 5: stop at 3 or fewer events, or stop at 4 or more events\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("THETA     PHI*    P(LOW)  E[Y]"), std::string::npos);
}

TEST(CommandLine, EachFailureIsOneLineWithStatusOne) {
  const test_driver::temp_dir dir;
  write(dir.path() / "boundary.dat", "0.2\n3\n-1 1\n-1 2\n-1 2\n");
  write(dir.path() / "short.dat", "0.2\n3\n-1 1\n-1 2\n");
  write(dir.path() / "word.dat", "0.2\n3\n-1 1\n-1 2\n-1 x\n");
  write(dir.path() / "three.dat", "0.2\n3\n-1 1\n-1 2 7\n-1 2\n");
  write(dir.path() / "theta.dat", "1.5\n3\n");
  write(dir.path() / "k.dat", "0.2\n10001\n");
  write(dir.path() / "low1.dat", "0.2\n2\n2 3\n1 3\n");
  write(dir.path() / "up1.dat", "0.2\n2\n-1 0\n-1 3\n");
  write(dir.path() / "cross.dat", "0.2\n3\n-1 2\n1 2\n2 2\n");
  write(dir.path() / "tiny.dat", "1e-400\n3\n");
  const std::vector<failure_case> cases{
      // A value that rounds to 0 or 1 as a double says so, wherever it is given.
      {{"design", "10", "0.2", "0.1", "--oc", "1e-400"},
       "--oc: every rate must be strictly between 0 and 1, got 1e-400, which rounds to 0 as a "
       "double"},
      {{"design", "10", "0.2", "0.1", "--oc", "0.3, 0.99999999999999999"},
       "--oc: every rate must be strictly between 0 and 1, got 0.99999999999999999, which "
       "rounds to 1 as a double"},
      {{"evaluate", "tiny.dat"},
       "tiny.dat line 1: THETA must be a number strictly between 0 and 1, got '1e-400', which "
       "rounds to 0 as a double"},
      {{"design", "10", " 1e-400\t", "0.1"},
       "THETA must be strictly between 0 and 1, got 1e-400, which rounds to 0 as a double"},
      // Blanks around a number are no part of it, and nothing else is.
      {{"design", " 10 x", "0.2", "0.1"}, "K must be a whole number from 1 to 10000, got ' 10 x'"},
      {{"design", "10", " 0.2 ", "  20 "}, "PHI must be strictly between 0 and 1, got 20"},
      {{"design", "10", "0. 2", "0.1"},
       "THETA must be a number strictly between 0 and 1, got '0. 2'"},
      {{"evaluate", "-"},
       "standard input line 1: the file ends before THETA, a number strictly between 0 and 1"},
      {{"20", "0.2", "0.1"}, "unknown command '20': the commands are design, evaluate and plan (see 'stopbound --help')"},
      {{"--bogus"}, "unknown option '--bogus' (see 'stopbound --help')"},
      {{""}, "unknown command '': the commands are design, evaluate and plan (see 'stopbound --help')"},
      {{"design", "10", "0.2", "0.1", "extra", "more"},
       "the following arguments were not expected: extra more (see 'stopbound design --help')"},
      {{"design", "10", "0.2", "0.1", "a", "--", "b"},
       "the following arguments were not expected: a b (see 'stopbound design --help')"},
      {{"design", "10", "0.2", "0.1", "--OC", "0.3"}, "unknown option '--OC' (see 'stopbound design --help')"},
      {{"design", "10", "0.2", "0.1", "--oc"}, "--oc: 1 required RATES missing (see 'stopbound design --help')"},
      {{"design", "10", "0.2"}, "PHI is required (see 'stopbound design --help')"},
      {{"design", "evaluate"}, "K must be a whole number from 1 to 10000, got 'evaluate'"},
      {{"evaluate", "-x.dat"}, "unknown option '-x.dat' (see 'stopbound evaluate --help')"},
      {{"design", "10", "1e-400", "0.1"}, "THETA must be strictly between 0 and 1, got 1e-400, which rounds to 0 as a double"},
      {{"design", "10", "0.2", "0.99999999999999999"},
       "PHI must be strictly between 0 and 1, got 0.99999999999999999, which rounds to 1 as a double"},
      // A zero written with a far exponent is zero, not a value that rounds to it.
      {{"design", "10", "0e-99999999999", "0.1"}, "THETA must be strictly between 0 and 1, got 0e-99999999999"},
      {{"design", "10", "5e-99999999999", "0.1"},
       "THETA must be strictly between 0 and 1, got 5e-99999999999, which rounds to 0 as a double"},
      // Control characters in arguments never break the line.
      {{"design", "10\nX", "0.2", "0.1"}, "K must be a whole number from 1 to 10000, got '10?X'"},
      {{"design", "10", "0.2", "0.1", "--format", "json\n"}, "--format must be text, json or csv, got 'json?'"},
      {{"evaluate", "no\nsuch"}, "cannot read no?such: No such file or directory"},
      {{"evaluate", ""}, "cannot read '': No such file or directory"},
      {{"design", "10", "0.2", "0.1", "--plot", "x\ny/z.svg"}, "--plot x?y/z.svg: cannot open the directory 'x?y': No such file or directory"},
      {{"design", "10", "0.2", "0.1", "--plot", "boundary.dat/z.svg"},
       "--plot boundary.dat/z.svg: cannot open the directory 'boundary.dat': Not a directory"},
      {{"design", "10", "0.2", "0.1", "--plot", "p.svg", "--boundary-file", "no/b.dat"},
       "--boundary-file no/b.dat: cannot open the directory 'no': No such file or directory"},
      // A quoted argument is cut to its first 40 bytes.
      {{"design", std::string(60, '7') + "x", "0.2", "0.1"},
       "K must be a whole number from 1 to 10000, got '" + std::string(40, '7') + "...'"},
      {{"design", "10", "0.2", "0.1", "--oc", "0.2," + std::string(50, 'z')},
       "--oc: '" + std::string(40, 'z') + "...' is not a number or a range FROM:TO:STEP"},
      {{"bogus" + std::string(50, 'q')},
       "unknown command 'bogus" + std::string(35, 'q') + "...': the commands are design, evaluate and plan (see 'stopbound --help')"},
      {{"design", "10.5", "0.2", "0.1"}, "K must be a whole number from 1 to 10000, got '10.5'"},
      {{"design", "10001", "0.2", "0.1"}, "K must be from 1 to 10000, got 10001"},
      {{"design", "0", "0.2", "0.1"}, "K must be from 1 to 10000, got 0"},
      {{"design", "10", "0.2", "0.1", "--family", "pocok"},
       "--family: unknown boundary family 'pocok'; the families are pocock, obf, wt:DELTA "
       "(0 <= DELTA <= 0.5), bayes, bayes:A,B (A, B > 0), sprt:THETA1 (THETA < THETA1 < 1) and maxsprt"},
      {{"design", "10", "0.2", "0.1", "--family", "wt:0.6"},
       "--family: bad boundary family 'wt:0.6': DELTA must be a number from 0 to 0.5; the families are "
       "pocock, obf, wt:DELTA (0 <= DELTA <= 0.5), bayes, bayes:A,B (A, B > 0), sprt:THETA1 (THETA < "
       "THETA1 < 1) and maxsprt"},
      {{"design", "10", "0.2", "0.1", "--family", "sprt:0.2"},
       "--family: THETA1 must be strictly between THETA (0.2) and 1, got 0.2"},
      {{"design", "10", "0.2", "0.1", "--family", "obf", "--family", "obf"}, "--family: given more than once; give it once"},
      {{"design", "10", "0.2", "0.1", "--looks", "5,5"},
       "--looks: the looks must increase strictly, got 5 after 5 in '5'"},
      {{"design", "10", "0.2", "0.1", "--looks", "2:8:3,7"},
       "--looks: the looks must increase strictly, got 7 after 8 in '7'"},
      {{"design", "10", "0.2", "0.1", "--looks", "0,5"},
       "--looks: every look must be a patient number from 1 to K (10), got 0"},
      {{"design", "10", "0.2", "0.1", "--looks", "2:20:2"},
       "--looks: every look must be a patient number from 1 to K (10), got 20"},
      {{"design", "10", "0.2", "0.1", "--looks", "2:8:0"},
       "--looks: in '2:8:0', STEP must be a whole number from 1, got '0'"},
      {{"design", "10", "0.2", "0.1", "--looks", "2.5"}, "--looks: in '2.5', '2.5' is not a whole number"},
      {{"design", "10", "0.2", "0.1", "--looks", "1,,2"},
       "--looks: empty item in '1,,2'; give patient numbers and ranges FROM:TO:STEP separated by commas"},
      {{"design", "10", "0.2", "0.1", "--min-events", "11"},
       "--min-events must be a whole number from 0 to K (10), got '11'"},
      {{"design", "10", "0.2", "0.1", "--min-events", "-1"},
       "--min-events must be a whole number from 0 to K (10), got '-1'"},
      {{"design", "10", "20", "0.1"}, "THETA must be strictly between 0 and 1, got 20"},
      {{"design", "10", "0.2abc", "0.1"}, "THETA must be a number strictly between 0 and 1, got '0.2abc'"},
      {{"design", "10", "-0.2", "0.1"}, "THETA must be strictly between 0 and 1, got -0.2"},
      {{"design", "10", "0.2", "1"}, "PHI must be strictly between 0 and 1, got 1"},
      {{"design", "10", "0.2", "nan"}, "PHI must be a number strictly between 0 and 1, got 'nan'"},
      {{"design", "10", "0.2", "0.1", "--format", "xml"}, "--format must be text, json or csv, got 'xml'"},
      {{"design", "10", "0.2", "0.1", "--oc", "0.1,,0.2"},
       "--oc: empty item in '0.1,,0.2'; give rates separated by commas"},
      {{"design", "10", "0.2", "0.1", "--oc", "1.5"}, "--oc: every rate must be strictly between 0 and 1, got 1.5"},
      {{"design", "10", "0.2", "0.1", "--no-boundary-file", "--boundary-file", "x"},
       "--boundary-file excludes --no-boundary-file (see 'stopbound design --help')"},
      {{"design", "10", "0.2", "0.1", "--boundary-file", "no/such/dir/b.dat"},
       "--boundary-file no/such/dir/b.dat: cannot open the directory 'no': No such file or directory"},
      {{"evaluate"}, "FILE is required (see 'stopbound evaluate --help')"},
      {{"evaluate", "missing.dat"}, "cannot read missing.dat: No such file or directory"},
      {{"evaluate", "."}, "cannot read .: Is a directory"},
      {{"evaluate", "boundary.dat", "--oc", "0.5:0.1:0.1"}, "--oc: in '0.5:0.1:0.1', FROM is greater than TO"},
      {{"evaluate", "short.dat"}, "short.dat line 5: the file ends before the line of patient 3 of 3"},
      {{"evaluate", "word.dat"}, "word.dat line 5: expected two integers 'lower upper' (patient 3), got '-1 x'"},
      {{"evaluate", "three.dat"}, "three.dat line 4: expected two integers 'lower upper' (patient 2), got '-1 2 7'"},
      {{"evaluate", "theta.dat"}, "theta.dat line 1: THETA must be a number strictly between 0 and 1, got '1.5'"},
      {{"evaluate", "k.dat"}, "k.dat line 2: K must be a whole number from 1 to 10000, got '10001'"},
      {{"evaluate", "low1.dat"}, "low1.dat: at patient 1 the lower boundary must be from -1 to 0, got 2"},
      {{"evaluate", "up1.dat"}, "up1.dat: at patient 1 the upper boundary must be from 1 to 2, got 0"},
      {{"evaluate", "cross.dat"}, "cross.dat: at patient 3 the upper boundary 2 is not above the lower boundary 2"},
  };
  for (const auto& c : cases) {
    const auto r = run(c.args, dir.path());
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.out, "") << c.message;
    EXPECT_EQ(r.err, "stopbound: " + c.message + "\n");
  }
  // Nothing was written, the picture before a bad boundary file included.
  EXPECT_FALSE(fs::exists(dir.path() / "_bndry_.dat"));
  EXPECT_FALSE(fs::exists(dir.path() / "p.svg"));
}

TEST(CommandLine, TextTableKeepsRatesApartAndEvaluateSkipsAByteOrderMark) {
  const test_driver::temp_dir dir;
  write(dir.path() / "bom.dat", "\xEF\xBB\xBF" "0.2\n3\n-1 1\n-1 2\n-1 2\n");
  const auto r = run({"evaluate", "bom.dat", "--oc", "1.2345e-05,0.1234567,0.1234568"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("THETA = 0.2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("THETA      PHI*    P(LOW)  E[Y]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n1.2345e-05 0.000   0.000   "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n0.1234567  "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n0.1234568  "), std::string::npos) << r.out;
}

TEST(CommandLine, OutOfMemoryIsOneLineOnStandardErrorWithStatusTwo) {
#ifdef STOPBOUND_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's shadow memory does not fit under a small address space";
#endif
  const test_driver::temp_dir dir;
  const auto r = run({"design", "255", "0.2", "0.05", "--oc", "0.0001:0.9999:0.0001", "--format", "json",
                      "--no-boundary-file", "--plot", "m.svg"},
                     dir.path(), {.address_space_limit = 12000L << 10});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("stopbound: out of memory (malloc of ", 0), 0U) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST(CommandLine, FailedOutputIsAFailureAndKeepsTheEarlierFile) {
  const test_driver::temp_dir dir;
  write(dir.path() / "_bndry_.dat", "an earlier boundary\n");
  // A full disk: the new boundary file cannot be written whole.
  const auto full = run({"design", "10", "0.2", "0.05"}, dir.path(), {.file_size_limit = 20});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.out, "");
  EXPECT_EQ(full.err, "stopbound: _bndry_.dat: write failed: File too large; the file was left as it was\n");
  EXPECT_EQ(slurp(dir.path() / "_bndry_.dat"), "an earlier boundary\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
  // A directory where the file should go stays a directory.
  fs::create_directory(dir.path() / "d");
  const auto onto_dir = run({"design", "3", "0.2", "0.3", "--boundary-file", "d"}, dir.path());
  EXPECT_EQ(onto_dir.status, 1);
  EXPECT_EQ(onto_dir.err, "stopbound: --boundary-file d: cannot open it for writing: Is a directory\n");
  EXPECT_TRUE(fs::is_directory(dir.path() / "d"));
  // A boundary file the user may not write fails the run before the picture
  // is written, not after (permissions do not bind root: run as nobody).
  const test_driver::temp_dir ro;
  write(ro.path() / "b.dat", "an earlier boundary\n");
  fs::permissions(ro.path() / "b.dat",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(ro.path(), fs::perms::all);
  const auto read_only = run({"design", "3", "0.2", "0.3", "--plot", "p.svg", "--boundary-file", "b.dat"},
                             ro.path(), {.unprivileged = true});
  EXPECT_EQ(read_only.status, 1);
  EXPECT_EQ(read_only.out, "");
  EXPECT_EQ(read_only.err, "stopbound: --boundary-file b.dat: cannot open it for writing: Permission denied\n");
  EXPECT_EQ(slurp(ro.path() / "b.dat"), "an earlier boundary\n");
  EXPECT_FALSE(fs::exists(ro.path() / "p.svg"));
  // Through a link, a writable file in a directory the user may not write
  // is written in place, as `echo >> link.dat` would write it.
  fs::create_directory(ro.path() / "locked");
  write(ro.path() / "locked" / "b.dat", "an earlier boundary\n");
  fs::permissions(ro.path() / "locked" / "b.dat", fs::perms::all);
  fs::permissions(ro.path() / "locked",
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec);
  fs::create_symlink("locked/b.dat", ro.path() / "link.dat");
  const auto locked = run({"design", "3", "0.2", "0.3", "--plot", "p.svg", "--boundary-file", "link.dat"},
                          ro.path(), {.unprivileged = true});
  EXPECT_EQ(locked.status, 0) << locked.err;
  EXPECT_EQ(slurp(ro.path() / "locked" / "b.dat").substr(0, 6), "0.2\n3\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(ro.path() / "locked"), {}), 1);
  EXPECT_TRUE(fs::exists(ro.path() / "p.svg"));
  // Standard output that cannot be written.
  const auto no_room = run({"design", "3", "0.2", "0.3", "--no-boundary-file"}, dir.path(), {.stdout_path = "/dev/full"});
  EXPECT_EQ(no_room.status, 1);
  EXPECT_EQ(no_room.err, "stopbound: write error on standard output: No space left on device\n");
  // More than stdio's buffer: the reason is the first failed write's.
  const auto big = run({"design", "255", "0.2", "0.05", "--no-boundary-file", "--format", "json"}, dir.path(),
                       {.stdout_path = "/dev/full"});
  EXPECT_EQ(big.status, 1);
  EXPECT_EQ(big.err, "stopbound: write error on standard output: No space left on device\n");
}

// K, THETA, PHI and every --oc item and range part are read by one rule:
// blanks around them are no part of them.
TEST(CommandLine, BlanksAroundNumbersAreAcceptedEverywhere) {
  const test_driver::temp_dir dir;
  const auto plain = run({"design", "10", "0.2", "0.05", "--oc", "0.2,0.3:0.4:0.1", "--format", "json",
                          "--no-boundary-file"},
                         dir.path());
  ASSERT_EQ(plain.status, 0) << plain.err;
  const auto blanks = run({"design", " 10 ", "\t0.2", "0.05  ", "--oc", " 0.2 , 0.3 : 0.4 :0.1 ", "--format",
                           "json", "--no-boundary-file"},
                          dir.path());
  EXPECT_EQ(blanks.status, 0) << blanks.err;
  EXPECT_EQ(blanks.out, plain.out);
}

TEST(CommandLine, EvaluateReadsStandardInputForADash) {
  const test_driver::temp_dir dir;
  const std::string pair = "0.3\n5\n-1 2\n-1 3\n1 3\n1 4\n3 4\n";
  write(dir.path() / "low.dat", pair);
  const auto from_file = run({"evaluate", "low.dat", "--format", "json", "--oc", "0.3,0.6"}, dir.path());
  ASSERT_EQ(from_file.status, 0) << from_file.err;
  test_driver::run_options piped;
  piped.args = {"evaluate", "-", "--format", "json", "--oc", "0.3,0.6"};
  const auto from_stdin = test_driver::run_program(pair, dir.path(), piped);
  ASSERT_EQ(from_stdin.status, 0) << from_stdin.err;
  json a = json::parse(from_file.out);
  json b = json::parse(from_stdin.out);
  EXPECT_EQ(b["file"], "-");
  a.erase("file");
  b.erase("file");
  EXPECT_EQ(a, b);
  piped.args = {"evaluate", "-", "--oc", "0.3"};
  const auto text = test_driver::run_program(pair, dir.path(), piped);
  EXPECT_NE(text.out.find("operating characteristics of the boundaries read from standard input"),
            std::string::npos)
      << text.out;
  const auto bad = test_driver::run_program("0.3\n2\n-1 x\n", dir.path(), piped);
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "stopbound: standard input line 3: expected two integers 'lower upper' (patient 1), got '-1 x'\n");
  EXPECT_EQ(test_driver::entries(dir.path()), std::vector<std::string>{"low.dat"});
}

// With a lower boundary that can stop, the default rates are the whole grid
// 0.05 .. 0.95 with THETA in its place: the region where it acts lies below
// THETA. Without one, the dialogue's rows from THETA up, as before.
TEST(CommandLine, EvaluateDefaultRatesReachWhereALowerBoundaryActs) {
  const test_driver::temp_dir dir;
  write(dir.path() / "low.dat", "0.23\n5\n-1 2\n-1 3\n0 3\n1 4\n1 4\n");
  write(dir.path() / "high.dat", "0.23\n5\n-1 2\n-1 3\n-1 3\n-1 4\n-1 4\n");
  write(dir.path() / "grid.dat", "0.3\n5\n-1 2\n-1 3\n0 3\n1 4\n1 4\n");
  const auto thetas = [&](const char* file) {
    const auto r = run({"evaluate", file, "--format", "json"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<double> out;
    const json j = json::parse(r.out);
    for (const auto& row : j["oc"]) out.push_back(row["theta"].get<double>());
    return out;
  };
  std::vector<double> grid;
  for (int i = 1; i <= 19; ++i) grid.push_back(i / 20.0);
  std::vector<double> with_theta = grid;
  with_theta.insert(with_theta.begin() + 4, 0.23);
  EXPECT_EQ(thetas("low.dat"), with_theta);
  EXPECT_EQ(thetas("grid.dat"), grid);  // THETA = 0.3 is on the grid
  EXPECT_EQ(thetas("high.dat"), table_thetas(0.23));
  EXPECT_EQ(table_thetas(0.23).front(), 0.23);
  EXPECT_EQ(table_thetas(0.23)[1], 0.25);
}

}  // namespace

TEST(CommandLine, FamiliesLooksAndMinimumReachEveryOutput) {
  const test_driver::temp_dir dir;
  const auto r = run({"design", "40", "0.2", "0.05", "--family", "obf", "--looks", "10,20:30:5",
                      "--min-events", "3", "--format", "json", "--boundary-file", "b.dat", "--oc", "0.2"},
                     dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["family"], json::parse(R"({"name": "wt", "delta": 0.0})"));
  EXPECT_EQ(j["looks"], json::parse("[10, 20, 25, 30, 40]"));  // K is always a look
  EXPECT_EQ(j["min_events"], 3);
  EXPECT_TRUE(j["threshold"].is_number());
  EXPECT_EQ(j["alpha"], j["alpha_used"]);
  EXPECT_LE(j["phi_star"].get<double>(), 0.05);
  ASSERT_TRUE(j["next"].is_object());
  EXPECT_GT(j["next"]["phi_star"].get<double>(), 0.05);
  EXPECT_LT(j["next"]["threshold"].get<double>(), j["threshold"].get<double>());
  const auto upper = j["upper"].get<std::vector<int>>();
  for (int n = 1; n <= 40; ++n) {
    const bool look = n == 10 || n == 20 || n == 25 || n == 30 || n == 40;
    if (!look) EXPECT_EQ(upper[static_cast<std::size_t>(n - 1)], n + 1) << n;
    else EXPECT_GE(upper[static_cast<std::size_t>(n - 1)], 3) << n;
  }
  EXPECT_EQ(j["oc"][0]["phi_star"], j["phi_star"]);
  // The boundary file keeps its layout; its ALPHA line holds alpha_used.
  const std::string file = slurp(dir.path() / "b.dat");
  EXPECT_EQ(file.rfind("0.2\n40\n-1 2\n-1 3\n", 0), 0U) << file;
  char alpha[64];
  std::snprintf(alpha, sizeof alpha, "ALPHA = %g \n", j["alpha_used"].get<double>());
  EXPECT_NE(file.find(alpha), std::string::npos) << file;

  const auto text = run({"design", "40", "0.2", "0.05", "--family", "obf", "--looks", "10,20:30:5",
                         "--min-events", "3", "--no-boundary-file", "--oc", "0.2"},
                        dir.path());
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("stopbound 1.2: design of an O'Brien-Fleming upper boundary", 0), 0U) << text.out;
  EXPECT_NE(text.out.find("\nLOOKS = 10,20:30:5,40 (5 looks)\nMINIMUM = 3 events before any stop\n"),
            std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\nTHRESHOLD = "), std::string::npos);
  EXPECT_NE(text.out.find("  patients 1-9: no look\n"), std::string::npos) << text.out;

  // Every family by name, and a Pocock design past the dialogue's 255.
  for (const char* family : {"pocock", "wt:0.25", "bayes", "bayes:0.5,2", "sprt:0.4", "maxsprt"}) {
    const auto f = run({"design", "60", "0.2", "0.05", "--family", family, "--format", "json",
                        "--no-boundary-file", "--oc", "0.2"},
                       dir.path());
    ASSERT_EQ(f.status, 0) << family << f.err;
    const json fj = json::parse(f.out);
    EXPECT_LE(fj["phi_star"].get<double>(), 0.05) << family;
    EXPECT_TRUE(fj["next"].is_null() || fj["next"]["phi_star"].get<double>() > 0.05) << family;
  }
  const auto big = run({"design", "1000", "0.2", "0.05", "--format", "json", "--boundary-file", "big.dat",
                        "--oc", "0.2"},
                       dir.path());
  ASSERT_EQ(big.status, 0) << big.err;
  EXPECT_EQ(json::parse(big.out)["upper"].size(), 1000U);
  // What design writes, evaluate reads back with the same PHI*.
  const auto again = run({"evaluate", "big.dat", "--oc", "0.2", "--format", "json"}, dir.path());
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(json::parse(again.out)["oc"][0]["phi_star"], json::parse(big.out)["phi_star"]);
}

TEST(CommandLine, EvaluateTakesBoundariesThatFallBackBetweenLooks) {
  const test_driver::temp_dir dir;
  // Upper 6 then 5, lower 0 then -1: patients without a look cannot stop, so
  // neither boundary needs to be monotone.
  write(dir.path() / "down.dat",
        "0.2\n13\n-1 2\n-1 2\n-1 2\n-1 3\n-1 3\n-1 3\n-1 3\n-1 4\n-1 4\n-1 4\n-1 6\n-1 5\n-1 6\n");
  write(dir.path() / "lowdown.dat", "0.2\n3\n0 2\n0 2\n-1 3\n");
  // Counts past n + 1 stop no more than n + 1 does.
  write(dir.path() / "never.dat", "0.2\n3\n-5 9\n-1 2147483647\n-1 2\n");
  write(dir.path() / "same.dat", "0.2\n3\n-1 2\n-1 3\n-1 2\n");
  for (const char* file : {"down.dat", "lowdown.dat"}) {
    const auto r = run({"evaluate", file, "--oc", "0.2,0.5", "--format", "json"}, dir.path());
    ASSERT_EQ(r.status, 0) << file << r.err;
    const json j = json::parse(r.out);
    for (const auto& row : j["oc"]) {
      EXPECT_GE(row["phi_star"].get<double>(), 0.0);
      EXPECT_LE(row["phi_star"].get<double>() + row["p_lower"].get<double>(), 1.0);
    }
  }
  const auto never = run({"evaluate", "never.dat", "--oc", "0.3", "--format", "csv"}, dir.path());
  const auto same = run({"evaluate", "same.dat", "--oc", "0.3", "--format", "csv"}, dir.path());
  ASSERT_EQ(never.status, 0) << never.err;
  EXPECT_EQ(never.out, same.out);
}
