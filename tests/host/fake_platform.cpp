#include "fake_platform.h"

#include <cstdio>

namespace {

FakePlatform platform;

std::string Pointer(const void* pointer)
{
    return pointer == nullptr ? "null" : FormatHex(reinterpret_cast<std::uintptr_t>(pointer));
}

std::string Record(const TOKEN_PRIVILEGES* record)
{
    if (record == nullptr) {
        return "null";
    }
    const LUID_AND_ATTRIBUTES& entry = record->Privileges[0];
    return "{" + std::to_string(record->PrivilegeCount) + ", " + FormatHex(entry.Luid.LowPart) + ":" +
           FormatHex(static_cast<DWORD>(entry.Luid.HighPart)) + ", " + FormatHex(entry.Attributes) + "}";
}

}  // namespace

std::string FormatHex(std::uintmax_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%jx", value);
    return text;
}

FakePlatform& ResetFakePlatform()
{
    platform = FakePlatform{};
    return platform;
}

const FakePlatform& Recorded()
{
    return platform;
}

extern "C" {

LPSTR WINAPI GetCommandLineA()
{
    platform.calls.emplace_back("GetCommandLineA()");
    return platform.commandLine.data();
}

DWORD WINAPI GetVersion()
{
    platform.calls.emplace_back("GetVersion()");
    return platform.versionWord;
}

HANDLE WINAPI GetCurrentProcess()
{
    platform.calls.emplace_back("GetCurrentProcess()");
    return CurrentProcessPseudoHandle();
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle)
{
    platform.calls.push_back("OpenProcessToken(" + Pointer(ProcessHandle) + ", " + FormatHex(DesiredAccess) +
                             ", " + (TokenHandle == nullptr ? "null" : "out") + ")");
    // Like the platform, a failed call leaves the output untouched.
    if (platform.openProcessTokenResult != FALSE && TokenHandle != nullptr) {
        *TokenHandle = platform.tokenToGive;
    }
    return platform.openProcessTokenResult;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid)
{
    platform.calls.push_back("LookupPrivilegeValueA(" +
                             (lpSystemName == nullptr ? "null" : Pointer(lpSystemName)) + ", " +
                             (lpName == nullptr ? "null" : "\"" + std::string(lpName) + "\"") + ", " +
                             (lpLuid == nullptr ? "null" : "out") + ")");
    if (platform.lookupPrivilegeValueResult != FALSE && lpLuid != nullptr) {
        *lpLuid = platform.luidToGive;
    }
    return platform.lookupPrivilegeValueResult;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength)
{
    platform.calls.push_back("AdjustTokenPrivileges(" + Pointer(TokenHandle) + ", " +
                             std::to_string(DisableAllPrivileges) + ", " + Record(NewState) + ", " +
                             std::to_string(BufferLength) + ", " + Pointer(PreviousState) + ", " +
                             Pointer(ReturnLength) + ")");
    return platform.adjustTokenPrivilegesResult;
}

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason)
{
    platform.calls.push_back("ExitWindowsEx(" + FormatHex(uFlags) + ", " + FormatHex(dwReason) + ")");
    return platform.exitWindowsExResult;
}

}  // extern "C"
