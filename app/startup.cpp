// The process entry, in place of a C run-time start-up the program has no
// use for: no heap, no argument vector, no standard handles.
#include <windows.h>

// Provided by the linker; its address is the module's load address.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
// WinMain ignores its command-line argument, so the start-up need not call
// the platform to cut one.
char emptyCommandLine[1] = {'\0'};
}  // namespace

// Plain cdecl on purpose: a decorated stdcall name would not be found as the
// entry. The 32-bit loader only guarantees 4-byte stack alignment here.
extern "C" __attribute__((force_align_arg_pointer, noreturn, used)) void WinMainCRTStartup()
{
    const int status =
        WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr, emptyCommandLine, SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(status));
}
