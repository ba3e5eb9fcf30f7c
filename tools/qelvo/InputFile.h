// Files the tools read (levels, maps, saved states, audio): only regular
// files are opened, a FIFO or device is refused without waiting on it, and
// text is read no further than a cap, so a crafted path cannot hang the
// program or fill its memory.
#pragma once

#include <cstddef>
#include <string>

// An open file descriptor, closed on destruction.
class FileHandle {
 public:
  explicit FileHandle(int fd = -1) : fd_(fd) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      FileHandle old(fd_);
      fd_ = other.Release();
    }
    return *this;
  }
  ~FileHandle();
  int Get() const { return fd_; }
  // Hands the descriptor over; the holder no longer closes it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The name messages give standard input, read where a command takes "-".
inline constexpr const char* kStandardInputName = "standard input";

// Opens a regular file for reading. Throws ToolError "cannot read PATH: ..."
// telling apart a missing file, a refused permission, a directory and any
// other kind of file (FIFO, device, socket).
FileHandle OpenRegularFile(const std::string& path);

// The whole text of a regular file, or of standard input when path is "-".
// More than maxBytes is refused as "larger than N, too large for <what>"
// once the cap is reached; nothing beyond it is read.
std::string ReadInputText(const std::string& path, size_t maxBytes, const std::string& what);

// "16 MiB", "512 KiB", "300 bytes", for messages.
std::string SizeText(size_t bytes);

// The reason an errno gives for a path, in the words messages use: "no such
// file", "permission denied", otherwise the system's text.
std::string ErrnoText(int error);
