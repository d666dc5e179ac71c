// What the test COM servers share: the DLL's own module handle, kept at attach, and the marker
// file beside the DLL ("<dll path>.marker") through which a server tells the test it was called.
#pragma once

#include <windows.h>

#include <string>

static HMODULE ThisModule;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        ThisModule = instance;
    return TRUE;
}

// Writes text to "<dll path>.marker", replacing an older one; false when it cannot.
static bool WriteMarker(const std::string& text)
{
    char path[MAX_PATH];
    if (GetModuleFileNameA(ThisModule, path, MAX_PATH) == 0)
        return false;
    std::string marker = std::string(path) + ".marker";
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return true;
}
