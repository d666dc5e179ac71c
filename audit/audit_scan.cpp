// The audit's scan: every entry of the loaded data resolved on this machine, in the order of the
// stub's passes, with what the run would do to it and, for what stays, why.
//
// Paths come from the stub's own rules (BuildEntryPath, BuildTargetPath, ComposePatternFolder with
// its macros), and every test is the one the stub makes: IsProtectedFolder, PinFolders (a folder
// reached through a link is never entered nor removed), IsFileInUse, the SharedDLLs count,
// MapRegistryView and IsRefusedKey. Folders go only when empty, so whether one goes depends on
// what the run removes before it: the scan collects the files it predicts removed, then walks the
// folders as the passes try them (folder entries and the folders of removed files with their
// parents, as the empty-folder pass climbs; pattern trees; folder groups with their parent levels).
//
// Nothing here changes the machine. The one test of the stub that would (IsFileInUse clears a
// read-only attribute for a moment) is not run on read-only files: for them an open for deletion,
// which another process's handle refuses just as it refuses the deletion, tells whether they are
// held.
#include "audit.h"

#include <windows.h>

#include <set>

#include "data/format.h"
#include "data/messages.h"
#include "data/run_context.h"
#include "data/text.h"
#include "paths/path_helpers.h"
#include "paths/protected_folders.h"
#include "remove/files.h"
#include "remove/folder_pins.h"
#include "remove/pass_helpers.h"
#include "remove/patterns.h"
#include "remove/registry.h"

