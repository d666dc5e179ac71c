// Loading the uninstall data from the uninstaller's own file.
//
// The chain is read straight from the file handle in small exact reads: headers, counts, lengths,
// and whole bodies for settings and patterns. Each block's reader is bounded by the block, and the
// next header is found from the current one alone. A block whose end would lie beyond 4 GiB, or a
// settings body that breaks its own rules, is a read error: the load must fail, never misread.
#include "loader.h"

#include "block_reader.h"
#include "file_io.h"
#include "lists.h"
#include "memory.h"
#include "messages.h"
#include "run_context.h"
#include "text.h"
#include "../paths/path_helpers.h"

// The stub's marker record, in read-only data. The stamp after linking writes the stub's size
// into the last four bytes; the reads go through a volatile pointer so that the compiler never
// takes the built-in zero for the value.
extern "C" const unsigned char DataOffsetRecord[DATA_OFFSET_RECORD_SIZE] = {
    'w', 'w', 'g', 'T', ')', 'H', 0, 0, 0, 0};

DWORD GetDataOffset()
{
    const volatile unsigned char* record = DataOffsetRecord;
    DWORD offset = 0;
    for (int index = DATA_OFFSET_RECORD_SIZE - 1; index >= DATA_MARKER_LENGTH; --index)
        offset = offset << 8 | record[index]; // little-endian: the last byte is the highest
    return offset;
}

int ReadWholeBlock(BlockReader* reader, const BlockHeader& header, BYTE** buffer)
{
    if (header.Flags & BLOCK_FLAG_UNSUPPORTED)
        return ERR_READ;
    // A body longer than what is left of the file can only come up short: say so before asking
    // the heap for it.
    if (reader->Remaining < header.Length)
        return ERR_READ;
    if (!MemAlloc(header.Length, buffer))
        return ERR_NO_MEMORY;
    if (ReadExact(reader->File, *buffer, header.Length) != 0) {
        MemRelease(buffer);
        return ERR_READ;
    }
    return 0;
}

int AppendPatternBlock(BlockReader* reader, const BlockHeader& header)
{
    char* added = nullptr;
    int error = ReadWholeBlock(reader, header, reinterpret_cast<BYTE**>(&added));
    if (error != 0)
        return error;
    DWORD addedLength = header.Length;
    if (TheRun.PatternList == nullptr) {
        TheRun.PatternList = added;
        TheRun.PatternListLength = addedLength;
        return 0;
    }
    if (!MemResize(TheRun.PatternListLength + addedLength, &TheRun.PatternList)) {
        MemRelease(&added);
        return ERR_NO_MEMORY;
    }
    // The new strings overwrite the final NUL of the list so far; a list that lacks that NUL is
    // malformed, and the new block is dropped instead.
    DWORD lastAt = TheRun.PatternListLength - 1;
    if (TheRun.PatternList[lastAt] == '\0') {
        CopyBytes(TheRun.PatternList + lastAt, added, addedLength);
        TheRun.PatternListLength = lastAt + addedLength;
    }
    MemRelease(&added);
    return 0;
}

// A settings body holds its three fields, and each offset that is not 0 names a NUL-terminated
// string inside the body.
static bool SettingsOffsetIsSound(const BYTE* body, DWORD length, DWORD fieldAt)
{
    DWORD offset = LoadLittleEndian32(body + fieldAt);
    if (offset == 0)
        return true;
    if (offset < SETTINGS_HEADER_SIZE)
        return false;
    for (DWORD at = offset; at < length; ++at) {
        if (body[at] == '\0')
            return true;
    }
    return false; // no NUL before the end, or an offset at or past it
}

