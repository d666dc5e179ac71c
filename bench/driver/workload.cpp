// The workloads W(n) and L(n), their three renderings, and the tree that W(n) removes.
//
// Names are fixed-width and numbered, so every rendering lists the same entries in the same order:
// root\app\dKKKK\fIIIIII.dat (the installed files, 100 a folder), root\app\cache\cKKKK\tIIIIII.tmp
// (the tree of the pattern cache\*.tmp), root\menu\Vendor\Product\Link NN.lnk (the shortcuts of
// the folder group), HKCU\Software\QuillonBench\Keys\KNNN (keys with two values each) and the values
// vNNN of HKCU\Software\QuillonBench\Values, whose value "Keep" must survive.
#include "workload.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>

namespace bench {

namespace {

const char RegistryBase[] = "Software\\QuillonBench";
const char RegistryKeys[] = "Software\\QuillonBench\\Keys";
const char RegistryValues[] = "Software\\QuillonBench\\Values";
const char KeptValue[] = "Keep";
const char FileContent[] = "quillon\r\n";

std::string Numbered(const char* format, int number)
{
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

std::string FileFolder(int folder) { return Numbered("d%04d", folder); }
std::string FileName(int index) { return Numbered("f%06d.dat", index); }
std::string PatternFolder(int folder) { return Numbered("c%04d", folder); }
std::string PatternFileName(int index) { return Numbered("t%06d.tmp", index); }
std::string ShortcutName(int index) { return Numbered("Link %02d.lnk", index); }
std::string KeyPath(int index) { return std::string(RegistryKeys) + Numbered("\\K%03d", index); }
std::string ValueName(int index) { return Numbered("v%03d", index); }
std::string MenuFolder(const Workload& w) { return w.root + "\\menu"; }
std::string GroupParent(const Workload& w) { return MenuFolder(w) + "\\Vendor"; }
std::string GroupFolder(const Workload& w) { return GroupParent(w) + "\\Product"; }
std::string PatternRoot(const Workload& w) { return w.InstallDir() + "\\cache"; }

std::vector<std::string> Messages()
{
    std::vector<std::string> messages(MSG_COUNT, "Quillon benchmark");
    messages[MSG_READ_ONLY] = "";   // never asked: a read-only file would be deleted without a prompt
    messages[MSG_SHARED_FILE] = ""; // no shared DLLs in the workload
    return messages;
}

bool WriteSmallFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, FileContent, sizeof FileContent - 1, &written, nullptr);
    CloseHandle(file);
    return ok && written == sizeof FileContent - 1;
}

bool MakeFolder(const std::string& path)
{
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Deletes a folder's contents and the folder, read-only files included.
void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

bool SetStringValue(HKEY key, const std::string& name, const std::string& data)
{
    return RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

} // namespace

bool CreateRegistry(std::string* error)
{
    for (int index = 0; index < REGISTRY_KEY_COUNT; ++index) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(index).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            *error = "cannot create HKCU\\" + KeyPath(index);
            return false;
        }
        DWORD size = 1000 + index;
        bool ok = SetStringValue(key, "Path", "C:\\Program Files\\Vendor\\Product") &&
                  RegSetValueExA(key, "Size", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), sizeof size) ==
                      ERROR_SUCCESS;
        RegCloseKey(key);
        if (!ok) {
            *error = "cannot set the values of HKCU\\" + KeyPath(index);
            return false;
        }
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, RegistryValues, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        *error = std::string("cannot create HKCU\\") + RegistryValues;
        return false;
    }
    bool ok = SetStringValue(key, KeptValue, "stays");
    for (int index = 0; ok && index < REGISTRY_VALUE_COUNT; ++index)
        ok = SetStringValue(key, ValueName(index), "goes");
    RegCloseKey(key);
    if (!ok)
        *error = std::string("cannot set the values of HKCU\\") + RegistryValues;
    return ok;
}

namespace {

// Every folder and file of W(n) below root, parents first, in creation order.
template <typename Visit> bool ForEachTreeItem(const Workload& w, Visit visit)
{
    const std::string app = "app";
    if (!visit(true, app) || !visit(true, "menu") || !visit(true, "menu\\Vendor") || !visit(true, "menu\\Vendor\\Product"))
        return false;
    for (int index = 0; index < w.n; ++index) {
        std::string folder = app + "\\" + FileFolder(index / FILES_PER_FOLDER);
        if ((index % FILES_PER_FOLDER == 0 && !visit(true, folder)) || !visit(false, folder + "\\" + FileName(index)))
            return false;
    }
    if (w.PatternFileCount() > 0 && !visit(true, app + "\\cache"))
        return false;
    for (int index = 0; index < w.PatternFileCount(); ++index) {
        std::string folder = app + "\\cache\\" + PatternFolder(index / FILES_PER_FOLDER);
        if ((index % FILES_PER_FOLDER == 0 && !visit(true, folder)) ||
            !visit(false, folder + "\\" + PatternFileName(index)))
            return false;
    }
    for (int index = 0; index < SHORTCUT_COUNT; ++index) {
        if (!visit(false, "menu\\Vendor\\Product\\" + ShortcutName(index)))
            return false;
    }
    return true;
}

} // namespace

