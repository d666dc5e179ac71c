// The hidden main window: its class, where it sits, that it stays hidden, and the final drain.
#include "ui_fixture.h"

#include "data/run_context.h"
#include "ui/main_window.h"

namespace {

using ui_test::UiTest;

class MainWindow : public UiTest {};

int delivered = 0;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP + 1)
        ++delivered;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(MainWindow, TheClassCarriesTheIconArrowAndNoBackground)
{
    WNDCLASSA windowClass = {};
    ASSERT_TRUE(GetClassInfoA(TheRun.ModuleInstance, "QuillonClass", &windowClass));
    EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW), windowClass.style);
    EXPECT_EQ(&MainWindowProc, windowClass.lpfnWndProc);
    EXPECT_EQ(0, windowClass.cbClsExtra);
    EXPECT_EQ(0, windowClass.cbWndExtra);
    EXPECT_EQ(GetStockObject(NULL_BRUSH), windowClass.hbrBackground);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), windowClass.hCursor);
    EXPECT_EQ(nullptr, windowClass.lpszMenuName);
    ASSERT_NE(nullptr, windowClass.hIcon) << "icon 800 did not load";
    EXPECT_EQ(LoadIconA(TheRun.ModuleInstance, MAKEINTRESOURCEA(800)), windowClass.hIcon);
}

TEST_F(MainWindow, IsHiddenCentredAndTitledWithMessageZero)
{
    HWND window = TheRun.MainWindow;
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(static_cast<LONG>(WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN),
              GetWindowLongA(window, GWL_STYLE) & ~(WS_CLIPSIBLINGS | WS_VISIBLE));
    EXPECT_EQ(0, GetWindowLongA(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE);
    EXPECT_EQ(nullptr, GetParent(window));
    EXPECT_EQ(nullptr, GetMenu(window));
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ("T:title", title);

    RECT rect;
    ASSERT_TRUE(GetWindowRect(window, &rect));
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GE(screenWidth, 320) << "the test display is too small to see the centring";
    ASSERT_GE(screenHeight, 200);
    EXPECT_EQ((screenWidth - 320) / 2, rect.left);
    EXPECT_EQ((screenHeight - 200) / 2, rect.top);
    EXPECT_EQ(320, rect.right - rect.left);
    EXPECT_EQ(200, rect.bottom - rect.top);
}

TEST_F(MainWindow, TheFinalDrainDeliversWhatWasPostedAndEnds)
{
    // Messages posted before the drain reach their windows; the loop ends on the quit message
    // that destroying the main window posts.
    WNDCLASSA recorderClass = {};
    recorderClass.lpfnWndProc = RecorderProc;
    recorderClass.hInstance = TheRun.ModuleInstance;
    recorderClass.lpszClassName = "UiTestRecorder";
    RegisterClassA(&recorderClass);
    HWND recorder = CreateWindowExA(0, "UiTestRecorder", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                                    TheRun.ModuleInstance, nullptr);
    ASSERT_NE(nullptr, recorder);
    delivered = 0;
    PostMessageA(recorder, WM_APP + 1, 0, 0);
    PostMessageA(recorder, WM_APP + 1, 0, 0);
    HWND mainWindow = TheRun.MainWindow;

    ASSERT_TRUE(ui_test::DrainWithin(10000)) << "the final loop did not end by itself";
    EXPECT_EQ(2, delivered);
    EXPECT_FALSE(IsWindow(mainWindow));
    DestroyWindow(recorder);
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "a quit message was left over";
    ASSERT_TRUE(CreateMainWindow()); // for the fixture's own drain
}

TEST_F(MainWindow, DrainingWithoutAMainWindowStillEnds)
{
    ASSERT_TRUE(DestroyWindow(TheRun.MainWindow));
    // The quit message that destruction posted is taken here, as if something had consumed it.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    TheRun.MainWindow = nullptr;
    EXPECT_TRUE(ui_test::DrainWithin(10000));
    ASSERT_TRUE(CreateMainWindow());
}

} // namespace
