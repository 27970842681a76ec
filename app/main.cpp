#include <windows.h>

#include "cmdline/cmdline.h"
#include "session/session.h"

namespace {

// The whole run after the command line has been cut: returns the process's
// exit status, 0 when the platform accepted the request and 1 when it refused.
int RunSessionEnd(const char* commandTail)
{
    const std::int32_t exitFlags = ParseExitFlags(commandTail);
    if (IsNtPlatform()) {
        EnableShutdownPrivilege();
    }
    // Privilege failures never change the status; a refused request does, so
    // that a script can tell.
    return RequestSessionEnd(exitFlags) ? 0 : 1;
}

}  // namespace

// The arguments are ignored: the tail is cut from the full command line so
// that it is read raw, exactly as the user wrote it.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/)
{
    return RunSessionEnd(CutCommandTail(GetCommandLineA()));
}
