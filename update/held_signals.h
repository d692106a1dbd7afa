// POSIX signals that would end or stop the program (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGTSTP) are held while firmware is written: a handler
// records them and the program acts on them once the run has ended. The
// first one held says so on standard error. Outside a hold the signals have
// the effect they had before it.
#pragma once

#include <optional>
#include <string_view>

#include "resources/texts.h"

namespace tslflash::held_signals {

// A failed write to a closed pipe returns an error instead of ending the
// program; for the whole process.
void IgnoreBrokenPipe();

// Starts holding. Nested holds are not supported: a second Hold is ignored.
void Hold();
// Gives the signals their earlier effect back; what was held stays recorded.
void Release();

// The first terminating signal held (INT, TERM, HUP, QUIT), if any, and
// whether a stop (TSTP) was held. Take clears it.
std::optional<int> TakeHeldEnd();
bool EndHeld();
bool TakeHeldStop();
// Stops the program as the held stop would have, outside a hold.
void StopNow();

// Where the handler writes one byte (the signal's number) for every signal
// it holds, so an event loop can notice; -1 for none.
void SetWakeDescriptor(int fd);

// "SIGTERM" and so on for the held signals; "signal" for any other.
std::string_view SignalName(int signal);

#ifdef _WIN32
// The console's Ctrl-C, Ctrl-Break and close, held like the signals; the
// Windows shield registers it for the run.
int __stdcall HoldConsoleEvent(unsigned long event);
#endif

}  // namespace tslflash::held_signals
