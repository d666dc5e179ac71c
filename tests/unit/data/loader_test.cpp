// The loader, block by block, on real packed files: the shipping stub with a chain appended,
// read by the stub's own loader in-process. Malformed chains must fail the load with message 7
// or 8 and never read or write outside a buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "box_watcher.h"
#include "data/format.h"
#include "data/lists.h"
#include "data/loader.h"
#include "data/messages.h"
#include "file_bytes.h"
#include "format_writer.h"
#include "data/run_context.h"
#include "win_test.h"

namespace {

using quillon::BlockWriter;
using quillon::Bytes;

struct LoadResult {
    bool ok = false;
    std::vector<qt::Box> boxes;
};

class Loader : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(quillon::ReadFileBytes(qt::StubPath(), &stub_, &error)) << error;
        folder_ = qt::FreshFolder("unit-loader");
        static char modulePath[PATH_SIZE];
        TheRun.ModulePath = modulePath;
    }
    void TearDown() override
    {
        FreeUninstallData();
        TheRun.ModulePath = nullptr;
    }

    // Packs chain behind the stub and loads it the way the uninstaller loads its own file.
    LoadResult Load(const Bytes& chain)
    {
        FreeUninstallData();
        std::string path = qt::Join(folder_, "uninstall.exe");
        Bytes file = stub_;
        file.insert(file.end(), chain.begin(), chain.end());
        std::string error;
        EXPECT_TRUE(quillon::WriteFileBytes(path, file, &error)) << error;
        lstrcpynA(TheRun.ModulePath, path.c_str(), PATH_SIZE);
        LoadResult result;
        qt::BoxWatcher watcher(IDOK);
        result.ok = LoadUninstallDataFrom(path.c_str(), static_cast<DWORD>(stub_.size()));
        result.boxes = watcher.Seen();
        return result;
    }

    std::string ReadErrorText() const { return std::string("R:read ") + TheRun.ModulePath; }

    static Bytes Messages() { return quillon::EncodeMessageTableBody(qt::StandardMessages()); }
    static Bytes Settings(uint32_t flags = 0, const char* command = nullptr, const char* document = nullptr)
    {
        quillon::Settings settings;
        settings.flags = flags;
        if (command)
            settings.preCommand = command;
        if (document)
            settings.closingDocument = document;
        return quillon::EncodeSettingsBody(settings);
    }

    Bytes stub_;
    std::string folder_;
};

TEST_F(Loader, AWellFormedChainFillsEverything)
{
    quillon::UninstallData data = qt::StandardData();
    data.files = {{".", "a.txt", FILE_CHECK_IN_USE}, {"", "", 0xF0}};
    data.folderGroups = {{255, "C:\\Start\\App", "", ""}};
    data.registry = {{ROOT_CURRENT_USER, "Software\\Vendor"}};
    data.patterns = {"logs\\*.log", "#TempDir#\\app*.tmp"};
    data.settings.flags = SETTINGS_WAIT_PRE_COMMAND;
    data.settings.preCommand = "cleanup.exe";
    data.settings.closingDocument = "https://example.org/bye";
    LoadResult result = Load(quillon::EncodeUninstallData(data));
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.boxes.empty());

    ASSERT_EQ(2u, TheRun.FileCount);
    EXPECT_STREQ(".", TheRun.FileList[0]->Folder);
    EXPECT_STREQ("a.txt", TheRun.FileList[0]->FileName);
    EXPECT_EQ(FILE_CHECK_IN_USE, TheRun.FileList[0]->Flags);
    ASSERT_NE(nullptr, TheRun.FileList[1]->Folder); // empty texts are empty strings, not null
    EXPECT_STREQ("", TheRun.FileList[1]->Folder);
    EXPECT_STREQ("", TheRun.FileList[1]->FileName);
    EXPECT_EQ(0xF0, TheRun.FileList[1]->Flags);

    ASSERT_EQ(1u, TheRun.FolderGroupCount);
    EXPECT_EQ(255u, TheRun.FolderGroupList[0]->ParentLevels);
    EXPECT_STREQ("C:\\Start\\App", TheRun.FolderGroupList[0]->Folder);
    EXPECT_STREQ("", TheRun.FolderGroupList[0]->SecondFolder);
    EXPECT_STREQ("", TheRun.FolderGroupList[0]->FileName);

    ASSERT_EQ(1u, TheRun.RegistryCount);
    EXPECT_EQ(ROOT_CURRENT_USER, TheRun.RegistryList[0]->Root);
    EXPECT_STREQ("Software\\Vendor", TheRun.RegistryList[0]->KeyPath);

    const char patterns[] = "logs\\*.log\0#TempDir#\\app*.tmp\0";
    ASSERT_EQ(sizeof patterns, TheRun.PatternListLength);
    EXPECT_EQ(0, std::memcmp(patterns, TheRun.PatternList, sizeof patterns));

    EXPECT_EQ(SETTINGS_WAIT_PRE_COMMAND, GetSettingsFlags());
    EXPECT_STREQ("cleanup.exe", GetPreUninstallCommand());
    EXPECT_STREQ("https://example.org/bye", GetClosingDocument());
    EXPECT_STREQ("C:confirm", GetMessageText(0, MSG_CONFIRM));
}

