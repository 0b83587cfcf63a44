#ifndef KESTO_PLATFORM_INTERRUPT_H_
#define KESTO_PLATFORM_INTERRUPT_H_

// The user's request to end a console program: Ctrl-C, SIGTERM and, on Windows, Ctrl-Break, the
// closing of the console window, logging off and shutting down. Process-wide; meant for the
// program's main thread, which waits while the program's work runs on other threads.
//
// The handler does only what is safe inside a signal handler: it sets an atomic flag and wakes
// the waiter (POSIX: one byte into a self-pipe; Win32: an event set from the console-control
// handler, which runs on a thread of its own and, for a close, then waits for NotifyStopped).
// Whatever the program does to shut down happens on the waiting thread after WaitForInterrupt
// returns.

#include <chrono>

namespace kesto::platform {

// Installs the handlers. Idempotent; the handlers stay installed for the life of the process, so
// a second interrupt during shutdown is absorbed rather than killing the program half-way.
// False when the handlers could not be installed; the platform's default action then applies.
bool InstallInterruptHandler();

// Blocks until an interrupt has arrived; returns at once when one already has. Wake-ups of any
// other kind (other signals, stray bytes) only make it look at the flag again.
void WaitForInterrupt();

// Like WaitForInterrupt, but returns after `timeout` at the latest, for a main thread that also
// has periodic work. True when an interrupt has arrived; false when the time ran out first.
bool WaitForInterruptFor(std::chrono::milliseconds timeout);

// True once an interrupt has arrived (and not been cleared).
bool InterruptRaised();

// Forgets an interrupt that arrived (and a NotifyStopped), for a program (or a test) that waits
// more than once.
void ClearInterrupt();

// Called by the main thread once its orderly stop after the interrupt is complete. On Windows the
// closing of the console window (or a log-off or shutdown) ends the process as soon as its
// handler returns, so the handler waits for this call, within the few seconds Windows allows,
// before it lets the process go. Nothing happens on POSIX, where the signal ends nothing by itself.
void NotifyStopped();

}  // namespace kesto::platform

#endif  // KESTO_PLATFORM_INTERRUPT_H_
