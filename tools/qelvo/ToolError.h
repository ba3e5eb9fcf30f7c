// A failure the user can act on: the message is printed as it is, and the
// program exits with the code.
#pragma once

#include <stdexcept>
#include <string>

// The exit statuses, as README lists them; a render stopped by a signal
// ends with 128 + the signal (InterruptExitStatus(), Interrupt.h).
enum ToolExit : int {
  kExitOk = 0,
  kExitFailure = 1,  // the work could not be done
  kExitUsage = 2,    // the command line itself is wrong
};

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, int exitCode = kExitFailure)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int ExitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

// A mistake in what the user asked for (unknown name, value out of range).
inline ToolError UsageError(const std::string& message) { return ToolError(message, kExitUsage); }