namespace {

// Names and paths compare as the stub compares them: folding only A to Z, and a folder with or
// without its trailing backslash.
std::string Fold(std::string path)
{
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    for (char& c : path)
        c = FoldCase(c);
    return path;
}

std::string WithoutTrailingBackslash(std::string path)
{
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string ParentOf(const std::string& path)
{
    size_t last = path.find_last_of('\\');
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// True when another process holds the file so that a deletion would be refused. An open for
// deletion meets the same sharing rules as the deletion itself, and changes nothing.
bool HeldAgainstDeletion(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

// The file's count under SharedDLLs, as the file pass reads it; -1 when it has none.
long ReadSharedCount(const std::string& path)
{
    HKEY key = OpenBelowCurrentVersion("SharedDLLs", KEY_QUERY_VALUE);
    DWORD count = 0;
    DWORD type = REG_DWORD;
    DWORD size = sizeof count;
    long result = -1;
    if (RegQueryValueExA(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) == ERROR_SUCCESS)
        result = static_cast<long>(count);
    DeleteValueAndCloseKey(key, nullptr);
    return result;
}

const char* RootName(DWORD root)
{
    switch (root) {
    case ROOT_CLASSES_ROOT:
        return "HKEY_CLASSES_ROOT";
    case ROOT_CURRENT_USER:
        return "HKEY_CURRENT_USER";
    case ROOT_LOCAL_MACHINE:
        return "HKEY_LOCAL_MACHINE";
    case ROOT_USERS:
        return "HKEY_USERS";
    case ROOT_CURRENT_CONFIG:
        return "HKEY_CURRENT_CONFIG";
    default:
        return "HKEY_UNKNOWN";
    }
}

// Which pass deletes a file: the file pass asks before a read-only file goes; the pattern and
// folder-group passes delete plainly, and what is read-only stays without a word.
enum class FilePass { Files, DeleteOnly };

struct RegistryValueKey {
    DWORD root;
    REGSAM view;
    std::string key;
    std::set<std::string> names; // folded
};

struct RemovedKey {
    DWORD root;
    REGSAM view;
    std::string key; // folded
};

class Scanner {
public:
    explicit Scanner(Mode mode) : mode_(mode) {}
    std::vector<AuditItem> Run();

private:
    void ScanFileEntries();
    void ScanPatterns();
    void ScanPattern(const char* pattern);
    void WalkPatternFolder(const std::string& folder, const char* filePattern);
    void ScanFolderGroups();
    void ClimbFromRemovedFolders();
    void ReportFolders();
    void ScanRegistry();

    void ScanFile(const std::string& path, BYTE flags, FilePass pass);
    bool FolderGoes(const std::string& folder, std::vector<std::string>* staying);
    void ReportFolder(const std::string& folder, bool named);
    void Add(AuditItem item) { items_.push_back(std::move(item)); }
    void Tried(const std::string& folder) { tried_.insert(Fold(folder)); }

    Mode mode_;
    std::vector<AuditItem> items_;
    std::set<std::string> removedFiles_; // folded: what the run deletes
    std::set<std::string> listed_;       // folded: every file an entry or a pattern names
    std::set<std::string> tried_;        // folded: every folder a pass tries to remove
    std::set<std::string> reported_;     // folded: folders reported already
    std::vector<std::string> namedFolders_;   // reported whenever they exist
    std::vector<std::string> fileFolders_;    // folders of listed files: reported when they matter
    std::vector<std::string> climbStarts_;    // where the empty-folder pass starts, in its order
    std::vector<std::string> climbed_;        // parents the empty-folder pass removes
    std::vector<std::string> patternFolders_; // folders below a pattern's folder
    std::string selfRemovalFolder_;           // folded
};

void Scanner::ScanFile(const std::string& path, BYTE flags, FilePass pass)
{
    listed_.insert(Fold(path));
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    AuditItem item;
    item.kind = "file";
    item.path = path;
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (!PinFolders(path.c_str(), false)) {
        item.status = Status::Stays;
        item.reason = "link";
        item.detail = "reached through a link, which the uninstaller never follows";
        Add(item);
        return;
    }
    bool inUse = readOnly ? HeldAgainstDeletion(path) : IsFileInUse(path.c_str());
    bool shared = pass == FilePass::Files && (flags & FILE_SHARED_DLL);
    if (shared)
        item.sharedCount = ReadSharedCount(path);
    // Before the run, a count above 1 is lowered and keeps the file; after it, any count left.
    long keptAbove = mode_ == Mode::Before ? 1 : 0;
    if (inUse) {
        item.status = Status::Stays;
        item.reason = "in_use";
        item.detail = "in use by another process";
    } else if (shared && item.sharedCount > keptAbove) {
        item.status = Status::Stays;
        item.reason = "shared_dll";
        long left = mode_ == Mode::Before ? item.sharedCount - 1 : item.sharedCount;
        item.detail = "shared DLL whose count stays above zero (" + std::to_string(left) + ")";
    } else if (shared && GetMessageText(0, MSG_SHARED_FILE)[0] != '\0') {
        item.status = Status::Asks;
        item.reason = "shared_last_reference";
        item.detail = "shared DLL with no references left: asks the user";
    } else if (readOnly && pass == FilePass::DeleteOnly) {
        item.status = Status::Stays;
        item.reason = "read_only";
        item.detail = "read-only, left without asking";
    } else if (readOnly && !(flags & (FILE_FONT | FILE_COM_SERVER))) {
        item.status = Status::Asks;
        item.reason = "read_only";
        item.detail = "read-only: asks the user";
    }
    if (item.status == Status::Removed)
        removedFiles_.insert(Fold(path));
    Add(item);
}

void Scanner::ScanFileEntries()
{
    for (DWORD index = 0; index < TheRun.FileCount; ++index) {
        const FileEntry* entry = TheRun.FileList[index];
        BuildEntryPath(entry);
        std::string path = TheRun.TargetPath;
        if (path.empty())
            continue; // too long to name: the stub skips it
        if (entry->FileName[0] == '\0') {
            path = WithoutTrailingBackslash(path);
            namedFolders_.push_back(path);
            climbStarts_.push_back(path);
            Tried(path);
            continue;
        }
        ScanFile(path, entry->Flags, FilePass::Files);
        if (entry->Flags & FILE_FONT)
            continue; // fonts take no part in the empty-folder pass
        std::string folder = ParentOf(path);
        fileFolders_.push_back(folder);
        climbStarts_.push_back(folder);
        Tried(folder);
    }
}

void Scanner::WalkPatternFolder(const std::string& folder, const char* filePattern)
{
    Tried(folder);
    patternFolders_.push_back(folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        std::vector<std::string> subFolders;
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDotEntry(found.cFileName))
                subFolders.push_back(folder + "\\" + found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        // Entered as the pass enters them: a path that fits, pinned (never a link), not protected.
        for (const std::string& sub : subFolders) {
            if (sub.size() < PATH_SIZE && PinFolders(sub.c_str(), true) && !IsProtectedFolder(sub.c_str()))
                WalkPatternFolder(sub, filePattern);
        }
    }
    search = FindFirstFileA((folder + "\\" + filePattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(folder + "\\" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const std::string& file : files)
        ScanFile(file, 0, FilePass::DeleteOnly);
}

void Scanner::ScanPattern(const char* pattern)
{
    char path[PATH_SIZE];
    const char* filePattern = ComposePatternFolder(path, pattern);
    if (filePattern == nullptr)
        return;
    std::string folder = path;
    if (!IsFolder(folder))
        return;
    namedFolders_.push_back(folder);
    if (IsProtectedFolder(path) || !PinFolders(path, true))
        return; // reported with the named folders: protected, or reached through a link
    WalkPatternFolder(folder, filePattern);
}

void Scanner::ScanPatterns()
{
    // The list is walked as the pass walks it; the visit has no context of its own.
    static Scanner* scanning;
    scanning = this;
    ForEachPattern([](const char* pattern) { scanning->ScanPattern(pattern); });
}

void Scanner::ScanFolderGroups()
{
    for (DWORD index = 0; index < TheRun.FolderGroupCount; ++index) {
        const FolderGroupEntry* entry = TheRun.FolderGroupList[index];
        if (entry->FileName[0] != '\0' && BuildTargetPath(entry->Folder, "", entry->FileName))
            ScanFile(TheRun.TargetPath, 0, FilePass::DeleteOnly);
    }
    for (DWORD index = 0; index < TheRun.FolderGroupCount; ++index) {
        const FolderGroupEntry* entry = TheRun.FolderGroupList[index];
        std::string folder = entry->Folder;
        std::string second = entry->SecondFolder;
        if (folder.empty() || folder.size() >= PATH_SIZE || second.size() >= PATH_SIZE)
            continue;
        for (DWORD levels = entry->ParentLevels;; --levels) {
            // A protected folder (either of the two) ends the climb before either is tried; it is
            // reported when it exists.
            bool hasSecond = entry->SecondFolder[0] != '\0';
            bool stop = IsProtectedFolder(folder.c_str()) || (hasSecond && IsProtectedFolder(second.c_str()));
            for (const std::string* group : {&folder, &second}) {
                if (group->empty())
                    continue;
                if (!stop || IsProtectedFolder(group->c_str()))
                    namedFolders_.push_back(*group);
                if (!stop)
                    Tried(*group);
            }
            if (stop || levels == 0)
                break;
            folder = ParentOf(folder);
            if (hasSecond)
                second = ParentOf(second);
            if (folder.empty() || (hasSecond && second.empty()))
                break;
        }
    }
}

bool Scanner::FolderGoes(const std::string& folder, std::vector<std::string>* staying)
{
    if (!IsFolder(folder) || IsProtectedFolder(folder.c_str()) || !PinFolders(folder.c_str(), true))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    std::vector<std::pair<std::string, bool>> entries; // full path, is a folder
    do {
        if (!IsDotEntry(found.cFileName))
            entries.emplace_back(folder + "\\" + found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    bool goes = true;
    for (const auto& [path, isFolder] : entries) {
        bool entryGoes = isFolder ? tried_.count(Fold(path)) && FolderGoes(path, nullptr) : removedFiles_.count(Fold(path)) != 0;
        if (entryGoes)
            continue;
        goes = false;
        if (staying == nullptr)
            break;
        // Named: what no entry lists (a file) or no pass tries (a folder).
        if (!(isFolder ? tried_.count(Fold(path)) : listed_.count(Fold(path))))
            staying->push_back(path.substr(folder.size() + 1));
    }
    return goes;
}

// The empty-folder pass: from each file's folder (and each folder entry), if it goes, up its
// parents while they go; a second start in the folder the last climb began in is passed over.
void Scanner::ClimbFromRemovedFolders()
{
    std::string lastPruned;
    for (const std::string& start : climbStarts_) {
        if (Fold(start) == lastPruned || !FolderGoes(start, nullptr))
            continue;
        lastPruned = Fold(start);
        for (std::string parent = ParentOf(start); !parent.empty(); parent = ParentOf(parent)) {
            Tried(parent);
            if (!FolderGoes(parent, nullptr))
                break;
            climbed_.push_back(parent);
        }
    }
}

void Scanner::ReportFolder(const std::string& folder, bool named)
{
    if (!IsFolder(folder) || !reported_.insert(Fold(folder)).second)
        return;
    AuditItem item;
    item.kind = "folder";
    item.path = folder;
    if (IsProtectedFolder(folder.c_str())) {
        if (!named)
            return; // the folder of a file in a system folder: not the application's
        item.status = Status::Stays;
        item.reason = "protected_folder";
        item.detail = "protected folder";
    } else if (!PinFolders(folder.c_str(), true)) {
        item.status = Status::Stays;
        item.reason = "link";
        item.detail = "reached through a link, which the uninstaller never follows";
    } else if (FolderGoes(folder, &item.unlisted)) {
        if (Fold(folder) == selfRemovalFolder_)
            item.detail = "by the self-removal, after the run (not with /S or /X)";
    } else {
        item.status = Status::Stays;
        item.reason = "not_empty";
        item.detail = "not empty";
        if (!item.unlisted.empty()) {
            item.detail += ": unlisted";
            for (size_t index = 0; index < item.unlisted.size(); ++index)
                item.detail += (index == 0 ? " " : ", ") + item.unlisted[index];
        } else {
            item.detail += ": holds listed items that stay";
        }
    }
    Add(item);
}

void Scanner::ReportFolders()
{
    // After the passes, the self-removal deletes the uninstaller (as installed: in the installation
    // folder) and that folder when it is left empty; the empty-folder pass, which runs while the
    // uninstaller still exists, never climbs past it.
    std::string name = TheRun.ModulePath;
    name = name.substr(name.find_last_of('\\') + 1);
    std::string installDir = WithoutTrailingBackslash(TheRun.InstallDir);
    removedFiles_.insert(Fold(installDir + "\\" + name));
    selfRemovalFolder_ = Fold(installDir);
    for (const std::string& folder : namedFolders_)
        ReportFolder(folder, true);
    for (const std::string& folder : fileFolders_)
        ReportFolder(folder, false);
    // Parents and pattern sub-folders are reported when they go; one that stays is not named.
    std::vector<std::string> others = climbed_;
    others.insert(others.end(), patternFolders_.begin(), patternFolders_.end());
    for (const std::string& folder : others) {
        if (!reported_.count(Fold(folder)) && FolderGoes(folder, nullptr))
            ReportFolder(folder, false);
    }
}

void Scanner::ScanRegistry()
{
    std::vector<RegistryValueKey> valueKeys;
    std::vector<RemovedKey> removedKeys;
    for (DWORD index = 0; index < TheRun.RegistryCount; ++index) {
        RegistryEntry* entry = TheRun.RegistryList[index];
        REGSAM view = MapRegistryView(entry);
        const char* text = entry->KeyPath;
        HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(entry->Root));
        AuditItem item;
        item.view = (sizeof(void*) == 8 || view == KEY_WOW64_64KEY) ? "64-bit" : "32-bit";
        std::string key = text;
        const char* lastBackslash = FindLastChar(text, '\\');
        bool isValue = lastBackslash != nullptr && lastBackslash != text && lastBackslash[-1] == '\\';
        if (isValue) {
            key.assign(text, lastBackslash - 1 - text);
            item.kind = "value";
            item.value = lastBackslash + 1;
        } else {
            item.kind = "key";
        }
        item.path = std::string(RootName(entry->Root)) + "\\" + key;
        // Opened as itself, as the stub opens a listed key: a listed key that is a link goes as a
        // link, and a value entry reads the link's own values, never its target's.
        HKEY opened;
        if (RegOpenKeyExA(root, key.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | view, &opened) != ERROR_SUCCESS)
            opened = nullptr;
        bool exists = opened != nullptr;
        if (exists && isValue)
            exists = RegQueryValueExA(opened, item.value.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        DeleteValueAndCloseKey(opened, nullptr);
        if (IsRefusedKey(entry->Root, text)) {
            item.status = Status::Stays;
            item.reason = "refused_key";
            item.detail = "a key that no uninstaller may remove";
        } else if (isValue) {
            auto found = valueKeys.begin();
            while (found != valueKeys.end() && !(found->root == entry->Root && found->view == view && Fold(found->key) == Fold(key)))
                ++found;
            if (found == valueKeys.end())
                found = valueKeys.insert(valueKeys.end(), RegistryValueKey{entry->Root, view, key, {}});
            found->names.insert(Fold(item.value));
        } else {
            removedKeys.push_back(RemovedKey{entry->Root, view, Fold(key)});
        }
        if (exists)
            Add(item);
    }
    // A key whose values are listed stays (only the values go), and so do its unlisted contents.
    for (const RegistryValueKey& valueKey : valueKeys) {
        std::string folded = Fold(valueKey.key);
        bool goesWhole = false;
        for (const RemovedKey& removed : removedKeys) {
            goesWhole |= removed.root == valueKey.root && removed.view == valueKey.view &&
                         (folded == removed.key || folded.compare(0, removed.key.size() + 1, removed.key + "\\") == 0);
        }
        if (goesWhole)
            continue;
        HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(valueKey.root));
        HKEY key = OpenRegistryKey(root, valueKey.key.c_str(), KEY_READ | valueKey.view);
        if (key == nullptr)
            continue;
        AuditItem item;
        item.kind = "key";
        item.path = std::string(RootName(valueKey.root)) + "\\" + valueKey.key;
        item.view = (sizeof(void*) == 8 || valueKey.view == KEY_WOW64_64KEY) ? "64-bit" : "32-bit";
        char name[16384];
        for (DWORD at = 0;; ++at) {
            DWORD length = sizeof name;
            if (RegEnumValueA(key, at, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (!valueKey.names.count(Fold(name)))
                item.unlisted.push_back(name);
        }
        for (DWORD at = 0;; ++at) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(key, at, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            item.unlisted.push_back(std::string(name) + "\\");
        }
        RegCloseKey(key);
        if (item.unlisted.empty())
            continue;
        item.status = Status::Stays;
        item.reason = "unlisted_contents";
        item.detail = "holds unlisted sub-keys or values:";
        for (size_t index = 0; index < item.unlisted.size(); ++index)
            item.detail += (index == 0 ? " " : ", ") + (item.unlisted[index].empty() ? "(default)" : item.unlisted[index]);
        Add(item);
    }
}

std::vector<AuditItem> Scanner::Run()
{
    ScanFileEntries();
    ScanPatterns();
    ScanFolderGroups();
    ClimbFromRemovedFolders();
    ReportFolders();
    ScanRegistry();
    ReleaseFolderPins();
    if (mode_ == Mode::After) {
        // Everything still here is a leftover; what nothing keeps was simply not removed.
        for (AuditItem& item : items_) {
            if (item.status == Status::Removed) {
                item.reason = "present";
                item.detail = "still present; nothing keeps it";
            }
            item.status = Status::Stays;
        }
    }
    return items_;
}

} // namespace

std::vector<AuditItem> ScanLoadedData(Mode mode)
{
    return Scanner(mode).Run();
}

const char* StatusName(Status status)
{
    switch (status) {
    case Status::Removed:
        return "removed";
    case Status::Asks:
        return "asks";
    default:
        return "stays";
    }
}
