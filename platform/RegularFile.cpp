#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISDIR(mode)) return "it is a folder, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
}

FileOpenResult Refuse(std::string* why, std::string reason, FileOpenResult result) {
  if (why) *why = std::move(reason);
  return result;
}

FileOpenResult FromErrno(std::string* why) {
  const int error = errno;
  return Refuse(
      why, std::strerror(error),
      error == ENOENT || error == ENOTDIR ? FileOpenResult::Missing : FileOpenResult::Failed);
}

}  // namespace

FileOpenResult OpenRegularFile(const std::string& path, int* fd, std::string* why) {
  *fd = -1;
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0) return FromErrno(why);
  if (!S_ISREG(before.st_mode)) {
    return Refuse(why, KindOf(before.st_mode), FileOpenResult::NotRegular);
  }
  // O_NOCTTY: a terminal swapped in must not become the process's controlling terminal.
  const int opened = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (opened < 0) return FromErrno(why);
  struct stat after {};
  if (::fstat(opened, &after) != 0) {
    const int error = errno;
    ::close(opened);
    errno = error;
    return FromErrno(why);
  }
  if (!S_ISREG(after.st_mode)) {
    ::close(opened);
    return Refuse(why, KindOf(after.st_mode), FileOpenResult::NotRegular);
  }
  // Non-blocking has no effect on a regular file, but a caller's later reads should not see it.
  const int flags = ::fcntl(opened, F_GETFL);
  if (flags >= 0) ::fcntl(opened, F_SETFL, flags & ~O_NONBLOCK);
  *fd = opened;
  return FileOpenResult::Opened;
}

std::FILE* OpenRegularFileForReading(const std::string& path, std::string* why) {
  int fd = -1;
  if (OpenRegularFile(path, &fd, why) != FileOpenResult::Opened) return nullptr;
  std::FILE* file = ::fdopen(fd, "rb");
  if (!file) {
    if (why) *why = std::strerror(errno);
    ::close(fd);
  }
  return file;
}
