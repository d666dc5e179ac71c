// Reading the machine of a Windows executable, and the stub's header compaction (pe_image.h).
// Every offset read is checked against the file's size first: the packer reads stubs and
// uninstallers it is given, which may be anything.
#include "pe_image.h"

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

// Fields of the DOS, COFF and optional headers and of a section entry, by their offsets.
enum : size_t {
    DOS_HEADER_SIZE = 0x40,
    DOS_PE_OFFSET_AT = 0x3C,
    COFF_MACHINE_AT = 4,          // behind "PE\0\0"
    COFF_SECTION_COUNT_AT = 6,
    COFF_OPTIONAL_SIZE_AT = 20,
    OPTIONAL_HEADER_AT = 24,
    OPTIONAL_FILE_ALIGNMENT_AT = 36,
    OPTIONAL_HEADERS_SIZE_AT = 60,
    SECTION_ENTRY_SIZE = 40,
    SECTION_RAW_SIZE_AT = 16,
    SECTION_RAW_POINTER_AT = 20,
};

uint32_t U32At(const Bytes& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 | uint32_t(bytes[at + 3]) << 24;
}

uint16_t U16At(const Bytes& bytes, size_t at) { return uint16_t(bytes[at] | bytes[at + 1] << 8); }

void SetU32At(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

// Where the PE header begins, or 0 when the file has none.
size_t FindPeHeader(const Bytes& file) {
    if (file.size() < DOS_HEADER_SIZE || file[0] != 'M' || file[1] != 'Z') return 0;
    size_t header = U32At(file, DOS_PE_OFFSET_AT);
    if (header < DOS_HEADER_SIZE || header > file.size() || file.size() - header < OPTIONAL_HEADER_AT ||
        std::memcmp(&file[header], "PE\0\0", 4) != 0)
        return 0;
    return header;
}

} // namespace

Architecture ReadArchitecture(const Bytes& file) {
    size_t header = FindPeHeader(file);
    if (header == 0) return Architecture::Unknown;
    uint16_t machine = U16At(file, header + COFF_MACHINE_AT);
    return machine == 0x014C ? Architecture::X86 : machine == 0x8664 ? Architecture::X64 : Architecture::Unknown;
}

const char* ArchitectureName(Architecture architecture) {
    return architecture == Architecture::X86 ? "x86" : architecture == Architecture::X64 ? "x64" : "unknown";
}

bool CompactHeaders(Bytes& image, std::string* error) {
    size_t header = FindPeHeader(image);
    if (header == 0) return true; // no PE header: nothing to compact (the stamp checks the marker)
    size_t sections = U16At(image, header + COFF_SECTION_COUNT_AT);
    size_t table = header + OPTIONAL_HEADER_AT + U16At(image, header + COFF_OPTIONAL_SIZE_AT);
    size_t end = table + sections * SECTION_ENTRY_SIZE;
    if (end > image.size() || table + OPTIONAL_HEADERS_SIZE_AT + 4 > end) {
        *error = "headers run past the file";
        return false;
    }
    size_t optional = header + OPTIONAL_HEADER_AT;
    uint32_t alignment = U32At(image, optional + OPTIONAL_FILE_ALIGNMENT_AT);
    uint32_t size = U32At(image, optional + OPTIONAL_HEADERS_SIZE_AT);
    size_t compact = (end - header + DOS_HEADER_SIZE + alignment - 1) / alignment * alignment;
    if (alignment == 0 || size > image.size() || compact >= size) return true; // nothing to save
    // What is cut must be padding: the gap between the headers' end and the first section's data.
    size_t saved = size - compact;
    for (size_t at = end; at < size; ++at) {
        if (image[at] != 0) {
            *error = "the headers' padding is not empty";
            return false;
        }
    }
    for (size_t entry = table; entry < end; entry += SECTION_ENTRY_SIZE) {
        uint32_t pointer = U32At(image, entry + SECTION_RAW_POINTER_AT);
        if (U32At(image, entry + SECTION_RAW_SIZE_AT) != 0 && pointer < size) {
            *error = "a section's data lies among the headers";
            return false;
        }
    }
    Bytes headers(image.begin() + header, image.begin() + end);
    std::fill(image.begin() + DOS_HEADER_SIZE, image.begin() + size, 0);
    std::copy(headers.begin(), headers.end(), image.begin() + DOS_HEADER_SIZE);
    SetU32At(image, DOS_PE_OFFSET_AT, DOS_HEADER_SIZE);
    size_t moved = end - header + DOS_HEADER_SIZE; // the section table's new end
    optional = DOS_HEADER_SIZE + OPTIONAL_HEADER_AT;
    SetU32At(image, optional + OPTIONAL_HEADERS_SIZE_AT, uint32_t(compact));
    for (size_t entry = moved - sections * SECTION_ENTRY_SIZE; entry < moved; entry += SECTION_ENTRY_SIZE) {
        uint32_t pointer = U32At(image, entry + SECTION_RAW_POINTER_AT);
        if (pointer != 0) SetU32At(image, entry + SECTION_RAW_POINTER_AT, uint32_t(pointer - saved));
    }
    image.erase(image.begin() + compact, image.begin() + size);
    return true;
}

} // namespace quillon
