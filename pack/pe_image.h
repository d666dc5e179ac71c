// What the packer and the stub's post-link step read and change in a Windows executable's headers:
// its architecture, the size of its headers, and the import tables' second copy.
#pragma once

#include <string>

#include "format_writer.h"

namespace quillon {

// The flavour of a stub or an uninstaller, from its PE header's machine field: 32-bit x86 or x64.
// Unknown for a file that is no Windows program (or another machine's).
enum class Architecture { Unknown, X86, X64 };
Architecture ReadArchitecture(const Bytes& file);
const char* ArchitectureName(Architecture architecture); // "x86", "x64", or "unknown"

// The stub's post-link step, before it is stamped: a linker puts the PE header behind a DOS
// program and pads the headers to whole file-alignment units, so that a fourth section entry
// (x86) or a fifth (x64) costs a whole unit of 512 bytes. Without the DOS program the headers fit
// in one unit again: the PE header moves up behind the DOS header, and the sections' raw data
// moves up by the unit saved. True when it did so, or when nothing was to be saved (also for a file
// without a PE header); false, with the image unchanged and error set, when the headers are not
// laid out as expected.
bool CompactHeaders(Bytes& image, std::string* error);

// The stub's post-link step, before the headers are compacted: a linker writes each imported
// name's reference twice, in the import address table that the loader fills and in a lookup
// table that keeps the names for binding, a step the stub never takes. Every loader reads the
// names from the address table when an import entry names no lookup table, so the lookup tables
// are dropped: 4 bytes per import on x86, 8 on x64. The stub's link puts them at the very end of
// its first section; they are cut from there and the later sections' data moves up by the file
// alignment units saved. True when done, or when the image has no lookup tables to drop; false,
// with error set and the image unchanged, when they are not laid out as expected (last in their
// section, a copy of the address tables, nothing relocated or pointed at inside them).
bool DropImportLookupTables(Bytes& image, std::string* error);

// The stub's post-link step, after the lookup tables went: every section costs whole file-alignment
// units, so the small read-only sections that hold nothing but tables of relative addresses (the
// relocations, and on x64 the exception table) are folded into the section before them, which
// ends the image too. The directories that name them are moved along; their bytes stay as they
// are, since the sections they describe do not move. A last section is folded only when it and
// the one before are read-only data, lie next to each other, and nothing but the relocation or
// exception directory points into it. True when done or when nothing could be folded; false, with
// error set, only for headers that cannot be read.
bool FoldTrailingSections(Bytes& image, std::string* error);

} // namespace quillon
