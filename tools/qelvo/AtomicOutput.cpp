#include "tools/qelvo/AtomicOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "tools/qelvo/InputFile.h"
#include "tools/qelvo/Interrupt.h"
#include "tools/qelvo/ToolError.h"

namespace {

// As the kernel allows when resolving a path.
constexpr int kMaxLinks = 40;

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a chain of symbolic links ends at; it need not exist yet.
std::string FollowLinks(const std::string& target) {
  std::string path = target;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (hops == kMaxLinks) throw ToolError("cannot write " + target + ": " + ErrnoText(ELOOP));
    std::vector<char> link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<size_t>(n) >= link.size())
      throw ToolError("cannot write " + target + ": cannot read the link " + path);
    const std::string next(link.data(), static_cast<size_t>(n));
    path = next.front() == '/' ? next : DirectoryOf(path) + "/" + next;
  }
}

std::string CannotWrite(const std::string& target, const std::string& directory, int error) {
  if (error == ENOENT) return "cannot write " + target + ": no such directory " + directory;
  if (error == EACCES || error == EPERM || error == EROFS)
    return "cannot write " + target + ": " + (error == EROFS ? std::string("read-only file system") : ErrnoText(error)) +
           " (the file is replaced, so its directory " + directory + " must be writable)";
  return "cannot write " + target + ": " + ErrnoText(error);
}

// ".NAME.qelvo-" and six random letters or digits.
std::string TemporaryName(const std::string& directory, const std::string& base) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name = directory + "/." + base + ".qelvo-";
  for (int i = 0; i < 6; ++i) name += kAlphabet[random() % (sizeof kAlphabet - 1)];
  return name;
}

}  // namespace

AtomicOutput::AtomicOutput(std::string target) : target_(std::move(target)) {
  if (target_.empty() || target_.back() == '/') throw ToolError("no output file name given");
  final_ = FollowLinks(target_);
  struct stat existing {};
  const bool exists = stat(final_.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) throw ToolError("cannot write " + target_ + ": it is a directory");
  if (exists && !S_ISREG(existing.st_mode)) {
    fd_ = open(final_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throw ToolError("cannot write " + target_ + ": " + ErrnoText(errno));
    inPlace_ = true;
    temp_ = final_;
    return;
  }
  // Hidden and in the same directory, so the final rename stays on one file
  // system. The name is registered for removal before the file exists, so no
  // signal on any thread can come between making it and covering it.
  const std::string directory = DirectoryOf(final_);
  for (int attempt = 0; fd_ < 0; ++attempt) {
    temp_ = TemporaryName(directory, BaseOf(final_));
    removeOnAbort_ = std::make_unique<FileRemovedOnAbort>(temp_);
    fd_ = open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
      const int error = errno;
      removeOnAbort_.reset();
      throw ToolError(CannotWrite(target_, directory, error));
    }
  }
  if (exists) {
    // The new file takes the place of the old one, and its settings with it.
    fchmod(fd_, existing.st_mode & 07777);
    if (fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
      // Only root may give a file away; the permissions stay as they were set.
    }
  } else {
    // Made private above; new outputs get the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
  }
}

AtomicOutput::~AtomicOutput() {
  if (committed_) return;
  if (fd_ >= 0) close(fd_);
  if (!inPlace_) unlink(temp_.c_str());
}

void AtomicOutput::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ToolError("cannot write " + target_ + ": " + std::strerror(n < 0 ? errno : EIO));
    p += n;
    size -= static_cast<size_t>(n);
  }
}

void AtomicOutput::Commit() {
  if (fd_ >= 0 && close(fd_) != 0) {
    fd_ = -1;
    throw ToolError("cannot write " + target_ + ": " + std::strerror(errno));
  }
  fd_ = -1;
  if (!inPlace_ && rename(temp_.c_str(), final_.c_str()) != 0)
    throw ToolError("cannot write " + target_ + ": " + std::strerror(errno));
  committed_ = true;
  removeOnAbort_.reset();
}

void WriteFileAtomically(const std::string& target, const std::string& contents) {
  AtomicOutput out(target);
  out.Write(contents.data(), contents.size());
  out.Commit();
}
