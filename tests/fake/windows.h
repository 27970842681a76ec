#pragma once
// Host stand-in for the few declarations of <windows.h> that the program
// uses. Types keep their Windows widths (DWORD and UINT are 32 bits even on
// an LP64 host), and the functions are defined by the recording fake in
// tests/host/fake_platform.cpp, linked in place of the system DLLs.

#include <cstdint>

#define WINAPI
#define FALSE 0
#define TRUE 1

using BOOL = int;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using LPSTR = char*;
using LPCSTR = const char*;
using PDWORD = DWORD*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
using PLUID = LUID*;

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];  // NOLINT: the platform's layout
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;

constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;

extern "C" {
LPSTR WINAPI GetCommandLineA();
DWORD WINAPI GetVersion();
HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);
BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason);
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
}
