// A windowless process that outlives any test unless the session ends it.
// It first makes C:\sleeper-ready, so that a test knows it runs inside the
// prefix before it ends the session. No C run-time, like the launcher.
#include <windows.h>

extern "C" __attribute__((noreturn, used)) void WinMainCRTStartup()
{
    CloseHandle(CreateFileA("C:\\sleeper-ready", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(120000);
    ExitProcess(0);
}
