// Fuzzing oracle: runs the program on one input in a child process,
// in a fresh directory that holds an earlier boundary file, and aborts unless
// the run ended as the program promises:
//   status 0: the complete report, and a _bndry_.dat of K + 6 lines whose
//             stages and trailer match what was printed;
//   status 1: the banner and prompt followed by exactly one of the readers'
//             messages, with the earlier _bndry_.dat untouched.
// Anything else (a signal, a sanitizer report, another status, a leftover
// temporary file, text on stderr) is a failure. An input that is valid by
// the oracle's own reading (three numbers in range, in the plainest
// decimal form) must end with status 0, and for K <= 20 the PHI* it prints
// must be the crossing probability of the boundary it prints, as an
// independent evaluation here finds it (a recursion over the counts of
// events, in long double).
//
// An input whose first line is "#args" runs the command line instead: one
// argument a line up to a line "#file", then the content of in.dat in the
// work directory (what `evaluate in.dat` reads). It must end
//   status 0: output on stdout only, a JSON object whole, and _bndry_.dat
//             either untouched or a well-formed boundary file;
//   status 1: exactly one line "stopbound: ..." on stderr, nothing on
//             stdout, the earlier _bndry_.dat untouched;
// and leave no file but those its arguments name. Arguments with a '/' are
// not run, so that every file written stays in the work directory. A
// `design` whose arguments are valid by the oracle's own reading (K, THETA
// and PHI in range in the plainest form, plain distinct file names, known
// formats, an --oc list of plain rates) must end with status 0, and for
// K <= 20 its PHI* (from the JSON, or from the boundary file) is checked
// as for the dialogue.
//
// Without arguments it is afl-fuzz's target: the program's own run, linked
// in, is called in a loop in this one process (AFL++'s persistent mode),
// with standard input and output in memory. The runs return their status
// (the dialogue's fatal paths throw, and the run catches them); an exception
// escaping a run is a failure. Each input thus costs no fork, no exec and no
// sanitizer start-up. Built without afl-clang-fast it checks standard input
// once the same way.
//
// With arguments it checks every file named, or every file in a directory
// named, by running the built program itself in a child process, and exits 1
// if any fails (the corpus replay of the test suite and of the fuzzer's
// queue): the whole program, main included, under the same judgement.
//
// The work directories go under $TMPDIR (fuzz/run.sh points it at a tmpfs,
// where the boundary file's sync costs nothing).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "driver/driver.h"
#include "driver/expected_banner.h"

