// Building TrueType font files for tests: a small but complete font that the system's font engine
// accepts (one square glyph), with a naming table of the test's choosing, and the means to bend
// its structure (more table records before 'name', name records with any length or offset).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qt {

enum : uint16_t { FONT_PLATFORM_MAC = 1, FONT_PLATFORM_WINDOWS = 3 };
enum : uint16_t { FONT_NAME_FAMILY = 1, FONT_NAME_STYLE = 2, FONT_NAME_FULL = 4, FONT_NAME_POSTSCRIPT = 6 };

struct FontNameRecord {
    uint16_t platform = FONT_PLATFORM_MAC;
    uint16_t encoding = 0;
    uint16_t language = 0;
    uint16_t nameId = FONT_NAME_FULL;
    std::string text; // Macintosh records: the bytes as they stand; Windows records: ASCII, widened
    // When not negative, written in place of the true length or offset of the string.
    int32_t lengthOverride = -1;
    int32_t offsetOverride = -1;
};

struct FontSpec {
    std::vector<FontNameRecord> names;
    unsigned tablesBeforeName = 0; // empty filler table records listed before the 'name' record
    int64_t nameTableOffsetOverride = -1; // the 'name' record's offset field, when not negative
    int32_t storageOffsetOverride = -1;  // the naming table's storageOffset, when not negative
    int32_t nameCountOverride = -1;      // the naming table's count, when not negative
};

// Mac and Windows family, style, full and PostScript names for a font called family + " Regular".
std::vector<FontNameRecord> StandardFontNames(const std::string& family, bool withMac = true,
                                              bool withWindows = true);
std::vector<uint8_t> BuildTrueTypeFont(const FontSpec& spec);
void WriteFontFile(const std::string& path, const FontSpec& spec);

// The WM_FONTCHANGE broadcasts heard by the counting window since it was opened.
extern int FontChanges;

// Registers the window class of that name and opens a top-level window of it that counts the
// WM_FONTCHANGE broadcasts it hears into FontChanges, which starts again from 0; null on failure.
HWND OpenFontChangeCounter(const char* className);

} // namespace qt
