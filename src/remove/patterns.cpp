// Wildcard patterns: files an application made after installation (logs, caches, generated
// settings), which the file list cannot name. Each pattern names a folder and a file pattern; every
// matching file in that folder and below it is deleted, and every folder of the tree left empty
// is removed, the pattern's folder last.
//
// The pass works through the current directory: it enters each folder and refers to files and
// sub-folders by their bare names, so no level needs a path of its own, only a search record,
// which is allocated per level (the tree may be deep) and, when it cannot be had, skips that
// level's work. Protected folders are never entered nor removed. Junctions and symbolic links are
// never entered either: what they point at lies outside the tree and is not the application's.
// Each folder is pinned (folder_pins.h) before it is entered, with every folder above it, and
// stays pinned while the pass works inside, so none can be swapped for a link meanwhile.
#include "patterns.h"

#include "folder_pins.h"
#include "pass_helpers.h"
#include "../data/format.h"
#include "../data/heap.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/macros.h"
#include "../paths/path_helpers.h"
#include "../paths/protected_folders.h"

static const char AllEntries[] = "*.*";

static bool IsDotEntry(const char* name)
{
    // "." ends after one full stop, ".." after two.
    return name[0] == '.' && name[name[1] == '.' ? 2 : 1] == '\0';
}

// A folder whose path cannot be read whole counts as protected: what we cannot name, we leave.
static bool CurrentFolderIsProtected()
{
    return !ReadCurrentFolder(TheRun.TargetPath) || IsProtectedFolder(TheRun.TargetPath);
}

void RemoveCwdAndStepUp()
{
    // A folder cannot be removed while it is the current one: step out first.
    bool known = ReadCurrentFolder(TheRun.TargetPath);
    StepUpFolder();
    if (known)
        RemovePinnedFolder(TheRun.TargetPath);
}

// What one listing of the current folder does with the entries other than "." and "..".
enum ListAction {
    LIST_CLEAN_FOLDERS, // "*.*": enter each sub-folder (pinned, never a link) and clean it
    LIST_DELETE_FILES,  // the file pattern: delete each file
};

static void ListCurrentFolder(ListAction action, const char* filePattern, WIN32_FIND_DATAA* found)
{
    HANDLE search = FindFirstFileA(action == LIST_DELETE_FILES ? filePattern : AllEntries, found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const char* name = found->cFileName;
        DWORD attributes = found->dwFileAttributes;
        if (IsDotEntry(name))
            continue;
        if (action == LIST_DELETE_FILES) {
            // A file that cannot go (read-only, in use) stays without a word.
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(name);
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && ReadCurrentFolder(TheRun.TargetPath) &&
                   AppendToPath(TheRun.TargetPath, PATH_SIZE, name) && PinFolders(TheRun.TargetPath, true) &&
                   !IsProtectedFolder(TheRun.TargetPath) && SetCurrentDirectoryA(TheRun.TargetPath)) {
            // Entered by its pinned full path: the listing's attributes may be stale already.
            RemovePatternInCwd(filePattern);
        }
    } while (FindNextFileA(search, found));
    FindClose(search);
}

void RemovePatternInCwd(const char* filePattern)
{
    // Without a search record the level's work is skipped, and it still ends one folder up, where
    // the level above expects to be.
    WIN32_FIND_DATAA* found = static_cast<WIN32_FIND_DATAA*>(HeapBlockAlloc(sizeof(WIN32_FIND_DATAA), false));
    if (found != nullptr) {
        // Sub-folders first, so that a sub-folder emptied here is gone before this folder is
        // tried; then the matching files; then the folder itself. RemoveDirectoryA removes only
        // an empty folder, so it is the emptiness test: a folder that still holds anything stays.
        ListCurrentFolder(LIST_CLEAN_FOLDERS, filePattern, found);
        ListCurrentFolder(LIST_DELETE_FILES, filePattern, found);
        HeapBlockFree(found);
        if (!CurrentFolderIsProtected()) {
            RemoveCwdAndStepUp();
            return;
        }
    }
    StepUpFolder();
}

const char* ComposePatternFolder(char* path, const char* pattern)
{
    if (FindChar(pattern, '#') != nullptr ? ExpandMacros(path, pattern, PATH_SIZE) >= PATH_SIZE
                                          : !CopyText(path, PATH_SIZE, TheRun.InstallDir) ||
                                                !AppendToPath(path, PATH_SIZE, pattern))
        return nullptr;
    // The file pattern follows the last backslash and must be a bare name: with a drive or a
    // slash in it the search would list another folder than the one whose files are then deleted
    // by name. So the last of the three separators must be a backslash; a path without any
    // fails the test on its first character, which is then no backslash.
    char* lastSeparator = path;
    for (char* at = path; *at != '\0'; ++at) {
        if (*at == '\\' || *at == ':' || *at == '/')
            lastSeparator = at;
    }
    if (*lastSeparator != '\\')
        return nullptr;
    *lastSeparator = '\0';
    return lastSeparator + 1;
}

// Removes what one pattern names.
static void RemovePattern(const char* pattern)
{
    char path[PATH_SIZE];
    const char* filePattern = ComposePatternFolder(path, pattern);
    if (filePattern == nullptr)
        return;
    if (IsProtectedFolder(path))
        return;
    // A pattern's folder that is itself a link, or lies below one, is not entered: its files are
    // not ours.
    if (!PinFolders(path, true) || !SetCurrentDirectoryA(path))
        return;
    RemovePatternInCwd(filePattern);
    EnterInstallDir();
    RemovePinnedFolder(path);
}

void ForEachPattern(void (*visit)(const char* pattern))
{
    const char* list = TheRun.PatternList;
    if (list == nullptr)
        return;
    const char* end = list + TheRun.PatternListLength;
    const char* next;
    for (const char* pattern = list; pattern < end && *pattern != '\0'; pattern = next + 1) {
        for (next = pattern; next < end && *next != '\0'; ++next) {
        }
        if (next == end)
            break; // a last string without its NUL is not read past the list
        visit(pattern);
    }
}

void RemovePatterns()
{
    ForEachPattern(RemovePattern);
}