namespace {

namespace fs = std::filesystem;

const std::string& banner = test_driver::expected_banner;

const std::string earlier_file = "an earlier boundary\n";

struct outcome {
  std::string out, err, file;
  std::string design_file;  // the boundary file a command line names, after the run
  int status = -1;
  bool clean_dir = true;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A command-line input: its arguments and the content of in.dat.
struct command_line {
  std::vector<std::string> args;
  std::string file;
};

constexpr std::string_view args_mark = "#args\n";
constexpr std::string_view file_mark = "#file";

std::optional<command_line> as_command_line(const std::string& input) {
  if (input.compare(0, args_mark.size(), args_mark) != 0) return std::nullopt;
  command_line c;
  std::size_t at = args_mark.size();
  while (at < input.size()) {
    const auto end = input.find('\n', at);
    const std::string line = input.substr(at, end == std::string::npos ? end : end - at);
    at = end == std::string::npos ? input.size() : end + 1;
    if (line == file_mark) {
      c.file = input.substr(at);
      break;
    }
    // An argument vector holds C strings: the program sees each argument
    // only up to its first NUL, and so must the names it may leave behind.
    c.args.push_back(line.substr(0, line.find('\0')));
  }
  // Without arguments the program runs the dialogue, on this very input.
  if (c.args.empty()) return std::nullopt;
  return c;
}

// Whether every file the arguments may name lies in the work directory.
bool stays_in_work_dir(const command_line& c) {
  return std::ranges::none_of(c.args, [](const std::string& a) { return a.find('/') != std::string::npos; });
}

// The names a command line may leave behind: its arguments, and what follows
// the '=' of an option written "--name=value"; the dialogue may leave none.
std::vector<std::string> named_files(const std::optional<command_line>& c) {
  if (!c) return {};
  std::vector<std::string> names{"in.dat"};
  for (const std::string& a : c->args) {
    names.push_back(a);
    if (const auto eq = a.find('='); eq != std::string::npos) names.push_back(a.substr(eq + 1));
  }
  return names;
}

// ---- The oracle's own reading of what is valid, and its own PHI*.

// A whole token in the plainest decimal form: [sign] digits [. digits]
// [e [sign] digits], or [sign] . digits. Forms the program also takes
// (hexadecimal, inf) are left unjudged.
const std::regex plain_number_form(R"([+-]?([0-9]+(\.[0-9]+)?|\.[0-9]+)([eE][+-]?[0-9]{1,3})?)");
const std::regex plain_k_form(R"(\+?[0-9]{1,6})");
const std::regex plain_name_form(R"([A-Za-z0-9_][A-Za-z0-9._-]{0,60})");

bool plain_number(const std::string& t) { return t.size() <= 40 && std::regex_match(t, plain_number_form); }

std::optional<int> valid_k(const std::string& t) {
  if (!std::regex_match(t, plain_k_form)) return std::nullopt;
  const int k = std::atoi(t.c_str());
  if (k < 1 || k > 255) return std::nullopt;
  return k;
}

std::optional<double> valid_probability(const std::string& t) {
  if (!plain_number(t)) return std::nullopt;
  const double v = std::strtod(t.c_str(), nullptr);
  if (!(v > 0.0 && v < 1.0)) return std::nullopt;
  return v;
}

// What a valid input asks for: the design's K and THETA.
struct valid_design {
  int K = 0;
  double theta = 0;
};

// The dialogue's input when its first three tokens (white space as the
// readers skip it) are K, THETA and PHI in range, in plain form.
std::optional<valid_design> valid_dialogue(const std::string& input) {
  if (input.find('\0') != std::string::npos) return std::nullopt;
  std::vector<std::string> tokens;
  std::size_t at = 0;
  const auto space = [](char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; };
  while (tokens.size() < 3 && at < input.size()) {
    while (at < input.size() && space(input[at])) ++at;
    const std::size_t start = at;
    while (at < input.size() && !space(input[at])) ++at;
    if (at > start) tokens.push_back(input.substr(start, at - start));
  }
  if (tokens.size() < 3) return std::nullopt;
  const auto K = valid_k(tokens[0]);
  const auto theta = valid_probability(tokens[1]);
  if (!K || !theta || !valid_probability(tokens[2])) return std::nullopt;
  return valid_design{*K, *theta};
}

bool plain_name(const std::string& n) {
  return std::regex_match(n, plain_name_form) && n != "in.dat";
}

// The option and its value, as "--name value" or "--name=value".
bool option_value(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& value) {
  if (args[i] == name && i + 1 < args.size()) {
    value = args[++i];
    return true;
  }
  if (args[i].rfind(name + "=", 0) == 0) {
    value = args[i].substr(name.size() + 1);
    return true;
  }
  return false;
}

// A command line the program must run to the end: `design K THETA PHI`
// with options each given at most once, plain values and distinct names.
std::optional<valid_design> valid_command_line(const command_line& c, bool& json, bool& file) {
  const auto& a = c.args;
  if (a.size() < 4 || a[0] != "design") return std::nullopt;
  const auto K = valid_k(a[1]);
  const auto theta = valid_probability(a[2]);
  if (!K || !theta || !valid_probability(a[3])) return std::nullopt;
  std::vector<std::string> seen;
  std::vector<std::string> names;
  std::string boundary = "_bndry_.dat";
  bool no_file = false;
  json = false;
  for (std::size_t i = 4; i < a.size(); ++i) {
    std::string v;
    std::string option;
    if (a[i] == "--no-boundary-file") {
      option = a[i];
      no_file = true;
    } else if (option_value(a, i, "--format", v)) {
      option = "--format";
      if (v != "text" && v != "json" && v != "csv") return std::nullopt;
      json = v == "json";
    } else if (option_value(a, i, "--oc", v)) {
      option = "--oc";
      std::size_t at = 0;
      for (int items = 0; at <= v.size(); ++items) {
        const std::size_t end = std::min(v.find(',', at), v.size());
        if (items == 100 || !valid_probability(v.substr(at, end - at))) return std::nullopt;
        at = end + 1;
      }
    } else if (option_value(a, i, "--plot", v) || option_value(a, i, "--html", v)) {
      option = a[i].substr(0, 6);
      if (!plain_name(v)) return std::nullopt;
      names.push_back(v);
    } else if (option_value(a, i, "--boundary-file", v)) {
      option = "--boundary-file";
      if (!plain_name(v)) return std::nullopt;
      boundary = v;
    } else {
      return std::nullopt;
    }
    if (std::ranges::find(seen, option) != seen.end()) return std::nullopt;
    seen.push_back(option);
  }
  if (no_file && std::ranges::find(seen, "--boundary-file") != seen.end()) return std::nullopt;
  file = !no_file;
  if (file) names.push_back(boundary);
  std::ranges::sort(names);
  if (std::ranges::adjacent_find(names) != names.end()) return std::nullopt;
  return valid_design{*K, *theta};
}

// The boundary file a command line writes, as it names it.
std::string boundary_path(const command_line& c) {
  std::string path = "_bndry_.dat";
  for (std::size_t i = 0; i < c.args.size(); ++i) {
    std::string v;
    if (option_value(c.args, i, "--boundary-file", v)) path = v;
  }
  return path;
}

// The probability that the trial reaches b[n] events at some patient n
// (b indexed from 1), by a recursion over the counts of events of the
// trials not yet stopped: nothing shared with the program's engine.
long double independent_phi_star(const std::vector<int>& b, double theta) {
  const std::size_t K = b.size() - 1;
  std::vector<long double> p(K + 2, 0.0L);
  p[0] = 1.0L;
  long double stopped = 0.0L;
  const long double t = theta;
  for (std::size_t n = 1; n <= K; ++n) {
    for (std::size_t c = n; c >= 1; --c) p[c] = p[c] * (1.0L - t) + p[c - 1] * t;
    p[0] *= 1.0L - t;
    for (std::size_t c = static_cast<std::size_t>(std::max(b[n], 0)); c <= n; ++c) {
      stopped += p[c];
      p[c] = 0.0L;
    }
  }
  return stopped;
}

// Empty when the printed PHI* agrees with the independent one within what
// printing it with `relative` precision leaves open.
std::string compare_phi_star(const std::vector<int>& b, double theta, double printed, double relative) {
  if (b.size() - 1 > 20) return "";
  const long double exact = independent_phi_star(b, theta);
  const long double off = printed - exact;
  if ((off < 0 ? -off : off) <= relative * exact + 1e-300L) return "";
  char text[128];
  std::snprintf(text, sizeof text, "PHI* %.17g is not the crossing probability of the boundary, %.17Lg", printed,
                exact);
  return text;
}

// The boundary b[1..K] and the PHI* of a boundary file's lines; false when
// they are not there.
bool read_boundary_file(const std::string& file, std::vector<int>& b, double& phi_star) {
  std::istringstream in(file);
  std::string line;
  if (!std::getline(in, line) || !std::getline(in, line)) return false;
  const int K = std::atoi(line.c_str());
  if (K < 1 || K > 255) return false;
  b.assign(static_cast<std::size_t>(K) + 1, 0);
  for (int n = 1; n <= K; ++n) {
    if (!std::getline(in, line) || line.rfind("-1 ", 0) != 0) return false;
    b[static_cast<std::size_t>(n)] = std::atoi(line.c_str() + 3);
  }
  const std::string head = "pr(Hitting the upper boundary) = ";
  while (std::getline(in, line))
    if (line.rfind(head, 0) == 0) {
      phi_star = std::strtod(line.c_str() + head.size(), nullptr);
      return true;
    }
  return false;
}

// The top-level "phi_star" and "upper" of the JSON report.
bool read_json(const std::string& out, std::vector<int>& b, double& phi_star) {
  const auto p = out.find("\"phi_star\": ");
  const auto u = out.find("\"upper\": [");
  if (p == std::string::npos || u == std::string::npos) return false;
  phi_star = std::strtod(out.c_str() + p + 12, nullptr);
  const auto end = out.find(']', u);
  std::istringstream in(out.substr(u + 10, end - u - 10));
  b.assign(1, 0);
  std::string item;
  while (std::getline(in, item, ',')) b.push_back(std::atoi(item.c_str()));
  return b.size() > 1;
}

// The argument vector of a run, pointing into c: the program's name, then
// the command line's arguments (none for the dialogue).
std::vector<char*> argv_of(const std::optional<command_line>& c) {
  std::vector<char*> argv{const_cast<char*>("stopbound")};
  if (c)
    std::transform(c->args.begin(), c->args.end(), std::back_inserter(argv),
                   [](const std::string& a) { return const_cast<char*>(a.c_str()); });
  argv.push_back(nullptr);
  return argv;
}

std::string work_root() {
  const char* tmp = std::getenv("TMPDIR");
  return {tmp != nullptr && *tmp != '\0' ? tmp : "/tmp"};
}

fs::path make_work_dir() {
  std::string name = work_root() + "/stopbound-fuzz-XXXXXX";
  if (::mkdtemp(name.data()) == nullptr) std::abort();
  return name;
}

// The work directory as every run finds it: the earlier boundary file, and
// for a command line the in.dat it may read.
void prepare(const fs::path& dir, const std::optional<command_line>& c) {
  std::ofstream(dir / "_bndry_.dat", std::ios::binary | std::ios::trunc) << earlier_file;
  if (c) std::ofstream(dir / "in.dat", std::ios::binary) << c->file;
}

// Whether dir holds nothing but the boundary file and the allowed names.
bool only_boundary_file(const fs::path& dir, const std::vector<std::string>& allowed) {
  return std::ranges::all_of(fs::directory_iterator(dir), [&](const fs::directory_entry& e) {
    const auto name = e.path().filename().string();
    return name == "_bndry_.dat" || std::ranges::find(allowed, name) != allowed.end();
  });
}

// The text a stream opened by open_memstream holds, after closing it.
struct memory_stream {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* f = ::open_memstream(&text, &size);
  memory_stream() = default;
  memory_stream(const memory_stream&) = delete;
  memory_stream& operator=(const memory_stream&) = delete;
  ~memory_stream() {
    if (f != nullptr) std::fclose(f);
    std::free(text);
  }
  std::string close() {
    std::fclose(f);
    f = nullptr;
    return {text, size};
  }
};

// One run of the program's code in this process, in the current directory,
// which holds the earlier boundary file. Leaves the directory as it found it.
outcome run_in_process(const std::string& input, const std::optional<command_line>& cli_input) {
  prepare(".", cli_input);
  std::FILE* in = input.empty() ? std::fopen("/dev/null", "r")
                                : ::fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  memory_stream out;
  memory_stream err;
  if (in == nullptr || out.f == nullptr || err.f == nullptr) std::abort();
  // cppcheck-suppress constVariable ; the streams are put back, so not const FILE
  std::FILE* const saved[3] = {stdin, stdout, stderr};
  stdin = in;
  stdout = out.f;
  stderr = err.f;

  std::vector<char*> argv = argv_of(cli_input);
  int status = -1;  // an exception that escaped the run: judged a failure
  try {
    status = cli_input ? cli::cli_run(static_cast<int>(argv.size()) - 1, argv.data())
                       : stopbound_run("stopbound");
  } catch (...) {
  }
  stdin = saved[0];
  stdout = saved[1];
  stderr = saved[2];
  std::fclose(in);

  outcome r;
  r.status = status;
  r.out = out.close();
  r.err = err.close();
  r.file = slurp("_bndry_.dat");
  if (cli_input) r.design_file = slurp(boundary_path(*cli_input));
  r.clean_dir = only_boundary_file(".", named_files(cli_input));
  for (const auto& e : fs::directory_iterator("."))
    if (e.path().filename() != "_bndry_.dat") fs::remove_all(e.path());
  return r;
}

outcome run(const std::string& input, const std::optional<command_line>& cli_input) {
  const fs::path work = make_work_dir();
  // The captured streams live apart, where no output file the arguments name
  // can take their place.
  const fs::path io = make_work_dir();
  const char* dir = work.c_str();
  prepare(work, cli_input);
  std::ofstream(io / "stdin", std::ios::binary) << input;
  const fs::path in_path = io / "stdin";
  const fs::path out_path = io / "stdout";
  const fs::path err_path = io / "stderr";
  std::vector<char*> argv = argv_of(cli_input);

  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir) != 0) ::_exit(125);
    const int in = ::open(in_path.c_str(), O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // The descriptors of afl-fuzz's fork server belong to this harness; the
    // program, instrumented too, then just writes its coverage to the map.
    ::close(198);
    ::close(199);
    ::execv(STOPBOUND_EXE, argv.data());
    ::_exit(126);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  outcome r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  r.file = slurp(work / "_bndry_.dat");
  if (cli_input) r.design_file = slurp(work / boundary_path(*cli_input));
  r.clean_dir = only_boundary_file(work, named_files(cli_input));
  fs::remove_all(work);
  fs::remove_all(io);
  return r;
}

// Checks a complete report and its boundary file; empty when both are right.
std::string check_report(const std::string& text, const std::string& file) {
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // the prompt line ends where the results begin
  std::string theta, phi, phi_star, alpha;
  auto field = [&](const char* head, std::string& value) {
    if (!std::getline(in, line) || line.rfind(head, 0) != 0) return false;
    const auto rest = line.substr(std::string(head).size());
    value = rest.substr(0, rest.find(' '));
    return !value.empty();
  };
  std::string k_text;
  if (!field("K     = ", k_text) || !field("THETA = ", theta) || !field("PHI   = ", phi) ||
      !field("PHI*  = ", phi_star) || !field("ALPHA = ", alpha))
    return "results block";
  const int K = std::atoi(k_text.c_str());
  if (K < 1 || K > 255) return "K";
  if (std::strtod(phi_star.c_str(), nullptr) > std::strtod(phi.c_str(), nullptr)) return "PHI* above PHI";
  std::getline(in, line);
  std::getline(in, line);
  if (line != "The upper boundary is:") return "boundary heading";
  std::vector<int> b(static_cast<std::size_t>(K) + 1);
  for (int n = 1; n <= K; ++n) {
    const std::string head = "b[" + std::to_string(n) + "] = ";
    if (!std::getline(in, line) || line.rfind(head, 0) != 0 || line.back() != ' ') return "boundary line";
    b[static_cast<std::size_t>(n)] = std::atoi(line.c_str() + head.size());
    const int v = b[static_cast<std::size_t>(n)];
    if (v < 1 || v > n + 1 || (n > 1 && v < b[static_cast<std::size_t>(n) - 1])) return "boundary value";
  }
  const std::string tail =
      "\nThe boundary has been written to file _bndry_.dat in a format\n"
      "appropriate for reading into other supplied programs (e.g. tolvane).\nDate and time: ";
  const auto at = text.find(tail);
  if (at == std::string::npos || text.size() < 3 || text.compare(text.size() - 3, 3, "\n\n\n") != 0 ||
      text.find("SD[ ]  denotes the standard deviation\n\n") == std::string::npos)
    return "closing lines";
  std::string expected = theta + "\n" + std::to_string(K) + "\n";
  for (int n = 1; n <= K; ++n) expected += "-1 " + std::to_string(b[static_cast<std::size_t>(n)]) + "\n";
  expected += "This file was generated by program stopbound\nPHI   = " + phi +
              " \npr(Hitting the upper boundary) = " + phi_star + "\nALPHA = " + alpha + " \n";
  return file == expected ? "" : "boundary file";
}

const std::regex reader_message(
    R"((ReadData: n = -?[0-9]+ is outside \[1:255\]|ReadData: (theta|phi) = [^ \n]+ is outside \(0,1\))"
    R"(|(int|dbl)_read: (input|end of file) error\.)\n)");

// Empty when a boundary file holds THETA, K (1..10000), K stage lines "-1 b"
// with b in 1..n + 1, and the four trailer lines. A design with looks falls
// back to n + 1 between them, so b need not be monotone.
std::string check_boundary_file(const std::string& file) {
  std::istringstream in(file);
  std::string theta, k_text, line;
  if (!std::getline(in, theta) || !std::getline(in, k_text)) return "boundary file header";
  const int K = std::atoi(k_text.c_str());
  if (K < 1 || K > 10000 || std::to_string(K) != k_text) return "boundary file K";
  for (int n = 1; n <= K; ++n) {
    if (!std::getline(in, line) || line.rfind("-1 ", 0) != 0) return "boundary file stage line";
    const int b = std::atoi(line.c_str() + 3);
    if (std::to_string(b) != line.substr(3) || b < 1 || b > n + 1) return "boundary file stage value";
  }
  for (const char* head : {"This file was generated by program stopbound\n", "PHI   = ",
                           "pr(Hitting the upper boundary) = ", "ALPHA = "})
    if (!std::getline(in, line) || (line + "\n").rfind(head, 0) != 0) return "boundary file trailer";
  return in.peek() == EOF ? "" : "boundary file length";
}

// The command line's promises, for an input it ran.
std::string judge_command_line(const outcome& r, const command_line& c) {
  if (!r.clean_dir) return "a file the arguments do not name was left behind";
  // An argument may name _bndry_.dat as any output: then anything goes there.
  const bool may_overwrite = std::ranges::any_of(
      c.args, [](const std::string& a) { return a.find("_bndry_.dat") != std::string::npos; });
  bool json = false;
  bool file = false;
  const auto valid = valid_command_line(c, json, file);
  const bool asks_only = c.args.size() == 1 && (c.args[0] == "--version" || c.args[0] == "--help" || c.args[0] == "-h");
  if ((valid || asks_only) && r.status != 0) return "a valid command line ended with status " + std::to_string(r.status);
  if (r.status == 1) {
    if (!r.out.empty()) return "status 1 with text on stdout";
    if (r.err.rfind("stopbound: ", 0) != 0 || r.err.find('\n') != r.err.size() - 1)
      return "status 1 without exactly one line \"stopbound: ...\" on stderr";
    if (!may_overwrite && r.file != earlier_file) return "earlier boundary file changed";
    return "";
  }
  if (r.status != 0) return "exit status " + std::to_string(r.status);
  if (!r.err.empty()) return "text on stderr: " + r.err;
  if (r.out.empty() || r.out.back() != '\n') return "status 0 without a whole report";
  if (r.out[0] == '{' && r.out.compare(r.out.size() - 2, 2, "}\n") != 0) return "JSON cut short";
  if (valid) {
    std::vector<int> b;
    double phi_star = 0;
    if (json && read_json(r.out, b, phi_star)) {
      if (auto problem = compare_phi_star(b, valid->theta, phi_star, 1e-12); !problem.empty()) return problem;
    } else if (file) {
      if (!read_boundary_file(r.design_file, b, phi_star)) return "no boundary file where asked";
      // %g keeps six significant digits.
      if (auto problem = compare_phi_star(b, valid->theta, phi_star, 5.0001e-6); !problem.empty()) return problem;
    }
  }
  return may_overwrite || r.file == earlier_file ? "" : check_boundary_file(r.file);
}

// Empty when the run ended as promised, otherwise what was wrong.
std::string judge(const outcome& r, const std::string& input) {
  const auto valid = valid_dialogue(input);
  if (valid && r.status != 0) return "a valid input ended with status " + std::to_string(r.status);
  if (!r.err.empty()) return "text on stderr: " + r.err;
  if (!r.clean_dir) return "a temporary file was left behind";
  if (r.out.compare(0, banner.size(), banner) != 0) return "banner";
  const std::string rest = r.out.substr(banner.size());
  if (r.status == 1) {
    if (!std::regex_match(rest, reader_message)) return "status 1 without exactly one reader message";
    if (r.file != earlier_file) return "earlier boundary file changed";
    return "";
  }
  if (r.status == 0) {
    const std::string problem = check_report(rest, r.file);
    if (!problem.empty()) return "report: " + problem;
    std::vector<int> b;
    double phi_star = 0;
    if (valid && read_boundary_file(r.file, b, phi_star)) return compare_phi_star(b, valid->theta, phi_star, 5.0001e-6);
    return "";
  }
  return "exit status " + std::to_string(r.status);
}

[[maybe_unused]] std::string read_all(std::FILE* f) {
  std::string text;
  char buf[4096];
  for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, got);
  return text;
}

