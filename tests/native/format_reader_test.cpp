// Tests of the format reader against chains written at block level: the loader's rules (empty
// blocks, unknown tags, repeated blocks, the end block), every kind of damage with the byte
// offset it is reported at, and the canonical test that decides whether a dump rebuilds the
// same bytes.
#include <gtest/gtest.h>

#include "bytes_support.h"
#include "format_reader.h"
#include "format_writer.h"

using namespace quillon;

namespace {

using native_test::B;

// A stand-in for the stub part of a file: the chain starts right after it.
const size_t kStubSize = 64;
Bytes WithStub(const Bytes& chain) {
    Bytes file(kStubSize, 0x5A);
    file.insert(file.end(), chain.begin(), chain.end());
    return file;
}

UninstallData SampleData() {
    UninstallData data;
    data.messages = {"Title", "Confirm?", "", "Yes"};
    data.files = {{".", "a.exe", FILE_CHECK_IN_USE}, {".\\bin", "", 0}};
    data.folderGroups = {{2, "C:\\Menu\\App", "C:\\Desk\\App", "App.lnk"}};
    data.registry = {{ROOT_CURRENT_USER, "Software\\App"}, {ROOT_LOCAL_MACHINE, "Software64\\App\\\\Level"}};
    data.patterns = {"logs\\*.log", "#TempDir#\\App\\*.tmp"};
    data.settings.flags = SETTINGS_WAIT_PRE_COMMAND;
    data.settings.preCommand = "\"clean.exe\" /q";
    data.settings.closingDocument = "https://example.com/";
    return data;
}

bool SameData(const UninstallData& a, const UninstallData& b) {
    auto sameFiles = [](const FileItem& x, const FileItem& y) {
        return x.folder == y.folder && x.name == y.name && x.flags == y.flags;
    };
    auto sameGroups = [](const FolderGroupItem& x, const FolderGroupItem& y) {
        return x.parentLevels == y.parentLevels && x.folder == y.folder && x.secondFolder == y.secondFolder &&
               x.fileName == y.fileName;
    };
    auto sameRegistry = [](const RegistryItem& x, const RegistryItem& y) { return x.root == y.root && x.keyPath == y.keyPath; };
    return a.messages == b.messages && a.patterns == b.patterns &&
           std::equal(a.files.begin(), a.files.end(), b.files.begin(), b.files.end(), sameFiles) &&
           std::equal(a.folderGroups.begin(), a.folderGroups.end(), b.folderGroups.begin(), b.folderGroups.end(), sameGroups) &&
           std::equal(a.registry.begin(), a.registry.end(), b.registry.begin(), b.registry.end(), sameRegistry) &&
           a.settings.flags == b.settings.flags && a.settings.preCommand == b.settings.preCommand &&
           a.settings.closingDocument == b.settings.closingDocument;
}

} // namespace

TEST(ReaderChain, WrittenDataReadsBackCanonical) {
    UninstallData data = SampleData();
    Bytes file = WithStub(EncodeUninstallData(data));
    ReadReport report = ReadChain(file, kStubSize);
    ASSERT_TRUE(report.complete) << report.stopReason;
    EXPECT_TRUE(report.canonical) << report.difference;
    EXPECT_TRUE(report.hasSettings);
    EXPECT_TRUE(SameData(report.data, data));
}

TEST(ReaderChain, FindsTheFieldBehindTheFirstMarker) {
    Bytes stub(40, 0);
    stub.insert(stub.end(), DATA_MARKER, DATA_MARKER + DATA_MARKER_LENGTH);
    PutU32(stub, 0);
    stub.resize(100, 0);
    std::string error;
    ASSERT_TRUE(StampStub(stub, &error)) << error;
    UninstallData data = SampleData();
    data.messages[0] = "wwgT)H in a text"; // a second marker in the data must not matter
    Bytes uninstaller;
    ASSERT_TRUE(BuildUninstaller(stub, EncodeUninstallData(data), &uninstaller, &error)) << error;
    ReadReport report = ReadUninstaller(uninstaller);
    ASSERT_TRUE(report.complete) << report.stopReason;
    EXPECT_EQ(report.dataOffset, 100u);
    EXPECT_TRUE(report.canonical);
    EXPECT_EQ(report.data.messages[0], "wwgT)H in a text");

    ReadReport none = ReadUninstaller(Bytes(300, 1));
    EXPECT_FALSE(none.complete);
    EXPECT_NE(none.stopReason.find("absent"), std::string::npos);
}

