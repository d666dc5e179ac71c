// Writing the uninstall data that the stub reads, and appending it to a copy of the stub.
//
// Two levels. The typed level (UninstallData, EncodeUninstallData) writes what an installer means:
// messages, the three removal lists, patterns and settings, always as a well-formed chain. The
// block level (BlockWriter and the Encode*Body helpers) writes any chain at all, malformed ones
// included, so that tests can feed the stub unknown tags, wrong lengths, flag bits, cut-off data,
// repeated blocks or a missing end block. Portable C++17: it builds natively and for Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../src/data/format.h"

namespace quillon {

using Bytes = std::vector<uint8_t>;

// Texts are bytes in the target's ANSI code page; the packer converts from UTF-8 before this level.
struct FileItem {
    std::string folder;
    std::string name; // empty: the entry stands for the folder itself
    uint8_t flags = 0;
};

struct FolderGroupItem {
    uint8_t parentLevels = 0;
    std::string folder;
    std::string secondFolder;
    std::string fileName;
};

struct RegistryItem {
    uint32_t root = ROOT_LOCAL_MACHINE;
    std::string keyPath;
};

struct Settings {
    uint32_t flags = 0;
    std::optional<std::string> preCommand;
    std::optional<std::string> closingDocument;
};

struct UninstallData {
    std::vector<std::string> messages; // message n at index n; usually 16 of them
    std::vector<FileItem> files;
    std::vector<FolderGroupItem> folderGroups;
    std::vector<RegistryItem> registry;
    std::vector<std::string> patterns;
    Settings settings;
};

// Block bodies, exactly as the stub reads them.
Bytes EncodeMessageTableBody(const std::vector<std::string>& messages); // one table
Bytes EncodeFileListBody(const std::vector<FileItem>& files);
Bytes EncodeFolderGroupBody(const std::vector<FolderGroupItem>& groups);
Bytes EncodeRegistryBody(const std::vector<RegistryItem>& entries);
Bytes EncodePatternBody(const std::vector<std::string>& patterns); // closed by an empty string
Bytes EncodeSettingsBody(const Settings& settings);

// Little-endian pieces, for bodies that tests build by hand.
void PutU8(Bytes& out, uint8_t value);
void PutU16(Bytes& out, uint16_t value);
void PutU32(Bytes& out, uint32_t value);
void PutText16(Bytes& out, const std::string& text); // 16-bit length, then the bytes, no NUL

class BlockWriter {
public:
    // Appends a header and the body. length, when given, is written instead of body.size().
    BlockWriter& Block(uint16_t tag, const Bytes& body, uint8_t flags = 0,
                       std::optional<uint32_t> length = std::nullopt);
    BlockWriter& End(); // BLOCK_END with an empty body
    BlockWriter& Raw(const Bytes& bytes);
    BlockWriter& Truncate(size_t size); // cut the chain written so far to size bytes
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// The whole chain for data: messages, files, folder groups, registry, patterns (when any),
// settings, end. Blocks whose lists are empty are left out.
Bytes EncodeUninstallData(const UninstallData& data);

// The stub's DataOffsetField: found by the marker, which must occur exactly once.
struct StubCheck {
    bool ok = false;
    size_t fieldPosition = 0; // byte position of the 32-bit field
    uint32_t fieldValue = 0;
    std::string error; // why the stub was refused
};
StubCheck CheckStub(const Bytes& stub); // ok only when the field equals the stub's size
StubCheck LocateDataOffsetField(const Bytes& stub); // ok when the marker occurs exactly once

// Writes the stub's own size into its field (the post-link step).
bool StampStub(Bytes& stub, std::string* error);

// The stub followed by the chain. Refuses (returns false, sets error) a stub that CheckStub refuses.
bool BuildUninstaller(const Bytes& stub, const Bytes& chain, Bytes* out, std::string* error);

} // namespace quillon
