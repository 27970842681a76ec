#pragma once
// A recording stand-in for the system calls the program makes: each call is
// logged as text with its arguments, and each result can be set per test.

#include <windows.h>

#include <string>
#include <vector>

struct FakePlatform {
    std::string commandLine;
    DWORD versionWord = 0x1DB10106U;  // what Windows 10 reports: bit 31 clear

    BOOL openProcessTokenResult = TRUE;
    HANDLE tokenToGive = reinterpret_cast<HANDLE>(0x7F0);
    BOOL lookupPrivilegeValueResult = TRUE;
    LUID luidToGive{0x13, 0};  // the shutdown privilege's value on NT
    BOOL adjustTokenPrivilegesResult = TRUE;
    BOOL exitWindowsExResult = TRUE;

    std::vector<std::string> calls;
};

// Starts every test from a fresh platform.
FakePlatform& ResetFakePlatform();
const FakePlatform& Recorded();

// How the fake writes numbers in the call log: 0x and lower-case hex.
std::string FormatHex(std::uintmax_t value);

// The pseudo-handle that GetCurrentProcess gives on the real platform.
inline HANDLE CurrentProcessPseudoHandle()
{
    return reinterpret_cast<HANDLE>(~std::uintptr_t{0});
}
