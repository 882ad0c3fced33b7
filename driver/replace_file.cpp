// All-or-nothing replacement of an output file, shared by every file the
// program writes.
//
// A regular file, or a name that does not exist yet, is replaced through a
// new file beside it: written, flushed to disk, closed and renamed over the
// old one, after which the directory is synced so that the new name survives
// a power loss. Until the rename the earlier file is exactly as it was, and
// the signals that end the process (SIGHUP, SIGINT, SIGTERM, SIGXFSZ) remove
// the temporary file before they do.
//
// A FIFO, device or socket cannot be replaced without destroying what the
// name stands for (the reader waiting on the FIFO, /dev/null itself), so it
// is opened and written in place, as fopen(path, "w") would.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cassert>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/driver.h"

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int max_link_hops = 40;

// Signals whose default action ends the process; a run may receive them
// while the temporary file exists (SIGXFSZ from a write over `ulimit -f`).
constexpr std::array<int, 4> fatal_signals{SIGHUP, SIGINT, SIGTERM, SIGXFSZ};

// The temporary file's name for the signal handler. It is complete before the
// file exists (mkstemp runs with the signals blocked) and armed exactly while
// the file exists under that name.
char pending_path[PATH_MAX + sizeof ".XXXXXX"];
volatile std::sig_atomic_t pending_armed = 0;

extern "C" void remove_pending_and_reraise(int sig) {
  if (pending_armed != 0) ::unlink(pending_path);
  // SA_RESETHAND has restored the default action and SA_NODEFER lets the
  // signal act at once, so the caller sees the process end by this signal.
  ::raise(sig);
}

sigset_t fatal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : fatal_signals) sigaddset(&set, sig);
  return set;
}

// Holds the signals of a set back for a scope; the earlier mask comes back
// at its end.
class signals_held {
 public:
  explicit signals_held(const sigset_t& set) { ::sigprocmask(SIG_BLOCK, &set, &old_); }
  ~signals_held() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

  bool held_before(int sig) const { return sigismember(&old_, sig) == 1; }

 private:
  sigset_t old_{};
};

// Holds the fatal signals back for a scope in which the temporary file and
// its armed flag must change together.
class fatal_signals_held : signals_held {
 public:
  fatal_signals_held() : signals_held(fatal_set()) {}
};

// Installs the cleanup handler for the fatal signals that still have their
// default action; an ignored signal (nohup's SIGHUP, a test's SIGXFSZ) stays
// ignored. The earlier actions come back at scope exit.
class cleanup_on_signal {
 public:
  cleanup_on_signal() {
    struct sigaction ours {};
    ours.sa_handler = remove_pending_and_reraise;
    ours.sa_mask = fatal_set();
    ours.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    for (std::size_t i = 0; i < fatal_signals.size(); ++i) {
      installed_[i] = ::sigaction(fatal_signals[i], nullptr, &old_[i]) == 0 &&
                      (old_[i].sa_flags & SA_SIGINFO) == 0 && old_[i].sa_handler == SIG_DFL &&
                      ::sigaction(fatal_signals[i], &ours, nullptr) == 0;
    }
  }
  ~cleanup_on_signal() {
    for (std::size_t i = 0; i < fatal_signals.size(); ++i)
      if (installed_[i]) ::sigaction(fatal_signals[i], &old_[i], nullptr);
  }
  cleanup_on_signal(const cleanup_on_signal&) = delete;
  cleanup_on_signal& operator=(const cleanup_on_signal&) = delete;

 private:
  std::array<struct sigaction, fatal_signals.size()> old_{};
  std::array<bool, fatal_signals.size()> installed_{};
};

// Writing to a FIFO whose reader has gone raises SIGPIPE; held back, the
// write fails with EPIPE and is reported like any other write error. A
// SIGPIPE raised meanwhile is taken off the pending set at scope exit.
class sigpipe_held {
 public:
  sigpipe_held() : held_(sigpipe_set()) {}
  ~sigpipe_held() {
    if (held_.held_before(SIGPIPE)) return;
    const int saved = errno;
    const sigset_t set = sigpipe_set();
    const timespec now{0, 0};
    while (::sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
    errno = saved;
  }

 private:
  static sigset_t sigpipe_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
  }

  signals_held held_;
};

enum class step { open, write, rename };

