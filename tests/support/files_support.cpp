// Support for the file pass tests; see files_support.h.
#include "files_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qt {

// The signal files live apart from the held file, whose path may be as long as a path can be.
static std::string SignalPath(const char* kind)
{
    static unsigned counter = 0;
    CreateDirectoryA("C:\\quillon-tests", nullptr);
    return "C:\\quillon-tests\\holder-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) +
           "." + kind;
}

FileHolder::FileHolder(const std::string& path) : ready_(SignalPath("ready")), release_(SignalPath("release"))
{
    DeleteFileA(ready_.c_str());
    DeleteFileA(release_.c_str());
    started_ = process_.Start(TestBinPath("files_holder.exe"), "\"" + path + "\" \"" + ready_ + "\" \"" + release_ + "\"");
    EXPECT_TRUE(started_) << "cannot start files_holder.exe";
    for (int waited = 0; started_ && waited < 1000 && !FileExists(ready_); ++waited)
        Sleep(10);
    EXPECT_TRUE(FileExists(ready_)) << "the holder did not open " << path;
}

FileHolder::~FileHolder()
{
    Release();
}

bool FileHolder::Holding() const
{
    return started_ && !released_ && FileExists(ready_);
}

void FileHolder::Release()
{
    if (released_ || !started_)
        return;
    released_ = true;
    WriteTextFile(release_, "");
    EXPECT_EQ(0u, process_.Wait(10000)) << "the holder did not end";
    DeleteFileA(ready_.c_str());
    DeleteFileA(release_.c_str());
}

std::map<std::string, std::string> ReadMarker(const std::string& dllPath)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(ReadTextFile(dllPath + ".marker"));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            values[line] = "";
        else
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

DWORD Attributes(const std::string& path)
{
    return GetFileAttributesA(path.c_str());
}

void MakeReadOnly(const std::string& path)
{
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) << path;
}

} // namespace qt
