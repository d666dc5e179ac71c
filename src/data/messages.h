// The message table: every text the user sees comes from table 0 of the appended data.
//
// A missing message reads as the empty text, never as null. Formatting accepts one "%s" and
// doubled percent signs; any other conversion would make the formatter read arguments that are
// not there, so such a text is shown unformatted.
#pragma once

#include <windows.h>

#include "block_reader.h"

// The loader's reader stands at the start of the body; the other form starts at the file's
// current position.
int ReadMessageTable(BlockReader* reader);
int ReadMessageTableBlock(HANDLE file, DWORD bodyLength);
const char* GetMessageText(int table, int number);
void FormatMessageText(char* destination, int number, const char* argument); // 1,024-byte buffer
// Message number formatted with argument into a new zero-filled 1,024-byte buffer that the caller
// releases with MemRelease; null when the memory cannot be had.
char* NewFormattedMessage(int number, const char* argument);
int ShowMessage(const char* text, UINT style);
void FreeMessageTable();
