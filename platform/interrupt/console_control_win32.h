#ifndef KESTO_PLATFORM_CONSOLE_CONTROL_WIN32_H_
#define KESTO_PLATFORM_CONSOLE_CONTROL_WIN32_H_

// Win32 only: the console-control handler that InstallInterruptHandler registers, reachable so
// that a test can deliver the events the system cannot be asked to send (closing the console
// window, logging off, shutting down).

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace kesto::platform::win32 {

// Windows ends the process as soon as the handler returns from a close, log-off or shutdown
// event, and about five seconds after the event in any case.
constexpr DWORD kCloseGraceMs = 4500;

// Ctrl-C and Ctrl-Break raise the interrupt and return at once. A close, log-off or shutdown
// raises it and then holds the system's thread until the main thread calls NotifyStopped, or
// kCloseGraceMs have passed. TRUE for the events it handles. Runs on a thread the system
// creates for the call.
BOOL WINAPI OnConsoleControl(DWORD type);

}  // namespace kesto::platform::win32

#endif  // KESTO_PLATFORM_CONSOLE_CONTROL_WIN32_H_
