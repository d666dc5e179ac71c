// The three removal lists: files, folder groups and registry entries.
//
// Each record is one allocation that holds its fixed fields followed by its own texts, so a record
// is released with one release and the passes may edit the texts in place. The readers append one
// block's entries at a time; a block that fails adds none of its entries.
#pragma once

#include <windows.h>

#include "block_reader.h"

struct FileEntry {
    char* Folder;   // begins with a full stop when relative to InstallDir
    char* FileName; // empty for an entry that stands for the folder itself
    BYTE Flags;     // FILE_ flags of format.h
};

struct FolderGroupEntry {
    DWORD ParentLevels;
    char* Folder;
    char* SecondFolder; // empty when there is none
    char* FileName;     // empty when there is none
};

struct RegistryEntry {
    DWORD Root; // predefined root key handle value
    char* KeyPath;
};

// The lists in the order of their block tags, BLOCK_FILES first.
enum ListKind { LIST_FILES, LIST_FOLDER_GROUPS, LIST_REGISTRY };

// The loader's reader of a list block: the reader stands at the start of a body that is not
// empty. Returns 0, ERR_NO_MEMORY, or ERR_READ when the block cannot hold its count of entries or
// an entry's texts do not fit the stub's working buffers.
int ReadListBlock(BlockReader* reader, ListKind kind);

void FreeFileList();
void FreeFolderGroupList();
void FreeRegistryList();

// Releases everything the load produced: patterns, the three lists, settings, message table.
void FreeUninstallData();
