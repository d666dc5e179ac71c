// The progress dialog, its status line and bar, and the message pump.
#include "ui_fixture.h"

#include <commctrl.h>

#include "data/run_context.h"
#include "ui/dialog_font.h"
#include "ui/progress.h"

namespace {

using ui_test::MarkerQueued;
using ui_test::PostMarker;
using ui_test::UiTest;

class Progress : public UiTest {};

std::string TextOf(HWND window)
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

LRESULT BarPosition()
{
    return SendMessageA(TheRun.ProgressBar, PBM_GETPOS, 0, 0);
}

TEST_F(Progress, OpensVisibleOwnedTitledWithItsBar)
{
    ASSERT_TRUE(OpenProgressDialog());
    HWND dialog = TheRun.ProgressDialog;
    ASSERT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the template's WS_VISIBLE shows it at once";
    EXPECT_EQ(TheRun.MainWindow, GetWindow(dialog, GW_OWNER));
    EXPECT_EQ("T:title", TextOf(dialog));
    EXPECT_EQ(GetDlgItem(dialog, 1009), TheRun.ProgressBar);
    char className[64] = "";
    GetClassNameA(TheRun.ProgressBar, className, sizeof className);
    EXPECT_STREQ("msctls_progress32", className);
    PBRANGE range = {};
    SendMessageA(TheRun.ProgressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(100, range.iHigh);

    SetStatusText(11);
    EXPECT_EQ("S:files", TextOf(GetDlgItem(dialog, 1000)));
    SetStatusText(14);
    EXPECT_EQ("S:registry", TextOf(GetDlgItem(dialog, 1000)));
    SetStatusText(40); // a message the table does not have reads as empty
    EXPECT_EQ("", TextOf(GetDlgItem(dialog, 1000)));

    // Seen from outside, as the end-to-end tests see it.
    qt::Box box;
    ASSERT_TRUE(qt::ReadBox(dialog, &box));
    EXPECT_EQ(qt::BoxKind::Progress, box.kind);
}

TEST_F(Progress, EnterEscapeAndTheCloseBoxLeaveItOpen)
{
    ASSERT_TRUE(OpenProgressDialog());
    HWND dialog = TheRun.ProgressDialog;
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        int command;
    };
    const Case cases[] = {
        {"Enter", WM_KEYDOWN, VK_RETURN, IDOK},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, IDCANCEL},
        {"close box", WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
    };
    for (const Case& c : cases) {
        ui_test::CommandRecorder recorder(dialog);
        ASSERT_TRUE(PostMessageA(dialog, c.message, c.wParam, 0));
        PumpPendingMessages(); // the keys go through the dialog manager there
        ASSERT_TRUE(IsWindow(dialog)) << c.what;
        EXPECT_TRUE(IsWindowVisible(dialog)) << c.what;
        ASSERT_EQ(1u, recorder.commands.size()) << c.what << ": the command did not reach the dialog";
        EXPECT_EQ(c.command, recorder.commands[0].id) << c.what;
        EXPECT_EQ(1, recorder.commands[0].msgResult) << c.what << ": the command was not taken";
    }
    // A command sent straight to it answers 1, the swallowed command's result.
    EXPECT_EQ(1, SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0));
    EXPECT_TRUE(IsWindow(dialog));
}

TEST_F(Progress, StatusLineShowsAmpersandsAsTheyAre)
{
    ui_test::LoadMessages(ui_test::MessagesWith({{11, "Removing A&B"}}));
    ASSERT_TRUE(OpenProgressDialog());
    HWND status = GetDlgItem(TheRun.ProgressDialog, 1000);
    SetStatusText(11);
    EXPECT_EQ("Removing A&B", TextOf(status));
    LONG style = GetWindowLongA(status, GWL_STYLE);
    EXPECT_EQ(SS_NOPREFIX, style & SS_NOPREFIX) << "an ampersand would underline the next letter";
    EXPECT_EQ(SS_LEFT, style & SS_TYPEMASK);
}

// One step of a table of progress reports: the value given, the bar position expected after it,
// and whether the queue was pumped.
struct ProgressStep {
    unsigned given;
    LRESULT expectedBar;
    bool pumped;
};

