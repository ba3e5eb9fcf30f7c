#include "tools/qelvo/AtomicOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/qelvo/ToolError.h"

namespace {

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

}  // namespace

AtomicOutput::AtomicOutput(std::string target) : target_(std::move(target)) {
  if (target_.empty() || target_.back() == '/') throw ToolError("no output file name given");
  struct stat st {};
  if (stat(target_.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw ToolError("cannot write " + target_ + ": it is a directory");
  // Hidden and in the same directory, so the final rename stays on one file system.
  std::string pattern = DirectoryOf(target_) + "/." + BaseOf(target_) + ".qelvo-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) throw ToolError("cannot write " + target_ + ": " + std::strerror(errno));
  temp_ = name.data();
  // mkostemp makes the file private; outputs get the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
}

AtomicOutput::~AtomicOutput() {
  if (committed_) return;
  if (fd_ >= 0) close(fd_);
  unlink(temp_.c_str());
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
  if (rename(temp_.c_str(), target_.c_str()) != 0)
    throw ToolError("cannot write " + target_ + ": " + std::strerror(errno));
  committed_ = true;
}

void WriteFileAtomically(const std::string& target, const std::string& contents) {
  AtomicOutput out(target);
  out.Write(contents.data(), contents.size());
  out.Commit();
}
