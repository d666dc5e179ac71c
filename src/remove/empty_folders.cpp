// The folders that the removal of listed files has left empty. Each file entry's folder (or a
// folder entry itself) is removed if it is now empty, then its parents one by one, until a folder
// is protected, not empty or cannot go.
//
// The uninstaller still runs from InstallDir, so the pass first moves the process to the parent of
// InstallDir, where it stays for the rest of the run: no folder it might remove is then the
// current directory. Font entries take no part: their files lie in the system's font folder.
#include "folder_groups.h"

#include "pass_helpers.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../paths/protected_folders.h"

void PruneEmptyFolders()
{
    // The pattern pass may have left InstallDir without its backslash; this puts it back.
    EnterInstallDir();
    StepUpFolder();
    AddTrailingBackslash(TheRun.InstallDir, PATH_SIZE);

    // The deepest folder the last climb removed: a second file of the same folder needs no climb.
    char lastPruned[PATH_SIZE];
    lastPruned[0] = '\0';
    char* target = TheRun.TargetPath;
    const DWORD offset = TheRun.RegistryCount + TheRun.FolderGroupCount + TheRun.FileCount;
    for (DWORD index = 0; index < TheRun.FileCount; ++index) {
        const FileEntry* entry = TheRun.FileList[index];
        if (entry->Flags & FILE_FONT)
            continue;
        BuildEntryPath(entry); // an entry whose path does not fit leaves TargetPath empty
        // A file entry climbs from its folder, a folder entry from the folder itself.
        if (entry->FileName[0] == '\0' || CutToParent(target)) {
            StripTrailingBackslash(target);
            if (!TextEqualsNoCase(target, lastPruned) && RemoveUnprotectedFolder(target)) {
                CopyText(lastPruned, PATH_SIZE, target);
                while (CutToParent(target) && RemoveUnprotectedFolder(target)) {
                }
            }
        }
        ReportRemovalStep(offset + index);
    }
}
