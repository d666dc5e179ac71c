// Building TrueType font files for tests; see font_support.h.
//
// The font holds the tables a font engine needs to take a TrueType font: head, hhea, maxp, OS/2,
// hmtx, cmap, loca, glyf, name and post, with one glyph (a square) that every character maps to.
// All numbers are big-endian, tables are padded to four bytes and carry true checksums.
#include "font_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qt {

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void Put32(Bytes& out, uint32_t value)
{
    Put16(out, value >> 16);
    Put16(out, value & 0xFFFF);
}

void PutZeros(Bytes& out, size_t count)
{
    out.insert(out.end(), count, 0);
}

uint32_t Checksum(const Bytes& table)
{
    uint32_t sum = 0;
    for (size_t at = 0; at < table.size(); at += 4) {
        uint32_t word = 0;
        for (size_t byte = 0; byte < 4; ++byte)
            word = (word << 8) | (at + byte < table.size() ? table[at + byte] : 0);
        sum += word;
    }
    return sum;
}

Bytes HeadTable()
{
    Bytes t;
    Put32(t, 0x00010000); // version
    Put32(t, 0x00010000); // fontRevision
    Put32(t, 0);          // checkSumAdjustment
    Put32(t, 0x5F0F3CF5); // magicNumber
    Put16(t, 0x000B);     // flags
    Put16(t, 1000);       // unitsPerEm
    PutZeros(t, 16);      // created, modified
    Put16(t, 0);          // xMin
    Put16(t, 0);          // yMin
    Put16(t, 500);        // xMax
    Put16(t, 700);        // yMax
    Put16(t, 0);          // macStyle
    Put16(t, 8);          // lowestRecPPEM
    Put16(t, 2);          // fontDirectionHint
    Put16(t, 1);          // indexToLocFormat: long offsets
    Put16(t, 0);          // glyphDataFormat
    return t;
}

Bytes HheaTable()
{
    Bytes t;
    Put32(t, 0x00010000);
    Put16(t, 800);           // ascender
    Put16(t, 0x10000 - 200); // descender
    Put16(t, 0);             // lineGap
    Put16(t, 600);           // advanceWidthMax
    Put16(t, 0);             // minLeftSideBearing
    Put16(t, 100);           // minRightSideBearing
    Put16(t, 500);           // xMaxExtent
    Put16(t, 1);             // caretSlopeRise
    Put16(t, 0);             // caretSlopeRun
    Put16(t, 0);             // caretOffset
    PutZeros(t, 8);          // reserved
    Put16(t, 0);             // metricDataFormat
    Put16(t, 1);             // numberOfHMetrics
    return t;
}

Bytes MaxpTable()
{
    Bytes t;
    Put32(t, 0x00010000);
    Put16(t, 1); // numGlyphs
    Put16(t, 4); // maxPoints
    Put16(t, 1); // maxContours
    Put16(t, 0); // maxCompositePoints
    Put16(t, 0); // maxCompositeContours
    Put16(t, 2); // maxZones
    PutZeros(t, 16);
    return t;
}

Bytes Os2Table()
{
    Bytes t;
    Put16(t, 3);   // version
    Put16(t, 600); // xAvgCharWidth
    Put16(t, 400); // usWeightClass
    Put16(t, 5);   // usWidthClass
    Put16(t, 0);   // fsType: installable
    for (int value : {650, 700, 0, 140, 650, 700, 0, 480, 50, 250})
        Put16(t, static_cast<uint32_t>(value)); // sub- and superscript, strikeout
    Put16(t, 0);          // sFamilyClass
    PutZeros(t, 10);      // panose
    Put32(t, 1);          // ulUnicodeRange1: Basic Latin
    PutZeros(t, 12);      // ulUnicodeRange2..4
    t.insert(t.end(), {'Q', 'T', 'S', 'T'});
    Put16(t, 0x0040);        // fsSelection: regular
    Put16(t, 0x0020);        // usFirstCharIndex
    Put16(t, 0x007E);        // usLastCharIndex
    Put16(t, 800);           // sTypoAscender
    Put16(t, 0x10000 - 200); // sTypoDescender
    Put16(t, 0);             // sTypoLineGap
    Put16(t, 800);           // usWinAscent
    Put16(t, 200);           // usWinDescent
    Put32(t, 1);             // ulCodePageRange1: Latin 1
    Put32(t, 0);             // ulCodePageRange2
    Put16(t, 500);           // sxHeight
    Put16(t, 700);           // sCapHeight
    Put16(t, 0);             // usDefaultChar
    Put16(t, 0x20);          // usBreakChar
    Put16(t, 0);             // usMaxContext
    return t;
}

