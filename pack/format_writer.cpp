// Writing the uninstall data and appending it to a copy of the stub.
//
// Everything here is plain byte work in little-endian order, so the native packer and the
// Windows one produce the same bytes. The typed level never writes a malformed chain; the
// block level writes whatever a test asks for. Texts longer than a 16-bit length can hold are
// refused with an exception rather than cut, since a cut text would silently change a path.
#include "format_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace quillon {

void PutU8(Bytes& out, uint8_t value) { out.push_back(value); }

void PutU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutText16(Bytes& out, const std::string& text) {
    if (text.size() > 0xFFFF) throw std::length_error("text longer than 65,535 bytes");
    PutU16(out, static_cast<uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

static void PutCount32(Bytes& out, size_t count) {
    if (count > 0xFFFFFFFFu) throw std::length_error("more entries than a 32-bit count holds");
    PutU32(out, static_cast<uint32_t>(count));
}

Bytes EncodeMessageTableBody(const std::vector<std::string>& messages) {
    if (messages.size() > 0xFFFF) throw std::length_error("more than 65,535 messages");
    Bytes body;
    PutU16(body, 1); // one table: the stub reads table 0 only
    PutU16(body, static_cast<uint16_t>(messages.size()));
    for (const std::string& text : messages) PutText16(body, text);
    return body;
}

Bytes EncodeFileListBody(const std::vector<FileItem>& files) {
    Bytes body;
    PutCount32(body, files.size());
    for (const FileItem& file : files) {
        PutText16(body, file.folder);
        PutText16(body, file.name);
        PutU8(body, file.flags);
    }
    return body;
}

Bytes EncodeFolderGroupBody(const std::vector<FolderGroupItem>& groups) {
    Bytes body;
    PutCount32(body, groups.size());
    for (const FolderGroupItem& group : groups) {
        PutU8(body, group.parentLevels);
        PutText16(body, group.folder);
        PutText16(body, group.secondFolder);
        PutText16(body, group.fileName);
    }
    return body;
}

Bytes EncodeRegistryBody(const std::vector<RegistryItem>& entries) {
    Bytes body;
    PutCount32(body, entries.size());
    for (const RegistryItem& entry : entries) {
        PutU32(body, entry.root);
        PutText16(body, entry.keyPath);
    }
    return body;
}

Bytes EncodePatternBody(const std::vector<std::string>& patterns) {
    Bytes body;
    for (const std::string& pattern : patterns) {
        // An empty string would close the list early and hide every pattern after it.
        if (pattern.empty()) throw std::invalid_argument("empty pattern");
        if (pattern.find('\0') != std::string::npos) throw std::invalid_argument("NUL in pattern");
        body.insert(body.end(), pattern.begin(), pattern.end());
        body.push_back(0);
    }
    body.push_back(0);
    if (patterns.empty()) body.push_back(0); // the list still ends in two NULs
    return body;
}

Bytes EncodeSettingsBody(const Settings& settings) {
    Bytes body;
    PutU32(body, settings.flags);
    PutU32(body, 0);
    PutU32(body, 0);
    auto appendText = [&body](const std::string& text, size_t offsetAt) {
        if (text.find('\0') != std::string::npos) throw std::invalid_argument("NUL in setting");
        uint32_t offset = static_cast<uint32_t>(body.size());
        for (int i = 0; i < 4; ++i) body[offsetAt + i] = static_cast<uint8_t>(offset >> (8 * i));
        body.insert(body.end(), text.begin(), text.end());
        body.push_back(0);
    };
    if (settings.preCommand) appendText(*settings.preCommand, SETTINGS_PRE_COMMAND_AT);
    if (settings.closingDocument) appendText(*settings.closingDocument, SETTINGS_CLOSING_DOCUMENT_AT);
    return body;
}

BlockWriter& BlockWriter::Block(uint16_t tag, const Bytes& body, uint8_t flags,
                                std::optional<uint32_t> length) {
    if (!length && body.size() > 0xFFFFFFFFu) throw std::length_error("block body over 4 GiB");
    PutU16(bytes_, tag);
    PutU8(bytes_, flags);
    PutU8(bytes_, 0);
    PutU32(bytes_, length ? *length : static_cast<uint32_t>(body.size()));
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    return *this;
}

BlockWriter& BlockWriter::End() { return Block(BLOCK_END, Bytes()); }

BlockWriter& BlockWriter::Raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

BlockWriter& BlockWriter::Truncate(size_t size) {
    if (size < bytes_.size()) bytes_.resize(size);
    return *this;
}

Bytes EncodeUninstallData(const UninstallData& data) {
    BlockWriter writer;
    if (!data.messages.empty()) writer.Block(BLOCK_MESSAGES, EncodeMessageTableBody(data.messages));
    if (!data.files.empty()) writer.Block(BLOCK_FILES, EncodeFileListBody(data.files));
    if (!data.folderGroups.empty())
        writer.Block(BLOCK_FOLDER_GROUPS, EncodeFolderGroupBody(data.folderGroups));
    if (!data.registry.empty()) writer.Block(BLOCK_REGISTRY, EncodeRegistryBody(data.registry));
    if (!data.patterns.empty()) writer.Block(BLOCK_PATTERNS, EncodePatternBody(data.patterns));
    writer.Block(BLOCK_SETTINGS, EncodeSettingsBody(data.settings));
    writer.End();
    return writer.bytes();
}

static uint32_t GetU32At(const Bytes& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[at + i];
    return value;
}

StubCheck LocateDataOffsetField(const Bytes& stub) {
    StubCheck result;
    const uint8_t* marker = reinterpret_cast<const uint8_t*>(DATA_MARKER);
    std::vector<size_t> found;
    for (size_t at = 0; at + DATA_MARKER_LENGTH <= stub.size(); ++at) {
        if (std::memcmp(&stub[at], marker, DATA_MARKER_LENGTH) == 0) found.push_back(at);
    }
    if (found.empty()) {
        result.error = "the data offset marker \"" DATA_MARKER "\" is absent: not a Quillon stub";
        return result;
    }
    if (found.size() > 1) {
        result.error = "the data offset marker \"" DATA_MARKER "\" occurs " +
                       std::to_string(found.size()) + " times: the field cannot be told";
        return result;
    }
    size_t field = found[0] + DATA_MARKER_LENGTH;
    if (field + 4 > stub.size()) {
        result.error = "the data offset marker ends the file: no room for the field behind it";
        return result;
    }
    result.ok = true;
    result.fieldPosition = field;
    result.fieldValue = GetU32At(stub, field);
    return result;
}

StubCheck CheckStub(const Bytes& stub) {
    StubCheck result = LocateDataOffsetField(stub);
    if (!result.ok) return result;
    if (result.fieldValue != stub.size()) {
        result.ok = false;
        result.error = "the data offset field holds " + std::to_string(result.fieldValue) +
                       " but the stub is " + std::to_string(stub.size()) +
                       " bytes long: not a freshly stamped stub (already packed, or not stamped)";
    }
    return result;
}

bool StampStub(Bytes& stub, std::string* error) {
    StubCheck located = LocateDataOffsetField(stub);
    if (!located.ok) {
        if (error) *error = located.error;
        return false;
    }
    if (stub.size() > 0xFFFFFFFFu) {
        if (error) *error = "the stub is too large for a 32-bit offset";
        return false;
    }
    uint32_t size = static_cast<uint32_t>(stub.size());
    for (int i = 0; i < 4; ++i) stub[located.fieldPosition + i] = static_cast<uint8_t>(size >> (8 * i));
    return true;
}

bool BuildUninstaller(const Bytes& stub, const Bytes& chain, Bytes* out, std::string* error) {
    StubCheck check = CheckStub(stub);
    if (!check.ok) {
        if (error) *error = check.error;
        return false;
    }
    Bytes result;
    result.reserve(stub.size() + chain.size());
    result.insert(result.end(), stub.begin(), stub.end());
    result.insert(result.end(), chain.begin(), chain.end());
    *out = std::move(result);
    return true;
}

} // namespace quillon
