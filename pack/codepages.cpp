// The code page tables and the conversions over them.
//
// A page's table is unpacked on first use from its stream in codepage_tables.inc (the stream
// format is described in codepages/generate_tables.py, which writes that file). Unpacked, a page
// is two flat arrays: code to character for reading back, character to code for writing.
#include "codepages.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

namespace quillon {

struct CodePageTable {
    int number;
    int entryCount;
    const char* stream; // base64
    const uint16_t* decodeOnly;
    int decodeOnlyCount;
};

#include "codepage_tables.inc"

namespace {

std::vector<uint8_t> FromBase64(const char* text) {
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (const char* p = text; *p && *p != '='; ++p) {
        char c = *p;
        int value = c >= 'A' && c <= 'Z'   ? c - 'A'
                    : c >= 'a' && c <= 'z' ? c - 'a' + 26
                    : c >= '0' && c <= '9' ? c - '0' + 52
                    : c == '+'             ? 62
                                           : 63;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    return out;
}

std::string CharacterName(uint32_t character) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(character));
    std::string name = buffer;
    if (character >= 0x20 && character != 0x7F && !(character >= 0x80 && character < 0xA0)) {
        name += " '";
        AppendUtf8(name, character);
        name += "'";
    }
    return name;
}

} // namespace

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

CodePage::CodePage(const CodePageTable& table) : number_(table.number) {
    toUnicode_.assign(0x10000, 0);
    fromUnicode_.assign(0x10000, 0);
    leadByte_.assign(256, false);
    for (uint32_t c = 0; c < 0x80; ++c) {
        toUnicode_[c] = static_cast<uint16_t>(c);
        fromUnicode_[c] = static_cast<uint16_t>(c);
    }
    std::vector<uint8_t> stream = FromBase64(table.stream);
    uint32_t code = 0x7F, character = 0x7F;
    auto add = [&]() {
        if (code > 0xFFFF || character > 0xFFFF) return;
        toUnicode_[code] = static_cast<uint16_t>(character);
        if (code > 0xFF) {
            leadByte_[code >> 8] = true;
            doubleByte_ = true;
        }
    };
    for (size_t at = 0; at < stream.size();) {
        uint8_t op = stream[at++];
        if (op < 0x40) {
            for (int i = 0; i <= op; ++i) {
                ++code;
                ++character;
                add();
            }
        } else if (op < 0x80) {
            code += op - 0x3F;
        } else if (op < 0xC0) {
            if (at >= stream.size()) break;
            int32_t delta = ((op & 0x3F) << 8) | stream[at++];
            if (delta >= 0x2000) delta -= 0x4000;
            ++code;
            character = static_cast<uint32_t>(static_cast<int32_t>(character) + 1 + delta);
            add();
        } else {
            if (at + 1 >= stream.size()) break;
            ++code;
            character = (static_cast<uint32_t>(stream[at]) << 8) | stream[at + 1];
            at += 2;
            add();
        }
    }
    std::vector<bool> writeOnly(0x10000, false);
    for (int i = 0; i < table.decodeOnlyCount; ++i) writeOnly[table.decodeOnly[i]] = true;
    for (uint32_t c = 0x80; c < 0x10000; ++c) {
        uint16_t ch = toUnicode_[c];
        if (ch != 0 && !writeOnly[c] && fromUnicode_[ch] == 0) fromUnicode_[ch] = static_cast<uint16_t>(c);
    }
}

const CodePage* FindCodePage(int number) {
    static std::mutex lock;
    static std::unique_ptr<CodePage> pages[sizeof kCodePageTables / sizeof kCodePageTables[0]];
    std::lock_guard<std::mutex> guard(lock);
    for (size_t i = 0; i < sizeof kCodePageTables / sizeof kCodePageTables[0]; ++i) {
        if (kCodePageTables[i].number != number) continue;
        if (!pages[i]) pages[i].reset(new CodePage(kCodePageTables[i]));
        return pages[i].get();
    }
    return nullptr;
}

