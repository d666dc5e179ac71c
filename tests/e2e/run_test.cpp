// The run as a user meets it: the bare stub, the confirmation box, cancel, the quiet switches,
// and the error boxes of a damaged or unloadable uninstaller. Real uninstallers under Wine.
#include <gtest/gtest.h>

#include "file_bytes.h"
#include "win_test.h"

namespace {

const DWORD ExitFailed = static_cast<DWORD>(-1);

class Run : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = qt::FreshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        exe_ = qt::Join(folder_, "uninstall.exe");
        keep_ = qt::Join(folder_, "keep.txt");
        listed_ = qt::Join(folder_, "listed.txt");
        qt::WriteTextFile(keep_, "not listed");
        qt::WriteTextFile(listed_, "listed");
    }

    // The standard messages and one listed file in the installation folder.
    quillon::UninstallData Data() const
    {
        quillon::UninstallData data = qt::StandardData();
        data.files = {{".", "listed.txt", 0}};
        return data;
    }

    std::string folder_, exe_, keep_, listed_;
};

TEST_F(Run, TheBareStubShowsAnEmptyBoxAndFails)
{
    ASSERT_TRUE(CopyFileA(qt::StubPath().c_str(), exe_.c_str(), FALSE));
    qt::Session session = qt::RunAnswering(exe_, "", {IDOK});
    EXPECT_EQ(ExitFailed, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ("", session.boxes[0].caption);
    EXPECT_EQ("", session.boxes[0].text);
    EXPECT_TRUE(session.boxes[0].HasButton(IDOK));
    EXPECT_FALSE(session.boxes[0].HasButton(IDCANCEL));
}

TEST_F(Run, AStubWhoseOffsetIsZeroFailsWithoutABox)
{
    quillon::Bytes stub;
    std::string error;
    ASSERT_TRUE(quillon::ReadFileBytes(qt::StubPath(), &stub, &error)) << error;
    quillon::StubCheck field = quillon::LocateDataOffsetField(stub);
    ASSERT_TRUE(field.ok) << field.error;
    for (int index = 0; index < 4; ++index)
        stub[field.fieldPosition + index] = 0;
    ASSERT_TRUE(quillon::WriteFileBytes(exe_, stub, &error)) << error;
    qt::Session session = qt::RunAnswering(exe_, "", {IDOK}, 20000);
    EXPECT_EQ(ExitFailed, session.exitCode);
    EXPECT_TRUE(session.boxes.empty());
}

TEST_F(Run, TheConfirmationBoxAsksWithOkAndCancel)
{
    qt::WriteUninstaller(exe_, Data());
    qt::Session session = qt::RunAnswering(exe_, "", {IDCANCEL});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ("T:title", session.boxes[0].caption);
    EXPECT_EQ("C:confirm", session.boxes[0].text);
    EXPECT_TRUE(session.boxes[0].HasButton(IDOK));
    EXPECT_TRUE(session.boxes[0].HasButton(IDCANCEL));
    // Cancel changes nothing: the listed file and the uninstaller stay.
    Sleep(1500);
    EXPECT_TRUE(qt::FileExists(listed_));
    EXPECT_TRUE(qt::FileExists(exe_));
    EXPECT_FALSE(session.sawProgress);
}

TEST_F(Run, OkRunsToTheEnd)
{
    quillon::UninstallData data = Data();
    data.messages[2] = ""; // no closing box
    qt::WriteUninstaller(exe_, data);
    qt::Session session = qt::RunAnswering(exe_, "", {IDOK});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ("C:confirm", session.boxes[0].text);
    EXPECT_TRUE(qt::FileExists(keep_));
}

TEST_F(Run, TheQuietSwitchesShowNoBox)
{
    int run = 0;
    for (const char* switches : {"/Q", "/S", "/X", "-s", "/x /s", "/Quiet"}) {
        std::string exe = qt::Join(folder_, "uninstall" + std::to_string(++run) + ".exe");
        qt::WriteUninstaller(exe, Data());
        qt::Session session = qt::RunAnswering(exe, switches, {IDOK, IDOK});
        EXPECT_EQ(0u, session.exitCode) << switches;
        EXPECT_TRUE(session.boxes.empty()) << switches << ": " << (session.boxes.empty() ? "" : session.boxes[0].text);
        EXPECT_FALSE(session.sawProgress) << switches;
    }
}

TEST_F(Run, AnEmptyConfirmationStillAsks)
{
    quillon::UninstallData data = Data();
    data.messages[1] = "";
    qt::WriteUninstaller(exe_, data);
    qt::Session session = qt::RunAnswering(exe_, "", {IDCANCEL});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ("", session.boxes[0].text);
    EXPECT_EQ("T:title", session.boxes[0].caption);
}

TEST_F(Run, ADamagedChainShowsMessage8WithThePath)
{
    quillon::BlockWriter chain;
    chain.Block(BLOCK_MESSAGES, quillon::EncodeMessageTableBody(qt::StandardMessages()))
        .Block(BLOCK_SETTINGS, quillon::EncodeSettingsBody({}), BLOCK_FLAG_UNSUPPORTED)
        .End();
    qt::WriteUninstaller(exe_, chain.bytes());
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDOK});
    EXPECT_EQ(ExitFailed, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ("T:title", session.boxes[0].caption);
    EXPECT_EQ("R:read " + exe_, session.boxes[0].text);
    EXPECT_TRUE(qt::FileExists(listed_));
}

TEST_F(Run, AFailedMemoryRequestShowsMessage7)
{
    // The messages block is read first; the heap fails once its strings have been allocated, so
    // the next block's request fails and message 7 is looked up in what was read.
    quillon::BlockWriter chain;
    chain.Block(BLOCK_MESSAGES, quillon::EncodeMessageTableBody(qt::StandardMessages()))
        .Block(BLOCK_FILES, quillon::EncodeFileListBody({{".", "listed.txt", 0}}))
        .Block(BLOCK_SETTINGS, quillon::EncodeSettingsBody({}))
        .End();
    qt::WriteUninstaller(exe_, chain.bytes(), qt::FailingHeapStubPath());
    // 3 path buffers, the table's array and its 16 strings.
    SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", "20,2"); // the request and its retry
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDOK});
    SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", nullptr);
    EXPECT_EQ(ExitFailed, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ("M:memory " + exe_, session.boxes[0].text);
    EXPECT_TRUE(qt::FileExists(listed_));
}

TEST_F(Run, StartUpWithoutMemoryEndsQuietly)
{
    qt::WriteUninstaller(exe_, Data(), qt::FailingHeapStubPath());
    SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", "1,1000");
    qt::Session session = qt::RunAnswering(exe_, "", {IDOK}, 20000);
    SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", nullptr);
    EXPECT_EQ(0u, session.exitCode);
    EXPECT_TRUE(session.boxes.empty());
    EXPECT_TRUE(qt::FileExists(listed_));
}

} // namespace
