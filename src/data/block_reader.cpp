// Bounded reads inside one block body; see block_reader.h.
#include "block_reader.h"

#include "file_io.h"
#include "text.h"

DWORD BeginBlockRead(BlockReader* reader, HANDLE file, DWORD bodyLength)
{
    reader->File = file;
    reader->Overran = false;
    // The body cannot hold more than what is left of the file, so counts that claim more are seen
    // as impossible before anything is allocated for them.
    DWORD fileSize = GetFileSize(file, nullptr);
    DWORD position = TellFile(file);
    DWORD left = (fileSize != INVALID_FILE_SIZE && fileSize > position) ? fileSize - position : 0;
    reader->Remaining = bodyLength < left ? bodyLength : left;
    return position;
}

void ReadBlockBytes(BlockReader* reader, void* destination, DWORD count)
{
    if (count > reader->Remaining || ReadExact(reader->File, destination, count) != 0) {
        FillBytes(destination, 0, count);
        reader->Remaining = 0;
        reader->Overran = true;
        return;
    }
    reader->Remaining -= count;
}

bool ReadBlockText(BlockReader* reader, char* destination, DWORD length)
{
    ReadBlockBytes(reader, destination, length);
    destination[length] = '\0';
    return TextLength(destination) == length;
}

DWORD ReadBlockNumber(BlockReader* reader, DWORD size)
{
    BYTE bytes[4] = {0, 0, 0, 0};
    ReadBlockBytes(reader, bytes, size);
    return LoadLittleEndian32(bytes);
}

DWORD ReadBlockU16(BlockReader* reader) { return ReadBlockNumber(reader, 2); }
DWORD ReadBlockU32(BlockReader* reader) { return ReadBlockNumber(reader, 4); }

DWORD LoadLittleEndian32(const BYTE* bytes)
{
    // The stub runs on x86 only, which stores a DWORD little-endian: a copy of the 4 bytes reads it
    // at any alignment. The compiler makes that fixed-size copy one load (never a runtime call),
    // small enough to go inline wherever a field is read.
    DWORD value;
    __builtin_memcpy(&value, bytes, sizeof value);
    return value;
}