std::vector<int> SupportedCodePages() {
    std::vector<int> numbers;
    for (const CodePageTable& table : kCodePageTables) numbers.push_back(table.number);
    return numbers;
}

bool CodePage::FromUtf8(const std::string& utf8, std::string* out, std::string* error) const {
    std::string result;
    size_t index = 0;
    for (size_t at = 0; at < utf8.size(); ++index) {
        uint8_t first = static_cast<uint8_t>(utf8[at]);
        int length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3 : (first >> 3) == 30 ? 4 : 0;
        uint32_t character = length == 1 ? first : length == 2 ? first & 0x1F : length == 3 ? first & 0x0F : first & 0x07;
        bool valid = length != 0 && at + length <= utf8.size();
        for (int i = 1; valid && i < length; ++i) {
            uint8_t next = static_cast<uint8_t>(utf8[at + i]);
            valid = (next >> 6) == 2;
            character = (character << 6) | (next & 0x3F);
        }
        static const uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && (character < kMinimum[length] || character > 0x10FFFF ||
                      (character >= 0xD800 && character <= 0xDFFF)))
            valid = false;
        if (!valid) {
            if (error) *error = "not valid UTF-8 (byte " + std::to_string(at) + ")";
            return false;
        }
        at += length;
        uint16_t code = character == 0 || character > 0xFFFF ? 0 : fromUnicode_[character];
        if (character == 0) {
            if (error) *error = "a NUL character (character " + std::to_string(index + 1) + ") ends a text early";
            return false;
        }
        if (code == 0) {
            if (error)
                *error = CharacterName(character) + " (character " + std::to_string(index + 1) +
                         ") is not in code page " + std::to_string(number_);
            return false;
        }
        if (code > 0xFF) result += static_cast<char>(code >> 8);
        result += static_cast<char>(code & 0xFF);
    }
    *out = std::move(result);
    return true;
}

bool CodePage::ToUtf8(const std::string& text, std::string* out, std::string* error,
                      bool replaceUndefined) const {
    std::string result;
    bool ok = true;
    auto fail = [&](const std::string& why) {
        if (ok && error) *error = why;
        ok = false;
    };
    for (size_t at = 0; at < text.size();) {
        uint32_t code = static_cast<uint8_t>(text[at]);
        size_t length = 1;
        if (code >= 0x80 && toUnicode_[code] == 0 && leadByte_[code]) {
            if (at + 1 >= text.size()) {
                fail("lead byte at the end of the text (byte " + std::to_string(at) + ")");
                if (!replaceUndefined) return false;
                AppendUtf8(result, 0xFFFD);
                break;
            }
            code = (code << 8) | static_cast<uint8_t>(text[at + 1]);
            length = 2;
        }
        uint16_t character = toUnicode_[code];
        if (code == 0) {
            fail("a NUL byte inside the text (byte " + std::to_string(at) + ")");
            character = 0xFFFD;
        } else if (character == 0) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, length == 2 ? "0x%04X" : "0x%02X", static_cast<unsigned>(code));
            fail(std::string(length == 2 ? "byte pair " : "byte ") + buffer + " (byte " + std::to_string(at) +
                 ") is not defined in code page " + std::to_string(number_));
            character = 0xFFFD;
        }
        if (!ok && !replaceUndefined) return false;
        AppendUtf8(result, character);
        at += length;
    }
    *out = std::move(result);
    return ok;
}

bool CodePage::IsTrailByte(const std::string& text, size_t at) const {
    if (!doubleByte_) return false;
    for (size_t i = 0; i < text.size();) {
        uint8_t byte = static_cast<uint8_t>(text[i]);
        size_t length = (byte >= 0x80 && toUnicode_[byte] == 0 && leadByte_[byte]) ? 2 : 1;
        if (at < i + length) return at != i;
        i += length;
    }
    return false;
}

} // namespace quillon
