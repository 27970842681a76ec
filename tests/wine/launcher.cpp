// Starts a program with an exact command line, byte for byte, which `wine
// program args` cannot do because it quotes the arguments itself.
//
//   launcher.exe REQUEST_FILE
//
// The file holds the program's path, a NUL, then the command line's bytes.
// Exits with the program's exit status; 200 to 202 mean the launcher failed.
// No C run-time, so that one source builds for every architecture.
#include <windows.h>

#include <array>

#include "cmdline/cmdline.h"

namespace {
// Room for the longest command line Windows passes, and the path before it.
std::array<char, 0x10000> request{};

UINT Launch()
{
    HANDLE file = CreateFileA(CutCommandTail(GetCommandLineA()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 200;
    }
    DWORD size = 0;
    // One byte short of the buffer, so that the command line stays NUL-terminated.
    const BOOL read = ReadFile(file, request.data(), request.size() - 1, &size, nullptr);
    CloseHandle(file);
    const char* program = request.data();
    const char* end = request.data() + size;
    const char* commandLine = program;
    while (commandLine < end && *commandLine != '\0') {
        ++commandLine;
    }
    if (read == FALSE || commandLine == end) {
        return 201;
    }
    STARTUPINFOA startup;
    RtlSecureZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(program, const_cast<char*>(commandLine + 1), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process) == FALSE) {
        return 202;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 202;
    GetExitCodeProcess(process.hProcess, &status);
    return status;
}
}  // namespace

extern "C" __attribute__((noreturn, used)) void mainCRTStartup()
{
    ExitProcess(Launch());
}