Bytes HmtxTable()
{
    Bytes t;
    Put16(t, 600); // advanceWidth
    Put16(t, 0);   // lsb
    return t;
}

// Format 4: characters 0x20..0x7E all map to glyph 0 through idDelta, then the closing segment.
Bytes CmapTable()
{
    Bytes t;
    Put16(t, 0); // version
    Put16(t, 1); // numTables
    Put16(t, FONT_PLATFORM_WINDOWS);
    Put16(t, 1);  // Unicode BMP
    Put32(t, 12); // subtable offset
    Put16(t, 4);  // format
    Put16(t, 32); // length
    Put16(t, 0);  // language
    Put16(t, 4);  // segCountX2
    Put16(t, 4);  // searchRange
    Put16(t, 1);  // entrySelector
    Put16(t, 0);  // rangeShift
    Put16(t, 0x007E);
    Put16(t, 0xFFFF); // endCode
    Put16(t, 0);      // reservedPad
    Put16(t, 0x0020);
    Put16(t, 0xFFFF); // startCode
    Put16(t, 0x10000 - 0x20);
    Put16(t, 1); // idDelta
    Put16(t, 0);
    Put16(t, 0); // idRangeOffset
    return t;
}

Bytes GlyfTable()
{
    Bytes t;
    Put16(t, 1); // numberOfContours
    Put16(t, 0);
    Put16(t, 0);
    Put16(t, 500);
    Put16(t, 700); // bounding box
    Put16(t, 3);   // endPtsOfContours
    Put16(t, 0);   // instructionLength
    PutZeros(t, 0);
    t.insert(t.end(), {0x01, 0x01, 0x01, 0x01}); // on-curve, 16-bit deltas
    for (int delta : {0, 500, 0, -500})
        Put16(t, static_cast<uint16_t>(delta));
    for (int delta : {0, 0, 700, 0})
        Put16(t, static_cast<uint16_t>(delta));
    return t;
}

Bytes LocaTable(uint32_t glyfLength)
{
    Bytes t;
    Put32(t, 0);
    Put32(t, glyfLength);
    return t;
}

Bytes PostTable()
{
    Bytes t;
    Put32(t, 0x00030000);
    Put32(t, 0);             // italicAngle
    Put16(t, 0x10000 - 100); // underlinePosition
    Put16(t, 50);            // underlineThickness
    PutZeros(t, 20);         // isFixedPitch, memory fields
    return t;
}

Bytes NameTable(const FontSpec& spec)
{
    Bytes storage;
    Bytes records;
    for (const FontNameRecord& name : spec.names) {
        Bytes text;
        if (name.platform == FONT_PLATFORM_WINDOWS) {
            for (char c : name.text)
                Put16(text, static_cast<uint8_t>(c));
        } else {
            text.assign(name.text.begin(), name.text.end());
        }
        uint32_t offset = static_cast<uint32_t>(storage.size());
        storage.insert(storage.end(), text.begin(), text.end());
        Put16(records, name.platform);
        Put16(records, name.encoding);
        Put16(records, name.language);
        Put16(records, name.nameId);
        Put16(records, name.lengthOverride >= 0 ? static_cast<uint32_t>(name.lengthOverride)
                                                : static_cast<uint32_t>(text.size()));
        Put16(records, name.offsetOverride >= 0 ? static_cast<uint32_t>(name.offsetOverride) : offset);
    }
    Bytes t;
    uint32_t count = static_cast<uint32_t>(spec.names.size());
    Put16(t, 0);
    Put16(t, spec.nameCountOverride >= 0 ? static_cast<uint32_t>(spec.nameCountOverride) : count);
    Put16(t, spec.storageOffsetOverride >= 0 ? static_cast<uint32_t>(spec.storageOffsetOverride) : 6 + 12 * count);
    t.insert(t.end(), records.begin(), records.end());
    t.insert(t.end(), storage.begin(), storage.end());
    return t;
}