long Workload::RemovedItemCount() const
{
    return n + FileFolderCount() + PatternFileCount() + PatternFolderCount() + 1 /* cache */ + SHORTCUT_COUNT +
           2 /* group folder and its parent */ + REGISTRY_KEY_COUNT + REGISTRY_VALUE_COUNT;
}

quillon::UninstallData QuillonData(const Workload& w)
{
    quillon::UninstallData data;
    data.messages = Messages();
    for (int index = 0; index < w.n; ++index)
        data.files.push_back({".\\" + FileFolder(index / FILES_PER_FOLDER), FileName(index), 0});
    for (int index = 0; index < SHORTCUT_COUNT; ++index)
        data.files.push_back({GroupFolder(w), ShortcutName(index), 0});
    data.folderGroups.push_back({1, GroupFolder(w), "", ""});
    data.patterns.push_back("cache\\*.tmp");
    for (int index = 0; index < REGISTRY_KEY_COUNT; ++index)
        data.registry.push_back({ROOT_CURRENT_USER, KeyPath(index)});
    for (int index = 0; index < REGISTRY_VALUE_COUNT; ++index)
        data.registry.push_back({ROOT_CURRENT_USER, std::string(RegistryValues) + "\\\\" + ValueName(index)});
    return data;
}

quillon::UninstallData LoadOnlyData(int n)
{
    quillon::UninstallData data;
    data.messages = Messages();
    for (int index = 0; index < n; ++index)
        data.files.push_back({".\\gone\\" + FileFolder(index / FILES_PER_FOLDER), FileName(index), 0});
    return data;
}

std::vector<std::string> FileEntryPaths(const Workload& w)
{
    std::vector<std::string> paths;
    for (int index = 0; index < w.n; ++index)
        paths.push_back(w.InstallDir() + "\\" + FileFolder(index / FILES_PER_FOLDER) + "\\" + FileName(index));
    for (int index = 0; index < SHORTCUT_COUNT; ++index)
        paths.push_back(GroupFolder(w) + "\\" + ShortcutName(index));
    return paths;
}

// The stub's order: the file pass from the last entry to the first, the pattern tree, the folder
// group with its parent, the folders the files left empty, then the registry in list order. Only
// the removals that must succeed are made: the stub's further attempts (the installation folder
// that still holds the uninstaller, folders already gone) are its own cost.
std::vector<RawOp> RawOps(const Workload& w)
{
    std::vector<RawOp> ops;
    std::vector<std::string> files = FileEntryPaths(w);
    for (auto path = files.rbegin(); path != files.rend(); ++path)
        ops.push_back({RawOp::DELETE_FILE, *path, ""});
    for (int folder = 0; folder < w.PatternFolderCount(); ++folder) {
        std::string folderPath = PatternRoot(w) + "\\" + PatternFolder(folder);
        int first = folder * FILES_PER_FOLDER;
        int last = std::min(first + FILES_PER_FOLDER, w.PatternFileCount());
        for (int index = first; index < last; ++index)
            ops.push_back({RawOp::DELETE_FILE, folderPath + "\\" + PatternFileName(index), ""});
        ops.push_back({RawOp::REMOVE_FOLDER, folderPath, ""});
    }
    if (w.PatternFileCount() > 0)
        ops.push_back({RawOp::REMOVE_FOLDER, PatternRoot(w), ""});
    ops.push_back({RawOp::REMOVE_FOLDER, GroupFolder(w), ""});
    ops.push_back({RawOp::REMOVE_FOLDER, GroupParent(w), ""});
    for (int folder = 0; folder < w.FileFolderCount(); ++folder)
        ops.push_back({RawOp::REMOVE_FOLDER, w.InstallDir() + "\\" + FileFolder(folder), ""});
    for (int index = 0; index < REGISTRY_KEY_COUNT; ++index)
        ops.push_back({RawOp::DELETE_KEY, KeyPath(index), ""});
    for (int index = 0; index < REGISTRY_VALUE_COUNT; ++index)
        ops.push_back({RawOp::DELETE_VALUE, RegistryValues, ValueName(index)});
    return ops;
}

std::string RawOpsText(const std::vector<RawOp>& ops)
{
    std::string text;
    for (const RawOp& op : ops) {
        text += static_cast<char>(op.kind);
        text += '\t';
        text += op.path;
        if (op.kind == RawOp::DELETE_VALUE) {
            text += '\t';
            text += op.value;
        }
        text += "\r\n";
    }
    return text;
}

