// bench-probe: what two prescribed checks of the stub cost, timed on the stub's own code.
//
//   bench-probe inuse LIST_FILE RESULT_FILE
//       calls the stub's IsFileInUse (linked from the shipping objects) on every path of the list,
//       one a line, in list order, on a tree that quillon-bench has just created, so the files
//       stand exactly as the file pass finds them; nothing is removed.
//   bench-probe shell RESULT_FILE
//       times IsProtectedFolder on a folder that is not protected (the common case, which compares
//       against every row), and, for each shell folder it asks for, the stub's lookup
//       (SHGetSpecialFolderLocation, SHGetPathFromIDListA, the shell allocator) beside
//       SHGetFolderPathA for the same folder, and what one QueryPerformanceCounter call costs.
// Results are "name calls microseconds" lines, as the traced stub writes them.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "paths/protected_folders.h"
#include "paths/shell_folders.h"
#include "remove/files.h"
#include "run/driver.h"

namespace {

LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

long long Microseconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return ticks * 1000000 / frequency.QuadPart;
}

int InUseTests(const char* listPath, FILE* result)
{
    FILE* list = std::fopen(listPath, "r");
    if (list == nullptr)
        return 2;
    std::vector<std::string> paths;
    char line[1024];
    while (std::fgets(line, sizeof line, list) != nullptr) {
        std::string path = line;
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
            path.pop_back();
        if (!path.empty())
            paths.push_back(path);
    }
    std::fclose(list);

    int inUse = 0;
    LONGLONG start = Now();
    for (const std::string& path : paths)
        inUse += IsFileInUse(path.c_str()) ? 1 : 0;
    long long spent = Microseconds(Now() - start);
    std::fprintf(result, "inuse %u %lld\nin_use_found %d 0\n", static_cast<unsigned>(paths.size()), spent, inUse);
    return 0;
}

int ShellLookups(FILE* result)
{
    enum { ROUNDS = 20 };
    DetectPlatform();
    char folder[MAX_PATH] = "C:\\quillon-bench\\app\\d0000";
    LONGLONG start = Now();
    for (int round = 0; round < ROUNDS; ++round)
        IsProtectedFolder(folder);
    std::fprintf(result, "protected_folder %d %lld\n", ROUNDS, Microseconds(Now() - start));

    const int folders[] = {CSIDL_DESKTOP, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_FONTS,
                           CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU,
                           CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_APPDATA, CSIDL_COMMON_APPDATA,
                           CSIDL_COMMON_DOCUMENTS};
    LONGLONG stub = 0;
    LONGLONG folderPath = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        for (int csidl : folders) {
            char path[MAX_PATH];
            LONGLONG at = Now();
            GetShellFolderPath(path, csidl);
            stub += Now() - at;
            at = Now();
            SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
            folderPath += Now() - at;
        }
    }
    int calls = ROUNDS * static_cast<int>(sizeof folders / sizeof folders[0]);
    std::fprintf(result, "shell_lookup %d %lld\nshget_folder_path %d %lld\n", calls, Microseconds(stub), calls,
                 Microseconds(folderPath));
    LONGLONG at = Now();
    for (int round = 0; round < ROUNDS; ++round) {
        char path[MAX_PATH];
        GetWindowsDirectoryA(path, MAX_PATH);
        GetSystemDirectoryA(path, MAX_PATH);
    }
    std::fprintf(result, "windows_system_dirs %d %lld\n", 2 * ROUNDS, Microseconds(Now() - at));

    // What the traced stub's probes add to every call they time.
    enum { COUNTER_CALLS = 100000 };
    at = Now();
    for (int call = 0; call < COUNTER_CALLS; ++call)
        Now();
    std::fprintf(result, "qpc %d %lld\n", COUNTER_CALLS, Microseconds(Now() - at));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    std::string mode = argv[1];
    FILE* result = std::fopen(argv[argc - 1], "w");
    if (result == nullptr)
        return 2;
    int status = 2;
    if (mode == "inuse" && argc == 4)
        status = InUseTests(argv[2], result);
    else if (mode == "shell" && argc == 3)
        status = ShellLookups(result);
    std::fclose(result);
    return status;
}
