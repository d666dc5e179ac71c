// The run driver: platform detection, start-up, switches and the fixed order of one run.
#pragma once

#include <windows.h>

int RunUninstaller(HINSTANCE instance, const char* commandLine);

void RestrictDllSearch();
void DetectPlatform();
bool InitializeRun(HINSTANCE instance);
void ParseSwitches(const char* text);
void FinalizeRun();
// Fills path (260 bytes) with the uninstaller's own file name; false when it cannot be had whole.
bool GetUninstallerPath(char* path);

void LoadThemeLibrary();
void UseClassicControls();
void UnloadThemeLibrary();

