// Tests of the format writer at byte level: each body laid out as the stub reads it, block
// headers with forced lengths and flags, truncation, the marker search and stamping, and the
// file helpers that must never leave a partial file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "bytes_support.h"
#include "file_bytes.h"
#include "format_writer.h"

using namespace quillon;

namespace {

using native_test::B;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A fake stub: filler, the marker with a field, more filler; stamped unless told otherwise.
Bytes MakeStub(size_t before, size_t after, bool stamp = true) {
    Bytes stub(before, 0xCC);
    stub.insert(stub.end(), DATA_MARKER, DATA_MARKER + DATA_MARKER_LENGTH);
    PutU32(stub, 0xDEADBEEF);
    stub.insert(stub.end(), after, 0x90);
    if (stamp) {
        std::string error;
        EXPECT_TRUE(StampStub(stub, &error)) << error;
    }
    return stub;
}

std::string TempDir() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    auto dir = std::filesystem::temp_directory_path() /
               (std::string("quillon-writer-") + test->name() + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// How many entries the folder holds.
size_t EntriesIn(const std::string& dir) {
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir)) {
        (void)e;
        ++entries;
    }
    return entries;
}

} // namespace

TEST(WriterPieces, LittleEndian) {
    Bytes out;
    PutU8(out, 0xAB);
    PutU16(out, 0x1234);
    PutU32(out, 0x89ABCDEF);
    PutText16(out, "hi");
    EXPECT_EQ(out, B({0xAB, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 2, 0, 'h', 'i'}));
}

