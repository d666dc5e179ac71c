// bench-inuse-probe: what the file pass's in-use test costs, for the benchmark.
//
//   bench-inuse-probe LIST_FILE RESULT_FILE
//
// Calls the stub's own IsFileInUse (linked from the shipping objects) on every path of the list,
// one a line, in the order of the list, on a tree that quillon-bench has just created, so the files
// stand exactly as the file pass finds them. Writes "inuse CALLS MICROSECONDS" and
// "in_use_found COUNT 0" to the result file. Nothing is removed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "remove/files.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    FILE* list = std::fopen(argv[1], "r");
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

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    int inUse = 0;
    QueryPerformanceCounter(&start);
    for (const std::string& path : paths)
        inUse += IsFileInUse(path.c_str()) ? 1 : 0;
    QueryPerformanceCounter(&end);

    FILE* result = std::fopen(argv[2], "w");
    if (result == nullptr)
        return 2;
    long long microseconds = (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
    std::fprintf(result, "inuse %u %lld\nin_use_found %d 0\n", static_cast<unsigned>(paths.size()), microseconds, inUse);
    std::fclose(result);
    return 0;
}
