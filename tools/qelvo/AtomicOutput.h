// An output file that appears whole or not at all: everything is written to a
// temporary file beside the target, which Commit() renames over the target.
// Destroyed without Commit(), the temporary file is removed, so a failure
// never leaves a half-written output behind.
#pragma once

#include <string>

class AtomicOutput {
 public:
  // Throws ToolError when the temporary file cannot be made (missing
  // directory, no permission).
  explicit AtomicOutput(std::string target);
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput();

  int Fd() const { return fd_; }
  const std::string& Target() const { return target_; }
  const std::string& TempPath() const { return temp_; }

  // Writes all of data to the temporary file; throws ToolError on failure.
  void Write(const void* data, size_t size);
  // Closes the temporary file and renames it into place. Libraries writing
  // through Fd() must not close it.
  void Commit();

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool committed_ = false;
};

// Writes a whole small file atomically.
void WriteFileAtomically(const std::string& target, const std::string& contents);
