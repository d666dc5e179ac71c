// Timing probes for the benchmark's traced stub (quillon-stub-traced.exe).
//
// The traced stub links the very objects of the shipping stub; the linker's --wrap option sends
// the calls that cross from one object to another through these wrappers instead: the load, each
// removal pass, the protected-folder test, the loader's exact reads, the file opens of the in-use
// test, the message boxes and the tear-down. Each wrapper counts its calls and adds up the ticks
// spent inside, and the wrapper of FinalizeRun writes the totals as "name calls microseconds"
// lines to the file named by the environment variable QUILLON_BENCH_TRACE. Nothing here is part
// of the stub that ships; it links without a C runtime, like the stub itself.
#include <windows.h>

#include "data/file_io.h"

namespace {

enum Probe {
    PROBE_LOAD,
    PROBE_FILES,
    PROBE_PATTERNS,
    PROBE_GROUP_FILES,
    PROBE_GROUPS,
    PROBE_EMPTY_FOLDERS,
    PROBE_REGISTRY,
    PROBE_PROTECTED_FOLDER,
    PROBE_READ_EXACT,
    PROBE_OPEN_FILE,
    PROBE_CLOSE_FILE,
    PROBE_SHOW_MESSAGE,
    PROBE_DRAIN_MESSAGES,
    PROBE_FREE_DATA,
    PROBE_COUNT,
};

const char* const ProbeNames[PROBE_COUNT] = {
    "load", "files", "patterns", "group_files", "groups", "empty_folders", "registry",
    "protected_folder", "read_exact", "open_file", "close_file", "show_message", "drain_messages", "free_data",
};

struct ProbeTotals {
    LONGLONG Calls[PROBE_COUNT];
    LONGLONG Ticks[PROBE_COUNT];
    LONGLONG RunStart;
};
ProbeTotals Totals; // zero-initialised; the stub has one thread

LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// Times one call: the constructor notes the start, the destructor adds the ticks.
class Timed {
public:
    explicit Timed(Probe probe) : probe_(probe), start_(Now()) {}
    ~Timed()
    {
        Totals.Ticks[probe_] += Now() - start_;
        ++Totals.Calls[probe_];
    }

private:
    Probe probe_;
    LONGLONG start_;
};

void WriteLine(HANDLE file, const char* text)
{
    DWORD written = 0;
    WriteFile(file, text, lstrlenA(text), &written, nullptr);
}

// wsprintfA has no 64-bit conversion; the totals are written as microseconds, which fit in 32 bits
// for any run shorter than an hour.
DWORD Microseconds(LONGLONG ticks, LONGLONG frequency)
{
    return static_cast<DWORD>((ticks * 1000000) / frequency);
}

void WriteTotals()
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("QUILLON_BENCH_TRACE", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    char line[128];
    for (int probe = 0; probe < PROBE_COUNT; ++probe) {
        wsprintfA(line, "%s %lu %lu\r\n", ProbeNames[probe], static_cast<DWORD>(Totals.Calls[probe]),
                  Microseconds(Totals.Ticks[probe], frequency.QuadPart));
        WriteLine(file, line);
    }
    wsprintfA(line, "run %lu %lu\r\n", 1UL, Microseconds(Now() - Totals.RunStart, frequency.QuadPart));
    WriteLine(file, line);
    CloseHandle(file);
}

} // namespace

extern "C" {

// The real procedures, reached through the names that --wrap gives them.
bool __real__Z17LoadUninstallDatav();
void __real__Z11RemoveFilesv();
void __real__Z14RemovePatternsv();
void __real__Z22RemoveFolderGroupFilesv();
void __real__Z18RemoveFolderGroupsv();
void __real__Z17PruneEmptyFoldersv();
void __real__Z21RemoveRegistryEntriesv();
bool __real__Z17IsProtectedFolderPc(char* path);
int __real__Z9ReadExactPvS_m(HANDLE file, void* destination, DWORD count);
HANDLE __real__Z16OpenExistingFilePKc8OpenMode(const char* path, OpenMode mode);
void __real__Z9CloseFilePv(HANDLE file);
void __real__Z11FinalizeRunv();
int __real__Z11ShowMessagePKcj(const char* text, UINT style);
void __real__Z13DrainMessagesv();
void __real__Z17FreeUninstallDatav();

bool __wrap__Z17LoadUninstallDatav()
{
    Totals.RunStart = Now();
    Timed timed(PROBE_LOAD);
    return __real__Z17LoadUninstallDatav();
}

void __wrap__Z11RemoveFilesv()
{
    Timed timed(PROBE_FILES);
    __real__Z11RemoveFilesv();
}

void __wrap__Z14RemovePatternsv()
{
    Timed timed(PROBE_PATTERNS);
    __real__Z14RemovePatternsv();
}

void __wrap__Z22RemoveFolderGroupFilesv()
{
    Timed timed(PROBE_GROUP_FILES);
    __real__Z22RemoveFolderGroupFilesv();
}

void __wrap__Z18RemoveFolderGroupsv()
{
    Timed timed(PROBE_GROUPS);
    __real__Z18RemoveFolderGroupsv();
}

void __wrap__Z17PruneEmptyFoldersv()
{
    Timed timed(PROBE_EMPTY_FOLDERS);
    __real__Z17PruneEmptyFoldersv();
}

void __wrap__Z21RemoveRegistryEntriesv()
{
    Timed timed(PROBE_REGISTRY);
    __real__Z21RemoveRegistryEntriesv();
}

bool __wrap__Z17IsProtectedFolderPc(char* path)
{
    Timed timed(PROBE_PROTECTED_FOLDER);
    return __real__Z17IsProtectedFolderPc(path);
}

int __wrap__Z9ReadExactPvS_m(HANDLE file, void* destination, DWORD count)
{
    Timed timed(PROBE_READ_EXACT);
    return __real__Z9ReadExactPvS_m(file, destination, count);
}

HANDLE __wrap__Z16OpenExistingFilePKc8OpenMode(const char* path, OpenMode mode)
{
    Timed timed(PROBE_OPEN_FILE);
    return __real__Z16OpenExistingFilePKc8OpenMode(path, mode);
}

void __wrap__Z9CloseFilePv(HANDLE file)
{
    Timed timed(PROBE_CLOSE_FILE);
    __real__Z9CloseFilePv(file);
}

int __wrap__Z11ShowMessagePKcj(const char* text, UINT style)
{
    Timed timed(PROBE_SHOW_MESSAGE);
    return __real__Z11ShowMessagePKcj(text, style);
}

void __wrap__Z13DrainMessagesv()
{
    Timed timed(PROBE_DRAIN_MESSAGES);
    __real__Z13DrainMessagesv();
}

void __wrap__Z17FreeUninstallDatav()
{
    Timed timed(PROBE_FREE_DATA);
    __real__Z17FreeUninstallDatav();
}

void __wrap__Z11FinalizeRunv()
{
    __real__Z11FinalizeRunv();
    WriteTotals();
}

} // extern "C"