// Every diagnostic of a replacement: one line on stderr, after the caller's
// prefix, naming the path as the caller gave it, with the system's reason.
// Returns the failure status.
int report(step failed, const char* path, int err, const char* prefix) {
  switch (failed) {
    case step::open:
      std::fprintf(stderr, "%sOpen of %s with mode=w failed: %s\n", prefix, path, std::strerror(err));
      break;
    case step::write:
      std::fprintf(stderr, "%sWrite of %s failed: %s\n", prefix, path, std::strerror(err));
      break;
    case step::rename:
      std::fprintf(stderr, "%sRename of %s failed: %s\n", prefix, path, std::strerror(err));
      break;
  }
  return 1;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The temporary file beside the target; removed unless renamed into place.
class temporary {
 public:
  explicit temporary(const std::string& target) {
    assert(pending_armed == 0);  // one replacement at a time
    if (target.size() >= PATH_MAX) {
      errno = ENAMETOOLONG;
      return;
    }
    const fatal_signals_held held;
    std::snprintf(pending_path, sizeof pending_path, "%s.XXXXXX", target.c_str());
    fd_ = ::mkostemp(pending_path, O_CLOEXEC);
    if (fd_ >= 0) pending_armed = 1;
  }
  ~temporary() {
    if (fd_ >= 0) ::close(fd_);
    const fatal_signals_held held;
    if (pending_armed != 0) ::unlink(pending_path);
    pending_armed = 0;
  }
  temporary(const temporary&) = delete;
  temporary& operator=(const temporary&) = delete;

  int fd() const { return fd_; }

  // Flushes to disk and closes; false with errno of the first failure. A
  // file system that cannot sync (EINVAL, ENOSYS) still reports write errors
  // at the close.
  bool finish() {
    const bool synced = ::fsync(fd_) == 0 || errno == EINVAL || errno == ENOSYS;
    const int saved = errno;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!synced) errno = saved;
    return synced && closed;
  }


 private:
  int fd_ = -1;
};

// Renames the temporary file over target; it then no longer exists under
// its own name, so the handler must not unlink that name again.
bool rename_temporary(const std::string& target) {
  const fatal_signals_held held;
  if (::rename(pending_path, target.c_str()) != 0) return false;
  pending_armed = 0;
  return true;
}

// Follows symbolic links in the last component of path, as opening it would,
// so that a link stays a link and the file it names is replaced (or created,
// for a dangling link). False with ELOOP past the kernel's limit.
bool resolve_links(std::string& target) {
  for (int hop = 0;; ++hop) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    if (hop == max_link_hops) {
      errno = ELOOP;
      return false;
    }
    std::array<char, PATH_MAX> text{};
    const ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) == text.size()) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::string next(text.data(), static_cast<std::size_t>(n));
    const auto slash = target.rfind('/');
    if (next.front() != '/' && slash != std::string::npos) next.insert(0, target, 0, slash + 1);
    target = std::move(next);
  }
}

std::string directory_of(const std::string& file) {
  const auto slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

// The mode fopen("w") gives a new file: 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The rename is durable only once the directory is on disk too. A directory
// that cannot be opened or synced (some file systems refuse) leaves the
// replacement, already complete and visible, as it is.
void sync_directory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

int write_in_place(const char* path, std::string_view content, const char* prefix) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return report(step::open, path, errno, prefix);
  bool ok = false;
  int err = 0;
  {
    const sigpipe_held held;
    ok = write_all(fd, content);
    err = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  return ok ? 0 : report(step::write, path, err, prefix);
}

}  // namespace

namespace {

// What replace_file writes for path: the file its links lead to, and whether
// (and as what) that exists. Returns 0, or the errno opening it for writing
// fails with; a FIFO or device (*in_place) is opened where it is.
struct destination {
  std::string target;
  bool exists = false;
  bool in_place = false;
  struct stat st {};
};

int find_destination(const char* path, destination& d) {
  // An empty name is no file, as opening it would say; beside it there is
  // no place for the temporary either.
  if (*path == '\0') return ENOENT;
  d.target = path;
  if (!resolve_links(d.target)) return errno;
  d.exists = ::stat(d.target.c_str(), &d.st) == 0;
  if (d.exists && S_ISDIR(d.st.st_mode)) return EISDIR;
  d.in_place = d.exists && !S_ISREG(d.st.st_mode);
  return 0;
}

}  // namespace

int replace_file(const char* path, std::string_view content, const char* prefix) {
  // Everything that allocates happens before the temporary file exists, so
  // that a failed allocation, which ends the process, cannot leave it behind.
  destination d;
  if (const int err = find_destination(path, d); err != 0) return report(step::open, path, err, prefix);
  if (d.in_place) return write_in_place(path, content, prefix);
  // A file the user may not write is refused as opening it for writing would be.
  if (d.exists && ::access(d.target.c_str(), W_OK) != 0) return report(step::open, path, errno, prefix);
  const mode_t mode = d.exists ? d.st.st_mode & 07777 : new_file_mode();
  const std::string dir = directory_of(d.target);

  const cleanup_on_signal cleanup;
  temporary tmp(d.target);
  if (tmp.fd() < 0) return report(step::open, path, errno, prefix);
  // Only the permissions are at stake if this fails: the file is 0600 then.
  (void)::fchmod(tmp.fd(), mode);
  if (!write_all(tmp.fd(), content) || !tmp.finish()) return report(step::write, path, errno, prefix);
  if (!rename_temporary(d.target)) return report(step::rename, path, errno, prefix);
  sync_directory(dir);
  return 0;
}

int replace_file_obstacle(const char* path) {
  destination d;
  if (const int err = find_destination(path, d); err != 0) return err;
  if (d.exists && ::access(d.target.c_str(), W_OK) != 0) return errno;
  if (d.in_place) return 0;  // written where it is: its directory does not matter
  // The temporary file is made beside the file the links lead to.
  const std::string dir = directory_of(d.target);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return ::access(dir.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}
