// The message table: reading table 0 of the messages block, looking texts up, formatting them
// around one argument. Showing them in a box is message_box.cpp's.
#include "messages.h"

#include "block_reader.h"
#include "format.h"
#include "loader.h"
#include "memory.h"
#include "run_context.h"
#include "text.h"

static const char EmptyText[] = "";

void FreeMessageTable()
{
    for (char** entry = TheRun.MessageTable; entry != nullptr && *entry != nullptr; ++entry)
        MemRelease(entry);
    MemRelease(&TheRun.MessageTable);
}

int ReadMessageTable(BlockReader* reader)
{
    // Only table 0 is kept; the tables after it are skipped with the rest of the body.
    if (ReadBlockU16(reader) == 0)
        return 0;
    DWORD stringCount = ReadBlockU16(reader);
    if (stringCount == 0)
        return 0; // an empty table leaves an earlier table 0 in place
    if (stringCount > reader->Remaining / 2)
        return ERR_READ; // each string needs its 2-byte length: never allocate for what is not there

    FreeMessageTable();
    if (!MemAllocZeroed((stringCount + 1) * sizeof(char*), &TheRun.MessageTable))
        return ERR_NO_MEMORY;
    for (DWORD index = 0; index < stringCount; ++index) {
        DWORD length = ReadBlockU16(reader);
        if (!MemAllocZeroed(length + 1, &TheRun.MessageTable[index]))
            return ERR_NO_MEMORY; // the table ends before this entry, which stays null
        if (!ReadBlockText(reader, TheRun.MessageTable[index], length))
            return ERR_READ;
    }
    return 0;
}

int ReadMessageTableBlock(HANDLE file, DWORD bodyLength)
{
    BlockReader reader;
    BeginBlockRead(&reader, file, bodyLength);
    return ReadMessageTable(&reader);
}

const char* GetMessageText(int table, int number)
{
    if (table != 0 || TheRun.MessageTable == nullptr)
        return EmptyText;
    // A negative number, taken as unsigned, lies beyond the end of any table.
    DWORD left = static_cast<DWORD>(number);
    for (char** entry = TheRun.MessageTable; *entry != nullptr; ++entry) {
        if (left-- == 0)
            return *entry;
    }
    return EmptyText;
}

// A text with "%s" is a format: the first "%s" takes the argument and "%%" becomes "%". Other
// conversions would read arguments that are not there, so they are copied as they stand, and so
// is any further "%s". A text without "%s" is copied unchanged.
void FormatMessageText(char* destination, int number, const char* argument)
{
    const char* text = GetMessageText(0, number);
    bool isFormat = false;
    for (const char* at = text; at[0] != '\0'; ++at) {
        if (at[0] == '%' && at[1] == 's')
            isFormat = true;
    }
    // One piece at a time: a character, the argument, or the '%' of "%%"; the text stops at the
    // first piece that does not fit.
    destination[0] = '\0';
    bool argumentUsed = false;
    char character[2] = {0, 0};
    for (const char* at = text; *at != '\0'; ++at) {
        const char* piece = character;
        character[0] = *at;
        if (isFormat && at[0] == '%' && (at[1] == '%' || (at[1] == 's' && !argumentUsed))) {
            if (at[1] == 's') {
                piece = argument;
                argumentUsed = true;
            }
            ++at;
        }
        if (!AppendText(destination, MESSAGE_TEXT_SIZE, piece))
            return;
    }
}

char* NewFormattedMessage(int number, const char* argument)
{
    char* text = nullptr;
    if (MemAllocZeroed(MESSAGE_TEXT_SIZE, &text))
        FormatMessageText(text, number, argument);
    return text;
}
