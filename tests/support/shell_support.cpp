// Support for the launching, document and self-removal tests; see shell_support.h.
#include "shell_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace qt {

std::string RecorderPath() { return TestBinPath("shell_recorder.exe"); }

void InstallRecorder(const std::string& path)
{
    ASSERT_TRUE(CopyFileA(RecorderPath().c_str(), path.c_str(), FALSE)) << path << " error " << GetLastError();
}

std::vector<Record> ReadRecords(const std::string& recordFile)
{
    std::vector<Record> records;
    std::string text = ReadTextFile(recordFile);
    Record current;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            break; // a line still being written
        std::string line = text.substr(at, end - at);
        at = end + 2;
        if (line == "end") {
            records.push_back(current);
            current = Record();
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (key == "module")
            current.module = value;
        else if (key == "commandline")
            current.commandLine = value;
        else if (key == "directory")
            current.directory = value;
        else if (key == "startflags")
            std::sscanf(value.c_str(), "%lu show=%lu", &current.startFlags, &current.show);
        else if (key == "checked")
            current.checked = value == "1" ? 1 : 0;
    }
    return records;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    DWORD started = GetTickCount();
    while (!done()) {
        if (GetTickCount() - started > timeoutMs)
            return done();
        Sleep(20);
    }
    return true;
}

bool WaitForRecords(const std::string& recordFile, size_t count, DWORD timeoutMs)
{
    return WaitUntil([&] { return ReadRecords(recordFile).size() >= count; }, timeoutMs);
}

bool DeleteProgramWhenItEnds(const std::string& path)
{
    return WaitUntil([&] { return DeleteFileA(path.c_str()) || !FileExists(path); }, 10000);
}

ScopedVariable::ScopedVariable(const std::string& name, const std::string& value) : name_(name)
{
    char old[4096];
    DWORD length = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    had_ = length != 0 && length < sizeof old;
    if (had_)
        old_ = old;
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

ScopedVariable::~ScopedVariable()
{
    SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

ScopedClassDefault::ScopedClassDefault(const std::string& key, const std::string& value) : key_(key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
        hadKey_ = true;
        char old[1024];
        DWORD size = sizeof old;
        DWORD type = 0;
        if (RegQueryValueExA(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS &&
            type == REG_SZ) {
            hadValue_ = true;
            old_.assign(old, size > 0 && old[size - 1] == '\0' ? size - 1 : size);
        }
        RegCloseKey(handle);
    }
    SetRegistryString(HKEY_CLASSES_ROOT, key, "", value);
}

ScopedClassDefault::~ScopedClassDefault()
{
    if (!hadKey_) {
        DeleteRegistryTree(HKEY_CLASSES_ROOT, key_);
        return;
    }
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key_.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
        return;
    if (hadValue_)
        RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                       static_cast<DWORD>(old_.size() + 1));
    else
        RegDeleteValueA(handle, nullptr);
    RegCloseKey(handle);
}

// --- Process parameters -------------------------------------------------------------------------
// The parts of PEB and RTL_USER_PROCESS_PARAMETERS read here, in the layout of either flavour.

namespace {

struct RemoteString {
    USHORT length; // bytes
    USHORT maximumLength;
    ULONG_PTR buffer; // address in the other process
};

struct ProcessBasicInformation {
    LONG exitStatus;
    ULONG_PTR pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR inheritedFromUniqueProcessId;
};

// Where the process parameters lie in a process of the test's own flavour (x86, x64).
constexpr bool Wide = sizeof(void*) == 8;
enum : ULONG_PTR {
    PEB_PROCESS_PARAMETERS_AT = Wide ? 0x20 : 0x10,
    PARAMETERS_CURRENT_DIRECTORY_AT = Wide ? 0x38 : 0x24,
    PARAMETERS_IMAGE_PATH_AT = Wide ? 0x60 : 0x38,
    PARAMETERS_COMMAND_LINE_AT = Wide ? 0x70 : 0x40,
    PARAMETERS_WINDOW_FLAGS_AT = Wide ? 0xA4 : 0x68,
    PARAMETERS_SHOW_WINDOW_AT = Wide ? 0xA8 : 0x6C,
};

typedef LONG(WINAPI* QueryInformationProcessProc)(HANDLE, int, void*, ULONG, ULONG*);

template <typename T> bool ReadRemote(HANDLE process, ULONG_PTR address, T* value)
{
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<uintptr_t>(address)), value, sizeof *value,
                             &read) &&
           read == sizeof *value;
}

bool ReadRemoteString(HANDLE process, ULONG_PTR address, std::string* text)
{
    RemoteString string;
    if (!ReadRemote(process, address, &string))
        return false;
    std::wstring wide(string.length / 2, L'\0');
    SIZE_T read = 0;
    if (string.length != 0 &&
        (!ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<uintptr_t>(string.buffer)), &wide[0],
                            string.length, &read) ||
         read != string.length))
        return false;
    int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    text->assign(static_cast<size_t>(size), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &(*text)[0], size, nullptr, nullptr);
    return true;
}

} // namespace