TEST_F(Loader, UnknownTagsAndTheEndBlocksBodyAreSkipped)
{
    BlockWriter chain;
    chain.Block(BLOCK_MESSAGES, Messages())
        .Block(0x1238, {1, 2, 3, 4, 5})
        .Block(0x4242, Bytes(300, 0xEE))
        .Block(BLOCK_SETTINGS, Settings(7))
        .Block(BLOCK_END, {9, 9, 9})
        .Raw(Bytes(40, 0xFF)); // never looked at
    LoadResult result = Load(chain.bytes());
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(7u, GetSettingsFlags());
}

TEST_F(Loader, ZeroLengthBlocksCallNoReader)
{
    BlockWriter chain;
    chain.Block(BLOCK_SETTINGS, Settings(SETTINGS_THEMED_CONTROLS))
        .Block(BLOCK_SETTINGS, {}, BLOCK_FLAG_UNSUPPORTED) // would fail if it were read
        .Block(BLOCK_PATTERNS, {}, BLOCK_FLAG_UNSUPPORTED)
        .Block(BLOCK_FILES, {})
        .Block(BLOCK_END, {})
        .Raw({0x12, 0x34}); // after a zero-length end block: never read
    LoadResult result = Load(chain.bytes());
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(SETTINGS_THEMED_CONTROLS, GetSettingsFlags());
    EXPECT_EQ(0u, TheRun.FileCount);
}

TEST_F(Loader, TheLaterSettingsBlockWins)
{
    BlockWriter chain;
    chain.Block(BLOCK_SETTINGS, Settings(1, "first.exe")).Block(BLOCK_SETTINGS, Settings(2, "second.exe")).End();
    ASSERT_TRUE(Load(chain.bytes()).ok);
    EXPECT_EQ(2u, GetSettingsFlags());
    EXPECT_STREQ("second.exe", GetPreUninstallCommand());
}

TEST_F(Loader, ALoadWithoutSettingsRunsWithNone)
{
    BlockWriter chain;
    chain.Block(BLOCK_MESSAGES, Messages()).End();
    ASSERT_TRUE(Load(chain.bytes()).ok);
    EXPECT_EQ(0u, GetSettingsFlags());
    EXPECT_EQ(nullptr, GetPreUninstallCommand());
    EXPECT_EQ(nullptr, GetClosingDocument());
}

