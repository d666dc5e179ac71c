// A program that records how it was started, for the tests of the pre-uninstall command, the
// closing document and the self-removal.
//
// Copies of it are installed under the names a test needs (cleanup.exe, a class handler, a planted
// cmd.exe). Each run appends one record to the file named by QUILLON_RECORD, or to "<own path>.record"
// when that is not set:
//   module=<its own path>
//   commandline=<its command line>
//   directory=<its current directory>
//   startflags=<STARTUPINFO dwFlags> show=<wShowWindow>
//   time=<system time in 100 ns units>
//   checked=<0|1>          only with QUILLON_RECORD_CHECK: whether that path existed after the sleep
//   end
// QUILLON_RECORD_SLEEP (milliseconds) delays the check and the record; QUILLON_RECORD_EXIT sets
// the exit code. The whole record is written with one append, so a reader never sees half of it.
#include <windows.h>

#include <cstdlib>
#include <string>

static std::string Variable(const char* name)
{
    char value[2048];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return "";
    return value;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, sizeof module);
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long time = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;

    std::string record = std::string("module=") + module + "\r\ncommandline=" + GetCommandLineA() +
                         "\r\ndirectory=" + directory + "\r\nstartflags=" + std::to_string(startup.dwFlags) +
                         " show=" + std::to_string(startup.wShowWindow) + "\r\ntime=" + std::to_string(time) + "\r\n";

    std::string sleep = Variable("QUILLON_RECORD_SLEEP");
    if (!sleep.empty())
        Sleep(static_cast<DWORD>(std::strtoul(sleep.c_str(), nullptr, 10)));
    std::string check = Variable("QUILLON_RECORD_CHECK");
    if (!check.empty())
        record += std::string("checked=") + (GetFileAttributesA(check.c_str()) != INVALID_FILE_ATTRIBUTES ? "1" : "0") +
                  "\r\n";
    record += "end\r\n";

    std::string target = Variable("QUILLON_RECORD");
    if (target.empty())
        target = std::string(module) + ".record";
    // Another copy may be appending at the same moment: retry a sharing violation for a while.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileA(target.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
            CloseHandle(file);
            break;
        }
        Sleep(25);
    }

    std::string exitCode = Variable("QUILLON_RECORD_EXIT");
    return exitCode.empty() ? 0 : static_cast<int>(std::strtoul(exitCode.c_str(), nullptr, 10));
}
