// What both dialogs share: a normal-weight copy of the dialog font, made once, and one dialog
// procedure.
#pragma once

#include <windows.h>

void ReleaseDialogFont();
INT_PTR CALLBACK StubDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
