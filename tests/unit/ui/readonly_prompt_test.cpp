// The read-only prompt: its texts, its answers, and when it is not shown at all. The modal dialog
// is read and answered from a second thread while the test's thread waits inside the prompt.
#include "ui_fixture.h"

#include "data/run_context.h"
#include "ui/dialog_font.h"
#include "ui/readonly_prompt.h"

namespace {

using ui_test::Act;
using ui_test::Action;
using ui_test::DialogSeen;
using ui_test::DialogWatcher;
using ui_test::UiTest;

class ReadOnlyPrompt : public UiTest {};

// Shows the prompt for path while a watcher does what action says; returns the answer.
int AskWith(const char* path, Action action, DialogSeen* seen)
{
    DialogWatcher watcher(action);
    int answer = ShowReadOnlyPrompt(path);
    *seen = watcher.Finish();
    return answer;
}

std::string ButtonText(const qt::Box& box, int id)
{
    for (const qt::Button& button : box.buttons) {
        if (button.id == id)
            return button.text;
    }
    return "<missing>";
}

TEST_F(ReadOnlyPrompt, ShowsTheFormattedQuestionAndTheFourAnswers)
{
    DialogSeen seen;
    int answer = AskWith("C:\\App\\data.bin", {Act::Press, IDNO}, &seen);
    ASSERT_TRUE(seen.appeared);
    EXPECT_EQ(qt::BoxKind::ReadOnlyPrompt, seen.box.kind);
    EXPECT_EQ("T:title", seen.box.caption);
    EXPECT_EQ("RO:C:\\App\\data.bin", seen.box.text);
    EXPECT_EQ(TheRun.MainWindow, seen.owner);
    ASSERT_EQ(4u, seen.box.buttons.size());
    EXPECT_EQ("Yes", ButtonText(seen.box, IDYES));
    EXPECT_EQ("Yes to all", ButtonText(seen.box, 1001));
    EXPECT_EQ("No", ButtonText(seen.box, IDNO));
    EXPECT_EQ("No to all", ButtonText(seen.box, 1002));
    EXPECT_EQ(BS_DEFPUSHBUTTON, seen.buttonStyles[0] & 0xF) << "Yes is the default";
    EXPECT_TRUE(seen.closedByAction);
    EXPECT_EQ(IDNO, answer);
    // Its controls carry the shared normal-weight font.
    EXPECT_NE(nullptr, TheRun.DialogFont);
    EXPECT_EQ(TheRun.DialogFont, seen.controlFont);
}

TEST_F(ReadOnlyPrompt, EachWayOutGivesItsIdentifier)
{
    struct Case {
        const char* what;
        Action action;
        int expected;
    };
    const Case cases[] = {
        {"Yes", {Act::Press, IDYES}, IDYES},
        {"Yes to all", {Act::Press, 1001}, 1001},
        {"No", {Act::Press, IDNO}, IDNO},
        {"No to all", {Act::Press, 1002}, 1002},
        {"Enter on the default button", {Act::Key, VK_RETURN}, IDYES},
        {"Escape", {Act::Key, VK_ESCAPE}, IDCANCEL},
        {"the close box", {Act::CloseBox, 0}, IDCANCEL},
        {"another command", {Act::Press, 4242}, 4242},
    };
    for (const Case& c : cases) {
        DialogSeen seen;
        int answer = AskWith("C:\\App\\file.txt", c.action, &seen);
        EXPECT_TRUE(seen.appeared) << c.what;
        EXPECT_TRUE(seen.closedByAction) << c.what << ": the dialog had to be cancelled";
        EXPECT_EQ(c.expected, answer) << c.what;
    }
}

TEST_F(ReadOnlyPrompt, AnAmpersandInThePathIsAMnemonic)
{
    DialogSeen seen;
    AskWith("C:\\Tom&Jerry\\x.txt", {Act::Press, IDYES}, &seen);
    ASSERT_TRUE(seen.appeared);
    EXPECT_EQ("RO:C:\\Tom&Jerry\\x.txt", seen.box.text);
    EXPECT_EQ(0, seen.textStyle & SS_NOPREFIX) << "the prompt's text control must underline after '&'";
    EXPECT_EQ(SS_LEFT, seen.textStyle & SS_TYPEMASK);
    EXPECT_EQ(WS_GROUP, seen.textStyle & WS_GROUP);
}

TEST_F(ReadOnlyPrompt, ALongPathIsCutWithinTheBuffer)
{
    std::string path = "C:\\" + std::string(1500, 'p');
    DialogSeen seen;
    EXPECT_EQ(IDYES, AskWith(path.c_str(), {Act::Press, IDYES}, &seen));
    ASSERT_TRUE(seen.appeared);
    EXPECT_EQ(1023u, seen.box.text.size());
    EXPECT_EQ(("RO:" + path).substr(0, 1023), seen.box.text);
}

TEST_F(ReadOnlyPrompt, AnEmptyQuestionMeansYesToAllWithoutADialog)
{
    ui_test::LoadMessages(ui_test::MessagesWith({{9, ""}}));
    DialogSeen seen;
    EXPECT_EQ(1001, AskWith("C:\\App\\file.txt", {Act::Press, IDNO}, &seen));
    EXPECT_FALSE(seen.appeared);
}

TEST_F(ReadOnlyPrompt, ADialogThatCannotBeCreatedMeansNo)
{
    // A module without template 109: the dialog cannot be made.
    TheRun.ModuleInstance = GetModuleHandleA("kernel32.dll");
    DialogSeen seen;
    int answer = AskWith("C:\\App\\file.txt", {Act::Press, IDYES}, &seen);
    TheRun.ModuleInstance = GetModuleHandleA(nullptr);
    EXPECT_FALSE(seen.appeared);
    EXPECT_EQ(IDNO, answer);
}

} // namespace
