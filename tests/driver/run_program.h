// Runs the built program as a separate process on a scripted standard input
// inside a directory of the test's choice, and captures standard output,
// standard error and the exit status.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace test_driver {

struct run_result {
  std::string out;
  std::string err;
  int status = -1;  ///< exit status, or -1 when the process did not exit normally
  int signal = 0;   ///< the signal that ended the process, or 0
};

/// Where the program's standard output goes.
enum class stdout_to {
  pipe,         ///< captured in run_result::out, or to run_options::stdout_path
  closed,       ///< descriptor 1 closed before the program starts
  broken_pipe,  ///< a pipe nobody reads, with SIGPIPE ignored: EPIPE
  left_pipe,    ///< a pipe nobody reads, SIGPIPE as the program found it
};

/// Options of one run: argv[0] as the program sees it (it goes into the
/// boundary file), an optional cap on the size of files it may write, and
/// whether root runs it as nobody, so that file permissions bind it.
struct run_options {
  std::string argv0 = "stopbound";
  long file_size_limit = -1;
  bool unprivileged = false;
  std::vector<std::string> args{};  ///< the arguments after argv[0]
  std::string stdout_path{};        ///< standard output to this file instead (e.g. /dev/full)
  bool sigxfsz_ignored = true;      ///< over the file size cap: EFBIG, not SIGXFSZ
  long address_space_limit = -1;    ///< bytes, as `ulimit -v`
  std::string stdin_path{};         ///< read instead of `input`, e.g. /dev/zero
  stdout_to out = stdout_to::pipe;
  std::vector<std::string> env{};   ///< NAME=VALUE set for the program (LD_PRELOAD, say)
  int file_mode_mask = -1;          ///< the umask the program starts with, or the caller's
};

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

/// The names in dir, sorted: the directory's own order is unspecified.
inline std::vector<std::string> entries(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

/// A fresh empty directory, removed with everything in it at scope exit.
class temp_dir {
 public:
  temp_dir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("stopbound-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~temp_dir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// Runs the program in `dir` with `input` on standard input.
inline run_result run_program(const std::string& input, const std::filesystem::path& dir,
                              const run_options& options = {}) {
  // Standard input comes from a file beside the directory, so that a large
  // input cannot block and the program sees a real end of file.
  const std::filesystem::path input_path = dir.string() + ".stdin";
  {
    std::ofstream f(input_path, std::ios::binary);
    f << input;
  }
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open(options.stdin_path.empty() ? input_path.c_str() : options.stdin_path.c_str(),
                          O_RDONLY);
    ::dup2(in, 0);
    ::dup2(err_pipe[1], 2);
    switch (options.out) {
      case stdout_to::pipe:
        ::dup2(options.stdout_path.empty() ? out_pipe[1] : ::open(options.stdout_path.c_str(), O_WRONLY), 1);
        break;
      case stdout_to::closed:
        ::close(1);
        break;
      case stdout_to::broken_pipe:
      case stdout_to::left_pipe: {
        int unread[2];
        if (::pipe(unread) != 0) ::_exit(127);
        ::close(unread[0]);
        ::dup2(unread[1], 1);
        ::signal(SIGPIPE, options.out == stdout_to::broken_pipe ? SIG_IGN : SIG_DFL);
        break;
      }
    }
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[0]);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    const auto cap = [](int resource, long limit) {
      const rlimit both{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
      if (limit >= 0) ::setrlimit(resource, &both);
    };
    // A full disk, as the program sees it: writes beyond the cap fail, or
    // raise SIGXFSZ where that keeps its default action.
    if (options.file_size_limit >= 0 && options.sigxfsz_ignored) ::signal(SIGXFSZ, SIG_IGN);
    cap(RLIMIT_FSIZE, options.file_size_limit);
    cap(RLIMIT_AS, options.address_space_limit);
    // As `runuser -u nobody` does: nobody's own group alone, no group of root's.
    if (options.unprivileged && ::geteuid() == 0) {
      constexpr unsigned nobody = 65534;
      if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(127);
    }
    if (options.file_mode_mask >= 0) ::umask(static_cast<mode_t>(options.file_mode_mask));
    for (const std::string& e : options.env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(options.argv0.c_str())};
    for (const std::string& a : options.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(STOPBOUND_EXE, argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  run_result r;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open_pipes = 2;
  while (open_pipes > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  std::filesystem::remove(input_path);
  return r;
}

/// The output with the date line's text replaced by a fixed mark.
inline std::string mask_date(std::string text) {
  const std::string key = "Date and time: ";
  const auto at = text.find(key);
  if (at != std::string::npos) {
    const auto end = text.find('\n', at);
    text.replace(at + key.size(), end - at - key.size(), "<date>");
  }
  return text;
}

}  // namespace test_driver
