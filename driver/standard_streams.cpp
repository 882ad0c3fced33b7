// The standard descriptors at the start of a run and standard output at its
// end: output that could not be written is a failure of the run, never a
// silent loss behind exit status 0.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/driver.h"

namespace {

bool stdout_was_closed = false;

}  // namespace

bool stdout_closed_at_start() { return stdout_was_closed; }

void guard_standard_descriptors() {
  // open takes the lowest free number, so each closed one of 0, 1, 2 is
  // filled in turn and no file opened later can become "standard output".
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) stdout_was_closed = true;
    (void)::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
}

int check_stdout(int earlier) {
  errno = 0;
  bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  // A stream that failed before has nothing left to flush, so this errno
  // says nothing: the first failure's reason is the one to report.
  int err = earlier != 0 ? earlier : errno;
  if (ok) {
    // Some file systems report a lost write only when the file is closed;
    // closing a duplicate asks them without giving up standard output.
    const int twin = ::dup(STDOUT_FILENO);
    if (twin >= 0 && ::close(twin) != 0 && errno != EINTR) {
      ok = false;
      err = errno;
    }
  }
  if (stdout_was_closed) {
    ok = false;
    err = EBADF;
  }
  if (ok) return 0;
  std::fprintf(stderr, "stopbound: write error on standard output: %s\n",
               std::strerror(err != 0 ? err : EIO));
  return 1;
}
