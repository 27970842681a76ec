// The process entry, in place of a C run-time start-up the program has no
// use for: no heap, no argument vector, no standard handles.
#include <windows.h>

#include <array>

// Provided by the linker under this name; its address is the module's load
// address, which is the module handle.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cppcoreguidelines-avoid-non-const-global-variables)
extern "C" IMAGE_DOS_HEADER __ImageBase;

// Plain cdecl on purpose: a decorated stdcall name would not be found as the
// entry.
extern "C" __attribute__((noreturn, used)) void WinMainCRTStartup()
{
    // WinMain ignores its command-line argument, so the start-up need not
    // ask the platform for one. It lives on this frame, which never returns.
    std::array<char, 1> emptyCommandLine{};
    auto* const instance = reinterpret_cast<HINSTANCE>(&__ImageBase);  // NOLINT(*-pro-type-reinterpret-cast)
    ExitProcess(static_cast<UINT>(WinMain(instance, nullptr, emptyCommandLine.data(), SW_SHOWDEFAULT)));
}
