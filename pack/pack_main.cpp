// quillon-pack: packs a manifest into an uninstaller, and reads one back. See pack_cli.cpp.
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "pack_cli.h"

// The folder of the running executable, where an installed quillon-pack keeps quillon-stub.exe.
static std::string ToolFolder(const char* argv0) {
    std::string path;
#ifdef _WIN32
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) path.assign(buffer, length);
#else
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length > 0 && static_cast<size_t>(length) < sizeof buffer) path.assign(buffer, static_cast<size_t>(length));
#endif
    if (path.empty()) path = argv0;
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every platform: no CR added to the manifest that dump prints.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    return quillon::RunPackCommand(args, std::cout, std::cerr, ToolFolder(argv[0]));
}
