#include "session/session.h"

#include <windows.h>

#include <array>

namespace {
constexpr auto kShutdownPrivilegeName = std::to_array("SeShutdownPrivilege");
}  // namespace

bool IsNtPlatform()
{
    constexpr DWORD kNotNtBit = 0x80000000U;
    return (GetVersion() & kNotNtBit) == 0;
}

void EnableShutdownPrivilege()
{
    // Null and zero until the platform fills them in, so that a failed
    // look-up can only ever leave AdjustTokenPrivileges a request it rejects,
    // never one for some other privilege.
    HANDLE token = nullptr;
    LUID shutdownLuid{0, 0};
    // The token stays open until the process ends, moments from now.
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    LookupPrivilegeValueA(nullptr, kShutdownPrivilegeName.data(), &shutdownLuid);
    TOKEN_PRIVILEGES request{1, {{shutdownLuid, SE_PRIVILEGE_ENABLED}}};
    AdjustTokenPrivileges(token, FALSE, &request, 0, nullptr, nullptr);
}

bool RequestSessionEnd(std::int32_t exitFlags)
{
    return ExitWindowsEx(static_cast<UINT>(exitFlags), 0) != FALSE;
}