TEST(ReaderChain, FollowsTheLoadersRules) {
    Settings first, second;
    first.preCommand = "first.exe";
    second.preCommand = "second.exe";
    BlockWriter w;
    w.Block(0x1238, B({1, 2, 3, 4}))                                  // unknown tag: skipped
        .Block(BLOCK_FILES, Bytes(), 0, 0u)                           // zero length: no reader
        .Block(BLOCK_MESSAGES, EncodeMessageTableBody({"old"}))
        .Block(BLOCK_MESSAGES, EncodeMessageTableBody({}))            // empty table 0: ignored
        .Block(BLOCK_MESSAGES, EncodeMessageTableBody({"new", "2"}))  // replaces
        .Block(BLOCK_FILES, EncodeFileListBody({{".", "1", 0}, {".", "2", 0}}))
        .Block(BLOCK_FILES, EncodeFileListBody({{".", "3", 0xF0}}))   // appended
        .Block(BLOCK_REGISTRY, EncodeRegistryBody({{ROOT_USERS, "S\\X"}}), BLOCK_FLAG_UNSUPPORTED) // flag ignored on lists
        .Block(BLOCK_PATTERNS, EncodePatternBody({"a"}))
        .Block(BLOCK_PATTERNS, EncodePatternBody({"b", "c"}))         // appended
        .Block(BLOCK_SETTINGS, EncodeSettingsBody(first))
        .Block(BLOCK_SETTINGS, EncodeSettingsBody(second))            // replaces
        .Block(BLOCK_SETTINGS, Bytes(), 0, 0u)                        // zero length keeps it
        .Block(BLOCK_END, B({9, 9, 9}))                               // body skipped
        .Raw(B({0xFF, 0xFF}));                                        // never read
    ReadReport report = ReadChain(WithStub(w.bytes()), kStubSize);
    ASSERT_TRUE(report.complete) << report.stopReason;
    EXPECT_FALSE(report.canonical);
    EXPECT_FALSE(report.difference.empty());
    EXPECT_EQ(report.data.messages, (std::vector<std::string>{"new", "2"}));
    ASSERT_EQ(report.data.files.size(), 3u);
    EXPECT_EQ(report.data.files[2].name, "3");
    EXPECT_EQ(report.data.files[2].flags, 0xF0);
    ASSERT_EQ(report.data.registry.size(), 1u);
    EXPECT_EQ(report.data.registry[0].root, ROOT_USERS);
    EXPECT_EQ(report.data.patterns, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(report.data.settings.preCommand, std::optional<std::string>("second.exe"));
}

TEST(ReaderChain, StringsAfterTheClosingEmptyStringAreNotRead) {
    Bytes early = {'a', 0, 0, 'x', 0, 0};
    BlockWriter w;
    w.Block(BLOCK_PATTERNS, early).Block(BLOCK_SETTINGS, EncodeSettingsBody(Settings())).End();
    ReadReport report = ReadChain(WithStub(w.bytes()), kStubSize);
    ASSERT_TRUE(report.complete) << report.stopReason;
    EXPECT_EQ(report.data.patterns, (std::vector<std::string>{"a"}));
    EXPECT_FALSE(report.canonical);
}

TEST(ReaderChain, MissingSettingsIsNotCanonical) {
    BlockWriter w;
    w.Block(BLOCK_MESSAGES, EncodeMessageTableBody({"t"})).End();
    ReadReport report = ReadChain(WithStub(w.bytes()), kStubSize);
    EXPECT_TRUE(report.complete);
    EXPECT_FALSE(report.hasSettings);
    EXPECT_FALSE(report.canonical);
}

TEST(ReaderChain, TrailingBytesAreNotCanonical) {
    Bytes chain = EncodeUninstallData(SampleData());
    chain.push_back(0);
    ReadReport report = ReadChain(WithStub(chain), kStubSize);
    EXPECT_TRUE(report.complete);
    EXPECT_FALSE(report.canonical);
    EXPECT_NE(report.difference.find("1 bytes follow"), std::string::npos) << report.difference;
}

TEST(ReaderDamage, ReportedWithOffsetAndReason) {
    Settings settings;
    settings.preCommand = "x";
    Bytes settingsBody = EncodeSettingsBody(settings);
    Bytes badOffset = settingsBody;
    badOffset[SETTINGS_PRE_COMMAND_AT] = 200;
    Bytes noNul = settingsBody;
    noNul.pop_back();
    Bytes lowOffset = settingsBody;
    lowOffset[SETTINGS_PRE_COMMAND_AT] = 4;
    Bytes fileEntryTooLong = EncodeFileListBody({{std::string(300, 'f'), std::string(219, 'n'), 0}}); // 521 with NULs
    Bytes registryTooLong = EncodeRegistryBody({{ROOT_CURRENT_USER, std::string(520, 'k')}});
    Bytes groupTooLong = EncodeFolderGroupBody({{0, std::string(300, 'a'), std::string(300, 'b'), std::string(178, 'c')}});
    Bytes fileOverrun = EncodeFileListBody({{".", "a", 0}});
    fileOverrun[0] = 2; // claims two entries, holds one
    Bytes nulName = EncodeFileListBody({{".", std::string("a\0b", 3), 0}});

    struct Case {
        const char* name;
        Bytes chain;
        size_t offset; // relative to the chain start
        const char* reasonPart;
    };
    const Case cases[] = {
        {"no end block", BlockWriter().Block(BLOCK_SETTINGS, settingsBody).bytes(), 8 + settingsBody.size(), "without an end block"},
        {"cut header", BlockWriter().Block(BLOCK_SETTINGS, settingsBody).Raw(B({0x7F, 0x7F, 0})).bytes(),
         8 + settingsBody.size(), "inside a block header"},
        {"body past the end", BlockWriter().Block(BLOCK_FILES, EncodeFileListBody({}), 0, 100u).bytes(), 0, "declares 100 bytes"},
        {"unsupported settings", BlockWriter().Block(BLOCK_SETTINGS, settingsBody, BLOCK_FLAG_UNSUPPORTED).End().bytes(), 2,
         "cannot take"},
        {"unsupported patterns", BlockWriter().Block(BLOCK_PATTERNS, EncodePatternBody({"a"}), BLOCK_FLAG_UNSUPPORTED).End().bytes(),
         2, "cannot take"},
        {"short settings", BlockWriter().Block(BLOCK_SETTINGS, B({0, 0, 0, 0})).End().bytes(), 8, "fewer than the 12"},
        {"settings offset outside", BlockWriter().Block(BLOCK_SETTINGS, badOffset).End().bytes(), 8 + 4, "outside"},
        {"settings offset inside the fields", BlockWriter().Block(BLOCK_SETTINGS, lowOffset).End().bytes(), 8 + 4, "outside"},
        {"settings text without NUL", BlockWriter().Block(BLOCK_SETTINGS, noNul).End().bytes(), 8 + 12, "no NUL"},
        {"file name holding a NUL", BlockWriter().Block(BLOCK_FILES, nulName).End().bytes(), 8 + 4, "holds a NUL"},
        {"file entry overrun", BlockWriter().Block(BLOCK_FILES, fileOverrun).End().bytes(), 8 + fileOverrun.size(), "entry 1 of 2"},
        {"file texts too long", BlockWriter().Block(BLOCK_FILES, fileEntryTooLong).End().bytes(), 8 + 4, "520"},
        {"registry key too long", BlockWriter().Block(BLOCK_REGISTRY, registryTooLong).End().bytes(), 8 + 4, "520"},
        {"folder group too long", BlockWriter().Block(BLOCK_FOLDER_GROUPS, groupTooLong).End().bytes(), 8 + 4, "780"},
        {"message past block", BlockWriter().Block(BLOCK_MESSAGES, B({1, 0, 1, 0, 5, 0, 'a'})).End().bytes(), 8 + 4, "message 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadReport report = ReadChain(WithStub(c.chain), kStubSize);
        EXPECT_FALSE(report.complete);
        EXPECT_FALSE(report.canonical);
        EXPECT_EQ(report.stopOffset, kStubSize + c.offset);
        EXPECT_NE(report.stopReason.find(c.reasonPart), std::string::npos) << report.stopReason;
    }
}

TEST(ReaderDamage, TextsAtTheLimitsStillRead) {
    Bytes chain = BlockWriter()
                      .Block(BLOCK_FILES, EncodeFileListBody({{std::string(259, 'f'), std::string(259, 'n'), 0}}))
                      .Block(BLOCK_REGISTRY, EncodeRegistryBody({{ROOT_CURRENT_USER, std::string(519, 'k')}}))
                      .Block(BLOCK_FOLDER_GROUPS, EncodeFolderGroupBody({{0, std::string(259, 'a'), std::string(259, 'b'), std::string(259, 'c')}}))
                      .End()
                      .bytes();
    ReadReport report = ReadChain(WithStub(chain), kStubSize);
    EXPECT_TRUE(report.complete) << report.stopReason;
}

TEST(ReaderDamage, NoDataOrOffsetOutside) {
    Bytes file(kStubSize, 0);
    ReadReport atEnd = ReadChain(file, kStubSize);
    EXPECT_FALSE(atEnd.complete);
    EXPECT_NE(atEnd.stopReason.find("stub without data"), std::string::npos);
    ReadReport zero = ReadChain(file, 0);
    EXPECT_NE(zero.stopReason.find("is 0"), std::string::npos);
    ReadReport beyond = ReadChain(file, 1000);
    EXPECT_NE(beyond.stopReason.find("beyond the end"), std::string::npos);
}

// Every cut of a valid chain stops cleanly, keeps what came before, and never claims to be whole.
TEST(ReaderDamage, EveryTruncationStopsInsideTheFile) {
    Bytes chain = EncodeUninstallData(SampleData());
    for (size_t size = 0; size < chain.size(); ++size) {
        Bytes cut(chain.begin(), chain.begin() + size);
        Bytes file = WithStub(cut);
        ReadReport report = ReadChain(file, kStubSize);
        SCOPED_TRACE(size);
        EXPECT_FALSE(report.complete);
        EXPECT_LE(report.stopOffset, file.size());
        EXPECT_GE(report.stopOffset, kStubSize);
        EXPECT_FALSE(report.stopReason.empty());
        EXPECT_LE(report.data.files.size(), 2u);
    }
}

// Flipping any single byte never makes the reader fail to stop or read outside the file.
TEST(ReaderDamage, SingleByteCorruptionIsHandled) {
    Bytes chain = EncodeUninstallData(SampleData());
    for (size_t at = 0; at < chain.size(); ++at) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(chain[at] ^ 0x01)}) {
            Bytes changed = chain;
            changed[at] = value;
            ReadReport report = ReadChain(WithStub(changed), kStubSize);
            if (!report.complete) {
                EXPECT_FALSE(report.stopReason.empty());
                EXPECT_LE(report.stopOffset, kStubSize + changed.size());
            } else if (changed != chain) {
                // A change the reader accepts is either canonical for other data or flagged as not canonical.
                if (report.canonical) {
                    EXPECT_FALSE(SameData(report.data, SampleData()));
                }
            }
        }
    }
}
