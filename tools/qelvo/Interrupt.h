// Commands that run until stopped (monitor, replay --loop, bridge) end
// cleanly on SIGINT or SIGTERM.
#pragma once

// Installs the handlers; afterwards Interrupted() turns true on a signal.
void CatchInterrupts();
bool Interrupted();
// Sleeps up to seconds, returning early (false) when interrupted.
bool SleepUnlessInterrupted(double seconds);
