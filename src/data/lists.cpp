// Reading the three removal lists, and releasing everything the load produced.
//
// Each block is a 32-bit entry count and the entries back to back. An entry's texts are gathered in
// a working buffer of two or three path sizes, then copied with the entry's fixed fields into one
// record allocation. Counts the block cannot hold and texts the working buffer cannot hold fail
// the load; a block that fails adds none of its entries.
#include "lists.h"

#include "block_reader.h"
#include "format.h"
#include "loader.h"
#include "memory.h"
#include "messages.h"
#include "run_context.h"
#include "text.h"

#include <stddef.h>

// How each list lies on disk and in memory. Every record keeps its text pointers side by side and
// one number (flags, parent levels or root) that is read before one of the texts or after them all.
struct ListShape {
    BYTE SmallestEntry; // bytes on disk of an entry with empty texts
    BYTE TextCount;
    BYTE RecordSize;    // fixed fields in memory, before the texts
    BYTE FirstTextAt;   // offset of the first text pointer in the record
    BYTE NumberAt;      // offset of the number in the record
    BYTE NumberBytes;   // its size on disk
    BYTE NumberBefore;  // the text the number comes before on disk; TextCount: after the last
    WORD WorkingSize;   // bytes for the entry's texts with their NULs
};

static const ListShape ListShapes[] = {
    {2 + 2 + 1, 2, sizeof(FileEntry), offsetof(FileEntry, Folder), offsetof(FileEntry, Flags), 1, 2,
     FILE_ENTRY_TEXT_SIZE},
    {1 + 2 + 2 + 2, 3, sizeof(FolderGroupEntry), offsetof(FolderGroupEntry, Folder),
     offsetof(FolderGroupEntry, ParentLevels), 1, 0, FOLDER_GROUP_TEXT_SIZE},
    {4 + 2, 1, sizeof(RegistryEntry), offsetof(RegistryEntry, KeyPath), offsetof(RegistryEntry, Root), 4, 0,
     REGISTRY_ENTRY_TEXT_SIZE},
};

// The number is stored whole into a 32-bit slot: the flags byte of a file entry sits at the start
// of the record's last four bytes, which are its own (the rest is padding).
static_assert(offsetof(FileEntry, Flags) + 4 <= sizeof(FileEntry), "the flags slot holds four bytes");
static_assert(offsetof(FolderGroupEntry, SecondFolder) == offsetof(FolderGroupEntry, Folder) + sizeof(char*) &&
                  offsetof(FolderGroupEntry, FileName) == offsetof(FolderGroupEntry, Folder) + 2 * sizeof(char*) &&
                  offsetof(FileEntry, FileName) == offsetof(FileEntry, Folder) + sizeof(char*),
              "text pointers lie side by side");
static_assert(FILE_ENTRY_TEXT_SIZE <= FOLDER_GROUP_TEXT_SIZE && REGISTRY_ENTRY_TEXT_SIZE <= FOLDER_GROUP_TEXT_SIZE,
              "a folder group's working size holds every entry's texts");

struct ListSlot {
    void*** List;
    DWORD* Count;
};

static ListSlot ListOf(ListKind kind)
{
    if (kind == LIST_FILES)
        return {reinterpret_cast<void***>(&TheRun.FileList), &TheRun.FileCount};
    if (kind == LIST_FOLDER_GROUPS)
        return {reinterpret_cast<void***>(&TheRun.FolderGroupList), &TheRun.FolderGroupCount};
    return {reinterpret_cast<void***>(&TheRun.RegistryList), &TheRun.RegistryCount};
}

// Releases count records, last first.
static void ReleaseRecords(void** records, DWORD count)
{
    while (count-- != 0)
        MemRelease(&records[count]);
}

// Reads one entry into a new record at *record: 0, ERR_READ when its texts do not fit the shape's
// working size, or ERR_NO_MEMORY.
static int ReadEntry(BlockReader* reader, const ListShape& shape, BYTE** record)
{
    // Each text goes behind the previous one and its NUL.
    char working[FOLDER_GROUP_TEXT_SIZE]; // the largest of the working sizes
    DWORD number = 0;
    DWORD used = 0;
    for (DWORD text = 0;; ++text) {
        if (text == shape.NumberBefore)
            number = ReadBlockNumber(reader, shape.NumberBytes);
        if (text == shape.TextCount)
            break;
        DWORD length = ReadBlockU16(reader);
        if (length >= shape.WorkingSize - used)
            return ERR_READ; // no room for the text and its NUL (used never passes WorkingSize)
        if (!ReadBlockText(reader, working + used, length))
            return ERR_READ; // a NUL inside would move the texts after it
        used += length + 1;
    }
    if (!MemAllocZeroed(shape.RecordSize + used, record))
        return ERR_NO_MEMORY;

    char* area = reinterpret_cast<char*>(*record + shape.RecordSize);
    CopyBytes(area, working, used);
    char** texts = reinterpret_cast<char**>(*record + shape.FirstTextAt);
    for (DWORD text = 0; text < shape.TextCount; ++text) {
        texts[text] = area;
        area += TextLength(area) + 1;
    }
    *reinterpret_cast<DWORD*>(*record + shape.NumberAt) = number;
    return 0;
}

int ReadListBlock(BlockReader* reader, ListKind kind)
{
    const ListShape& shape = ListShapes[kind];
    ListSlot slot = ListOf(kind);
    void*** list = slot.List;
    DWORD* count = slot.Count;

    DWORD added = ReadBlockU32(reader);
    if (added == 0)
        return 0;
    if (added > reader->Remaining / shape.SmallestEntry)
        return ERR_READ; // more entries than the block could hold
    if (added > 0xFFFFFFFF / sizeof(void*) - *count)
        return ERR_NO_MEMORY; // the pointer array's size would not fit in 32 bits
    if (!MemRequestBlock((*count + added) * sizeof(void*), reinterpret_cast<void**>(list),
                         *list == nullptr ? MEM_ZEROED : MEM_RESIZE))
        return ERR_NO_MEMORY;

    void** records = *list + *count;
    for (DWORD done = 0; done < added; ++done) {
        int error = ReadEntry(reader, shape, reinterpret_cast<BYTE**>(&records[done]));
        if (error != 0) {
            // None of this block's entries counts; give back the records it had made.
            ReleaseRecords(records, done);
            return error;
        }
    }
    *count += added;
    return 0;
}

static void FreeList(ListKind kind)
{
    ListSlot slot = ListOf(kind);
    ReleaseRecords(*slot.List, *slot.Count);
    MemRelease(slot.List);
    *slot.Count = 0;
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
