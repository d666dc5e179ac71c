// Folder groups: folders such as a group of shortcuts, with a second folder beside them and some of
// their parents. First the one file each group names inside its folder is deleted, then the
// folders themselves and, level by level, their parents as far as the group allows.
//
// Folders go only when empty (RemoveDirectoryA never recurses) and never when protected. A folder
// that is the process's current directory cannot be removed, so the pass steps out of it first.
// Both passes report the same progress values, after the file pass's steps.
#include "folder_groups.h"

#include "folder_pins.h"
#include "pass_helpers.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../paths/protected_folders.h"

void RemoveFolderGroupFiles()
{
    for (DWORD index = 0; index < TheRun.FolderGroupCount; ++index) {
        const FolderGroupEntry* entry = TheRun.FolderGroupList[index];
        // A path that does not fit is skipped whole: cut short it would name another file.
        if (entry->FileName[0] != '\0' && BuildTargetPath(entry->Folder, "", entry->FileName) &&
            PinFolders(TheRun.TargetPath, false))
            DeleteFileA(TheRun.TargetPath);
        ReportRemovalStep(TheRun.FileCount + index);
    }
}

// Removes folder, after leaving it when it is the current directory.
static void RemoveGroupFolder(const char* folder, const char* current)
{
    if (TextEqualsNoCase(folder, current))
        StepUpFolder();
    RemovePinnedFolder(folder);
}

void RemoveFolderGroups()
{
    char current[PATH_SIZE];
    for (DWORD index = 0; index < TheRun.FolderGroupCount; ++index) {
        FolderGroupEntry* entry = TheRun.FolderGroupList[index];
        char* folder = entry->Folder;
        char* second = entry->SecondFolder;
        // No folder path holds more than 259 characters; a longer one names nothing we may remove.
        bool usable = folder[0] != '\0' && TextLength(folder) < PATH_SIZE && TextLength(second) < PATH_SIZE;
        while (usable) {
            if (IsProtectedFolder(folder) || (second[0] != '\0' && IsProtectedFolder(second)))
                break;
            ReadCurrentFolder(current); // unknown, it is empty: it cannot equal a folder of ours
            StripTrailingBackslash(current);
            RemoveGroupFolder(folder, current);
            if (second[0] != '\0')
                RemoveGroupFolder(second, current);
            // A folder that stayed (not empty) does not stop the climb.
            if (entry->ParentLevels == 0)
                break;
            --entry->ParentLevels;
            usable = CutToParent(folder) && (second[0] == '\0' || CutToParent(second));
        }
        ReportRemovalStep(TheRun.FileCount + index);
    }
}
