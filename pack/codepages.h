// Converting texts between UTF-8 and the Windows ANSI code pages that the stub reads.
//
// Manifests are UTF-8; the uninstall data holds texts in the target system's ANSI code page.
// The conversion uses tables carried by the packer itself (codepage_tables.inc), so the native
// and the Windows packer write the same bytes. Only characters that a page holds exactly are
// accepted: no best-fit substitutes, since a path with a substituted letter names another file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

class CodePage;
struct CodePageTable;

// Null when the number is not one of the supported pages.
const CodePage* FindCodePage(int number);
std::vector<int> SupportedCodePages();

class CodePage {
public:
    int number() const { return number_; }
    bool isDoubleByte() const { return doubleByte_; }

    // UTF-8 to the page. Fails on invalid UTF-8, a NUL, or a character the page does not hold;
    // error then says which character, as "U+00E9 'é' (character 3)".
    bool FromUtf8(const std::string& utf8, std::string* out, std::string* error) const;
    // The page to UTF-8. Fails on a NUL, a byte or byte pair the page does not define, or a lead
    // byte at the end of the text; error says which byte (offset within the text). With
    // replaceUndefined, out still receives the whole text, each such byte as U+FFFD.
    bool ToUtf8(const std::string& text, std::string* out, std::string* error,
                bool replaceUndefined = false) const;
    // Whether byte position at of text (in this page) is the second byte of a double-byte
    // character. Path handling in the stub goes byte by byte, so such a byte must not look
    // like a backslash.
    bool IsTrailByte(const std::string& text, size_t at) const;

    explicit CodePage(const CodePageTable& table);

private:
    int number_;
    bool doubleByte_ = false;
    std::vector<uint16_t> toUnicode_; // by code: 0x80-0xFF single bytes, lead * 256 + trail pairs
    std::vector<uint16_t> fromUnicode_; // by character; 0 = not held
    std::vector<bool> leadByte_;         // by byte value
};

// Appends the UTF-8 form of one character.
void AppendUtf8(std::string& out, uint32_t character);

} // namespace quillon
