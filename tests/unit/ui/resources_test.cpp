// The shipping stub's resources, read back through the platform's own resource functions: the
// icon group and its images, both dialog templates, and the manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "win_test.h"

namespace {

const WORD EnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class StubResources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Stub = LoadLibraryExA(qt::StubPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        if (Stub != nullptr)
            FreeLibrary(Stub);
    }
    void SetUp() override { ASSERT_NE(nullptr, Stub) << qt::StubPath(); }

    // The bytes of a resource in US English; empty when it is missing.
    static std::vector<BYTE> Resource(LPCSTR type, int id)
    {
        HRSRC found = FindResourceExA(Stub, type, MAKEINTRESOURCEA(id), EnglishUs);
        if (found == nullptr)
            return {};
        HGLOBAL loaded = LoadResource(Stub, found);
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
        DWORD size = SizeofResource(Stub, found);
        return bytes == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(bytes, bytes + size);
    }
    static HMODULE Stub;
};

HMODULE StubResources::Stub = nullptr;

// --- Icon ------------------------------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST_F(StubResources, IconGroup800HoldsFiveUncompressedImages)
{
    std::vector<BYTE> group = Resource(RT_GROUP_ICON, 800);
    ASSERT_GE(group.size(), 6u) << "icon group 800 is missing";
    const WORD* header = reinterpret_cast<const WORD*>(group.data());
    EXPECT_EQ(0, header[0]);
    EXPECT_EQ(1, header[1]) << "not an icon group";
    ASSERT_EQ(5, header[2]);
    ASSERT_EQ(6 + 5 * sizeof(GroupIconEntry), group.size());

    struct Expected {
        int size, bits;
    };
    const Expected expected[] = {{16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 8}};
    const GroupIconEntry* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + 6);
    for (int i = 0; i < 5; ++i) {
        const GroupIconEntry& entry = entries[i];
        SCOPED_TRACE(std::to_string(expected[i].size) + "x" + std::to_string(expected[i].bits));
        EXPECT_EQ(expected[i].size, entry.width);
        EXPECT_EQ(expected[i].size, entry.height);
        EXPECT_EQ(expected[i].bits, entry.bitCount);
        std::vector<BYTE> image = Resource(RT_ICON, entry.id);
        ASSERT_EQ(entry.bytesInRes, image.size());
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        const BITMAPINFOHEADER* info = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(sizeof(BITMAPINFOHEADER), info->biSize) << "not a BMP-format image (PNG?)";
        EXPECT_EQ(expected[i].size, info->biWidth);
        EXPECT_EQ(2 * expected[i].size, info->biHeight) << "image and mask";
        EXPECT_EQ(expected[i].bits, info->biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), info->biCompression);
        DWORD colours = info->biClrUsed != 0 ? info->biClrUsed : 1u << info->biBitCount;
        EXPECT_LE(colours, 1u << info->biBitCount);
        DWORD rowXor = (expected[i].size * expected[i].bits + 31) / 32 * 4;
        DWORD rowAnd = (expected[i].size + 31) / 32 * 4;
        EXPECT_EQ(sizeof(BITMAPINFOHEADER) + 4 * colours + expected[i].size * (rowXor + rowAnd), image.size());
        // And the platform can make an icon of it.
        HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                              expected[i].size, expected[i].size, 0);
        EXPECT_NE(nullptr, icon);
        if (icon != nullptr)
            DestroyIcon(icon);
    }
}

// --- Dialog templates -------------------------------------------------------------------------

struct ControlTemplate {
    DWORD style, exStyle;
    short x, y, cx, cy;
    WORD id;
    std::string className; // "button", "static" for the predefined atoms
    std::string text;
};

struct DialogTemplate {
    DWORD style, exStyle;
    short x, y, cx, cy;
    std::string menu, className, caption, fontName;
    WORD pointSize = 0;
    std::vector<ControlTemplate> controls;
};

// Reads a name-or-ordinal field; ordinals read as "#n".
std::string ReadNameOrOrdinal(const BYTE** at)
{
    const WORD* word = reinterpret_cast<const WORD*>(*at);
    if (word[0] == 0xFFFF) {
        *at += 4;
        switch (word[1]) {
        case 0x80:
            return "button";
        case 0x82:
            return "static";
        default:
            return "#" + std::to_string(word[1]);
        }
    }
    std::string text;
    while (*word != 0)
        text += static_cast<char>(*word++);
    *at = reinterpret_cast<const BYTE*>(word + 1);
    return text;
}

const BYTE* AlignDword(const BYTE* at, const BYTE* start)
{
    return start + ((at - start + 3) & ~3);
}

