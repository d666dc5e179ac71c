// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "main_window.h"
#include "../run/run_context.h"
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}
bool RegisterMainWindowClass()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = TheRun.ModuleInstance;
    windowClass.lpszClassName = "QuillonClass";
    return RegisterClassA(&windowClass) != 0;
}
bool CreateMainWindow()
{
    TheRun.MainWindow = CreateWindowExA(0, "QuillonClass", "", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr, nullptr, TheRun.ModuleInstance, nullptr);
    return TheRun.MainWindow != nullptr;
}
void DrainMessages()
{
    DestroyWindow(TheRun.MainWindow);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0))
        DispatchMessageA(&message);
}