// NSIS has no recursive wildcard deletion; the pattern tree holds only matching files, so
// RMDir /r on its folder, what an NSIS author would write, leaves the same machine behind.
std::string NsisScript(const Workload& w, const std::string& setupName, const std::string& uninstallerPath)
{
    std::string installDir = w.InstallDir() + "\\";
    auto relative = [&](const std::string& path) {
        if (path.compare(0, installDir.size(), installDir) == 0)
            return "$INSTDIR\\" + path.substr(installDir.size());
        return path;
    };
    std::string script;
    script += "; Generated by quillon-bench: the uninstall job W(" + std::to_string(w.n) + ").\n";
    script += "Name \"Quillon benchmark\"\n";
    script += "OutFile \"" + setupName + "\"\n";
    script += "RequestExecutionLevel user\n";
    script += "SilentInstall silent\n";
    script += "SilentUnInstall silent\n";
    script += "Section\n";
    script += "  WriteUninstaller \"" + uninstallerPath + "\"\n";
    script += "SectionEnd\n";
    script += "Section \"Uninstall\"\n";
    std::vector<std::string> files = FileEntryPaths(w);
    for (auto path = files.rbegin(); path != files.rend(); ++path)
        script += "  Delete \"" + relative(*path) + "\"\n";
    if (w.PatternFileCount() > 0)
        script += "  RMDir /r \"$INSTDIR\\cache\"\n";
    script += "  RMDir \"" + GroupFolder(w) + "\"\n";
    script += "  RMDir \"" + GroupParent(w) + "\"\n";
    for (int folder = 0; folder < w.FileFolderCount(); ++folder)
        script += "  RMDir \"$INSTDIR\\" + FileFolder(folder) + "\"\n";
    for (int index = 0; index < REGISTRY_KEY_COUNT; ++index)
        script += "  DeleteRegKey HKCU \"" + KeyPath(index) + "\"\n";
    for (int index = 0; index < REGISTRY_VALUE_COUNT; ++index)
        script += std::string("  DeleteRegValue HKCU \"") + RegistryValues + "\" \"" + ValueName(index) + "\"\n";
    script += "SectionEnd\n";
    return script;
}

bool CleanTree(const std::string& root, std::string* error)
{
    RemoveTree(root + "\\app");
    RemoveTree(root + "\\menu");
    CleanRegistry();
    if (GetFileAttributesA((root + "\\app").c_str()) != INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA((root + "\\menu").c_str()) != INVALID_FILE_ATTRIBUTES) {
        *error = "cannot clear " + root + " (a program still running?)";
        return false;
    }
    return true;
}

bool CreateTree(const Workload& w, std::string* error)
{
    if (!MakeFolder(w.root)) {
        *error = "cannot create " + w.root;
        return false;
    }
    bool ok = ForEachTreeItem(w, [&](bool folder, const std::string& relative) {
        std::string path = w.root + "\\" + relative;
        if (folder ? MakeFolder(path) : WriteSmallFile(path))
            return true;
        *error = "cannot create " + path;
        return false;
    });
    return ok && CreateRegistry(error);
}

std::string TreeListing(const Workload& w)
{
    std::string listing;
    ForEachTreeItem(w, [&](bool folder, const std::string& relative) {
        listing += folder ? "D " : "F ";
        listing += relative;
        listing += "\n";
        return true;
    });
    return listing;
}

void CleanRegistry() { SHDeleteKeyA(HKEY_CURRENT_USER, RegistryBase); }

std::string Leftovers(const Workload& w)
{
    std::string left;
    int others = 0;
    std::string firstOther;
    bool uninstaller = false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((w.InstallDir() + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (lstrcmpiA(name.c_str(), "uninstall.exe") == 0) {
                uninstaller = true;
            } else if (others++ == 0) {
                firstOther = name;
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (!uninstaller)
        left += "the installation folder lost the uninstaller; ";
    if (others != 0)
        left += std::to_string(others) + " entries left in the installation folder (" + firstOther + ", ...); ";
    if (GetFileAttributesA(GroupParent(w).c_str()) != INVALID_FILE_ATTRIBUTES)
        left += "the folder group " + GroupParent(w) + " is still there; ";
    if (GetFileAttributesA(MenuFolder(w).c_str()) == INVALID_FILE_ATTRIBUTES)
        left += MenuFolder(w) + ", above the folder group's parent, was removed; ";

    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, RegistryKeys, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD subKeys = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
        if (subKeys != 0)
            left += std::to_string(subKeys) + " registry keys left; ";
    }
    if (RegOpenKeyExA(HKEY_CURRENT_USER, RegistryValues, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD values = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        bool kept = RegQueryValueExA(key, KeptValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (values > 1)
            left += std::to_string(values - 1) + " registry values left; ";
        if (!kept)
            left += "the value Keep, which is not listed, was removed; ";
    } else {
        left += std::string("HKCU\\") + RegistryValues + ", which holds an unlisted value, was removed; ";
    }
    return left;
}

} // namespace bench
