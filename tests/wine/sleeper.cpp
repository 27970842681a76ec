// A windowless process that outlives any test unless the session ends it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/)
{
    Sleep(120000);
    return 0;
}
