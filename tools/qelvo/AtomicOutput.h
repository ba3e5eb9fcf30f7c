// An output file that appears whole or not at all: everything is written to a
// temporary file beside the target, which Commit() renames over the target.
// Destroyed without Commit(), or when a signal ends the program, the
// temporary file is removed, so a failure never leaves a half-written output
// behind.
//
// Writing onto an existing file keeps what users set up around it: a
// symbolic link is followed and the file it names is replaced, so the link
// stays; the replaced file's permissions (and, where allowed, its owner) carry
// over. A target that exists and is no regular file (/dev/null, a FIFO) is
// written in place, since renaming over it would replace the device or pipe
// itself.
#pragma once

#include <memory>
#include <string>

class FileRemovedOnAbort;

class AtomicOutput {
 public:
  // Throws ToolError when the temporary file cannot be made (missing
  // directory, no permission).
  explicit AtomicOutput(std::string target);
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput();

  int Fd() const { return fd_; }
  // The name the user gave, for messages.
  const std::string& Target() const { return target_; }
  // Where the data goes while it is written; the target itself when written
  // in place.
  const std::string& TempPath() const { return temp_; }
  // True for a device or FIFO, written directly.
  bool InPlace() const { return inPlace_; }

  // Writes all of data to the temporary file; throws ToolError on failure.
  void Write(const void* data, size_t size);
  // Closes the temporary file and renames it into place. Libraries writing
  // through Fd() must not close it.
  void Commit();

 private:
  std::string target_;
  std::string final_;  // the target with symbolic links followed
  std::string temp_;
  int fd_ = -1;
  bool inPlace_ = false;
  bool committed_ = false;
  std::unique_ptr<FileRemovedOnAbort> removeOnAbort_;
};

// Writes a whole small file atomically.
void WriteFileAtomically(const std::string& target, const std::string& contents);
