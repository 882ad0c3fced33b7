// The one writer of every output file (the boundary file, the figure, the
// report page), written as a careful editor writes a file.
//
// Finding the file. The path is walked here, one component at a time, from
// the current (or root) directory: a symbolic link is followed only where
// the kernel's link protection would follow it, whatever the system's own
// setting: in a sticky directory writable by others, only a link owned by
// the caller's effective user or by the directory's owner. That holds at
// every hop, in the middle of the path as at its end; the walk ends in an
// open directory and a name in it, which every later step uses, so that no
// name is looked up twice.
//
// Replacing or writing in place. A new file, or an existing regular file
// with one link whose owner, group, ACL and extended attributes the new file
// can carry, is replaced: a temporary file of a short fixed-length name in
// the same directory is written, synced, given the owner, the attributes and
// then the mode of the old one, and renamed over it; then the directory is
// synced. Anything else that can be written is written in place: a file with
// other hard links (which then see the new content), one whose owner or
// attributes the new file could not carry, one in a directory where no
// temporary file can be made, and FIFOs and devices (never truncated).
//
// All outputs together. Every output is found and checked, and every
// temporary file made and written, before the first rename; files written in
// place come last. A failure before the first rename removes every temporary
// file and leaves every old file as it was.
//
// Signals. While temporary files exist, every signal whose default action
// ends the process and that can be caught removes them before it ends the
// process; so does exit().
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/driver.h"

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int max_link_hops = 40;

// Most outputs one run writes (the boundary file, the figure, the page).
constexpr std::size_t max_outputs = 8;

// ".stopbound-" and six letters: short and of fixed length, so that a
// 255-byte target name never makes it too long.
constexpr std::size_t temp_name_size = 18;

// An owned descriptor.
class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  ~unique_fd() { reset(); }
  unique_fd(unique_fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  unique_fd& operator=(unique_fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Closes and says whether the close succeeded (errno otherwise).
  bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

// ---------------------------------------------------------------------------
// Temporary files and the signals that must remove them.

// One temporary file that exists under its own name: the handler's view.
struct pending_slot {
  int dir = -1;
  std::array<char, temp_name_size + 1> name{};
  volatile std::sig_atomic_t armed = 0;
};
std::array<pending_slot, max_outputs> pending;

void remove_pending() {
  for (pending_slot& p : pending)
    if (p.armed != 0) {
      ::unlinkat(p.dir, p.name.data(), 0);
      p.armed = 0;
    }
}

extern "C" void remove_pending_at_exit() { remove_pending(); }

extern "C" void remove_pending_and_reraise(int sig) {
  remove_pending();
  // SA_RESETHAND has restored the default action: the signal, pending until
  // the handler returns, then ends the process as the sender meant.
  ::raise(sig);
}

// Every signal whose default action ends the process and that a handler may
// catch: SIGKILL and SIGSTOP cannot be, and SIGSEGV, SIGBUS, SIGFPE and
// SIGILL report faults of the program itself, after which nothing is safe.
sigset_t fatal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTRAP, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                        SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSYS})
    sigaddset(&set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
  return set;
}

// Holds the fatal signals back for a scope, in which a temporary file and
// its armed flag change together.
class fatal_signals_held {
 public:
  fatal_signals_held() {
    const sigset_t set = fatal_set();
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~fatal_signals_held() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  fatal_signals_held(const fatal_signals_held&) = delete;
  fatal_signals_held& operator=(const fatal_signals_held&) = delete;

 private:
  sigset_t old_{};
};

// Installs the cleanup handler for the fatal signals that still have their
// default action, for a scope; an ignored signal (nohup's SIGHUP) stays
// ignored, and the earlier actions come back at its end.
class cleanup_on_signal {
 public:
  cleanup_on_signal() {
    static const bool registered = std::atexit(remove_pending_at_exit) == 0;
    (void)registered;
    const sigset_t set = fatal_set();
    struct sigaction ours {};
    ours.sa_handler = remove_pending_and_reraise;
    ours.sa_mask = set;
    ours.sa_flags = static_cast<int>(SA_RESETHAND);
    for (int sig = 1; sig < NSIG; ++sig) {
      auto& o = old_[static_cast<std::size_t>(sig)];
      installed_[static_cast<std::size_t>(sig)] =
          sigismember(&set, sig) == 1 && ::sigaction(sig, nullptr, &o.action) == 0 &&
          (o.action.sa_flags & SA_SIGINFO) == 0 && o.action.sa_handler == SIG_DFL &&
          ::sigaction(sig, &ours, nullptr) == 0;
    }
  }
  ~cleanup_on_signal() {
    for (int sig = 1; sig < NSIG; ++sig)
      if (installed_[static_cast<std::size_t>(sig)])
        ::sigaction(sig, &old_[static_cast<std::size_t>(sig)].action, nullptr);
  }
  cleanup_on_signal(const cleanup_on_signal&) = delete;
  cleanup_on_signal& operator=(const cleanup_on_signal&) = delete;

