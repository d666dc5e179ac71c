// Folder groups (such as a folder of shortcuts) with their parent folders, and the folders that
// the removal of listed files has left empty.
#pragma once

void RemoveFolderGroupFiles();
void RemoveFolderGroups();
void PruneEmptyFolders();
