// The run driver: platform detection, start-up, switches and the fixed order of one run.
#pragma once

#include <windows.h>

int RunUninstaller(HINSTANCE instance, const char* commandLine);

void RestrictDllSearch();
void DetectPlatform();
bool InitializeRun(HINSTANCE instance);
void ParseSwitches(const char* text);
void FinalizeRun();

void LoadThemeLibrary();
void UseClassicControls();
void UnloadThemeLibrary();