 private:
  struct saved {
    struct sigaction action {};
  };
  std::array<saved, NSIG> old_{};
  std::array<bool, NSIG> installed_{};
};

// Writing to a FIFO whose reader has gone raises SIGPIPE; held back, the
// write fails with EPIPE and is reported like any other write error. A
// SIGPIPE raised meanwhile is taken off the pending set at scope exit.
class sigpipe_held {
 public:
  sigpipe_held() {
    const sigset_t set = sigpipe_set();
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~sigpipe_held() {
    const int saved = errno;
    if (sigismember(&old_, SIGPIPE) != 1) {
      const sigset_t set = sigpipe_set();
      const timespec now{0, 0};
      while (::sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
      }
    }
    ::sigprocmask(SIG_SETMASK, &old_, nullptr);
    errno = saved;
  }
  sigpipe_held(const sigpipe_held&) = delete;
  sigpipe_held& operator=(const sigpipe_held&) = delete;

 private:
  static sigset_t sigpipe_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
  }
  sigset_t old_{};
};

// A fresh name ".stopbound-XXXXXX" with six letters and digits.
void next_temp_name(std::array<char, temp_name_size + 1>& name) {
  static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static unsigned long long state = 0;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  state = state * 6364136223846793005ULL + 1442695040888963407ULL +
          (static_cast<unsigned long long>(now.tv_nsec) ^ (static_cast<unsigned long long>(::getpid()) << 32));
  unsigned long long bits = state >> 16;
  std::memcpy(name.data(), ".stopbound-", 11);
  for (std::size_t i = 11; i < temp_name_size - 1; ++i) {
    name[i] = letters[bits % (sizeof letters - 1)];
    bits /= sizeof letters - 1;
  }
  name[temp_name_size - 1] = '\0';
}

// ---------------------------------------------------------------------------
// Finding the file a path reaches.

// Where the walk of a path ended: an open directory, the name in it, and
// what that name is (not a link: links have been followed).
struct place {
  unique_fd dir;          // O_PATH
  std::string dir_shown;  // the directory as the messages name it
  std::string name;
  bool exists = false;
  struct stat st {};
};

enum class walk_failure {
  none,
  refused_link,  // a link the kernel's protection would not follow
  too_many_links,
  directory,     // opening `at` as a directory failed with err
  is_directory,  // the path ends in a directory
  name,          // the last name cannot be looked up (too long)
};

struct walk_result {
  walk_failure failure = walk_failure::none;
  int err = 0;
  std::string at;  // the directory or link at fault, as the messages name it
};

std::string joined(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == ".") return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The components still to walk, the next one last.
using components = std::vector<std::string>;

// Puts the components of text before those still to walk; a trailing slash
// becomes a final ".", so that the path must end in a directory.
void push_components(components& todo, std::string_view text) {
  components parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('/', at), text.size());
    if (end > at) parts.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (!text.empty() && text.back() == '/') parts.emplace_back(".");
  todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

// Whether the kernel's link protection lets the caller follow a link owned
// by link_owner in the directory dir.
bool may_follow(const struct stat& dir, uid_t link_owner) {
  const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return !shared || link_owner == ::geteuid() || link_owner == dir.st_uid;
}

walk_result walk(const std::string& path, place& p) {
  walk_result r;
  if (path.empty()) {
    r.failure = walk_failure::directory;
    r.err = ENOENT;
    r.at = "";
    return r;
  }
  components todo;
  push_components(todo, path);
  const auto start = [&](bool absolute) {
    p.dir = unique_fd(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    p.dir_shown.assign(1, absolute ? '/' : '.');
    return static_cast<bool>(p.dir);
  };
  if (!start(path.front() == '/')) {
    r = {walk_failure::directory, errno, p.dir_shown};
    return r;
  }
  int hops = 0;
  for (std::string c; !todo.empty();) {
    c = std::move(todo.back());
    todo.pop_back();
    const std::size_t left = todo.size();
    const bool last = left == 0;
    if (c == "." && !last) continue;
    if (last && (c == "." || c == "..")) {
      r = {walk_failure::is_directory, EISDIR, path};
      return r;
    }
    struct stat st {};
    if (::fstatat(p.dir.get(), c.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && last) {
        p.name = c;
        p.exists = false;
        return r;
      }
      // A name missing on the way is the directory at fault; any other
      // failure (no search permission) is the directory it was looked up in.
      const bool missing = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
      if (last && missing) {
        r = {walk_failure::name, errno, ""};
        return r;
      }
      r = {walk_failure::directory, errno, missing ? joined(p.dir_shown, c) : p.dir_shown};
      return r;
    }
    if (S_ISLNK(st.st_mode)) {
      struct stat dir {};
      if (::fstat(p.dir.get(), &dir) != 0) {
        r = {walk_failure::directory, errno, p.dir_shown};
        return r;
      }
      if (!may_follow(dir, st.st_uid)) {
        r = {walk_failure::refused_link, 0, joined(p.dir_shown, c)};
        return r;
      }
      if (++hops > max_link_hops) {
        r = {walk_failure::too_many_links, ELOOP, path};
        return r;
      }
      std::array<char, PATH_MAX> text{};
      const ssize_t n = ::readlinkat(p.dir.get(), c.c_str(), text.data(), text.size());
      if (n <= 0 || static_cast<std::size_t>(n) == text.size()) {
        r = {walk_failure::directory, n < 0 ? errno : ENAMETOOLONG, joined(p.dir_shown, c)};
        return r;
      }
      const std::string_view target(text.data(), static_cast<std::size_t>(n));
      push_components(todo, target);
      if (target.front() == '/' && !start(true)) {
        r = {walk_failure::directory, errno, "/"};
        return r;
      }
      continue;
    }
    if (last) {
      if (S_ISDIR(st.st_mode)) {
        r = {walk_failure::is_directory, EISDIR, path};
        return r;
      }
      p.name = c;
      p.exists = true;
      p.st = st;
      return r;
    }
    const std::string shown = joined(p.dir_shown, c);
    if (!S_ISDIR(st.st_mode)) {
      r = {walk_failure::directory, ENOTDIR, shown};
      return r;
    }
    unique_fd next(::openat(p.dir.get(), c.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) {
      r = {walk_failure::directory, errno, shown};
      return r;
    }
    p.dir = std::move(next);
    p.dir_shown = shown;
  }
  // Only "/" and the like end here: the path names a directory.
  r = {walk_failure::is_directory, EISDIR, path};
  return r;
}

// ---------------------------------------------------------------------------
// The plan for each output, and its failures.

enum class how { replace, in_place_regular, in_place_special };

enum class failed {
  none,
  refused_link,
  too_many_links,
  directory,        // cannot open the directory `at`
  is_directory,
  not_writable,     // opening the file for writing failed
  no_temporary,     // cannot create a temporary file in the directory
  write,
  fsync,
  close,
  rename,
  dir_fsync,        // after the renames: the new names may not be durable
  in_place_write,   // the file written in place may be incomplete
  in_place_fsync,
  in_place_close,
  in_place_open,
};

struct failure {
  failed what = failed::none;
  int err = 0;
  std::string at;  // a directory or link named in the message
};

struct job {
  const output_file* out = nullptr;
  place where;
  how mode = how::replace;
  unique_fd file;      // the file itself, opened for writing (in place, regular)
  unique_fd temp;      // the temporary file while it is written
  pending_slot* slot = nullptr;
};

failure from_walk(const walk_result& w) {
  switch (w.failure) {
    case walk_failure::refused_link:
      return {failed::refused_link, 0, w.at};
    case walk_failure::too_many_links:
      return {failed::too_many_links, ELOOP, w.at};
    case walk_failure::is_directory:
      return {failed::is_directory, EISDIR, w.at};
    case walk_failure::name:
      return {failed::not_writable, w.err, ""};
    case walk_failure::directory:
    case walk_failure::none:
      break;
  }
  return {failed::directory, w.err, w.at};
}

// Whether the new file can be created in the directory at all.
int directory_writable(const place& p) {
  return ::faccessat(p.dir.get(), ".", W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// Finds the file and settles how it is written; opens a regular file that
// exists for writing (without truncating it), which checks that it can be
// written at all.
failure find(job& j) {
  if (const walk_result w = walk(j.out->path, j.where); w.failure != walk_failure::none) return from_walk(w);
  const place& p = j.where;
  if (!p.exists) {
    j.mode = how::replace;
    return {};
  }
  if (!S_ISREG(p.st.st_mode)) {
    j.mode = how::in_place_special;
    if (::faccessat(p.dir.get(), p.name.c_str(), W_OK, AT_EACCESS) != 0) return {failed::not_writable, errno, ""};
    return {};
  }
  j.file = unique_fd(::openat(p.dir.get(), p.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!j.file) return {failed::not_writable, errno, ""};
  struct stat now {};
  if (::fstat(j.file.get(), &now) != 0) return {failed::not_writable, errno, ""};
  if (now.st_dev != p.st.st_dev || now.st_ino != p.st.st_ino || !S_ISREG(now.st_mode))
    return {failed::not_writable, EAGAIN, ""};  // changed under the walk
  j.where.st = now;
  j.mode = now.st_nlink == 1 ? how::replace : how::in_place_regular;
  return {};
}

// ---- extended attributes (the ACL among them), without allocating.

// The names of a file's extended attributes, NUL-separated; false when they
// cannot be listed (ENOTSUP: none).
bool list_attributes(int fd, std::span<char> buf, std::size_t& size) {
  const ssize_t n = ::flistxattr(fd, buf.data(), buf.size());
  if (n < 0) {
    size = 0;
    return errno == ENOTSUP;
  }
  size = static_cast<std::size_t>(n);
  return true;
}

bool listed(std::span<const char> names, const char* name) {
  for (std::size_t at = 0; at < names.size();) {
    const char* n = names.data() + at;
    if (std::strcmp(n, name) == 0) return true;
    at += std::strlen(n) + 1;
  }
  return false;
}

std::array<char, 65536> original_names;
std::array<char, 65536> temporary_names;
std::array<char, 65536> value_buffer;
std::array<char, 65536> other_value_buffer;

// Makes the temporary file's extended attributes (its ACL among them) those
// of the original: removes what it has that the original has not (an ACL
// inherited from the directory's default), sets what the original has.
// False when that cannot be done completely.
bool copy_attributes(int from, int to) {
  std::size_t from_size = 0;
  std::size_t to_size = 0;
  if (!list_attributes(from, original_names, from_size) || !list_attributes(to, temporary_names, to_size))
    return false;
  const std::span<const char> from_names(original_names.data(), from_size);
  const std::span<const char> to_names(temporary_names.data(), to_size);
  for (std::size_t at = 0; at < to_names.size();) {
    const char* name = to_names.data() + at;
    at += std::strlen(name) + 1;
    if (!listed(from_names, name) && ::fremovexattr(to, name) != 0) return false;
  }
  for (std::size_t at = 0; at < from_names.size();) {
    const char* name = from_names.data() + at;
    at += std::strlen(name) + 1;
    const ssize_t n = ::fgetxattr(from, name, value_buffer.data(), value_buffer.size());
    if (n < 0) return false;
    const ssize_t m = ::fgetxattr(to, name, other_value_buffer.data(), other_value_buffer.size());
    if (m == n && std::memcmp(value_buffer.data(), other_value_buffer.data(), static_cast<std::size_t>(n)) == 0)
      continue;
    if (::fsetxattr(to, name, value_buffer.data(), static_cast<std::size_t>(n), 0) != 0) return false;
  }
  return true;
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

// fsync, where the file system can (some answer EINVAL: nothing to sync).
bool synced(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOSYS; }

// Makes the temporary file beside the target, with what the target has
// (owner and group, extended attributes, then the mode), armed for the
// signal handler. A new file gets what a plain open would give it: 0666 less
// the umask, or the directory's default ACL. Returns false with the file
// removed when the target's owner, attributes or mode cannot be carried, or
// no file can be made (errno).
bool make_temporary(job& j, pending_slot& slot) {
  const place& p = j.where;
  const mode_t create_mode = p.exists ? 0600 : 0666;
  {
    const fatal_signals_held held;
    for (int tries = 0;; ++tries) {
      next_temp_name(slot.name);
      j.temp = unique_fd(::openat(p.dir.get(), slot.name.data(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, create_mode));
      if (j.temp || errno != EEXIST || tries == 100) break;
    }
    if (!j.temp) return false;
    slot.dir = p.dir.get();
    slot.armed = 1;
    j.slot = &slot;
  }
  if (!p.exists) return true;
  struct stat st {};
  bool carried = ::fstat(j.temp.get(), &st) == 0;
  if (carried && (st.st_uid != p.st.st_uid || st.st_gid != p.st.st_gid))
    carried = ::fchown(j.temp.get(), p.st.st_uid, p.st.st_gid) == 0;
  carried = carried && copy_attributes(j.file.get(), j.temp.get());
  mode_t mode = p.st.st_mode & 07777;
  // The owner or group could not be kept: no set-ID bit for another.
  if (carried && (::fstat(j.temp.get(), &st) != 0 || st.st_uid != p.st.st_uid || st.st_gid != p.st.st_gid))
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  carried = carried && ::fchmod(j.temp.get(), mode) == 0;
  if (carried) return true;
  j.temp.reset();
  const fatal_signals_held held;
  ::unlinkat(p.dir.get(), slot.name.data(), 0);
  slot.armed = 0;
  j.slot = nullptr;
  errno = EPERM;
  return false;
}

void drop_temporary(job& j) {
  j.temp.reset();
  if (j.slot == nullptr) return;
  const fatal_signals_held held;
  if (j.slot->armed != 0) ::unlinkat(j.slot->dir, j.slot->name.data(), 0);
  j.slot->armed = 0;
  j.slot = nullptr;
}

// Opens a FIFO or device where it is and writes it whole, as fopen("w")
// would but without truncating (a device or FIFO has nothing to truncate).
failure write_special(const job& j) {
  const int fd = ::openat(j.where.dir.get(), j.where.name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {failed::in_place_open, errno, ""};
  unique_fd file(fd);
  bool ok = false;
  int err = 0;
  {
    const sigpipe_held held;
    ok = write_all(file.get(), j.out->content);
    err = errno;
  }
  if (!ok) return {failed::in_place_write, err, ""};
  if (!file.close()) return {failed::in_place_close, errno, ""};
  return {};
}

// Writes a regular file in place: truncated, written, synced.
failure write_regular_in_place(job& j) {
  const int fd = j.file.get();
  // Opened without blocking for the check; writes to a regular file never block.
  (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (::ftruncate(fd, 0) != 0) return {failed::in_place_write, errno, ""};
  if (!write_all(fd, j.out->content)) return {failed::in_place_write, errno, ""};
  if (!synced(fd)) return {failed::in_place_fsync, errno, ""};
  if (!j.file.close()) return {failed::in_place_close, errno, ""};
  return {};
}

// A failure's message, without the program's prefix: the path as the caller
// names it, and what failed, in words, with the system's reason.
std::string message(const output_file& out, const failure& f) {
  const std::string reason = f.err != 0 ? std::strerror(f.err) : "";
  const std::string head = out.label + ": ";
  switch (f.what) {
    case failed::none:
      return "";
    case failed::refused_link:
      return head + "refusing to follow a link owned by another user in a shared directory";
    case failed::too_many_links:
      return head + "cannot follow its links: " + reason;
    case failed::directory:
      return head + "cannot open the directory '" + f.at + "': " + reason;
    case failed::is_directory:
    case failed::not_writable:
    case failed::in_place_open:
      return head + "cannot open it for writing: " + reason;
    case failed::no_temporary:
      return head + "cannot create a temporary file in '" + f.at + "': " + reason;
    case failed::write:
      return head + "write failed: " + reason + "; the file was left as it was";
    case failed::fsync:
      return head + "fsync failed: " + reason + "; the file was left as it was";
    case failed::close:
      return head + "close failed: " + reason + "; the file was left as it was";
    case failed::rename:
      return head + "rename failed: " + reason + "; the file was left as it was";
    case failed::dir_fsync:
      return head + "fsync of the directory '" + f.at + "' failed: " + reason +
             "; the file was replaced but may not survive a crash";
    case failed::in_place_write:
      return head + "write failed: " + reason + "; the file may be incomplete";
    case failed::in_place_fsync:
      return head + "fsync failed: " + reason + "; the file may not be complete on disk";
    case failed::in_place_close:
      return head + "close failed: " + reason + "; the file may be incomplete";
  }
  return head + reason;
}

// One line on stderr. The dialogue keeps its own "Open of ... failed" line
// for a file it cannot open, whatever stood in the way.
int report(const output_file& out, const failure& f, output_messages form) {
  const bool cannot_open = f.what == failed::directory || f.what == failed::is_directory ||
                           f.what == failed::not_writable || f.what == failed::no_temporary ||
                           f.what == failed::too_many_links;
  if (form == output_messages::dialogue && cannot_open)
    std::fprintf(stderr, "Open of %s with mode=w failed: %s\n", out.path.c_str(), std::strerror(f.err));
  else
    std::fprintf(stderr, "stopbound: %s\n", message(out, f).c_str());
  return 1;
}

}  // namespace

std::string output_obstacle(const output_file& out) {
  job j;
  j.out = &out;
  failure f = find(j);
  if (f.what == failed::none && !j.where.exists) {
    if (const int err = directory_writable(j.where); err != 0) f = {failed::no_temporary, err, j.where.dir_shown};
  }
  return f.what == failed::none ? "" : message(out, f);
}

std::optional<file_identity> output_identity(const std::string& path) {
  place p;
  if (walk(path, p).failure != walk_failure::none) return std::nullopt;
  file_identity id;
  if (p.exists) {
    id.dev = p.st.st_dev;
    id.ino = p.st.st_ino;
    return id;
  }
  struct stat dir {};
  if (::fstat(p.dir.get(), &dir) != 0) return std::nullopt;
  id.dev = dir.st_dev;
  id.ino = dir.st_ino;
  id.name = p.name;
  return id;
}

int write_outputs(std::span<const output_file> outputs, output_messages form) {
  assert(outputs.size() <= max_outputs);
  std::vector<job> jobs(outputs.size());
  // 1. Every output found and checked.
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    jobs[i].out = &outputs[i];
    if (const failure f = find(jobs[i]); f.what != failed::none) return report(outputs[i], f, form);
  }
  const cleanup_on_signal cleanup;
  std::size_t first_failed = outputs.size();
  failure why;
  const auto fail = [&](std::size_t i, failure f) {
    first_failed = i;
    why = std::move(f);
  };
  // 2. Every temporary file made, written, synced and closed; where none can
  // be made or the old file's owner or attributes cannot be carried, the
  // file is written in place, last.
  for (std::size_t i = 0; i < jobs.size() && first_failed == outputs.size(); ++i) {
    job& j = jobs[i];
    if (j.mode != how::replace) continue;
    if (!make_temporary(j, pending[i])) {
      if (!j.where.exists) {
        fail(i, {failed::no_temporary, errno, j.where.dir_shown});
        break;
      }
      j.mode = how::in_place_regular;
      continue;
    }
    if (!write_all(j.temp.get(), j.out->content)) {
      fail(i, {failed::write, errno, ""});
    } else if (!synced(j.temp.get())) {
      fail(i, {failed::fsync, errno, ""});
    } else if (!j.temp.close()) {
      fail(i, {failed::close, errno, ""});
    }
  }
  // 3. The renames, then the directories synced.
  for (std::size_t i = 0; i < jobs.size() && first_failed == outputs.size(); ++i) {
    job& j = jobs[i];
    if (j.mode != how::replace) continue;
    const fatal_signals_held held;
    if (::renameat(j.where.dir.get(), j.slot->name.data(), j.where.dir.get(), j.where.name.c_str()) != 0) {
      fail(i, {failed::rename, errno, ""});
      break;
    }
    j.slot->armed = 0;
    j.slot = nullptr;
  }
  for (job& j : jobs) drop_temporary(j);
  if (first_failed != outputs.size()) return report(outputs[first_failed], why, form);
  std::vector<std::pair<dev_t, ino_t>> synced_dirs;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const job& j = jobs[i];
    if (j.mode != how::replace) continue;
    unique_fd dir(::openat(j.where.dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A directory that cannot be read cannot be synced either: nothing to report.
    struct stat st {};
    if (!dir || ::fstat(dir.get(), &st) != 0) continue;
    const std::pair id{st.st_dev, st.st_ino};
    if (std::find(synced_dirs.begin(), synced_dirs.end(), id) != synced_dirs.end()) continue;
    synced_dirs.push_back(id);
    if (!synced(dir.get())) return report(outputs[i], {failed::dir_fsync, errno, j.where.dir_shown}, form);
  }
  // 4. The files written in place, last.
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    job& j = jobs[i];
    failure f;
    if (j.mode == how::in_place_regular) f = write_regular_in_place(j);
    if (j.mode == how::in_place_special) f = write_special(j);
    if (f.what != failed::none) return report(outputs[i], f, form);
  }
  return 0;
}