TEST_F(Loader, PatternBlocksJoinUnlessTheListLacksItsFinalNul)
{
    BlockWriter joined;
    joined.Block(BLOCK_PATTERNS, {'a', 0, 0}).Block(BLOCK_PATTERNS, {'b', 0, 0}).End();
    ASSERT_TRUE(Load(joined.bytes()).ok);
    const char both[] = {'a', 0, 'b', 0, 0};
    ASSERT_EQ(5u, TheRun.PatternListLength);
    EXPECT_EQ(0, std::memcmp(both, TheRun.PatternList, 5));

    BlockWriter dropped;
    dropped.Block(BLOCK_PATTERNS, {'a', 0, 'b'}).Block(BLOCK_PATTERNS, {'c', 0, 0}).End();
    ASSERT_TRUE(Load(dropped.bytes()).ok);
    ASSERT_EQ(3u, TheRun.PatternListLength);
    EXPECT_EQ(0, std::memcmp("a\0b", TheRun.PatternList, 3));
}

TEST_F(Loader, ListBlocksAppendInChainOrder)
{
    BlockWriter chain;
    chain.Block(BLOCK_FILES, quillon::EncodeFileListBody({{"A", "1", 0}, {"A", "2", 0}}))
        .Block(BLOCK_FILES, quillon::EncodeFileListBody({}))
        .Block(BLOCK_FILES, quillon::EncodeFileListBody({{"B", "3", 0}, {"B", "4", 0}, {"B", "5", 0}}))
        .Block(BLOCK_REGISTRY, quillon::EncodeRegistryBody({{ROOT_CURRENT_USER, "x"}}))
        .Block(BLOCK_REGISTRY, quillon::EncodeRegistryBody({{ROOT_LOCAL_MACHINE, "y"}}))
        .End();
    ASSERT_TRUE(Load(chain.bytes()).ok);
    ASSERT_EQ(5u, TheRun.FileCount);
    for (DWORD index = 0; index < 5; ++index)
        EXPECT_EQ(std::to_string(index + 1), TheRun.FileList[index]->FileName);
    ASSERT_EQ(2u, TheRun.RegistryCount);
    EXPECT_STREQ("y", TheRun.RegistryList[1]->KeyPath);
}

TEST_F(Loader, AListBlockLongerThanItsEntriesIsSkippedToTheNextBlock)
{
    Bytes body = quillon::EncodeFileListBody({{".", "a", 0}});
    body.insert(body.end(), 50, 0xAB);
    BlockWriter chain;
    chain.Block(BLOCK_FILES, body).Block(BLOCK_SETTINGS, Settings(5)).End();
    ASSERT_TRUE(Load(chain.bytes()).ok);
    EXPECT_EQ(1u, TheRun.FileCount);
    EXPECT_EQ(5u, GetSettingsFlags());
}

TEST_F(Loader, TheUnsupportedFlagFailsWholeBlockReadsOnly)
{
    BlockWriter ignored;
    ignored.Block(BLOCK_MESSAGES, Messages(), BLOCK_FLAG_UNSUPPORTED)
        .Block(BLOCK_FILES, quillon::EncodeFileListBody({{".", "a", 0}}), BLOCK_FLAG_UNSUPPORTED | 0xFE)
        .End();
    EXPECT_TRUE(Load(ignored.bytes()).ok);
    EXPECT_EQ(1u, TheRun.FileCount);

    for (uint16_t tag : {BLOCK_SETTINGS, BLOCK_PATTERNS}) {
        BlockWriter refused;
        Bytes body = tag == BLOCK_SETTINGS ? Settings() : Bytes{'a', 0, 0};
        refused.Block(BLOCK_MESSAGES, Messages()).Block(tag, body, BLOCK_FLAG_UNSUPPORTED).End();
        LoadResult result = Load(refused.bytes());
        EXPECT_FALSE(result.ok) << tag;
        ASSERT_EQ(1u, result.boxes.size()) << tag;
        EXPECT_EQ("T:title", result.boxes[0].caption);
        EXPECT_EQ(ReadErrorText(), result.boxes[0].text); // message 8, formatted with the path
    }
}

