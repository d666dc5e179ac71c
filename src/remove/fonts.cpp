// Font deregistration before the file pass deletes a font file: the font leaves the running
// system, its registration value under the Fonts key goes, and the top-level windows hear that
// the fonts changed.
//
// The registration value is named after the font's full name, read from the file's naming table
// ('name'). The file comes from the uninstall data and may be anything, so it is read piecewise,
// and every count, offset and length in it is only used to seek and to bound a read: a name that
// does not fit the caller's buffer is ignored rather than cut, since a cut name would name another
// font's value.
#include "fonts.h"

#include "pass_helpers.h"
#include "../data/file_io.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"

enum {
    FONT_DIRECTORY_SIZE = 12,
    FONT_TABLE_RECORD_SIZE = 16,
    FONT_TABLE_RECORDS_MAX = 40,
    FONT_TAG_NAME = 0x6E616D65, // 'name', read big-endian
    FONT_NAME_HEADER_SIZE = 6,
    FONT_NAME_RECORD_SIZE = 12,
    FONT_PLATFORM_MACINTOSH = 1,
    FONT_NAME_ID_FULL_NAME = 4,
    FONT_NAME_SIZE = 520,
    FONT_CHANGE_TIMEOUT_MS = 5000,
};

// The NT line's Fonts key, as a literal: an array this long would be aligned to 32 bytes.
constexpr const char* NtFontsKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
enum { FONT_KEY_LAST_NAME_AT = 45 }; // where "Fonts", the last name of the key, begins in it
static_assert(NtFontsKey[FONT_KEY_LAST_NAME_AT - 1] == '\\' && NtFontsKey[FONT_KEY_LAST_NAME_AT] == 'F',
              "the last name of the Fonts key");
static const char TrueTypeSuffix[] = " (TrueType)";

static DWORD BigEndian16(const BYTE* bytes)
{
    return (static_cast<DWORD>(bytes[0]) << 8) | bytes[1];
}

static DWORD BigEndian32(const BYTE* bytes)
{
    return (BigEndian16(bytes) << 16) | BigEndian16(bytes + 2);
}

// Finds the 'name' table among the first table records; false when it is not there.
static bool FindNameTable(HANDLE file, DWORD* offset)
{
    BYTE record[FONT_TABLE_RECORD_SIZE];
    if (ReadExact(file, record, FONT_DIRECTORY_SIZE) != 0)
        return false;
    DWORD tableCount = BigEndian16(record + 4);
    if (tableCount > FONT_TABLE_RECORDS_MAX)
        tableCount = FONT_TABLE_RECORDS_MAX;
    for (DWORD index = 0; index < tableCount; ++index) {
        if (ReadExact(file, record, FONT_TABLE_RECORD_SIZE) != 0)
            return false;
        if (BigEndian32(record) == FONT_TAG_NAME) {
            *offset = BigEndian32(record + 8);
            return true;
        }
    }
    return false;
}

// Every Macintosh full-name record overrides the ones before it, so the last one in the file gives
// the name: the records are read first (as far as they can be), then that one string. The buffer
// holds an empty text on entry, and keeps it when the string does not fit or cannot be read.
static void ReadFullName(HANDLE file, char* buffer, DWORD size)
{
    DWORD table;
    BYTE record[FONT_NAME_RECORD_SIZE];
    if (!FindNameTable(file, &table))
        return;
    SeekFile(file, table);
    if (ReadExact(file, record, FONT_NAME_HEADER_SIZE) != 0)
        return;
    DWORD recordCount = BigEndian16(record + 2);
    DWORD storage = table + BigEndian16(record + 4);
    DWORD length = size; // no record yet: nothing fits
    DWORD position = table;
    for (DWORD index = 0; index < recordCount && ReadExact(file, record, FONT_NAME_RECORD_SIZE) == 0; ++index) {
        if (BigEndian16(record) == FONT_PLATFORM_MACINTOSH && BigEndian16(record + 6) == FONT_NAME_ID_FULL_NAME) {
            length = BigEndian16(record + 8);
            position = storage + BigEndian16(record + 10);
        }
    }
    // The two 16-bit offsets added to the table's may wrap around: no string lies there.
    if (length < size && position >= table) {
        SeekFile(file, position);
        if (ReadExact(file, buffer, length) == 0)
            buffer[length] = '\0';
        else
            buffer[0] = '\0';
    }
}

void GetFontFullName(const char* path, char* buffer, DWORD size)
{
    if (size == 0)
        return;
    buffer[0] = '\0';
    HANDLE file = OpenExistingFile(path, OPEN_MODE_READ);
    if (file == INVALID_HANDLE_VALUE)
        return;
    ReadFullName(file, buffer, size);
    CloseFile(file);
}

void RemoveFont(const char* path)
{
    char name[FONT_NAME_SIZE];
    GetFontFullName(path, name, sizeof name);
    bool removed = RemoveFontResourceA(path) != 0;
    if (name[0] != '\0' && AppendText(name, sizeof name, TrueTypeSuffix)) {
        // The 9x line's Fonts key lies below the CurrentVersion key, whose path the stub holds once.
        HKEY key = TheRun.IsNT ? OpenRegistryKey(HKEY_LOCAL_MACHINE, NtFontsKey, KEY_SET_VALUE)
                               : OpenBelowCurrentVersion(NtFontsKey + FONT_KEY_LAST_NAME_AT, KEY_SET_VALUE);
        DeleteValueAndCloseKey(key, name);
    }
    if (removed)
        SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_NORMAL, FONT_CHANGE_TIMEOUT_MS, nullptr);
}
