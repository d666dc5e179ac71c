// The process-wide state of one uninstall run.
//
// Every procedure of the stub works on this one structure instead of passing state around: the
// driver fills the platform flags, switches and path buffers, the loader fills the message table,
// lists and settings, the user interface keeps its window handles here. It is plain data in the
// zero-initialised section, so it needs no constructor; the process has one thread.
#pragma once

#include <windows.h>

#include "lists.h"

struct RunContext {
    // Platform and switches (run driver).
    bool IsNT;
    bool IsVistaOrLater;
    bool SwitchQ;
    bool SwitchS;
    bool SwitchX;
    HINSTANCE ModuleInstance;

    // The three 260-byte path buffers. InstallDir ends in a backslash; TargetPath is the one
    // working path of the run; ModulePath holds the uninstaller's own path after the load.
    char* InstallDir;
    char* TargetPath;
    char* ModulePath;
    unsigned StepTotal; // progress denominator; 0 while there is no progress dialog

    // Theme library, loaded from the system folder at start-up.
    HMODULE ThemeLibrary;

    // User interface.
    HWND MainWindow;
    HWND ProgressDialog;
    HWND ProgressBar;
    unsigned LastProgressPos;
    HFONT DialogFont;

    // Loaded data: table 0 of the message table (null-ended array of texts), the removal lists,
    // the pattern list (NUL-separated, closed by an empty string) and the settings body.
    char** MessageTable;
    FileEntry** FileList;
    DWORD FileCount;
    FolderGroupEntry** FolderGroupList;
    DWORD FolderGroupCount;
    RegistryEntry** RegistryList;
    DWORD RegistryCount;
    char* PatternList;
    DWORD PatternListLength;
    BYTE* SettingsBlock;
    DWORD SettingsLength;

    // File pass: -1 ask for each read-only file, 1 yes to all, 0 no to all.
    int ReadOnlyPolicy;
};

extern RunContext TheRun;