TEST_F(Loader, CutOffDataAndAMissingEndBlockFailWithMessage8)
{
    BlockWriter missingEnd;
    missingEnd.Block(BLOCK_MESSAGES, Messages()).Block(BLOCK_SETTINGS, Settings());
    LoadResult result = Load(missingEnd.bytes());
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_EQ(ReadErrorText(), result.boxes[0].text);

    BlockWriter cut;
    cut.Block(BLOCK_MESSAGES, Messages())
        .Block(BLOCK_FILES, quillon::EncodeFileListBody({{".", "a.txt", 0}, {".", "b.txt", 0}}))
        .End();
    cut.Truncate(cut.bytes().size() - 12);
    result = Load(cut.bytes());
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_EQ(ReadErrorText(), result.boxes[0].text);
}

TEST_F(Loader, AFailureBeforeTheMessagesShowsAnEmptyBox)
{
    BlockWriter chain;
    chain.Block(BLOCK_SETTINGS, Settings(), BLOCK_FLAG_UNSUPPORTED).Block(BLOCK_MESSAGES, Messages()).End();
    LoadResult result = Load(chain.bytes());
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_EQ("", result.boxes[0].caption);
    EXPECT_EQ("", result.boxes[0].text);
}

TEST_F(Loader, EntryTextsFillTheWorkingBuffersExactly)
{
    std::string path259(259, 'p');
    BlockWriter fits;
    fits.Block(BLOCK_FILES, quillon::EncodeFileListBody({{path259, path259, 0}}))
        .Block(BLOCK_REGISTRY, quillon::EncodeRegistryBody({{ROOT_CURRENT_USER, std::string(519, 'k')}}))
        .Block(BLOCK_FOLDER_GROUPS, quillon::EncodeFolderGroupBody({{0, std::string(259, 'a'), std::string(259, 'b'),
                                                                       std::string(259, 'c')}}))
        .End();
    ASSERT_TRUE(Load(fits.bytes()).ok);
    EXPECT_EQ(259u, std::strlen(TheRun.FileList[0]->FileName));
    EXPECT_EQ(519u, std::strlen(TheRun.RegistryList[0]->KeyPath));
    EXPECT_EQ(259u, std::strlen(TheRun.FolderGroupList[0]->FileName));

    const Bytes tooLong[] = {
        quillon::EncodeFileListBody({{path259 + "x", path259, 0}}),
        quillon::EncodeRegistryBody({{ROOT_CURRENT_USER, std::string(520, 'k')}}),
        quillon::EncodeFolderGroupBody({{0, std::string(260, 'a'), std::string(259, 'b'), std::string(259, 'c')}}),
    };
    const uint16_t tags[] = {BLOCK_FILES, BLOCK_REGISTRY, BLOCK_FOLDER_GROUPS};
    for (int index = 0; index < 3; ++index) {
        BlockWriter chain;
        chain.Block(BLOCK_MESSAGES, Messages()).Block(tags[index], tooLong[index]).End();
        LoadResult result = Load(chain.bytes());
        EXPECT_FALSE(result.ok) << index;
        ASSERT_EQ(1u, result.boxes.size()) << index;
        EXPECT_EQ(ReadErrorText(), result.boxes[0].text);
        EXPECT_EQ(0u, TheRun.FileCount + TheRun.RegistryCount + TheRun.FolderGroupCount);
    }
}