TEST_F(Progress, PositionsAreClampedAndRepeatsCostNothing)
{
    ASSERT_TRUE(OpenProgressDialog());
    const ProgressStep steps[] = {
        {0, 0, false},            // a first 0 equals the starting position: nothing happens
        {1, 1, true},
        {40, 40, true},
        {40, 40, false},          // repeated: nothing sent, nothing pumped
        {150, 100, true},         // clamped
        {100, 100, false},        // equals the clamped value
        {0xFFFFFFFFu, 100, false}, // unsigned: the largest value is clamped too
        {30, 30, true},           // backwards like any other change
        {0, 0, true},             // a later 0 is a change
    };
    for (const ProgressStep& step : steps) {
        // Move the bar by hand, so that a skipped report shows as a bar left where we put it.
        LRESULT before = BarPosition();
        LRESULT planted = before == 77 ? 78 : 77;
        if (!step.pumped)
            SendMessageA(TheRun.ProgressBar, PBM_SETPOS, planted, 0);
        PostMarker();
        SetProgress(step.given);
        if (step.pumped) {
            EXPECT_EQ(step.expectedBar, BarPosition()) << step.given;
            EXPECT_FALSE(MarkerQueued()) << step.given << ": the queue was not pumped";
        } else {
            EXPECT_EQ(planted, BarPosition()) << step.given << ": a message reached the bar";
            EXPECT_TRUE(MarkerQueued()) << step.given << ": the queue was pumped";
            SendMessageA(TheRun.ProgressBar, PBM_SETPOS, step.expectedBar, 0);
        }
        EXPECT_EQ(static_cast<unsigned>(step.expectedBar), TheRun.LastProgressPos) << step.given;
        ui_test::DiscardMarkers();
    }
}

TEST_F(Progress, WithoutADialogPositionsAreStillRecordedAndPumped)
{
    // Quiet mode: no dialog, no bar; status lines are skipped.
    SetStatusText(11);
    PostMarker();
    SetProgress(150);
    EXPECT_EQ(100u, TheRun.LastProgressPos);
    EXPECT_FALSE(MarkerQueued());
    PostMarker();
    SetProgress(100);
    EXPECT_TRUE(MarkerQueued());
    ui_test::DiscardMarkers();
}

TEST_F(Progress, AfterClosingNothingReachesTheOldWindows)
{
    ASSERT_TRUE(OpenProgressDialog());
    HWND dialog = TheRun.ProgressDialog;
    CloseProgressDialog();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, TheRun.ProgressDialog);
    EXPECT_EQ(nullptr, TheRun.ProgressBar);
    SetStatusText(12);
    SetProgress(55);
    EXPECT_EQ(55u, TheRun.LastProgressPos);
    CloseProgressDialog(); // a second close does nothing
}

TEST_F(Progress, ThePumpRunsWhatWaitsDropsQuitAndNeverBlocks)
{
    ASSERT_TRUE(OpenProgressDialog());
    PostMarker();
    PostQuitMessage(0);
    PostMarker();
    PumpPendingMessages();
    EXPECT_FALSE(MarkerQueued());
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) << "something was left waiting";
    PumpPendingMessages(); // an empty queue returns at once
}

TEST_F(Progress, BothDialogsShareOneNormalWeightFont)
{
    ASSERT_TRUE(OpenProgressDialog());
    ASSERT_NE(nullptr, TheRun.DialogFont);
    LOGFONTA font = {};
    ASSERT_EQ(static_cast<int>(sizeof font), GetObjectA(TheRun.DialogFont, sizeof font, &font));
    EXPECT_EQ(FW_NORMAL, font.lfWeight);
    EXPECT_STREQ("Arial", font.lfFaceName);
    for (HWND child = GetWindow(TheRun.ProgressDialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        EXPECT_EQ(reinterpret_cast<WPARAM>(TheRun.DialogFont), SendMessageA(child, WM_GETFONT, 0, 0));
    // The dialog keeps its own font.
    EXPECT_NE(reinterpret_cast<LRESULT>(TheRun.DialogFont), SendMessageA(TheRun.ProgressDialog, WM_GETFONT, 0, 0));

    // A second dialog reuses the font made for the first.
    HFONT first = TheRun.DialogFont;
    CloseProgressDialog();
    ASSERT_TRUE(OpenProgressDialog());
    EXPECT_EQ(first, TheRun.DialogFont);
    EXPECT_EQ(reinterpret_cast<LRESULT>(first), SendMessageA(GetDlgItem(TheRun.ProgressDialog, 1000), WM_GETFONT, 0, 0));

    // Shut-down deletes it; the next dialog would make a new one.
    CloseProgressDialog();
    ReleaseDialogFont();
    EXPECT_EQ(nullptr, TheRun.DialogFont);
    EXPECT_EQ(0, GetObjectA(first, sizeof font, &font)) << "the font object still exists";
    ReleaseDialogFont(); // a second release does nothing
    ASSERT_TRUE(OpenProgressDialog());
    EXPECT_NE(nullptr, TheRun.DialogFont);
}

} // namespace
