// Timed child processes; see processes.h.
#include "processes.h"

#include <psapi.h>

#include <vector>

namespace bench {

namespace {

enum { SAMPLE_INTERVAL_MS = 10 };

struct Started {
    PROCESS_INFORMATION process = {};
    LONGLONG start = 0;
};

bool Start(const std::string& commandLine, const std::string& folder, Started* started, ProcessRun* run)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started->start = Ticks();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started->process)) {
        run->error = "cannot start " + commandLine + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    run->started = true;
    return true;
}

void SampleMemory(HANDLE process, ProcessRun* run)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, &memory, sizeof memory) && memory.PeakWorkingSetSize > run->peakWorkingSet)
        run->peakWorkingSet = memory.PeakWorkingSetSize;
}

// Waits for the end, sampling the working set; ends the process after the time limit.
void WaitForEnd(const Started& started, DWORD timeoutMs, ProcessRun* run)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    LONGLONG limit = started.start + frequency.QuadPart / 1000 * timeoutMs;
    DWORD waited = WAIT_TIMEOUT;
    LONGLONG now = started.start;
    while (waited == WAIT_TIMEOUT && now < limit) {
        SampleMemory(started.process.hProcess, run);
        waited = WaitForSingleObject(started.process.hProcess, SAMPLE_INTERVAL_MS);
        now = Ticks();
    }
    run->seconds = Seconds(now - started.start);
    if (waited != WAIT_OBJECT_0) {
        run->timedOut = true;
        run->error = "no end after " + std::to_string(timeoutMs / 1000) + " s";
        TerminateProcess(started.process.hProcess, 1);
        WaitForSingleObject(started.process.hProcess, 10000);
    }
    GetExitCodeProcess(started.process.hProcess, &run->exitCode);
    SampleMemory(started.process.hProcess, run); // the finished process, where the system still knows it
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
}

struct BoxSearch {
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = "";
    if (owner == search->processId && IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, "#32770") == 0) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

LONGLONG Ticks()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double Seconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

ProcessRun RunTimed(const std::string& commandLine, const std::string& folder, DWORD timeoutMs)
{
    ProcessRun run;
    Started started;
    if (Start(commandLine, folder, &started, &run))
        WaitForEnd(started, timeoutMs, &run);
    return run;
}

ProcessRun RunToConfirmation(const std::string& commandLine, const std::string& folder, DWORD timeoutMs)
{
    ProcessRun run;
    Started started;
    if (!Start(commandLine, folder, &started, &run))
        return run;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    LONGLONG limit = started.start + frequency.QuadPart / 1000 * timeoutMs;
    BoxSearch search = {started.process.dwProcessId, nullptr};
    // A short poll: the box's appearance is the end of the load, so the poll sets the resolution.
    while (search.box == nullptr && Ticks() < limit &&
           WaitForSingleObject(started.process.hProcess, 2) == WAIT_TIMEOUT)
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box != nullptr) {
        run.secondsToBox = Seconds(Ticks() - started.start);
        SampleMemory(started.process.hProcess, &run);
        PostMessageA(search.box, WM_COMMAND, IDCANCEL, 0);
    } else {
        run.error = "no confirmation box";
    }
    WaitForEnd(started, timeoutMs, &run);
    return run;
}

} // namespace bench
