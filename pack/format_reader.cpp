// The reader of the uninstall data; see format_reader.h for what it follows and where it stops.
//
// Every read is bounded by the block it belongs to, so a damaged chain can only end the walk,
// never make the reader look outside the file. Faults are reported with absolute file offsets,
// which is what someone repairing or comparing uninstallers looks up in a hex view.
#include "format_reader.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace quillon {

namespace {

struct Fault {
    size_t offset;
    std::string reason;
};

// A bounded cursor over one block body.
class BodyCursor {
public:
    BodyCursor(const Bytes& file, size_t start, size_t length) : file_(file), at_(start), end_(start + length) {}
    size_t offset() const { return at_; }
    size_t left() const { return end_ - at_; }

    bool U8(uint8_t* value) {
        if (left() < 1) return false;
        *value = file_[at_++];
        return true;
    }
    bool U16(uint16_t* value) {
        if (left() < 2) return false;
        *value = static_cast<uint16_t>(file_[at_] | file_[at_ + 1] << 8);
        at_ += 2;
        return true;
    }
    bool U32(uint32_t* value) {
        if (left() < 4) return false;
        *value = static_cast<uint32_t>(file_[at_]) | static_cast<uint32_t>(file_[at_ + 1]) << 8 |
                 static_cast<uint32_t>(file_[at_ + 2]) << 16 | static_cast<uint32_t>(file_[at_ + 3]) << 24;
        at_ += 4;
        return true;
    }
    bool Text16(std::string* text) {
        uint16_t length;
        if (!U16(&length) || left() < length) return false;
        text->assign(reinterpret_cast<const char*>(&file_[at_]), length);
        at_ += length;
        return true;
    }

private:
    const Bytes& file_;
    size_t at_;
    size_t end_;
};

std::string Hex(uint32_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
        int digit = (value >> shift) & 0xF;
        if (digit || started || shift < 16) {
            text += kDigits[digit];
            started = true;
        }
    }
    return text;
}

std::string Ordinal(size_t index) { return "entry " + std::to_string(index); }

// The stub keeps texts NUL-terminated: a NUL inside one would cut it and move the texts after it,
// so such a text fails the load.
bool HoldsNul(std::initializer_list<const std::string*> texts) {
    for (const std::string* text : texts)
        if (text->find('\0') != std::string::npos) return true;
    return false;
}

// Each reader returns false with a fault; entries read before the fault stay in the list.

bool ReadMessages(BodyCursor& body, UninstallData& data, Fault* fault) {
    uint16_t tables, strings;
    if (!body.U16(&tables)) {
        *fault = {body.offset(), "message table: the block ends before its table count"};
        return false;
    }
    if (tables == 0) return true;
    if (!body.U16(&strings)) {
        *fault = {body.offset(), "message table: the block ends before the string count of table 0"};
        return false;
    }
    if (strings == 0) return true; // an empty table 0 leaves the earlier one in place
    std::vector<std::string> messages;
    for (uint16_t i = 0; i < strings; ++i) {
        size_t at = body.offset();
        std::string text;
        if (!body.Text16(&text)) {
            *fault = {at, "message " + std::to_string(i) + " runs past the end of its block"};
            data.messages = std::move(messages);
            return false;
        }
        if (HoldsNul({&text})) {
            *fault = {at, "message " + std::to_string(i) + " holds a NUL"};
            data.messages = std::move(messages);
            return false;
        }
        messages.push_back(std::move(text));
    }
    data.messages = std::move(messages);
    return true;
}

bool ReadFiles(BodyCursor& body, UninstallData& data, Fault* fault) {
    uint32_t count;
    if (!body.U32(&count)) {
        *fault = {body.offset(), "file list: the block ends before its entry count"};
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = body.offset();
        FileItem item;
        if (!body.Text16(&item.folder) || !body.Text16(&item.name) || !body.U8(&item.flags)) {
            *fault = {at, "file list: " + Ordinal(i) + " of " + std::to_string(count) + " runs past the end of its block"};
            return false;
        }
        if (HoldsNul({&item.folder, &item.name})) {
            *fault = {at, "file list: " + Ordinal(i) + ": a text holds a NUL"};
            return false;
        }
        if (item.folder.size() + item.name.size() + 2 > FILE_ENTRY_TEXT_SIZE) {
            *fault = {at, "file list: " + Ordinal(i) + ": folder and name take " +
                              std::to_string(item.folder.size() + item.name.size() + 2) +
                              " bytes with their NULs, more than the uninstaller's 520"};
            return false;
        }
        data.files.push_back(std::move(item));
    }
    return true;
}

