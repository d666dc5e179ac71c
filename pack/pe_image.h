// What the packer and the stub's post-link step read and change in a Windows executable's headers:
// its architecture, and the size of its headers.
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

} // namespace quillon
