// The read-only prompt when its text buffer cannot be had: the answer is No and nothing is shown.
// Built with the failing heap, which reads QUILLON_FAIL_ALLOC at its first request.
#include <gtest/gtest.h>

#include "data/run_context.h"
#include "ui_fixture.h"
#include "ui/main_window.h"
#include "ui/readonly_prompt.h"

namespace {

// Set by hand: the heap must not be touched before the test decides which requests fail.
char TitleText[] = "T:title";
char EmptyText[] = "";
char QuestionText[] = "RO:%s";
char* Table[] = {TitleText, EmptyText, EmptyText, EmptyText, EmptyText, EmptyText,
                 EmptyText, EmptyText, EmptyText, QuestionText, nullptr};

TEST(ReadOnlyPromptWithoutMemory, AnswersNoWithoutADialogThenAsksOnceMemoryIsBack)
{
    // The request and its one retry fail; the requests after them succeed.
    ASSERT_TRUE(SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", "0,2"));
    TheRun.ModuleInstance = GetModuleHandleA(nullptr);
    TheRun.MessageTable = Table;
    ASSERT_TRUE(RegisterMainWindowClass());
    ASSERT_TRUE(CreateMainWindow());

    {
        ui_test::DialogWatcher watcher({ui_test::Act::Press, IDYES});
        EXPECT_EQ(IDNO, ShowReadOnlyPrompt("C:\\App\\file.txt"));
        EXPECT_FALSE(watcher.Finish().appeared);
    }
    {
        ui_test::DialogWatcher watcher({ui_test::Act::Press, IDYES});
        EXPECT_EQ(IDYES, ShowReadOnlyPrompt("C:\\App\\file.txt")) << "the first No was not the heap's";
        ui_test::DialogSeen seen = watcher.Finish();
        EXPECT_TRUE(seen.appeared);
        EXPECT_EQ("RO:C:\\App\\file.txt", seen.box.text);
    }
    EXPECT_TRUE(ui_test::DrainWithin(10000));
    TheRun.MessageTable = nullptr;
}

} // namespace
