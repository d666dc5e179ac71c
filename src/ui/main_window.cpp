// The hidden main window: owner of every message box and dialog, and the end of the final loop.
//
// It is never shown. Owning the boxes keeps them together in the task list and on top of one
// another. At tear-down it is destroyed and the final drain delivers every message still waiting,
// so every message posted before that point is still delivered; the quit message that the
// destruction posts is handed out only after the posted ones, and is dropped.
#include "main_window.h"

#include "progress.h"
#include "resource.h"
#include "../data/format.h"
#include "../data/messages.h"
#include "../data/run_context.h"

static const char MainWindowClassName[] = "QuillonClass";

enum { MAIN_WINDOW_WIDTH = 320, MAIN_WINDOW_HEIGHT = 200 };

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_DESTROY)
        return DefWindowProcA(window, message, wParam, lParam);
    PostQuitMessage(0);
    return 0; // the customary answer to WM_DESTROY
}

bool RegisterMainWindowClass()
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = TheRun.ModuleInstance;
    windowClass.hIcon = LoadIconA(TheRun.ModuleInstance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = MainWindowClassName;
    return RegisterClassA(&windowClass) != 0;
}

// Centred on the screen; on a screen smaller than the window the corner stays on it.
static int CentredOrigin(int screenSize, int windowSize)
{
    int spare = screenSize - windowSize;
    return spare > 0 ? spare / 2 : 0;
}

bool CreateMainWindow()
{
    int x = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), MAIN_WINDOW_WIDTH);
    int y = CentredOrigin(GetSystemMetrics(SM_CYSCREEN), MAIN_WINDOW_HEIGHT);
    TheRun.MainWindow = CreateWindowExA(0, MainWindowClassName, GetMessageText(0, MSG_TITLE),
                                        WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, MAIN_WINDOW_WIDTH,
                                        MAIN_WINDOW_HEIGHT, nullptr, nullptr, TheRun.ModuleInstance, nullptr);
    return TheRun.MainWindow != nullptr;
}

void DrainMessages()
{
    // The pump takes what waits and returns on an empty queue, so the drain ends with or without a
    // window to destroy.
    DestroyWindow(TheRun.MainWindow);
    TheRun.MainWindow = nullptr;
    PumpPendingMessages();
}
