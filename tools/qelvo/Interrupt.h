// SIGINT and SIGTERM for every command.
//
// A command that can stop cleanly (monitor, replay --loop, bridge, render)
// calls CatchInterrupts() and polls Interrupted(): the first signal only sets
// the flag, so the command finishes its work in a sound state. A second
// signal, or any signal to a command that never called CatchInterrupts(),
// removes the files registered with FileRemovedOnAbort and ends the program
// at once with status 128 + the signal (130 for SIGINT, 143 for SIGTERM).
// SIGHUP always ends it at once, after the same clean-up.
#pragma once

#include <string>

// [control] Makes the first SIGINT or SIGTERM set the flag instead of ending
// the program.
void CatchInterrupts();
// [any] True once a caught signal arrived.
bool Interrupted();
// [any] The first signal caught (SIGINT, SIGTERM), 0 before any.
int InterruptSignal();
// [any] The exit status that reports the first signal: 128 + its number.
int InterruptExitStatus();
// [control] Sleeps up to seconds, returning early (false) when interrupted.
bool SleepUnlessInterrupted(double seconds);

// While it lives, a signal that ends the program removes the file at path
// first, so an unfinished temporary file never outlives the program. A few
// may be registered at once; paths longer than PATH_MAX are not covered.
class FileRemovedOnAbort {
 public:
  explicit FileRemovedOnAbort(const std::string& path);
  FileRemovedOnAbort(const FileRemovedOnAbort&) = delete;
  FileRemovedOnAbort& operator=(const FileRemovedOnAbort&) = delete;
  ~FileRemovedOnAbort();

 private:
  int slot_ = -1;
};
