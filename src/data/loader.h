// Finding and reading the uninstall data appended to the uninstaller's own file.
//
// The loader walks the block chain from the offset in DataOffsetField to the end block, hands each
// block to its reader and keeps the results in the RunContext. The first error ends the walk and is
// reported with the message of the same number, formatted with the uninstaller's path.
#pragma once

#include <windows.h>

#include "block_reader.h"
#include "format.h"

enum { ERR_NO_MEMORY = MSG_NO_MEMORY, ERR_READ = MSG_READ_ERROR };

// The 10-byte marker record of the stub's data; the packer stamps the offset into it.
extern "C" const unsigned char DataOffsetRecord[DATA_OFFSET_RECORD_SIZE];
DWORD GetDataOffset();

bool LoadUninstallData();
// The walk itself, over the chain at offset in the file at path (the uninstaller's own file when
// called by LoadUninstallData). Errors are reported with TheRun.ModulePath as the argument.
bool LoadUninstallDataFrom(const char* path, DWORD offset);

// Reads the body of the block whose header was just read into a new buffer of header.Length bytes;
// the reader stands at the start of that body.
int ReadWholeBlock(BlockReader* reader, const BlockHeader& header, BYTE** buffer);
int AppendPatternBlock(BlockReader* reader, const BlockHeader& header);

// Settings, valid after a successful load. A load without a settings block runs as flags 0 with
// no pre-uninstall command and no closing document.
DWORD GetSettingsFlags();
const char* GetPreUninstallCommand(); // null when there is none
const char* GetClosingDocument();     // null when there is none
