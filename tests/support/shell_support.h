// Support for the tests of program launching, the closing document and the self-removal: the
// recorder (shell_recorder.exe) and its records, environment and registry values that are put
// back at the end of a test, a look at how another process was started, and waiting for files.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win_test.h"

namespace qt {

// One run of the recorder; see tests/e2e/shell_recorder.cpp.
struct Record {
    std::string module;
    std::string commandLine;
    std::string directory;
    DWORD startFlags = 0;
    DWORD show = 0;
    int checked = -1; // -1 without QUILLON_RECORD_CHECK
};

std::string RecorderPath();
void InstallRecorder(const std::string& path); // a copy of the recorder under that name
std::vector<Record> ReadRecords(const std::string& recordFile);
// A copy of the recorder at folder\relative, the folders on the way created.
void PlantRecorder(const std::string& folder, const std::string& relative);

// Polls every 20 ms until done() or the limit; returns done().
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
bool WaitForRecords(const std::string& recordFile, size_t count, DWORD timeoutMs);
// Deletes a program file, waiting (10 s at most) while a copy of it still runs and holds it;
// false if it is still there.
bool DeleteProgramWhenItEnds(const std::string& path);

// An environment variable of this process (inherited by what it starts), put back at the end.
class ScopedVariable {
public:
    ScopedVariable(const std::string& name, const std::string& value); // empty value: unset
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

// TMP and TEMP of this process (inherited by what it starts) both pointed at folder, put back at
// the end.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const std::string& folder) : tmp_("TMP", folder), temp_("TEMP", folder) {}

private:
    ScopedVariable tmp_;
    ScopedVariable temp_;
};

// The folder of one end-to-end run of the shell tests: a fresh folder named prefix + the running
// test's name, its "tmp" subfolder made TMP and TEMP, and its "records.txt" made the recorder's
// record file (QUILLON_RECORD); the variables are put back at the end.
class RecordedTestFolder {
public:
    explicit RecordedTestFolder(const std::string& prefix);
    RecordedTestFolder(const RecordedTestFolder&) = delete;
    RecordedTestFolder& operator=(const RecordedTestFolder&) = delete;

    const std::string base;
    const std::string temp;
    const std::string recordFile;

private:
    ScopedTempFolder tempVariables_;
    ScopedVariable record_;
};

// The default value of a key under HKEY_CLASSES_ROOT, put back (or the key removed) at the end.
class ScopedClassDefault {
public:
    ScopedClassDefault(const std::string& key, const std::string& value);
    ~ScopedClassDefault();
    ScopedClassDefault(const ScopedClassDefault&) = delete;
    ScopedClassDefault& operator=(const ScopedClassDefault&) = delete;

private:
    std::string key_;
    std::string old_;
    bool hadKey_ = false;
    bool hadValue_ = false;
};

// How a running process was started, read from its process parameters.
struct ProcessStart {
    bool ok = false;
    std::string imagePath;
    std::string commandLine;
    std::string directory;
    DWORD windowFlags = 0; // STARTUPINFO dwFlags
    DWORD showWindow = 0;  // STARTUPINFO wShowWindow
};
ProcessStart ReadProcessStart(HANDLE process);

// Ids of running processes whose executable has that name (without regard to case).
std::vector<DWORD> FindProcesses(const std::string& exeName);

// Deletes a file whose path may be too long for the calls that clear a test folder; fails the test
// when the file stays.
void DeleteLongFile(const std::string& path);

// Names of the files in folder that match pattern (e.g. "delme*.bat").
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern);

// The self-removal batch as it must be written for these paths, in the OEM code page, with every
// "%" of a path doubled. folder is the interpreter's folder, installDir has no trailing backslash;
// nt chooses the last line (a comment, or on the 9x line the batch deleted).
std::string ExpectedSelfRemovalBatch(const std::string& exe, const std::string& folder, const std::string& installDir,
                                     const std::string& batch, bool nt = true);
// The NT line's interpreter command line for that batch, which removes the batch's folder after it.
std::string ExpectedInterpreterLine(const std::string& batch);
// The folder that holds the batch folders on the NT line: the Windows folder's Temp.
std::string BatchParentFolder();
// The NT line's batch (<Windows>\Temp\delme<n>\delme.bat) that deletes exe; empty when there is none.
std::string FindSelfRemovalBatch(const std::string& exe);

// Ends a test program that hangs in a call under test: fn runs on a thread, and if it has not
// returned within the limit the failure is reported and the whole program ends.
void RunWithin(DWORD timeoutMs, const std::function<void()>& fn, const char* what);

// The Windows and system folders as the system gives them, and this process's current directory.
std::string WindowsFolder();
std::string SystemFolder();
std::string CurrentDirectory();

// The text in lower case, as the system folds it, for paths compared without regard to case.
std::string Lower(std::string text);

} // namespace qt