TEST(WriterPieces, TextLengthLimit) {
    Bytes out;
    PutText16(out, std::string(65535, 'a'));
    EXPECT_EQ(out.size(), 2u + 65535u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_THROW(PutText16(out, std::string(65536, 'a')), std::length_error);
}

TEST(WriterBodies, MessageTable) {
    EXPECT_EQ(EncodeMessageTableBody({"Ti", "", "x%s"}),
              Cat({B({1, 0, 3, 0, 2, 0}), Text("Ti"), B({0, 0, 3, 0}), Text("x%s")}));
    EXPECT_EQ(EncodeMessageTableBody({}), B({1, 0, 0, 0}));
}

TEST(WriterBodies, FileList) {
    FileItem a{".", "a.dll", FILE_SHARED_DLL | FILE_CHECK_IN_USE};
    FileItem b{".\\bin", "", 0xF0};
    EXPECT_EQ(EncodeFileListBody({a, b}),
              Cat({B({2, 0, 0, 0, 1, 0}), Text("."), B({5, 0}), Text("a.dll"), B({0x09}),
                   B({5, 0}), Text(".\\bin"), B({0, 0}), B({0xF0})}));
    EXPECT_EQ(EncodeFileListBody({}), B({0, 0, 0, 0}));
}

TEST(WriterBodies, FolderGroups) {
    FolderGroupItem g{255, "C:\\A", "", "x.lnk"};
    EXPECT_EQ(EncodeFolderGroupBody({g}),
              Cat({B({1, 0, 0, 0, 255, 4, 0}), Text("C:\\A"), B({0, 0, 5, 0}), Text("x.lnk")}));
}

TEST(WriterBodies, Registry) {
    RegistryItem r{ROOT_CURRENT_USER, "Software\\Q"};
    EXPECT_EQ(EncodeRegistryBody({r}),
              Cat({B({1, 0, 0, 0, 0x01, 0, 0, 0x80, 10, 0}), Text("Software\\Q")}));
}

TEST(WriterBodies, Patterns) {
    EXPECT_EQ(EncodePatternBody({"a", "b\\*.x"}), Cat({Text("a"), B({0}), Text("b\\*.x"), B({0, 0})}));
    EXPECT_EQ(EncodePatternBody({}), B({0, 0}));
    EXPECT_THROW(EncodePatternBody({"a", ""}), std::invalid_argument);
}

TEST(WriterBodies, Settings) {
    Settings none;
    EXPECT_EQ(EncodeSettingsBody(none), B({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    Settings both;
    both.flags = SETTINGS_WAIT_PRE_COMMAND | SETTINGS_THEMED_CONTROLS;
    both.preCommand = "go.exe";
    both.closingDocument = "d";
    EXPECT_EQ(EncodeSettingsBody(both),
              Cat({B({3, 0, 0, 0, 12, 0, 0, 0, 19, 0, 0, 0}), Text("go.exe"), B({0}), Text("d"), B({0})}));

    Settings closingOnly;
    closingOnly.closingDocument = "http://x/";
    Bytes body = EncodeSettingsBody(closingOnly);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 12), B({0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0}));
    EXPECT_EQ(body.back(), 0);
}

TEST(WriterBlocks, HeaderLengthsFlagsAndTruncation) {
    BlockWriter w;
    w.Block(0x1238, B({1, 2, 3}))                 // unknown tag, written as asked
        .Block(BLOCK_SETTINGS, B({9}), BLOCK_FLAG_UNSUPPORTED, 100u) // forced length and flag
        .End()
        .Raw(B({0xEE}));
    EXPECT_EQ(w.bytes(), Cat({B({0x38, 0x12, 0, 0, 3, 0, 0, 0, 1, 2, 3}),
                              B({0x3A, 0x12, 1, 0, 100, 0, 0, 0, 9}),
                              B({0x7F, 0x7F, 0, 0, 0, 0, 0, 0}), B({0xEE})}));
    w.Truncate(5);
    EXPECT_EQ(w.bytes(), B({0x38, 0x12, 0, 0, 3}));
    w.Truncate(50); // never grows
    EXPECT_EQ(w.bytes().size(), 5u);
}

TEST(WriterChain, OrderAndEmptyListsLeftOut) {
    UninstallData data;
    data.messages = {"T"};
    data.registry = {{ROOT_LOCAL_MACHINE, "Software\\Q"}};
    Bytes chain = EncodeUninstallData(data);
    BlockWriter expected;
    expected.Block(BLOCK_MESSAGES, EncodeMessageTableBody(data.messages))
        .Block(BLOCK_REGISTRY, EncodeRegistryBody(data.registry))
        .Block(BLOCK_SETTINGS, EncodeSettingsBody(data.settings))
        .End();
    EXPECT_EQ(chain, expected.bytes());

    UninstallData full = data;
    full.files = {{".", "a", 0}};
    full.folderGroups = {{0, "C:\\G", "", ""}};
    full.patterns = {"*.log"};
    chain = EncodeUninstallData(full);
    // Tags in order: messages, files, folder groups, registry, patterns, settings, end.
    std::vector<uint16_t> tags;
    for (size_t at = 0; at + 8 <= chain.size();) {
        tags.push_back(static_cast<uint16_t>(chain[at] | chain[at + 1] << 8));
        uint32_t length = chain[at + 4] | chain[at + 5] << 8 | chain[at + 6] << 16 | uint32_t(chain[at + 7]) << 24;
        at += 8 + length;
    }
    EXPECT_EQ(tags, (std::vector<uint16_t>{BLOCK_MESSAGES, BLOCK_FILES, BLOCK_FOLDER_GROUPS,
                                           BLOCK_REGISTRY, BLOCK_PATTERNS, BLOCK_SETTINGS, BLOCK_END}));
}

TEST(StubField, LocateAndCheck) {
    Bytes stub = MakeStub(100, 50, false);
    StubCheck located = LocateDataOffsetField(stub);
    ASSERT_TRUE(located.ok) << located.error;
    EXPECT_EQ(located.fieldPosition, 106u);
    EXPECT_EQ(located.fieldValue, 0xDEADBEEFu);
    StubCheck check = CheckStub(stub);
    EXPECT_FALSE(check.ok);
    EXPECT_NE(check.error.find("3735928559"), std::string::npos) << check.error;

    std::string error;
    ASSERT_TRUE(StampStub(stub, &error)) << error;
    check = CheckStub(stub);
    EXPECT_TRUE(check.ok) << check.error;
    EXPECT_EQ(check.fieldValue, stub.size());
    EXPECT_EQ(Bytes(stub.begin() + 106, stub.begin() + 110), B({160, 0, 0, 0}));
}

TEST(StubField, MarkerAbsentTwiceOrCutOff) {
    struct Case {
        const char* name;
        Bytes stub;
        const char* errorPart;
    };
    Bytes twice = MakeStub(20, 20, false);
    twice.insert(twice.end(), DATA_MARKER, DATA_MARKER + DATA_MARKER_LENGTH);
    PutU32(twice, 0);
    Bytes cutOff(10, 0);
    cutOff.insert(cutOff.end(), DATA_MARKER, DATA_MARKER + DATA_MARKER_LENGTH);
    cutOff.push_back(0);
    Bytes partial = Text("wwgT)");
    const Case cases[] = {
        {"absent", Bytes(1000, 0x41), "absent"},
        {"empty", Bytes(), "absent"},
        {"partial marker", partial, "absent"},
        {"twice", twice, "2 times"},
        {"no room for field", cutOff, "no room"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StubCheck located = LocateDataOffsetField(c.stub);
        EXPECT_FALSE(located.ok);
        EXPECT_NE(located.error.find(c.errorPart), std::string::npos) << located.error;
        EXPECT_FALSE(CheckStub(c.stub).ok);
        Bytes copy = c.stub;
        std::string error;
        EXPECT_FALSE(StampStub(copy, &error));
        EXPECT_EQ(copy, c.stub); // refused stamping changes nothing
        Bytes out = B({7});
        EXPECT_FALSE(BuildUninstaller(c.stub, B({1, 2}), &out, &error));
        EXPECT_EQ(out, B({7}));
    }
}

TEST(StubField, BuildAppendsAfterStampedStubOnly) {
    Bytes stub = MakeStub(64, 64);
    Bytes chain = BlockWriter().End().bytes();
    Bytes out;
    std::string error;
    ASSERT_TRUE(BuildUninstaller(stub, chain, &out, &error)) << error;
    EXPECT_EQ(out, Cat({stub, chain}));
    // An already packed uninstaller is no stub: its field no longer equals its size.
    Bytes again;
    EXPECT_FALSE(BuildUninstaller(out, chain, &again, &error));
    EXPECT_NE(error.find("field"), std::string::npos);
}

TEST(FileHelpers, WriteReplacesAndReadsBack) {
    std::string dir = TempDir();
    std::string path = dir + "/out.bin";
    std::string error;
    ASSERT_TRUE(WriteFileBytes(path, B({1, 2, 3}), &error)) << error;
    ASSERT_TRUE(WriteFileBytes(path, B({4, 5}), &error)) << error; // replaces, not appends
    Bytes back;
    ASSERT_TRUE(ReadFileBytes(path, &back, &error)) << error;
    EXPECT_EQ(back, B({4, 5}));
    // Only the output itself remains: no temporary file beside it.
    size_t entries = EntriesIn(dir);
    EXPECT_EQ(entries, 1u);
    std::filesystem::remove_all(dir);
}

TEST(FileHelpers, FailuresLeaveNothing) {
    std::string dir = TempDir();
    std::string error;
    Bytes back;
    EXPECT_FALSE(ReadFileBytes(dir + "/missing.bin", &back, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(WriteFileBytes(dir + "/no-such-folder/out.bin", B({1}), &error));
    EXPECT_FALSE(error.empty());
    // Writing over a folder fails at the rename; the temporary must be gone.
    std::filesystem::create_directories(dir + "/occupied/inner");
    EXPECT_FALSE(WriteFileBytes(dir + "/occupied", B({1}), &error));
    size_t entries = EntriesIn(dir);
    EXPECT_EQ(entries, 1u);
    std::filesystem::remove_all(dir);
}

TEST(FileHelpers, ReplacedFileKeepsItsMode) {
    std::string dir = TempDir();
    std::string path = dir + "/stub.exe";
    std::string error;
    ASSERT_TRUE(WriteFileBytes(path, B({1}), &error)) << error;
    mode_t mask = umask(0);
    umask(mask);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0777 & ~mask); // a new output is executable, as a linker makes it
    for (mode_t mode : {mode_t(0750), mode_t(0600)}) {
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(WriteFileBytes(path, B({2, 3}), &error)) << error;
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, mode);
    }
    std::filesystem::remove_all(dir);
}
