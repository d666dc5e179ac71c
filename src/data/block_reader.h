// Reading inside one block body. Reads never go past the body (nor past the end of the file):
// what cannot be read counts as 0 or as empty bytes, and a damaged block surfaces at the next
// header. The readers of the message table and of the removal lists use it.
#pragma once

#include <windows.h>

struct BlockReader {
    HANDLE File;
    DWORD Remaining; // bytes of the body that are still there to read
};

// Starts on the body of bodyLength bytes at the file's current position; returns that position.
DWORD BeginBlockRead(BlockReader* reader, HANDLE file, DWORD bodyLength);
DWORD ReadBlockNumber(BlockReader* reader, DWORD size); // 1 to 4 bytes, little-endian
DWORD ReadBlockU16(BlockReader* reader);
DWORD ReadBlockU32(BlockReader* reader);
void ReadBlockBytes(BlockReader* reader, void* destination, DWORD count); // zeros what it cannot read
DWORD LoadLittleEndian32(const BYTE* bytes);
