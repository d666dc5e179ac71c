// The chosen-answer shell folder lookup (see fake_shell_folders.h). A failed lookup leaves the
// caller's buffer untouched, as the real one does when the shell has no item list for the folder.
#include "fake_shell_folders.h"

#include <windows.h>

#include <cstring>
#include <map>

#include "paths/shell_folders.h"

namespace {

std::map<int, std::string>& Answers()
{
    static std::map<int, std::string> answers;
    return answers;
}

std::vector<int>& Lookups()
{
    static std::vector<int> lookups;
    return lookups;
}

} // namespace

namespace qt {

void SetFakeShellFolder(int csidl, const std::string& path)
{
    Answers()[csidl] = path;
}

void FailFakeShellFolder(int csidl)
{
    Answers().erase(csidl);
}

void ResetFakeShellFolders()
{
    Answers().clear();
    Lookups().clear();
}

std::vector<int> FakeShellFolderLookups()
{
    return Lookups();
}

} // namespace qt

bool GetShellFolderPath(char* path, int csidl)
{
    Lookups().push_back(csidl);
    auto answer = Answers().find(csidl);
    if (answer == Answers().end() || answer->second.size() >= MAX_PATH)
        return false;
    std::memcpy(path, answer->second.c_str(), answer->second.size() + 1);
    return true;
}