bool ReadFolderGroups(BodyCursor& body, UninstallData& data, Fault* fault) {
    uint32_t count;
    if (!body.U32(&count)) {
        *fault = {body.offset(), "folder groups: the block ends before its entry count"};
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = body.offset();
        FolderGroupItem item;
        if (!body.U8(&item.parentLevels) || !body.Text16(&item.folder) || !body.Text16(&item.secondFolder) ||
            !body.Text16(&item.fileName)) {
            *fault = {at, "folder groups: " + Ordinal(i) + " of " + std::to_string(count) + " runs past the end of its block"};
            return false;
        }
        if (HoldsNul({&item.folder, &item.secondFolder, &item.fileName})) {
            *fault = {at, "folder groups: " + Ordinal(i) + ": a text holds a NUL"};
            return false;
        }
        size_t size = item.folder.size() + item.secondFolder.size() + item.fileName.size() + 3;
        if (size > FOLDER_GROUP_TEXT_SIZE) {
            *fault = {at, "folder groups: " + Ordinal(i) + ": the three texts take " + std::to_string(size) +
                              " bytes with their NULs, more than the uninstaller's 780"};
            return false;
        }
        data.folderGroups.push_back(std::move(item));
    }
    return true;
}

bool ReadRegistry(BodyCursor& body, UninstallData& data, Fault* fault) {
    uint32_t count;
    if (!body.U32(&count)) {
        *fault = {body.offset(), "registry list: the block ends before its entry count"};
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = body.offset();
        RegistryItem item;
        if (!body.U32(&item.root) || !body.Text16(&item.keyPath)) {
            *fault = {at, "registry list: " + Ordinal(i) + " of " + std::to_string(count) + " runs past the end of its block"};
            return false;
        }
        if (HoldsNul({&item.keyPath})) {
            *fault = {at, "registry list: " + Ordinal(i) + ": the key path holds a NUL"};
            return false;
        }
        if (item.keyPath.size() + 1 > REGISTRY_ENTRY_TEXT_SIZE) {
            *fault = {at, "registry list: " + Ordinal(i) + ": the key path of " + std::to_string(item.keyPath.size()) +
                              " bytes does not fit the uninstaller's 520 with its NUL"};
            return false;
        }
        data.registry.push_back(std::move(item));
    }
    return true;
}

// The pattern list as the stub keeps it: one buffer of NUL-terminated strings. A body need not
// end with the closing empty string: the list then ends before its unterminated last string.
void AppendPatterns(const Bytes& file, size_t start, uint32_t length, Bytes& list, bool& loaded) {
    Bytes body(file.begin() + start, file.begin() + start + length);
    if (!loaded) {
        list = std::move(body);
        loaded = true;
    } else if (!list.empty() && list.back() == 0) {
        list.pop_back();
        list.insert(list.end(), body.begin(), body.end());
    }
}

bool ReadSettings(const Bytes& file, size_t start, uint32_t length, Settings& settings, Fault* fault) {
    if (length < SETTINGS_HEADER_SIZE) {
        *fault = {start, "settings: the block holds " + std::to_string(length) + " bytes, fewer than the 12 of its fields"};
        return false;
    }
    BodyCursor body(file, start, length);
    uint32_t flags, offsets[2];
    body.U32(&flags);
    body.U32(&offsets[0]);
    body.U32(&offsets[1]);
    Settings result;
    result.flags = flags;
    static const char* const kNames[] = {"pre-uninstall command", "closing document"};
    for (int i = 0; i < 2; ++i) {
        if (offsets[i] == 0) continue;
        if (offsets[i] < SETTINGS_HEADER_SIZE || offsets[i] >= length) {
            *fault = {start + 4 + 4 * i, std::string("settings: the ") + kNames[i] + " offset " +
                                             std::to_string(offsets[i]) + " lies outside the block's " +
                                             std::to_string(length) + " bytes of text"};
            return false;
        }
        const uint8_t* text = &file[start + offsets[i]];
        const void* nul = std::memchr(text, 0, length - offsets[i]);
        if (!nul) {
            *fault = {start + offsets[i], std::string("settings: the ") + kNames[i] + " has no NUL inside the block"};
            return false;
        }
        std::string value(reinterpret_cast<const char*>(text), static_cast<const uint8_t*>(nul) - text);
        (i == 0 ? result.preCommand : result.closingDocument) = value;
    }
    settings = std::move(result);
    return true;
}

std::vector<std::string> SplitPatterns(const Bytes& list) {
    std::vector<std::string> patterns;
    size_t at = 0;
    while (at < list.size() && list[at] != 0) {
        size_t end = at;
        while (end < list.size() && list[end] != 0) ++end;
        if (end == list.size()) break; // a last string without its NUL is not used
        patterns.emplace_back(reinterpret_cast<const char*>(&list[at]), end - at);
        at = end + 1;
    }
    return patterns;
}

std::string FirstDifference(const Bytes& actual, size_t start, const Bytes& expected) {
    size_t length = actual.size() - start;
    for (size_t i = 0; i < length && i < expected.size(); ++i) {
        if (actual[start + i] != expected[i])
            return "byte " + std::to_string(start + i) + " is " + Hex(actual[start + i]) + " where quillon-pack writes " +
                   Hex(expected[i]);
    }
    if (length > expected.size())
        return std::to_string(length - expected.size()) + " bytes follow where quillon-pack ends the data at byte " +
               std::to_string(start + expected.size());
    return "the data ends at byte " + std::to_string(actual.size()) + " where quillon-pack writes " +
           std::to_string(expected.size() - length) + " more bytes";
}

} // namespace

