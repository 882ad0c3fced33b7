// Fuzzing oracle: runs the program on one input in a child process,
// in a fresh directory that holds an earlier boundary file, and aborts unless
// the run ended as the program promises:
//   status 0: the complete report, and a _bndry_.dat of K + 6 lines whose
//             stages and trailer match what was printed;
//   status 1: the banner and prompt followed by exactly one of the readers'
//             messages, with the earlier _bndry_.dat untouched.
// Anything else (a signal, a sanitizer report, another status, a leftover
// temporary file, text on stderr) is a failure.
//
// Without arguments it checks standard input once, as afl-fuzz runs it; the
// program it runs is instrumented as well and adds its coverage to the map.
// With arguments it checks every file named, or every file in a directory
// named, and exits 1 if any fails (the corpus replay of the test suite).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "driver/expected_banner.h"


namespace {

namespace fs = std::filesystem;

const std::string& banner = test_driver::expected_banner;

const std::string earlier_file = "an earlier boundary\n";

struct outcome {
  std::string out, err, file;
  int status = -1;
  bool clean_dir = true;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

outcome run(const std::string& input) {
  char dir_template[] = "/tmp/stopbound-fuzz-XXXXXX";
  const char* dir = ::mkdtemp(dir_template);
  if (dir == nullptr) std::abort();
  const fs::path work(dir);
  std::ofstream(work / "_bndry_.dat") << earlier_file;
  std::ofstream(work / "stdin", std::ios::binary) << input;
  const fs::path out_path = work / "stdout";
  const fs::path err_path = work / "stderr";

  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir) != 0) ::_exit(125);
    const int in = ::open("stdin", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // The descriptors of afl-fuzz's fork server belong to this harness; the
    // program, instrumented too, then just writes its coverage to the map.
    ::close(198);
    ::close(199);
    char* args[] = {const_cast<char*>("stopbound"), nullptr};
    ::execv(STOPBOUND_EXE, args);
    ::_exit(126);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  outcome r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  r.file = slurp(work / "_bndry_.dat");
  for (const auto& e : fs::directory_iterator(work)) {
    const auto name = e.path().filename().string();
    if (name != "_bndry_.dat" && name != "stdin" && name != "stdout" && name != "stderr") r.clean_dir = false;
  }
  fs::remove_all(work);
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

// Empty when the run ended as promised, otherwise what was wrong.
std::string judge(const outcome& r) {
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
    return problem.empty() ? "" : "report: " + problem;
  }
  return "exit status " + std::to_string(r.status);
}

std::string read_all(std::FILE* f) {
  std::string text;
  char buf[4096];
  for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, got);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) {
    const std::string problem = judge(run(read_all(stdin)));
    if (!problem.empty()) {
      std::fprintf(stderr, "oracle: %s\n", problem.c_str());
      std::abort();
    }
    return 0;
  }
  int failures = 0;
  int checked = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> inputs;
    if (fs::is_directory(argv[i])) {
      for (const auto& e : fs::directory_iterator(argv[i]))
        if (e.is_regular_file()) inputs.push_back(e.path());
    } else {
      inputs.emplace_back(argv[i]);
    }
    for (const auto& path : inputs) {
      ++checked;
      const std::string problem = judge(run(slurp(path)));
      if (!problem.empty()) {
        ++failures;
        std::fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
      }
    }
  }
  std::printf("%d inputs ended as promised, %d did not\n", checked - failures, failures);
  return failures == 0 ? 0 : 1;
}
