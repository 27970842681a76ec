// Starts a program with an exact command line, byte for byte, which `wine
// program args` cannot do because it quotes the arguments itself.
//
//   launcher.exe PROGRAM COMMAND_LINE_FILE
//
// Exits with the program's exit status; 200 to 203 mean the launcher failed.
#include <windows.h>

#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        return 200;
    }
    HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 201;
    }
    const DWORD size = GetFileSize(file, nullptr);
    std::vector<char> commandLine(size + 1, '\0');
    DWORD read = 0;
    const BOOL readAll = ReadFile(file, commandLine.data(), size, &read, nullptr) != FALSE && read == size;
    CloseHandle(file);
    if (!readAll) {
        return 201;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process) == FALSE) {
        return 202;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 203;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
