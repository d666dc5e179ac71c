// A normal-weight copy of the dialog font, shared by both dialogs.
//
// The templates ask for "Arial" 8; older systems make a template's font bold unless the dialog
// asks for the 3-D look, so the controls are given a normal-weight copy instead. The copy is made once, from whichever dialog
// comes first, and lives until shut-down. Without it the controls keep the template's font.
#include "dialog_font.h"

#include "../run/run_context.h"

void NormalizeDialogFont(HWND dialog)
{
    if (TheRun.DialogFont == nullptr) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
        LOGFONTA description;
        if (font != nullptr && GetObjectA(font, sizeof(description), &description) == sizeof(description)) {
            description.lfWeight = FW_NORMAL;
            TheRun.DialogFont = CreateFontIndirectA(&description);
        }
        if (TheRun.DialogFont == nullptr)
            return;
    }
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(TheRun.DialogFont), FALSE);
}

void ReleaseDialogFont()
{
    if (TheRun.DialogFont == nullptr)
        return;
    DeleteObject(TheRun.DialogFont);
    TheRun.DialogFont = nullptr;
}