ReadReport ReadChain(const Bytes& file, size_t dataOffset) {
    ReadReport report;
    report.dataOffset = dataOffset;
    Bytes patternList;
    bool patternsLoaded = false;
    Fault fault{0, ""};
    bool ok = true;
    size_t at = dataOffset;
    if (dataOffset == 0) {
        ok = false;
        fault = {0, "the data offset field is 0: the file carries no uninstall data"};
    } else if (dataOffset >= file.size()) {
        ok = false;
        fault = {dataOffset, dataOffset == file.size()
                                 ? "no uninstall data: the file ends where the data should begin (a stub without data)"
                                 : "the data offset " + std::to_string(dataOffset) + " lies beyond the end of the file (" +
                                       std::to_string(file.size()) + " bytes)"};
    }
    while (ok) {
        if (file.size() - at < sizeof(BlockHeader)) {
            ok = false;
            fault = {at, at == file.size() ? "the data ends without an end block"
                                           : "the file ends inside a block header (" + std::to_string(file.size() - at) +
                                                 " of 8 bytes)"};
            break;
        }
        BodyCursor header(file, at, sizeof(BlockHeader));
        uint16_t tag;
        uint8_t flags, spare;
        uint32_t length;
        header.U16(&tag);
        header.U8(&flags);
        header.U8(&spare);
        header.U32(&length);
        size_t body = at + sizeof(BlockHeader);
        if (tag == BLOCK_END) {
            report.complete = true;
            break;
        }
        if (length == 0) {
            at = body;
            continue;
        }
        bool whole = tag == BLOCK_SETTINGS || tag == BLOCK_PATTERNS;
        if (file.size() - body < length) {
            // Show what the cut-off body still holds of a list; a whole-block read takes nothing.
            Fault inner{0, ""};
            BodyCursor available(file, body, file.size() - body);
            if (tag == BLOCK_MESSAGES) ReadMessages(available, report.data, &inner);
            if (tag == BLOCK_FILES) ReadFiles(available, report.data, &inner);
            if (tag == BLOCK_FOLDER_GROUPS) ReadFolderGroups(available, report.data, &inner);
            if (tag == BLOCK_REGISTRY) ReadRegistry(available, report.data, &inner);
            ok = false;
            fault = {at, "block " + Hex(tag) + " declares " + std::to_string(length) + " bytes but only " +
                             std::to_string(file.size() - body) + " follow its header"};
            break;
        }
        if (whole && (flags & BLOCK_FLAG_UNSUPPORTED)) {
            ok = false;
            fault = {at + 2, "block " + Hex(tag) + " is marked as a form the uninstaller cannot take (flag 0x01)"};
            break;
        }
        BodyCursor cursor(file, body, length);
        switch (tag) {
        case BLOCK_MESSAGES: ok = ReadMessages(cursor, report.data, &fault); break;
        case BLOCK_FILES: ok = ReadFiles(cursor, report.data, &fault); break;
        case BLOCK_FOLDER_GROUPS: ok = ReadFolderGroups(cursor, report.data, &fault); break;
        case BLOCK_REGISTRY: ok = ReadRegistry(cursor, report.data, &fault); break;
        case BLOCK_PATTERNS: AppendPatterns(file, body, length, patternList, patternsLoaded); break;
        case BLOCK_SETTINGS:
            ok = ReadSettings(file, body, length, report.data.settings, &fault);
            report.hasSettings = report.hasSettings || ok;
            break;
        default: break; // unknown tags are passed over by their length
        }
        at = body + length;
    }
    report.data.patterns = SplitPatterns(patternList);
    if (!ok) {
        report.stopOffset = fault.offset;
        report.stopReason = fault.reason;
        return report;
    }
    if (!report.hasSettings) {
        report.difference = "the data has no settings block";
        return report;
    }
    try {
        Bytes expected = EncodeUninstallData(report.data);
        report.canonical = file.size() - dataOffset == expected.size() &&
                           std::equal(expected.begin(), expected.end(), file.begin() + dataOffset);
        if (!report.canonical) report.difference = FirstDifference(file, dataOffset, expected);
    } catch (const std::exception& error) {
        report.difference = error.what();
    }
    return report;
}

ReadReport ReadUninstaller(const Bytes& file) {
    const uint8_t* marker = reinterpret_cast<const uint8_t*>(DATA_MARKER);
    for (size_t at = 0; at + DATA_OFFSET_RECORD_SIZE <= file.size(); ++at) {
        if (std::memcmp(&file[at], marker, DATA_MARKER_LENGTH) != 0) continue;
        size_t field = at + DATA_MARKER_LENGTH;
        uint32_t offset = static_cast<uint32_t>(file[field]) | static_cast<uint32_t>(file[field + 1]) << 8 |
                          static_cast<uint32_t>(file[field + 2]) << 16 | static_cast<uint32_t>(file[field + 3]) << 24;
        return ReadChain(file, offset);
    }
    ReadReport report;
    report.stopReason = "the data offset marker \"" DATA_MARKER "\" is absent: not a Quillon uninstaller";
    return report;
}

} // namespace quillon
