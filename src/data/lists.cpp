// Reading the three removal lists, and releasing everything the load produced.
//
// Each block is a 32-bit entry count and the entries back to back. An entry's texts are gathered in
// a working buffer of two or three path sizes, then copied with the entry's fixed fields into one
// record allocation. Counts the block cannot hold and texts the working buffer cannot hold fail
// the load; a block that fails adds none of its entries.
#include "lists.h"

#include "../run/run_context.h"
#include "block_reader.h"
#include "format.h"
#include "loader.h"
#include "memory.h"
#include "messages.h"
#include "text.h"

enum ListKind { LIST_FILES, LIST_FOLDER_GROUPS, LIST_REGISTRY };

struct ListShape {
    DWORD SmallestEntry; // bytes on disk of an entry with empty texts
    DWORD WorkingSize;   // bytes for the entry's texts with their NULs
    DWORD RecordSize;    // fixed fields in memory, before the texts
    DWORD TextCount;
};

static const ListShape ListShapes[] = {
    {2 + 2 + 1, FILE_ENTRY_TEXT_SIZE, sizeof(FileEntry), 2},
    {1 + 2 + 2 + 2, FOLDER_GROUP_TEXT_SIZE, sizeof(FolderGroupEntry), 3},
    {4 + 2, REGISTRY_ENTRY_TEXT_SIZE, sizeof(RegistryEntry), 1},
};

// Appends one text to the working buffer, behind the previous text and its NUL.
static bool ReadEntryText(BlockReader* reader, char* working, DWORD size, DWORD* used)
{
    DWORD length = ReadBlockU16(reader);
    if (*used + length + 1 > size)
        return false;
    ReadBlockBytes(reader, working + *used, length);
    working[*used + length] = '\0';
    *used += length + 1;
    return true;
}

// Points texts[0..count) at the NUL-separated texts that start at area.
static void SplitTexts(char* area, char** texts[], DWORD count)
{
    for (DWORD index = 0; index < count; ++index) {
        *texts[index] = area;
        area += TextLength(area) + 1;
    }
}

static void ListOf(ListKind kind, void**** list, DWORD** count)
{
    if (kind == LIST_FILES) {
        *list = reinterpret_cast<void***>(&TheRun.FileList);
        *count = &TheRun.FileCount;
    } else if (kind == LIST_FOLDER_GROUPS) {
        *list = reinterpret_cast<void***>(&TheRun.FolderGroupList);
        *count = &TheRun.FolderGroupCount;
    } else {
        *list = reinterpret_cast<void***>(&TheRun.RegistryList);
        *count = &TheRun.RegistryCount;
    }
}

static int ReadListBlock(HANDLE file, DWORD bodyLength, ListKind kind)
{
    const ListShape& shape = ListShapes[kind];
    void*** list;
    DWORD* count;
    ListOf(kind, &list, &count);

    BlockReader reader;
    BeginBlockRead(&reader, file, bodyLength);
    DWORD added = ReadBlockU32(&reader);
    if (added == 0)
        return 0;
    if (added > reader.Remaining / shape.SmallestEntry)
        return ERR_READ; // more entries than the block could hold
    if (added > 0x3FFFFFFF - *count)
        return ERR_NO_MEMORY; // the pointer array's size would not fit in 32 bits
    DWORD arraySize = (*count + added) * sizeof(void*);
    if (*list == nullptr ? !MemAllocZeroed(arraySize, list) : !MemResize(arraySize, list))
        return ERR_NO_MEMORY;

    char* working = nullptr;
    if (!MemAllocZeroed(shape.WorkingSize, &working))
        return ERR_NO_MEMORY;
    int error = 0;
    DWORD done = 0;
    for (; done < added; ++done) {
        FillBytes(working, 0, shape.WorkingSize);
        DWORD used = 0;
        DWORD number = 0;
        bool fitted = true;
        if (kind == LIST_FOLDER_GROUPS)
            number = ReadBlockU8(&reader);
        else if (kind == LIST_REGISTRY)
            number = ReadBlockU32(&reader);
        for (DWORD text = 0; text < shape.TextCount && fitted; ++text)
            fitted = ReadEntryText(&reader, working, shape.WorkingSize, &used);
        if (kind == LIST_FILES)
            number = ReadBlockU8(&reader);
        if (!fitted) {
            error = ERR_READ;
            break;
        }

        BYTE* record = nullptr;
        if (!MemAllocZeroed(shape.RecordSize + used, &record)) {
            error = ERR_NO_MEMORY;
            break;
        }
        char* area = reinterpret_cast<char*>(record + shape.RecordSize);
        CopyBytes(area, working, used);
        if (kind == LIST_FILES) {
            FileEntry* entry = reinterpret_cast<FileEntry*>(record);
            char** texts[] = {&entry->Folder, &entry->FileName};
            SplitTexts(area, texts, 2);
            entry->Flags = static_cast<BYTE>(number);
        } else if (kind == LIST_FOLDER_GROUPS) {
            FolderGroupEntry* entry = reinterpret_cast<FolderGroupEntry*>(record);
            char** texts[] = {&entry->Folder, &entry->SecondFolder, &entry->FileName};
            SplitTexts(area, texts, 3);
            entry->ParentLevels = number;
        } else {
            RegistryEntry* entry = reinterpret_cast<RegistryEntry*>(record);
            char** texts[] = {&entry->KeyPath};
            SplitTexts(area, texts, 1);
            entry->Root = number;
        }
        (*list)[*count + done] = record;
    }
    MemRelease(&working);
    if (error != 0) {
        // None of this block's entries counts; give back the records it had made.
        while (done-- != 0)
            MemRelease(&(*list)[*count + done]);
        return error;
    }
    *count += added;
    return 0;
}

int ReadFileListBlock(HANDLE file, DWORD bodyLength) { return ReadListBlock(file, bodyLength, LIST_FILES); }
int ReadFolderGroupBlock(HANDLE file, DWORD bodyLength) { return ReadListBlock(file, bodyLength, LIST_FOLDER_GROUPS); }
int ReadRegistryBlock(HANDLE file, DWORD bodyLength) { return ReadListBlock(file, bodyLength, LIST_REGISTRY); }

static void FreeList(ListKind kind)
{
    void*** list;
    DWORD* count;
    ListOf(kind, &list, &count);
    for (DWORD index = 0; index < *count; ++index)
        MemRelease(&(*list)[index]);
    MemRelease(list);
    *count = 0;
}

void FreeFileList() { FreeList(LIST_FILES); }
void FreeFolderGroupList() { FreeList(LIST_FOLDER_GROUPS); }
void FreeRegistryList() { FreeList(LIST_REGISTRY); }

void FreeUninstallData()
{
    MemRelease(&TheRun.PatternList);
    TheRun.PatternListLength = 0;
    FreeRegistryList();
    FreeFolderGroupList();
    FreeFileList();
    MemRelease(&TheRun.SettingsBlock);
    TheRun.SettingsLength = 0;
    FreeMessageTable();
}
