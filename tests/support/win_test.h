// Support for Windows test programs under Wine: packing uninstallers, starting them, reading and
// answering their boxes through the real windows, and looking at files and the registry.
//
// Every wait here has a time limit, so a window that never comes or never goes fails the test
// instead of hanging it; a process still running at the end of its limit is ended.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "format_writer.h"

namespace qt {

// --- Flavour -----------------------------------------------------------------------------------
// The test programs are built as the stub is, so their own width is the stub's. Where the flavours
// must differ (registry view, redirected folders), tests say both expectations.
constexpr bool FlavourIsX64 = sizeof(void*) == 8;
// The registry view a program of this flavour reaches without a view flag, and the other one.
constexpr REGSAM OwnRegistryView = FlavourIsX64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM OtherRegistryView = FlavourIsX64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// --- Paths and files -------------------------------------------------------------------------

std::string WindowsPath(const std::string& unixPath); // "/a/b" -> "Z:\a\b"; others unchanged
std::string StubPath();                               // the shipping stub
std::string FailingHeapStubPath();                    // the stub whose heap fails on request
std::string TestBinPath(const std::string& name);     // a program built in the test tree
// An empty folder C:\quillon-tests\<name>, made afresh; returned without a trailing backslash.
std::string FreshFolder(const std::string& name);
void RemoveTree(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);
std::string Join(const std::string& folder, const std::string& name);

// --- Packing -----------------------------------------------------------------------------------
// Sixteen messages with recognisable texts: "T:title", "C:confirm", ... (see win_test.cpp).
std::vector<std::string> StandardMessages();
quillon::UninstallData StandardData();
// Writes the stub (or another) followed by chain to path. Fails the test on error.
void WriteUninstaller(const std::string& path, const quillon::Bytes& chain, const std::string& stub = StubPath());
void WriteUninstaller(const std::string& path, const quillon::UninstallData& data,
                      const std::string& stub = StubPath());
// Makes Wine report a Windows version ("win98", "winxp", "win10") to programs named exeName.
void SetWindowsVersionFor(const std::string& exeName, const std::string& level);

// --- Processes -----------------------------------------------------------------------------------
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    bool Start(const std::string& exe, const std::string& arguments, const std::string& directory = "");
    // The exit code, or STILL_ACTIVE when the limit ran out (the process is then ended).
    DWORD Wait(DWORD timeoutMs);
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};

// --- Windows ---------------------------------------------------------------------------------
enum class BoxKind { MessageBox, ReadOnlyPrompt, Progress, Other };

struct Button {
    int id;
    std::string text;
};

struct Box {
    HWND window = nullptr;
    BoxKind kind = BoxKind::Other;
    std::string caption;
    std::string text; // a message box's text, or the prompt's or progress dialog's control 1000
    std::vector<Button> buttons;
    bool HasButton(int id) const;
};

std::vector<HWND> ListDialogWindows(DWORD processId); // visible top-level dialogs of the process
std::vector<Box> ListBoxes(DWORD processId);          // the same, read
bool ReadBox(HWND window, Box* box);
std::string ControlText(HWND control);
void Press(HWND window, int id); // WM_COMMAND from a button, as a click sends it
void SendKey(HWND window, int virtualKey);

// Runs an uninstaller and answers its message boxes and read-only prompts in turn with the ids
// given. Every box it saw is kept, in order; the progress dialog is noted, never answered.
struct Session {
    DWORD exitCode = STILL_ACTIVE;
    std::vector<Box> boxes; // the boxes that were answered (or left unanswered at the end)
    bool sawProgress = false;
    std::vector<Box> progress; // each distinct reading of the progress dialog
};
Session RunAnswering(const std::string& exe, const std::string& arguments, const std::vector<int>& answers,
                     DWORD timeoutMs = 60000, const std::string& directory = "");

// --- Registry --------------------------------------------------------------------------------
void SetRegistryString(HKEY root, const std::string& key, const std::string& name, const std::string& value,
                       REGSAM view = 0);
void SetRegistryDword(HKEY root, const std::string& key, const std::string& name, DWORD value, REGSAM view = 0);
bool RegistryKeyExists(HKEY root, const std::string& key, REGSAM view = 0);
bool RegistryValueExists(HKEY root, const std::string& key, const std::string& name, REGSAM view = 0);
bool ReadRegistryDword(HKEY root, const std::string& key, const std::string& name, DWORD* value, REGSAM view = 0);
void DeleteRegistryTree(HKEY root, const std::string& key, REGSAM view = 0);

} // namespace qt
