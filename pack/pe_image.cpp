// Reading the machine of a Windows executable, and the stub's post-link compactions (pe_image.h).
// Every offset read is checked against the file's size first: the packer reads stubs and
// uninstallers it is given, which may be anything.
#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

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
    OPTIONAL_CODE_SIZE_AT = 4,
    OPTIONAL_HEADERS_SIZE_AT = 60,
    SECTION_ENTRY_SIZE = 40,
    SECTION_VIRTUAL_SIZE_AT = 8,
    SECTION_VIRTUAL_ADDRESS_AT = 12,
    SECTION_RAW_SIZE_AT = 16,
    SECTION_RAW_POINTER_AT = 20,
    SECTION_FLAGS_AT = 36,
    IMPORT_ENTRY_SIZE = 20, // lookup table, time stamp, forwarder chain, name, address table
    IMPORT_ADDRESS_TABLE_AT = 16,
};

enum : uint32_t {
    DIRECTORY_IMPORTS = 1,
    DIRECTORY_EXCEPTIONS = 3,
    DIRECTORY_RELOCATIONS = 5,
    SECTION_HOLDS_CODE = 0x20,
    SECTION_HOLDS_DATA = 0x40,
    SECTION_EXECUTABLE = 0x20000000,
    SECTION_WRITABLE = 0x80000000,
    OPTIONAL_DATA_SIZE_AT = 8,
    OPTIONAL_SECTION_ALIGNMENT_AT = 32,
    OPTIONAL_IMAGE_SIZE_AT = 56,
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

// The headers' places that the compactions read and change, found and checked once.
struct PeLayout {
    size_t Optional = 0;       // the optional header
    size_t Directories = 0;    // the data directories
    uint32_t DirectoryCount = 0;
    size_t Sections = 0;       // the section table
    size_t SectionCount = 0;
    uint32_t ThunkSize = 0;    // an import table entry: 4 bytes in PE32, 8 in PE32+
    uint32_t FileAlignment = 0;
};

bool ReadLayout(const Bytes& image, PeLayout* layout) {
    size_t header = FindPeHeader(image);
    if (header == 0) return false;
    layout->Optional = header + OPTIONAL_HEADER_AT;
    size_t optionalSize = U16At(image, header + COFF_OPTIONAL_SIZE_AT);
    layout->Sections = layout->Optional + optionalSize;
    layout->SectionCount = U16At(image, header + COFF_SECTION_COUNT_AT);
    if (layout->Sections + layout->SectionCount * SECTION_ENTRY_SIZE > image.size() || optionalSize < 96) return false;
    uint16_t magic = U16At(image, layout->Optional);
    layout->ThunkSize = magic == 0x20B ? 8 : 4;
    size_t directoriesAt = layout->ThunkSize == 8 ? 112 : 96;
    if (directoriesAt > optionalSize) return false;
    layout->DirectoryCount = U32At(image, layout->Optional + directoriesAt - 4);
    layout->Directories = layout->Optional + directoriesAt;
    if (layout->DirectoryCount > (optionalSize - directoriesAt) / 8) return false;
    layout->FileAlignment = U32At(image, layout->Optional + OPTIONAL_FILE_ALIGNMENT_AT);
    return layout->FileAlignment != 0;
}

size_t SectionEntry(const PeLayout& layout, size_t index) { return layout.Sections + index * SECTION_ENTRY_SIZE; }

// The file offset of rva when count bytes from there lie in one section's file data; 0 otherwise.
size_t OffsetOf(const Bytes& image, const PeLayout& layout, uint32_t rva, uint32_t count) {
    for (size_t index = 0; index < layout.SectionCount; ++index) {
        size_t entry = SectionEntry(layout, index);
        uint32_t address = U32At(image, entry + SECTION_VIRTUAL_ADDRESS_AT);
        uint32_t rawSize = U32At(image, entry + SECTION_RAW_SIZE_AT);
        uint32_t pointer = U32At(image, entry + SECTION_RAW_POINTER_AT);
        if (rva >= address && rva - address <= rawSize && rawSize - (rva - address) >= count &&
            size_t(pointer) + rawSize <= image.size())
            return pointer + (rva - address);
    }
    return 0;
}

// The import entries whose lookup tables are to go, with the range those tables fill.
struct LookupTables {
    std::vector<size_t> Entries; // file offsets of the import entries that name a lookup table
    uint32_t Start = 0, End = 0; // their RVA range, one table after another
};

bool FindLookupTables(const Bytes& image, const PeLayout& layout, LookupTables* tables, std::string* error) {
    if (layout.DirectoryCount <= DIRECTORY_IMPORTS) return true;
    uint32_t importsAt = U32At(image, layout.Directories + 8 * DIRECTORY_IMPORTS);
    if (importsAt == 0) return true;
    uint32_t thunk = layout.ThunkSize;
    uint32_t expectedAt = 0;
    for (uint32_t rva = importsAt;; rva += IMPORT_ENTRY_SIZE) {
        size_t entry = OffsetOf(image, layout, rva, IMPORT_ENTRY_SIZE);
        if (entry == 0) {
            *error = "the import entries run past their section";
            return false;
        }
        uint32_t lookup = U32At(image, entry), address = U32At(image, entry + IMPORT_ADDRESS_TABLE_AT);
        if (lookup == 0 && address == 0) return true; // the zero entry that ends the list
        if (lookup == 0) continue;
        if (!tables->Entries.empty() && lookup != expectedAt) {
            *error = "the import lookup tables do not follow one another";
            return false;
        }
        if (tables->Entries.empty()) tables->Start = lookup;
        tables->Entries.push_back(entry);
        // Each table must be a copy of its address table, up to and with its zero end.
        for (uint32_t at = 0;; at += thunk) {
            size_t name = OffsetOf(image, layout, lookup + at, thunk), bound = OffsetOf(image, layout, address + at, thunk);
            if (name == 0 || bound == 0 || std::memcmp(&image[name], &image[bound], thunk) != 0) {
                *error = "an import lookup table differs from its address table";
                return false;
            }
            bool end = true;
            for (uint32_t i = 0; i < thunk; ++i) end = end && image[name + i] == 0;
            if (end) {
                expectedAt = tables->End = lookup + at + thunk;
                break;
            }
        }
    }
}

// False when a relocation reaches into [start, end), or when the relocations cannot be read.
bool NoRelocationPointsInto(const Bytes& image, const PeLayout& layout, uint32_t start, uint32_t end) {
    if (layout.DirectoryCount <= DIRECTORY_RELOCATIONS) return true;
    uint32_t blockAt = U32At(image, layout.Directories + 8 * DIRECTORY_RELOCATIONS);
    uint32_t left = U32At(image, layout.Directories + 8 * DIRECTORY_RELOCATIONS + 4);
    while (left >= 8) {
        size_t block = OffsetOf(image, layout, blockAt, 8);
        if (block == 0) return false;
        uint32_t page = U32At(image, block), size = U32At(image, block + 4);
        if (size < 8 || size > left || OffsetOf(image, layout, blockAt, size) == 0) return false;
        for (uint32_t at = 8; at + 2 <= size; at += 2) {
            uint16_t fixup = U16At(image, block + at);
            uint32_t target = page + (fixup & 0xFFF);
            if (fixup >> 12 != 0 && target < end && target + 8 > start) return false;
        }
        blockAt += size;
        left -= size;
    }
    return true;
}

// False when a data directory other than those named (by index) or a relocation reaches into
// [start, end).
bool NothingPointsInto(const Bytes& image, const PeLayout& layout, uint32_t start, uint32_t end,
                       std::initializer_list<uint32_t> allowed) {
    for (uint32_t index = 0; index < layout.DirectoryCount; ++index) {
        uint32_t at = U32At(image, layout.Directories + 8 * index), size = U32At(image, layout.Directories + 8 * index + 4);
        if (size != 0 && at < end && at + size > start &&
            std::find(allowed.begin(), allowed.end(), index) == allowed.end())
            return false;
    }
    return NoRelocationPointsInto(image, layout, start, end);
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

bool DropImportLookupTables(Bytes& image, std::string* error) {
    PeLayout layout;
    if (!ReadLayout(image, &layout)) return true; // no PE image: nothing to drop
    LookupTables tables;
    if (!FindLookupTables(image, layout, &tables, error)) return false;
    if (tables.Entries.empty()) return true;
    // The section whose end the tables are: nothing but zero padding may follow them.
    size_t entry = 0;
    for (size_t index = 0; index < layout.SectionCount && entry == 0; ++index) {
        size_t candidate = SectionEntry(layout, index);
        uint32_t address = U32At(image, candidate + SECTION_VIRTUAL_ADDRESS_AT);
        if (tables.Start >= address && tables.End - address <= U32At(image, candidate + SECTION_RAW_SIZE_AT))
            entry = candidate;
    }
    if (entry == 0) {
        *error = "the import lookup tables lie outside every section's data";
        return false;
    }
    uint32_t address = U32At(image, entry + SECTION_VIRTUAL_ADDRESS_AT);
    uint32_t rawSize = U32At(image, entry + SECTION_RAW_SIZE_AT);
    uint32_t pointer = U32At(image, entry + SECTION_RAW_POINTER_AT);
    for (size_t at = pointer + (tables.End - address); at < pointer + rawSize; ++at) {
        if (image[at] != 0) {
            *error = "something follows the import lookup tables in their section";
            return false;
        }
    }
    if (!NothingPointsInto(image, layout, tables.Start, address + rawSize, {DIRECTORY_IMPORTS})) {
        *error = "a relocation or a directory points into the import lookup tables";
        return false;
    }
    for (size_t importEntry : tables.Entries) SetU32At(image, importEntry, 0);
    uint32_t kept = tables.Start - address;
    uint32_t keptRaw = (kept + layout.FileAlignment - 1) / layout.FileAlignment * layout.FileAlignment;
    std::fill(image.begin() + pointer + kept, image.begin() + pointer + rawSize, 0);
    uint32_t saved = rawSize - keptRaw;
    image.erase(image.begin() + pointer + keptRaw, image.begin() + pointer + rawSize);
    SetU32At(image, entry + SECTION_VIRTUAL_SIZE_AT, kept);
    SetU32At(image, entry + SECTION_RAW_SIZE_AT, keptRaw);
    for (size_t index = 0; index < layout.SectionCount; ++index) {
        size_t other = SectionEntry(layout, index);
        uint32_t otherPointer = U32At(image, other + SECTION_RAW_POINTER_AT);
        if (otherPointer > pointer) SetU32At(image, other + SECTION_RAW_POINTER_AT, otherPointer - saved);
    }
    uint32_t codeSize = U32At(image, layout.Optional + OPTIONAL_CODE_SIZE_AT);
    if (U32At(image, entry + SECTION_FLAGS_AT) & SECTION_HOLDS_CODE && codeSize >= saved)
        SetU32At(image, layout.Optional + OPTIONAL_CODE_SIZE_AT, codeSize - saved);
    return true;
}

namespace {

// Folds the last section into the one before it, when it may; false when it may not.
bool FoldLastSection(Bytes& image, const PeLayout& layout) {
    if (layout.SectionCount < 2) return false;
    size_t last = SectionEntry(layout, layout.SectionCount - 1), before = SectionEntry(layout, layout.SectionCount - 2);
    uint32_t alignment = U32At(image, layout.Optional + OPTIONAL_SECTION_ALIGNMENT_AT);
    uint32_t beforeAt = U32At(image, before + SECTION_VIRTUAL_ADDRESS_AT), beforeSize = U32At(image, before + SECTION_VIRTUAL_SIZE_AT);
    uint32_t beforeRaw = U32At(image, before + SECTION_RAW_SIZE_AT), beforePointer = U32At(image, before + SECTION_RAW_POINTER_AT);
    uint32_t lastAt = U32At(image, last + SECTION_VIRTUAL_ADDRESS_AT), lastSize = U32At(image, last + SECTION_VIRTUAL_SIZE_AT);
    uint32_t lastRaw = U32At(image, last + SECTION_RAW_SIZE_AT), lastPointer = U32At(image, last + SECTION_RAW_POINTER_AT);
    // The linker maps the resources writable by tradition, though nothing ever writes them: they
    // count as read-only here, and become so when something is folded into them.
    bool beforeIsResources = std::memcmp(&image[before], ".rsrc\0\0\0", 8) == 0;
    for (size_t entry : {before, last}) {
        uint32_t flags = U32At(image, entry + SECTION_FLAGS_AT);
        if (entry == before && beforeIsResources) flags &= ~SECTION_WRITABLE;
        if (!(flags & SECTION_HOLDS_DATA) || flags & (SECTION_EXECUTABLE | SECTION_WRITABLE | SECTION_HOLDS_CODE)) return false;
    }
    if (alignment == 0 || (beforeAt + beforeSize + alignment - 1) / alignment * alignment != lastAt ||
        beforePointer + beforeRaw != lastPointer || size_t(lastPointer) + lastRaw != image.size() || lastSize > lastRaw)
        return false;
    // Only the relocation and exception directories may point into it, and no relocation.
    if (!NothingPointsInto(image, layout, lastAt, lastAt + lastSize, {DIRECTORY_RELOCATIONS, DIRECTORY_EXCEPTIONS}))
        return false;
    // Behind the section before, at a 4-byte boundary: both kinds of table need no more.
    uint32_t foldAt = (beforeSize + 3) & ~3u;
    uint32_t foldedSize = foldAt + lastSize;
    uint32_t foldedRaw = (foldedSize + layout.FileAlignment - 1) / layout.FileAlignment * layout.FileAlignment;
    Bytes moved(image.begin() + lastPointer, image.begin() + lastPointer + lastSize);
    image.resize(size_t(beforePointer) + beforeRaw); // the section before, its padding zero
    image.resize(size_t(beforePointer) + foldedRaw, 0);
    std::copy(moved.begin(), moved.end(), image.begin() + beforePointer + foldAt);
    for (uint32_t index = 0; index < layout.DirectoryCount; ++index) {
        size_t directory = layout.Directories + 8 * index;
        uint32_t at = U32At(image, directory);
        if (U32At(image, directory + 4) != 0 && at >= lastAt && at < lastAt + lastSize)
            SetU32At(image, directory, at - lastAt + beforeAt + foldAt);
    }
    SetU32At(image, before + SECTION_FLAGS_AT, U32At(image, before + SECTION_FLAGS_AT) & ~SECTION_WRITABLE);
    SetU32At(image, before + SECTION_VIRTUAL_SIZE_AT, foldedSize);
    SetU32At(image, before + SECTION_RAW_SIZE_AT, foldedRaw);
    std::fill(image.begin() + last, image.begin() + last + SECTION_ENTRY_SIZE, 0);
    size_t header = U32At(image, DOS_PE_OFFSET_AT);
    image[header + COFF_SECTION_COUNT_AT] = uint8_t(layout.SectionCount - 1);
    image[header + COFF_SECTION_COUNT_AT + 1] = uint8_t((layout.SectionCount - 1) >> 8);
    SetU32At(image, layout.Optional + OPTIONAL_IMAGE_SIZE_AT,
             (beforeAt + foldedSize + alignment - 1) / alignment * alignment);
    uint32_t dataSize = U32At(image, layout.Optional + OPTIONAL_DATA_SIZE_AT);
    uint32_t cut = beforeRaw + lastRaw - foldedRaw;
    if (dataSize >= cut) SetU32At(image, layout.Optional + OPTIONAL_DATA_SIZE_AT, dataSize - cut);
    return true;
}

} // namespace

bool FoldTrailingSections(Bytes& image, std::string* error) {
    PeLayout layout;
    if (FindPeHeader(image) == 0) return true;
    if (!ReadLayout(image, &layout)) {
        *error = "headers that cannot be read";
        return false;
    }
    while (FoldLastSection(image, layout)) ReadLayout(image, &layout);
    return true;
}

} // namespace quillon
