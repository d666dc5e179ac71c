// The file removal pass, the in-use tests and the entry path rule shared with the folder passes.
#pragma once

#include "../data/lists.h"

void BuildEntryPath(const FileEntry* entry); // into TargetPath; skipped entries leave it empty
bool IsFileInUse(const char* path);
bool AnyFileInUse();
void RemoveFiles();
// Cuts path at its last backslash, leaving its parent; false when it has none.
bool CutToParent(char* path);
// The progress bar at step of StepTotal; nothing while there is no progress dialog.
void ReportRemovalStep(DWORD step);
