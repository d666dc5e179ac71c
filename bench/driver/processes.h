// Starting a program, waiting for it with a time limit, and timing it from outside.
#pragma once

#include <windows.h>

#include <string>

namespace bench {

struct ProcessRun {
    bool started = false;
    bool timedOut = false; // the program was ended after the time limit
    DWORD exitCode = 0;
    double seconds = 0;        // CreateProcess to the end of the wait, QueryPerformanceCounter
    double secondsToBox = 0;   // RunToConfirmation: CreateProcess to the confirmation box
    SIZE_T peakWorkingSet = 0; // PROCESS_MEMORY_COUNTERS.PeakWorkingSetSize; 0 when not available
    std::string error;
};

// Runs commandLine in folder and waits at most timeoutMs. The peak working set is read with
// GetProcessMemoryInfo after the process ended and before its handle is closed. Wine answers that
// only while the process runs, so the wait also samples it every 10 ms; the peak is monotonic, so
// the last sample is the figure then (it misses at most the last 10 ms of the process).
ProcessRun RunTimed(const std::string& commandLine, const std::string& folder, DWORD timeoutMs);

// Runs an uninstaller without switches, waits for its confirmation box (the load is over when it
// shows), notes the time and the peak working set, answers Cancel and waits for the end.
ProcessRun RunToConfirmation(const std::string& commandLine, const std::string& folder, DWORD timeoutMs);

double Seconds(LONGLONG ticks);
LONGLONG Ticks();

} // namespace bench