struct Table {
    std::string tag;
    Bytes data;
};

} // namespace

std::vector<FontNameRecord> StandardFontNames(const std::string& family, bool withMac, bool withWindows)
{
    std::vector<FontNameRecord> names;
    const std::pair<uint16_t, std::string> texts[] = {
        {FONT_NAME_FAMILY, family},
        {FONT_NAME_STYLE, "Regular"},
        {FONT_NAME_FULL, family + " Regular"},
        {FONT_NAME_POSTSCRIPT, "QuillonTest-Regular"},
    };
    if (withMac) {
        for (const auto& text : texts) {
            FontNameRecord record;
            record.platform = FONT_PLATFORM_MAC;
            record.nameId = text.first;
            record.text = text.second;
            names.push_back(record);
        }
    }
    if (withWindows) {
        for (const auto& text : texts) {
            FontNameRecord record;
            record.platform = FONT_PLATFORM_WINDOWS;
            record.encoding = 1;
            record.language = 0x0409;
            record.nameId = text.first;
            record.text = text.second;
            names.push_back(record);
        }
    }
    return names;
}

std::vector<uint8_t> BuildTrueTypeFont(const FontSpec& spec)
{
    Bytes glyf = GlyfTable();
    std::vector<Table> tables = {
        {"OS/2", Os2Table()}, {"cmap", CmapTable()},  {"glyf", glyf},   {"head", HeadTable()},
        {"hhea", HheaTable()}, {"hmtx", HmtxTable()}, {"loca", LocaTable(static_cast<uint32_t>(glyf.size()))},
        {"maxp", MaxpTable()},
    };
    // Filler records go right before 'name', which comes last but for 'post'.
    for (unsigned index = 0; index < spec.tablesBeforeName; ++index) {
        char tag[5];
        snprintf(tag, sizeof tag, "x%03u", index);
        tables.push_back({tag, Bytes()});
    }
    tables.push_back({"name", NameTable(spec)});
    tables.push_back({"post", PostTable()});

    uint16_t count = static_cast<uint16_t>(tables.size());
    uint16_t power = 1;
    uint16_t selector = 0;
    while (power * 2 <= count) {
        power *= 2;
        ++selector;
    }
    Bytes font;
    Put32(font, 0x00010000);
    Put16(font, count);
    Put16(font, power * 16);
    Put16(font, selector);
    Put16(font, count * 16 - power * 16);
    uint32_t offset = 12 + 16u * count;
    Bytes body;
    for (const Table& table : tables) {
        font.insert(font.end(), table.tag.begin(), table.tag.end());
        Put32(font, Checksum(table.data));
        uint32_t at = offset + static_cast<uint32_t>(body.size());
        if (table.tag == "name" && spec.nameTableOffsetOverride >= 0)
            at = static_cast<uint32_t>(spec.nameTableOffsetOverride);
        Put32(font, at);
        Put32(font, static_cast<uint32_t>(table.data.size()));
        body.insert(body.end(), table.data.begin(), table.data.end());
        while (body.size() % 4 != 0)
            body.push_back(0);
    }
    font.insert(font.end(), body.begin(), body.end());
    return font;
}

void WriteFontFile(const std::string& path, const FontSpec& spec)
{
    Bytes font = BuildTrueTypeFont(spec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(font.data()), static_cast<std::streamsize>(font.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

int FontChanges;

namespace {

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_FONTCHANGE)
        ++FontChanges;
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

HWND OpenFontChangeCounter(const char* className)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    HWND counter = CreateWindowExA(0, className, "counter", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    FontChanges = 0;
    return counter;
}

} // namespace qt
