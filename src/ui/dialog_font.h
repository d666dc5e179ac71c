// A normal-weight copy of the dialog font, made once and shared by both dialogs.
#pragma once

#include <windows.h>

void NormalizeDialogFont(HWND dialog);
void ReleaseDialogFont();
