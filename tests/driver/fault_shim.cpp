// A fault injector for the output files, loaded into the real program with
// LD_PRELOAD, as storage software tests its I/O errors: the call that
// STOPBOUND_FAULT names fails with EIO where the writer makes it, and every
// other call goes through untouched.
//   write         a write to the temporary file (".stopbound-...")
//   fsync         an fsync of the temporary file
//   close         the close of the temporary file (closed all the same)
//   rename        the rename of the temporary file over the target
//   dirfsync      an fsync of a directory
//   inplacewrite  a write to any other regular file (a file written in place)
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool fault_is(const char* name) {
  const char* f = std::getenv("STOPBOUND_FAULT");
  return f != nullptr && std::strcmp(f, name) == 0;
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

bool temporary_name(const char* path) {
  const char* base = std::strrchr(path, '/');
  return std::strncmp(base != nullptr ? base + 1 : path, ".stopbound-", 11) == 0;
}

// Whether fd is a regular file, and whether it is a temporary one.
bool regular(int fd, bool& temporary) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, path, sizeof path - 1);
  path[n > 0 ? n : 0] = '\0';
  temporary = temporary_name(path);
  return true;
}

bool directory(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buf, size_t count) {
  bool temporary = false;
  if ((fault_is("write") || fault_is("inplacewrite")) && regular(fd, temporary) &&
      temporary == fault_is("write")) {
    errno = EIO;
    return -1;
  }
  return next<ssize_t (*)(int, const void*, size_t)>("write")(fd, buf, count);
}

int fsync(int fd) {
  bool temporary = false;
  if ((fault_is("fsync") && regular(fd, temporary) && temporary) || (fault_is("dirfsync") && directory(fd))) {
    errno = EIO;
    return -1;
  }
  return next<int (*)(int)>("fsync")(fd);
}

int close(int fd) {
  bool temporary = false;
  const bool fail = fault_is("close") && regular(fd, temporary) && temporary;
  const int r = next<int (*)(int)>("close")(fd);
  if (fail) {
    errno = EIO;
    return -1;
  }
  return r;
}

int rename(const char* from, const char* to) {
  if (fault_is("rename") && temporary_name(from)) {
    errno = EIO;
    return -1;
  }
  return next<int (*)(const char*, const char*)>("rename")(from, to);
}

int renameat(int fromdir, const char* from, int todir, const char* to) {
  if (fault_is("rename") && temporary_name(from)) {
    errno = EIO;
    return -1;
  }
  return next<int (*)(int, const char*, int, const char*)>("renameat")(fromdir, from, todir, to);
}

}  // extern "C"