bool ParseDialog(const std::vector<BYTE>& bytes, DialogTemplate* dialog)
{
    if (bytes.size() < 18)
        return false;
    const BYTE* start = bytes.data();
    const BYTE* at = start;
    if (reinterpret_cast<const WORD*>(at)[1] == 0xFFFF)
        return false; // an extended template: not what the stub ships
    const DLGTEMPLATE* head = reinterpret_cast<const DLGTEMPLATE*>(at);
    dialog->style = head->style;
    dialog->exStyle = head->dwExtendedStyle;
    dialog->x = head->x;
    dialog->y = head->y;
    dialog->cx = head->cx;
    dialog->cy = head->cy;
    int count = head->cdit;
    at += 18;
    dialog->menu = ReadNameOrOrdinal(&at);
    dialog->className = ReadNameOrOrdinal(&at);
    dialog->caption = ReadNameOrOrdinal(&at);
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = *reinterpret_cast<const WORD*>(at);
        at += 2;
        dialog->fontName = ReadNameOrOrdinal(&at);
    }
    for (int i = 0; i < count; ++i) {
        at = AlignDword(at, start);
        if (at + 18 > start + bytes.size())
            return false;
        const DLGITEMTEMPLATE* item = reinterpret_cast<const DLGITEMTEMPLATE*>(at);
        ControlTemplate control;
        control.style = item->style;
        control.exStyle = item->dwExtendedStyle;
        control.x = item->x;
        control.y = item->y;
        control.cx = item->cx;
        control.cy = item->cy;
        control.id = item->id;
        at += 18;
        control.className = ReadNameOrOrdinal(&at);
        control.text = ReadNameOrOrdinal(&at);
        WORD extra = *reinterpret_cast<const WORD*>(at);
        at += 2 + extra;
        dialog->controls.push_back(control);
    }
    return at <= start + bytes.size();
}

void ExpectDialogFrame(const DialogTemplate& dialog, DWORD style)
{
    EXPECT_EQ(style, dialog.style);
    EXPECT_EQ(0u, dialog.exStyle);
    EXPECT_EQ(257, dialog.cx);
    EXPECT_EQ(73, dialog.cy);
    EXPECT_EQ("", dialog.menu);
    EXPECT_EQ("", dialog.className);
    EXPECT_EQ("", dialog.caption);
    EXPECT_EQ("Arial", dialog.fontName);
    EXPECT_EQ(8, dialog.pointSize);
}

void ExpectControl(const ControlTemplate& control, const ControlTemplate& expected)
{
    SCOPED_TRACE("control " + std::to_string(expected.id));
    EXPECT_EQ(expected.id, control.id);
    EXPECT_EQ(0, lstrcmpiA(expected.className.c_str(), control.className.c_str())) // class names ignore case
        << control.className;
    EXPECT_EQ(expected.style | WS_CHILD | WS_VISIBLE, control.style);
    EXPECT_EQ(0u, control.exStyle);
    EXPECT_EQ(expected.x, control.x);
    EXPECT_EQ(expected.y, control.y);
    EXPECT_EQ(expected.cx, control.cx);
    EXPECT_EQ(expected.cy, control.cy);
    EXPECT_EQ(expected.text, control.text);
}

TEST_F(StubResources, ReadOnlyPromptTemplate109)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialog(Resource(RT_DIALOG, 109), &dialog)) << "dialog 109 missing or malformed";
    ExpectDialogFrame(dialog, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    const ControlTemplate expected[] = {
        {BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 20, 52, 50, 14, IDYES, "button", ""},
        {BS_PUSHBUTTON | WS_TABSTOP, 0, 75, 52, 50, 14, 1001, "button", ""},
        {SS_LEFT | WS_GROUP, 0, 7, 7, 243, 36, 1000, "static", ""},
        {BS_PUSHBUTTON | WS_TABSTOP, 0, 130, 52, 50, 14, IDNO, "button", ""},
        {BS_PUSHBUTTON | WS_TABSTOP, 0, 186, 52, 50, 14, 1002, "button", ""},
    };
    ASSERT_EQ(5u, dialog.controls.size());
    for (size_t i = 0; i < 5; ++i)
        ExpectControl(dialog.controls[i], expected[i]);
}

