// Reading inside one block body. Reads never go past the body (nor past the end of the file):
// what cannot be read counts as 0 or as empty bytes and marks the reader as overrun, which fails
// the load once the block's reader is done. The readers of the message table and of the removal
// lists use it.
#pragma once

#include <windows.h>

struct BlockReader {
    HANDLE File;
    DWORD Remaining; // bytes of the body that are still there to read
    bool Overran;    // a read asked for more than Remaining
};

// Starts on the body of bodyLength bytes at the file's current position; returns that position.
DWORD BeginBlockRead(BlockReader* reader, HANDLE file, DWORD bodyLength);
DWORD ReadBlockNumber(BlockReader* reader, DWORD size); // 1 to 4 bytes, little-endian
DWORD ReadBlockU16(BlockReader* reader);
DWORD ReadBlockU32(BlockReader* reader);
void ReadBlockBytes(BlockReader* reader, void* destination, DWORD count); // zeros what it cannot read
// Reads a text of length bytes into destination and terminates it there (length + 1 bytes). False
// when the text holds a NUL, which would split it, or could not be read.
bool ReadBlockText(BlockReader* reader, char* destination, DWORD length);
DWORD LoadLittleEndian32(const BYTE* bytes);
