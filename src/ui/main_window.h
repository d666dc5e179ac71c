// The hidden main window: owner of every box and dialog, and the end of the final message loop.
#pragma once

#include <windows.h>

bool RegisterMainWindowClass();
bool CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DrainMessages();