TEST_F(StubResources, ProgressTemplate110)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialog(Resource(RT_DIALOG, 110), &dialog)) << "dialog 110 missing or malformed";
    ExpectDialogFrame(dialog, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    const ControlTemplate expected[] = {
        {SS_LEFT | SS_NOPREFIX | WS_GROUP, 0, 7, 24, 243, 8, 1000, "static", ""},
        {0, 0, 7, 38, 243, 12, 1009, "msctls_progress32", "Progress1"},
    };
    ASSERT_EQ(2u, dialog.controls.size());
    for (size_t i = 0; i < 2; ++i)
        ExpectControl(dialog.controls[i], expected[i]);
}

// --- Manifest --------------------------------------------------------------------------------

// The manifest with its layout taken out: blank runs become one space, and none is kept between
// two tags.
std::string Squeezed(const std::string& text)
{
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = true;
            continue;
        }
        if (blank && !out.empty() && !(out.back() == '>' && c == '<'))
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

TEST_F(StubResources, ManifestAsksForAdministratorAndCommonControlsSix)
{
    std::vector<BYTE> bytes = Resource(MAKEINTRESOURCEA(24), 1);
    ASSERT_FALSE(bytes.empty()) << "manifest 1 is missing";
    std::string manifest = Squeezed(std::string(bytes.begin(), bytes.end()));
    // A 64-bit program whose manifest names X86 does not start: each flavour names its own.
    const std::string arch = qt::FlavourIsX64 ? "amd64" : "X86";
    const std::string parts[] = {
        "<assemblyIdentity name=\"UninstallProgram\" version=\"1.0.0.0\" processorArchitecture=\"" + arch + "\" "
        "type=\"win32\"/>",
        "<description>Uninstall Program</description>",
        "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"" + arch + "\" "
        "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/></dependentAssembly></dependency>",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>", // Vista
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>", // 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>", // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>", // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", // 10
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
    };
    for (const std::string& part : parts)
        EXPECT_NE(std::string::npos, manifest.find(part)) << part << "\nin: " << manifest;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list)
{
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

TEST_F(StubResources, EveryResourceIsInUsEnglish)
{
    struct Named {
        LPCSTR type;
        int id;
    };
    const Named resources[] = {{RT_GROUP_ICON, 800}, {RT_DIALOG, 109}, {RT_DIALOG, 110}, {MAKEINTRESOURCEA(24), 1}};
    for (const Named& resource : resources) {
        std::vector<WORD> languages;
        EnumResourceLanguagesA(Stub, resource.type, MAKEINTRESOURCEA(resource.id), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::vector<WORD>{EnglishUs}, languages) << resource.id;
    }
}

} // namespace

namespace {

// The shipped stub's headers, as the loader reads them: ASLR and DEP asked for, the relocations
// that ASLR needs present, and the machine of the flavour. The relocations share a section with
// the resources (the post-link step folds them in): they must lie in that section's file data and
// read as whole blocks, each for a page of the image.
TEST(StubHeaders, AskForAslrAndDepAndCarryTheirRelocations)
{
    std::string file = qt::ReadTextFile(qt::StubPath()); // read as bytes
    ASSERT_GE(file.size(), sizeof(IMAGE_DOS_HEADER)) << qt::StubPath();
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS), file.size());
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(file.data() + dos->e_lfanew);
    ASSERT_EQ(DWORD(IMAGE_NT_SIGNATURE), nt->Signature);
    EXPECT_EQ(qt::FlavourIsX64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    WORD characteristics = nt->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(characteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(characteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    const IMAGE_DATA_DIRECTORY& relocations = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    ASSERT_NE(0u, relocations.Size);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    size_t at = 0;
    for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index, ++section) {
        DWORD offset = relocations.VirtualAddress - section->VirtualAddress;
        if (relocations.VirtualAddress >= section->VirtualAddress && offset + relocations.Size <= section->Misc.VirtualSize &&
            offset + relocations.Size <= section->SizeOfRawData)
            at = section->PointerToRawData + offset;
    }
    ASSERT_NE(0u, at) << "the relocations lie in one section's file data";
    ASSERT_LE(at + relocations.Size, file.size());
    size_t fixups = 0;
    for (DWORD read = 0; read < relocations.Size;) {
        const IMAGE_BASE_RELOCATION* block = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(file.data() + at + read);
        ASSERT_GE(block->SizeOfBlock, sizeof *block);
        ASSERT_LE(read + block->SizeOfBlock, relocations.Size);
        EXPECT_EQ(0u, block->VirtualAddress % 0x1000);
        EXPECT_LT(block->VirtualAddress, nt->OptionalHeader.SizeOfImage);
        fixups += (block->SizeOfBlock - sizeof *block) / 2;
        read += block->SizeOfBlock;
    }
    EXPECT_GT(fixups, 0u);
}

} // namespace
