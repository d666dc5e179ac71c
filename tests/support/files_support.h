// Support for the file pass tests, in-process and end to end: a process that holds a file open
// (files_holder.exe), the marker files that the test COM servers leave, and file attributes.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "win_test.h"

namespace qt {

// Holds a file open from another process until Release or the end of scope; the other process
// opens it for reading with read sharing only, as a running program holds its files.
class FileHolder {
public:
    explicit FileHolder(const std::string& path);
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    bool Holding() const;
    void Release(); // lets go of the file and waits until the holder has ended

private:
    std::string ready_;
    std::string release_;
    Process process_;
    bool started_ = false;
    bool released_ = false;
};

// The lines "key=value" of the marker a test COM server leaves at "<dll path>.marker".
std::map<std::string, std::string> ReadMarker(const std::string& dllPath);

DWORD Attributes(const std::string& path);
void MakeReadOnly(const std::string& path);

} // namespace qt
