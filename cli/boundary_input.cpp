// The reader of `evaluate`: any file in the boundary file's layout (THETA, K,
// then K lines "lower upper"; the trailer and anything after it are ignored),
// with the pair checked by the public interface's check, naming the line or
// patient at fault.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "cli/internal.h"
#include "stopbound/stopbound.h"

namespace cli {

namespace {

// Lines longer than this are not a boundary file's.
constexpr std::size_t max_line = 4096;

// Closes what the reader opened; standard input stays open.
struct file_closer {
  void operator()(std::FILE* f) const {
    if (f != stdin) std::fclose(f);
  }
};

class line_reader {
 public:
  // "-" is standard input, named so in messages.
  explicit line_reader(const std::string& path)
      : name_(path == standard_input ? "standard input"
              : path.empty()         ? "''"
                                     : path) {
    if (path == standard_input) {
      file_.reset(stdin);
      return;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      throw error("cannot read " + name_ + ": " + std::strerror(EISDIR));
    errno = 0;
    file_.reset(std::fopen(path.c_str(), "r"));
    if (!file_) throw error("cannot read " + name_ + ": " + std::strerror(errno));
  }

  // The next line without its end (and without a carriage return before
  // it); false at the end of the file.
  bool next(std::string& line) {
    line.clear();
    ++number_;
    int c = 0;
    while ((c = std::getc(file_.get())) != EOF && c != '\n') {
      if (line.size() == max_line)
        throw error(name_ + " line " + std::to_string(number_) + ": line too long for a boundary file");
      line += static_cast<char>(c);
    }
    if (std::ferror(file_.get())) throw error("cannot read " + name_ + ": " + std::strerror(errno));
    if (c == EOF && line.empty()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A byte order mark, as some editors write, is not part of THETA.
    if (number_ == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    return true;
  }

  int number() const { return number_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::unique_ptr<std::FILE, file_closer> file_;
  int number_ = 0;
};

// The blank-separated tokens of a line.
std::vector<std::string> tokens(const std::string& line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string at_line(const line_reader& in) {
  return in.name() + " line " + std::to_string(in.number());
}

// The one token of a header line.
std::string header_token(line_reader& in, const char* what) {
  std::string line;
  if (!in.next(line)) throw error(at_line(in) + ": the file ends before " + what);
  const auto t = tokens(line);
  if (t.size() != 1) throw error(at_line(in) + ": expected " + what + ", got '" + shown(line) + "'");
  return t[0];
}

// The public interface's check of the pair, its message after the file's
// name. Counts past n + 1 or below -1 stop no more than those do, as files
// written for the dialogue's engine may hold them ("never": 2147483647).
void check_pair(const boundary_result& b, const std::string& name) {
  const stopbound::boundary pair = engine_pair(b);
  try {
    stopbound::check_boundary(pair.lower, pair.upper);
  } catch (const std::invalid_argument& e) {
    throw error(name + ": " + e.what());
  }
}

}  // namespace

stopbound::boundary engine_pair(const boundary_result& b) {
  stopbound::boundary pair;
  pair.lower.reserve(static_cast<std::size_t>(b.K));
  pair.upper.reserve(static_cast<std::size_t>(b.K));
  for (int n = 1; n <= b.K; ++n) {
    const auto i = static_cast<std::size_t>(n);
    pair.lower.push_back(std::max(b.lower[i], -1));
    pair.upper.push_back(b.upper[i] > n ? n + 1 : b.upper[i]);
  }
  return pair;
}

boundary_result read_boundary_file(const std::string& path) {
  boundary_result b;
  b.kind = command::evaluate;
  b.file = path;
  line_reader in(path);

  const std::string theta = header_token(in, "THETA, a number strictly between 0 and 1");
  const auto t = parse_number(theta);
  if (!t || !(*t > 0.0 && *t < 1.0))
    throw error(at_line(in) + ": THETA must be a number strictly between 0 and 1, got '" +
                shown(theta) + "'" + (t ? rounding_note(theta, *t) : ""));
  b.theta = *t;

  const std::string most = std::to_string(stopbound::max_k);
  const std::string k = header_token(in, ("K, a whole number from 1 to " + most).c_str());
  const auto K = parse_int(k);
  if (!K || *K < 1 || *K > stopbound::max_k)
    throw error(at_line(in) + ": K must be a whole number from 1 to " + most +
                ", got '" + shown(k) + "'");
  b.K = *K;

  b.lower.assign(static_cast<std::size_t>(b.K) + 1, -1);
  b.upper.assign(static_cast<std::size_t>(b.K) + 1, 0);
  std::string line;
  for (int n = 1; n <= b.K; ++n) {
    if (!in.next(line))
      throw error(at_line(in) + ": the file ends before the line of patient " + std::to_string(n) +
                  " of " + std::to_string(b.K));
    const auto t2 = tokens(line);
    const auto lo = t2.size() == 2 ? parse_int(t2[0]) : std::nullopt;
    const auto up = t2.size() == 2 ? parse_int(t2[1]) : std::nullopt;
    if (!lo || !up)
      throw error(at_line(in) + ": expected two integers 'lower upper' (patient " + std::to_string(n) +
                  "), got '" + shown(line) + "'");
    b.lower[static_cast<std::size_t>(n)] = *lo;
    b.upper[static_cast<std::size_t>(n)] = *up;
  }
  check_pair(b, in.name());
  fill_rule(b);
  return b;
}

}  // namespace cli