static int ReadSettingsBlock(BlockReader* reader, const BlockHeader& header)
{
    MemRelease(&TheRun.SettingsBlock);
    TheRun.SettingsLength = 0;
    int error = ReadWholeBlock(reader, header, &TheRun.SettingsBlock);
    if (error != 0)
        return error;
    DWORD length = header.Length;
    bool sound = length >= SETTINGS_HEADER_SIZE;
    for (DWORD fieldAt = SETTINGS_PRE_COMMAND_AT; sound && fieldAt <= SETTINGS_CLOSING_DOCUMENT_AT; fieldAt += 4)
        sound = SettingsOffsetIsSound(TheRun.SettingsBlock, length, fieldAt);
    if (!sound) {
        MemRelease(&TheRun.SettingsBlock);
        return ERR_READ;
    }
    TheRun.SettingsLength = length;
    return 0;
}

static_assert(BLOCK_FOLDER_GROUPS - BLOCK_FILES == LIST_FOLDER_GROUPS &&
                  BLOCK_REGISTRY - BLOCK_FILES == LIST_REGISTRY,
              "the list tags follow one another in the order of the list kinds");

static int ReadBlock(BlockReader* reader, const BlockHeader& header)
{
    DWORD list = header.Tag - BLOCK_FILES;
    if (list <= LIST_REGISTRY)
        return ReadListBlock(reader, static_cast<ListKind>(list));
    switch (header.Tag) {
    case BLOCK_MESSAGES:
        return ReadMessageTable(reader);
    case BLOCK_PATTERNS:
        return AppendPatternBlock(reader, header);
    case BLOCK_SETTINGS:
        return ReadSettingsBlock(reader, header);
    default:
        return 0; // unknown tags are skipped by their length
    }
}

static void ReportLoadError(int error)
{
    char* text = NewFormattedMessage(error, TheRun.ModulePath);
    if (text == nullptr)
        return;
    ShowMessage(text, MB_OK | MB_ICONINFORMATION);
    MemRelease(&text);
}

bool LoadUninstallData()
{
    DWORD offset = GetDataOffset();
    if (offset == 0)
        return false;
    if (!GetUninstallerPath(TheRun.ModulePath))
        return false;
    return LoadUninstallDataFrom(TheRun.ModulePath, offset);
}

// Walks the chain from the file's current position to the end block; the first error ends it.
static int ReadChain(HANDLE file)
{
    for (;;) {
        BlockHeader header;
        if (ReadExact(file, &header, sizeof header) != 0)
            return ERR_READ;
        // The end block's body is never read, so its length (however far it would reach) cannot
        // fail the load.
        if (header.Tag == BLOCK_END)
            return 0;
        if (header.Length != 0) {
            BlockReader reader;
            DWORD bodyAt = BeginBlockRead(&reader, file, header.Length);
            DWORD nextAt = bodyAt + header.Length;
            if (nextAt < bodyAt)
                return ERR_READ; // the block would end beyond what a 32-bit position can name
            int error = ReadBlock(&reader, header);
            if (error == 0 && reader.Overran)
                error = ERR_READ; // a count, length or text ran past the block
            if (error != 0)
                return error;
            SeekFile(file, nextAt);
        }
    }
}

bool LoadUninstallDataFrom(const char* path, DWORD offset)
{
    HANDLE file = OpenExistingFile(path, OPEN_MODE_READ);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    SeekFile(file, offset);
    int error = ReadChain(file);
    CloseFile(file);
    if (error == 0)
        return true;
    ReportLoadError(error);
    return false;
}

static const char* SettingsString(DWORD fieldAt)
{
    if (TheRun.SettingsBlock == nullptr)
        return nullptr;
    DWORD offset = LoadLittleEndian32(TheRun.SettingsBlock + fieldAt);
    return offset == 0 ? nullptr : reinterpret_cast<const char*>(TheRun.SettingsBlock + offset);
}

DWORD GetSettingsFlags()
{
    if (TheRun.SettingsBlock == nullptr)
        return 0;
    return LoadLittleEndian32(TheRun.SettingsBlock + SETTINGS_FLAGS_AT);
}

const char* GetPreUninstallCommand() { return SettingsString(SETTINGS_PRE_COMMAND_AT); }
const char* GetClosingDocument() { return SettingsString(SETTINGS_CLOSING_DOCUMENT_AT); }
