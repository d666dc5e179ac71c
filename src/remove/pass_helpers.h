// Helpers that several removal passes share: the path rule of file entries, the current folder
// and its moves, folder removal behind the protected-folder test, progress steps, and the registry
// key helpers of the passes that delete values (shared DLL counts, fonts, registry entries).
#pragma once

#include <windows.h>

#include "../data/lists.h"

// --- Paths and folders --------------------------------------------------------------------------
void BuildEntryPath(const FileEntry* entry); // into TargetPath; skipped entries leave it empty
// TargetPath becomes folder and rest, then fileName (unless empty) behind a backslash. False, with
// TargetPath empty, when that does not fit.
bool BuildTargetPath(const char* folder, const char* rest, const char* fileName);
// Fills path (PATH_SIZE bytes) with the current directory; false, with path empty, when it cannot
// be read whole.
bool ReadCurrentFolder(char* path);
// Makes the parent of the current directory current: a folder cannot be removed while it is the
// current one.
void StepUpFolder();
// Removes the folder at path unless it is protected or reached through a link; true when it went
// (it was empty).
bool RemoveUnprotectedFolder(char* path);
// Makes InstallDir current, and leaves it without its trailing backslash.
void EnterInstallDir();
// Cuts path at its last backslash, leaving its parent; false when it has none.
bool CutToParent(char* path);

// --- Progress -----------------------------------------------------------------------------------
// The progress bar at step of StepTotal; nothing while there is no progress dialog.
void ReportRemovalStep(DWORD step);

// --- Registry keys ------------------------------------------------------------------------------
// Opens name below parent with access; null when it cannot be opened (also below a null parent).
HKEY OpenRegistryKey(HKEY parent, const char* name, REGSAM access);
// Deletes the value name (unless name is null), then closes key; nothing at all for a null key.
void DeleteValueAndCloseKey(HKEY key, const char* name);
// Opens name below the CurrentVersion key, whose path the stub holds once (SharedDLLs, and the
// Fonts key of the 9x line); null when either cannot be opened.
HKEY OpenBelowCurrentVersion(const char* name, REGSAM access);
