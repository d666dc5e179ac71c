// What Windows (here: Wine) itself reports for the folders the macros and the protected-folder
// test name, asked through other calls than the stub uses (SHGetFolderPathA instead of item lists,
// plain registry reads), so the tests compare the stub against the system and not against itself.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include <cstring>
#include <string>

namespace paths_test {

const char* const CurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

// The text with its ASCII letters in upper or lower case only, as the folder names are compared.
inline std::string Upper(std::string text)
{
    for (char& c : text)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return text;
}

inline std::string Lower(std::string text)
{
    for (char& c : text)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// The path without one trailing backslash, unless it is a drive root or shorter.
inline std::string Stripped(std::string path)
{
    if (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

inline std::string WindowsFolder()
{
    char path[MAX_PATH] = "";
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

inline std::string SystemFolder()
{
    char path[MAX_PATH] = "";
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

inline std::string TempFolder()
{
    char path[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, path);
    return path;
}

// Empty when the shell cannot name the folder.
inline std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = "";
    if (SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return "";
    return path;
}

// A text value of the CurrentVersion key as this 32-bit program sees it; false when absent.
inline bool CurrentVersionValue(const char* name, std::string* value)
{
    char data[1024];
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    data[size] = '\0';
    *value = data;
    return true;
}

// Sets (or deletes) a CurrentVersion value for the life of the object, then puts back what was there.
class CurrentVersionValueChange {
public:
    CurrentVersionValueChange(const char* name, const char* newValue) : name_(name)
    {
        hadValue_ = CurrentVersionValue(name, &oldValue_);
        Write(newValue);
    }
    ~CurrentVersionValueChange() { Write(hadValue_ ? oldValue_.c_str() : nullptr); }
    CurrentVersionValueChange(const CurrentVersionValueChange&) = delete;
    CurrentVersionValueChange& operator=(const CurrentVersionValueChange&) = delete;

private:
    void Write(const char* value)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        if (value != nullptr)
            RegSetValueExA(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           static_cast<DWORD>(std::strlen(value) + 1));
        else
            RegDeleteValueA(key, name_.c_str());
        RegCloseKey(key);
    }

    std::string name_;
    std::string oldValue_;
    bool hadValue_ = false;
};

} // namespace paths_test