// A process that has just been created may not have its parameters in place yet: read again
// for a while.
static ProcessStart ReadProcessStartOnce(HANDLE process)
{
    ProcessStart start;
    QueryInformationProcessProc query = reinterpret_cast<QueryInformationProcessProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    ProcessBasicInformation basic = {};
    ULONG size = 0;
    if (query == nullptr || query(process, 0, &basic, sizeof basic, &size) != 0)
        return start;
    ULONG_PTR parameters = 0;
    if (!ReadRemote(process, basic.pebBaseAddress + PEB_PROCESS_PARAMETERS_AT, &parameters) || parameters == 0 ||
        !ReadRemoteString(process, parameters + PARAMETERS_IMAGE_PATH_AT, &start.imagePath) ||
        !ReadRemoteString(process, parameters + PARAMETERS_COMMAND_LINE_AT, &start.commandLine) ||
        !ReadRemoteString(process, parameters + PARAMETERS_CURRENT_DIRECTORY_AT, &start.directory) ||
        !ReadRemote(process, parameters + PARAMETERS_WINDOW_FLAGS_AT, &start.windowFlags) ||
        !ReadRemote(process, parameters + PARAMETERS_SHOW_WINDOW_AT, &start.showWindow))
        return start;
    // Parameters still being filled in read as NULs or as empty texts: every process has an image
    // path, a command line and a current directory.
    start.ok = !start.commandLine.empty() && !start.imagePath.empty() && !start.directory.empty() &&
               start.commandLine.find('\0') == std::string::npos &&
               start.imagePath.find('\0') == std::string::npos && start.directory.find('\0') == std::string::npos;
    return start;
}

ProcessStart ReadProcessStart(HANDLE process)
{
    ProcessStart start;
    WaitUntil([&] { return (start = ReadProcessStartOnce(process)).ok; }, 5000);
    return start;
}

std::vector<DWORD> FindProcesses(const std::string& exeName)
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0)
            ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

void DeleteLongFile(const std::string& path)
{
    std::wstring wide = L"\\\\?\\" + std::wstring(path.begin(), path.end());
    EXPECT_TRUE(DeleteFileA(path.c_str()) || DeleteFileW(wide.c_str())) << path << " error " << GetLastError();
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Join(folder, pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string DoublePercents(const std::string& path)
{
    std::string doubled;
    for (char c : path)
        doubled += c == '%' ? "%%" : std::string(1, c);
    return doubled;
}

std::string ToOem(std::string text)
{
    CharToOemBuffA(text.c_str(), &text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string ExpectedSelfRemovalBatch(const std::string& exe, const std::string& folder, const std::string& installDir,
                                     const std::string& batch, bool nt)
{
    std::string lastLine = (nt ? "rem \"" : "del \"") + DoublePercents(batch) + "\"";
    std::string text = "@echo off\r\n"
                       "set Q=\r\n"
                       ":Repeat\r\n"
                       "del \"" + DoublePercents(exe) + "\"\r\n"
                       "if not exist \"" + DoublePercents(exe) + "\" goto Done\r\n"
                       "set Q=%Q%x\r\n"
                       "if \"%Q%\"==\"" + std::string(60, 'x') + "\" goto Done\r\n"
                       "\"" + DoublePercents(folder) + "\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
                       "goto Repeat\r\n"
                       ":Done\r\n"
                       "rmdir \"" + DoublePercents(installDir) + "\"\r\n" + lastLine + "\r\n";
    return ToOem(text);
}

std::string ExpectedInterpreterLine(const std::string& batch)
{
    return "cmd.exe /D /V:OFF /S /C \"\"" + batch + "\" & rmdir /s /q \"" + batch.substr(0, batch.rfind('\\')) + "\"\"";
}

std::string BatchParentFolder()
{
    return Join(WindowsFolder(), "Temp");
}

std::string FindSelfRemovalBatch(const std::string& exe)
{
    std::string line = ToOem("del \"" + DoublePercents(exe) + "\"\r\n");
    for (const std::string& name : ListFiles(BatchParentFolder(), "delme*")) {
        std::string batch = Join(Join(BatchParentFolder(), name), "delme.bat");
        if (FileExists(batch) && ReadTextFile(batch).find(line) != std::string::npos)
            return batch;
    }
    return "";
}

void RunWithin(DWORD timeoutMs, const std::function<void()>& fn, const char* what)
{
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
        fn();
        SetEvent(done);
    });
    if (WaitForSingleObject(done, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << what << ": still running after " << timeoutMs << " ms";
        std::fprintf(stderr, "%s did not return within %lu ms; ending the test program\n", what, timeoutMs);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    worker.join();
    CloseHandle(done);
}

namespace {

std::string TemporaryFolderIn(const std::string& base)
{
    std::string temp = Join(base, "tmp");
    CreateDirectoryA(temp.c_str(), nullptr);
    return temp;
}

} // namespace

void PlantRecorder(const std::string& folder, const std::string& relative)
{
    std::string path = Join(folder, relative);
    SHCreateDirectoryExA(nullptr, path.substr(0, path.rfind('\\')).c_str(), nullptr);
    InstallRecorder(path);
}

RecordedTestFolder::RecordedTestFolder(const std::string& prefix)
    : base(FreshFolder(prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name())),
      temp(TemporaryFolderIn(base)), recordFile(Join(base, "records.txt")), tempVariables_(temp),
      record_("QUILLON_RECORD", recordFile)
{
}

std::string WindowsFolder()
{
    char folder[MAX_PATH] = "";
    GetWindowsDirectoryA(folder, sizeof folder);
    return folder;
}

std::string SystemFolder()
{
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof folder);
    return folder;
}

std::string CurrentDirectory()
{
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    return directory;
}

std::string Lower(std::string text)
{
    CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

} // namespace qt