TEST_F(Loader, CountsAndLengthsBeyondTheFileFailTheLoad)
{
    Bytes hugeCount;
    quillon::PutU32(hugeCount, 0x7FFFFFFF);
    quillon::PutU16(hugeCount, 1);
    hugeCount.push_back('x');
    Bytes hugeText;
    quillon::PutU32(hugeText, 1);
    quillon::PutU16(hugeText, 0xFFFF);
    Bytes settingsShort = {1, 0, 0, 0, 0, 0};
    Bytes settingsOutside = Settings();
    settingsOutside[4] = 200; // the command offset points beyond the body
    Bytes settingsNoNul = Settings(0, "abc");
    settingsNoNul.pop_back(); // the string loses its NUL

    struct Case {
        const char* name;
        uint16_t tag;
        Bytes body;
        std::optional<uint32_t> length;
    } cases[] = {
        {"count", BLOCK_FILES, hugeCount, std::nullopt},
        {"folder groups count", BLOCK_FOLDER_GROUPS, hugeCount, std::nullopt},
        {"text length", BLOCK_REGISTRY, hugeText, std::nullopt},
        {"block length past 4 GiB", BLOCK_FILES, hugeCount, 0xFFFFFFF0u},
        {"pattern length past the file", BLOCK_PATTERNS, {'a', 0, 0}, 0x7FFFFFF0u},
        {"settings shorter than its fields", BLOCK_SETTINGS, settingsShort, std::nullopt},
        {"settings offset outside", BLOCK_SETTINGS, settingsOutside, std::nullopt},
        {"settings string without NUL", BLOCK_SETTINGS, settingsNoNul, std::nullopt},
    };
    for (const Case& c : cases) {
        BlockWriter chain;
        chain.Block(BLOCK_MESSAGES, Messages()).Block(c.tag, c.body, 0, c.length).End();
        LoadResult result = Load(chain.bytes());
        EXPECT_FALSE(result.ok) << c.name;
        ASSERT_EQ(1u, result.boxes.size()) << c.name;
        EXPECT_EQ(ReadErrorText(), result.boxes[0].text) << c.name;
    }
}

// The end block ends the chain whatever its length; a text holding a NUL, or an entry that runs
// past its block while the file goes on, fails the load instead of shifting or blanking texts.
TEST_F(Loader, EndBlocksAndTextsHaveOneMeaning)
{
    LoadResult endPastTheFile = Load(BlockWriter().Block(BLOCK_END, {}, 0, 0xFFFFFFFFu).bytes());
    EXPECT_TRUE(endPastTheFile.ok);
    EXPECT_TRUE(endPastTheFile.boxes.empty());

    Bytes nulFolder;
    quillon::PutU32(nulFolder, 1);
    quillon::PutText16(nulFolder, std::string("C:\\victim\\\0important.dll", 24));
    quillon::PutText16(nulFolder, "harmless.txt");
    nulFolder.push_back(0);
    Bytes pastTheBlock;
    quillon::PutU32(pastTheBlock, 1);
    quillon::PutText16(pastTheBlock, "C:\\x");
    for (const Bytes& chain : {BlockWriter().Block(BLOCK_MESSAGES, Messages()).Block(BLOCK_FILES, nulFolder).End().bytes(),
                               BlockWriter().Block(BLOCK_MESSAGES, Messages()).Block(BLOCK_FILES, pastTheBlock, 0, 9)
                                   .Raw(Bytes(3, 0)).Block(BLOCK_SETTINGS, Settings()).End().bytes()}) {
        LoadResult result = Load(chain);
        EXPECT_FALSE(result.ok);
        ASSERT_EQ(1u, result.boxes.size());
        EXPECT_EQ(ReadErrorText(), result.boxes[0].text);
    }
}

TEST_F(Loader, EveryCutOfAChainFailsCleanly)
{
    quillon::UninstallData data;
    data.files = {{".", "a.txt", 1}, {".\\bin", "b.dll", 8}};
    data.registry = {{ROOT_CURRENT_USER, "Software\\Q\\\\v"}};
    data.folderGroups = {{1, "C:\\x", "C:\\y", "z.lnk"}};
    data.patterns = {"*.log"};
    data.settings.preCommand = "x.exe";
    Bytes chain = quillon::EncodeUninstallData(data);
    for (size_t size = 0; size < chain.size(); size += 13) {
        Bytes cut(chain.begin(), chain.begin() + size);
        LoadResult result = Load(cut);
        EXPECT_FALSE(result.ok) << size;
        EXPECT_EQ(1u, result.boxes.size()) << size;
    }
    EXPECT_TRUE(Load(chain).ok);
}

} // namespace
