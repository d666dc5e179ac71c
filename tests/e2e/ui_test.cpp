// The windows a user sees during a run: the progress dialog with its status line, the read-only
// prompt raised by the file pass, the closing box, and none of them in quiet mode.
//
// The passes of a small uninstall finish faster than a watcher can look, so these runs list a
// read-only file: the file pass then stops at the read-only prompt, and while the prompt waits for
// its answer the progress dialog (if the run has one) is certainly on the screen.
#include <gtest/gtest.h>

#include <set>

#include "win_test.h"

namespace {

// The texts of the boxes a session answered, for failure messages.
std::string Texts(const qt::Session& session)
{
    std::string texts = "boxes:";
    for (const qt::Box& box : session.boxes)
        texts += " \"" + box.text + "\"";
    return texts;
}

class Ui : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = qt::FreshFolder(std::string("ui-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // An uninstaller in a folder of its own, listing a read-only file and a plain one in the
    // sub-folder "Tom&Jerry" (the empty-folder pass removes it after the run), with the standard
    // messages. The ampersand must reach the prompt as it is.
    std::string Prepare(const std::string& name, bool withClosingMessage = true)
    {
        std::string install = qt::Join(folder_, name);
        EXPECT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
        data_ = qt::Join(install, "Tom&Jerry");
        EXPECT_TRUE(CreateDirectoryA(data_.c_str(), nullptr));
        std::string exe = qt::Join(install, "uninstall.exe");
        readOnly_ = qt::Join(data_, name + "-locked.txt");
        qt::WriteTextFile(readOnly_, "read-only");
        EXPECT_TRUE(SetFileAttributesA(readOnly_.c_str(), FILE_ATTRIBUTE_READONLY));
        plain_ = qt::Join(data_, name + "-plain.txt");
        qt::WriteTextFile(plain_, "plain");
        EXPECT_TRUE(qt::FileExists(readOnly_) && qt::FileExists(plain_));
        quillon::UninstallData data = qt::StandardData();
        if (!withClosingMessage)
            data.messages[2] = "";
        // Handled last first: the plain file, then the read-only one.
        data.files = {{".\\Tom&Jerry", name + "-locked.txt", 0}, {".\\Tom&Jerry", name + "-plain.txt", 0}};
        qt::WriteUninstaller(exe, data);
        return exe;
    }

    std::string folder_, data_, readOnly_, plain_;
};

TEST_F(Ui, ARunShowsTheProgressDialogThePromptAndTheClosingBox)
{
    std::string exe = Prepare("full");
    qt::Session session = qt::RunAnswering(exe, "", {IDOK, IDYES, IDOK});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(3u, session.boxes.size()) << Texts(session);

    EXPECT_EQ("C:confirm", session.boxes[0].text);

    const qt::Box& prompt = session.boxes[1];
    EXPECT_EQ(qt::BoxKind::ReadOnlyPrompt, prompt.kind);
    EXPECT_EQ("T:title", prompt.caption);
    EXPECT_EQ("RO:" + readOnly_, prompt.text);
    const std::pair<int, const char*> labels[] = {{IDYES, "Yes"}, {1001, "Yes to all"}, {IDNO, "No"}, {1002, "No to all"}};
    for (const auto& label : labels) {
        bool found = false;
        for (const qt::Button& button : prompt.buttons)
            found = found || (button.id == label.first && button.text == label.second);
        EXPECT_TRUE(found) << label.second;
    }

    const qt::Box& closing = session.boxes[2];
    EXPECT_EQ(qt::BoxKind::MessageBox, closing.kind);
    EXPECT_EQ("T:title", closing.caption);
    EXPECT_EQ("F:finished", closing.text);
    EXPECT_TRUE(closing.HasButton(IDOK));
    EXPECT_FALSE(closing.HasButton(IDCANCEL));

    // The progress dialog was up while the prompt waited, titled with message 0, and showed the
    // file pass's status line; whatever else it showed was one of the four status lines.
    ASSERT_TRUE(session.sawProgress);
    std::set<std::string> texts;
    for (const qt::Box& reading : session.progress) {
        EXPECT_EQ("T:title", reading.caption);
        texts.insert(reading.text);
    }
    EXPECT_TRUE(texts.count("S:files")) << "the file pass's status line was never seen";
    const std::set<std::string> allowed = {"", "S:files", "S:groups", "S:folders", "S:registry"};
    for (const std::string& text : texts)
        EXPECT_TRUE(allowed.count(text)) << "unexpected status line \"" << text << '"';

    // Yes removed the read-only file; the plain one went too.
    EXPECT_FALSE(qt::FileExists(readOnly_));
    EXPECT_FALSE(qt::FileExists(plain_));
}

TEST_F(Ui, AnEmptyClosingMessageShowsNoClosingBox)
{
    std::string exe = Prepare("silent-end", false);
    qt::Session session = qt::RunAnswering(exe, "", {IDOK, IDNO, IDOK});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(2u, session.boxes.size()) << Texts(session);
    EXPECT_EQ("C:confirm", session.boxes[0].text);
    EXPECT_EQ(qt::BoxKind::ReadOnlyPrompt, session.boxes[1].kind);
    EXPECT_TRUE(session.sawProgress);
    // No kept the read-only file.
    EXPECT_TRUE(qt::FileExists(readOnly_));
    EXPECT_FALSE(qt::FileExists(plain_));
}

TEST_F(Ui, QuietRunsShowOnlyTheReadOnlyPrompt)
{
    // The prompt belongs to the file pass and is asked in quiet mode too; while it waits, a
    // progress dialog would be on the screen if the run had one.
    int run = 0;
    for (const char* switches : {"/Q", "/S", "/X", "/x /s"}) {
        SCOPED_TRACE(switches);
        std::string exe = Prepare("quiet" + std::to_string(++run));
        qt::Session session = qt::RunAnswering(exe, switches, {IDYES, IDOK, IDOK});
        EXPECT_EQ(0u, session.exitCode);
        ASSERT_EQ(1u, session.boxes.size()) << Texts(session);
        EXPECT_EQ(qt::BoxKind::ReadOnlyPrompt, session.boxes[0].kind);
        EXPECT_EQ("RO:" + readOnly_, session.boxes[0].text);
        EXPECT_FALSE(session.sawProgress);
        EXPECT_FALSE(qt::FileExists(readOnly_));
    }
}

} // namespace