// Runs one input, in this process or as the built program, and judges it:
// empty when it ended as promised.
std::string check(const std::string& input, bool in_process) {
  const std::optional<command_line> c = as_command_line(input);
  if (c && !stays_in_work_dir(*c)) return "";  // not run
  const outcome r = in_process ? run_in_process(input, c) : run(input, c);
  return c ? judge_command_line(r, *c) : judge(r, input);
}

// Judges one input run in this process; aborts (a crash to afl-fuzz) unless
// it ended as promised.
void check_in_process(const std::string& input) {
  const std::string problem = check(input, true);
  if (!problem.empty()) {
    std::fprintf(stderr, "oracle: %s\n", problem.c_str());
    std::abort();
  }
}

}  // namespace

#ifdef __AFL_FUZZ_TESTCASE_LEN
// afl-clang-fast's macros are GNU statement expressions.
#pragma clang diagnostic ignored "-Wpedantic"
__AFL_FUZZ_INIT();
#endif

int main(int argc, char** argv) {
  if (argc == 1) {
#ifdef __AFL_FUZZ_TESTCASE_LEN
    // Each process the fork server starts makes and removes its own directory.
    __AFL_INIT();
#endif
    const fs::path work = make_work_dir();
    fs::current_path(work);
#ifdef __AFL_FUZZ_TESTCASE_LEN
    const unsigned char* buf = __AFL_FUZZ_TESTCASE_BUF;
    // Restarted now and then, as AFL++ advises for persistent loops.
    while (__AFL_LOOP(10000)) {
      check_in_process(std::string(reinterpret_cast<const char*>(buf), __AFL_FUZZ_TESTCASE_LEN));
    }
#else
    check_in_process(read_all(stdin));
#endif
    fs::current_path(work.parent_path());
    fs::remove_all(work);
    return 0;
  }
  // --in-process replays through the fuzzer's own loop instead of the program.
  const bool in_process = std::string(argv[1]) == "--in-process";
  std::vector<fs::path> inputs;
  for (int i = in_process ? 2 : 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& e : fs::directory_iterator(argv[i]))
        if (e.is_regular_file()) inputs.push_back(fs::absolute(e.path()));
    } else {
      inputs.push_back(fs::absolute(argv[i]));
    }
  }
  const fs::path back = fs::current_path();
  const fs::path work = in_process ? make_work_dir() : back;
  fs::current_path(work);
  int failures = 0;
  for (const auto& path : inputs) {
    const std::string problem = check(slurp(path), in_process);
    if (!problem.empty()) {
      ++failures;
      std::fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
    }
  }
  fs::current_path(back);
  if (in_process) fs::remove_all(work);
  std::printf("%zu inputs ended as promised, %d did not\n", inputs.size() - static_cast<std::size_t>(failures),
              failures);
  return failures == 0 ? 0 : 1;
}
