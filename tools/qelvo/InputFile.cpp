#include "tools/qelvo/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/qelvo/ToolError.h"

namespace {

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a directory";
  if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a regular file";
  if (S_ISCHR(mode)) return "it is a character device, not a regular file";
  if (S_ISBLK(mode)) return "it is a block device, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
}

std::string TooLarge(const std::string& path, size_t maxBytes, const std::string& what) {
  return "cannot read " + path + ": larger than " + SizeText(maxBytes) + ", too large for " + what;
}

}  // namespace

FileHandle::~FileHandle() {
  if (fd_ >= 0) close(fd_);
}

std::string ErrnoText(int error) {
  switch (error) {
    case ENOENT: return "no such file";
    case ENOTDIR: return "no such file (a part of the path is not a directory)";
    case EACCES:
    case EPERM: return "permission denied";
    case ELOOP: return "too many levels of symbolic links";
    default: return std::strerror(error);
  }
}

std::string SizeText(size_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes >= (1u << 10) && bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

FileHandle OpenRegularFile(const std::string& path) {
  // Non-blocking, so opening a FIFO that has no writer returns at once and
  // is refused below instead of waiting forever.
  FileHandle file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) throw ToolError("cannot read " + path + ": " + ErrnoText(errno));
  struct stat st {};
  if (fstat(file.Get(), &st) != 0) throw ToolError("cannot read " + path + ": " + ErrnoText(errno));
  if (!S_ISREG(st.st_mode)) throw ToolError("cannot read " + path + ": " + KindOf(st.st_mode));
  const int flags = fcntl(file.Get(), F_GETFL);
  if (flags >= 0) fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK);
  return file;
}

std::string ReadInputText(const std::string& path, size_t maxBytes, const std::string& what) {
  const bool standardInput = path == "-";
  const std::string name = standardInput ? kStandardInputName : path;
  FileHandle owned;
  int fd = STDIN_FILENO;
  if (!standardInput) {
    owned = OpenRegularFile(path);
    fd = owned.Get();
    struct stat st {};
    if (fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > maxBytes)
      throw ToolError(TooLarge(name, maxBytes, what));
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    // One byte past the cap tells a file of exactly maxBytes from a longer one.
    const size_t room = maxBytes + 1 - text.size();
    const ssize_t n = read(fd, buffer, room < sizeof buffer ? room : sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ToolError("cannot read " + name + ": " + ErrnoText(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > maxBytes) throw ToolError(TooLarge(name, maxBytes, what));
  }
  return text;
}
