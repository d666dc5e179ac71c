// What both dialogs share: a normal-weight copy of the dialog font, and one dialog procedure.
//
// The templates ask for "Arial" 8; older systems make a template's font bold unless the dialog
// asks for the 3-D look, so the controls are given a normal-weight copy instead. The copy is made
// once, from whichever dialog comes first, and lives until shut-down. Without it the controls keep
// the template's font.
//
// The two dialogs differ in little, so one procedure serves both. The read-only prompt is modal and
// is created with its question: its buttons get their texts, and any command ends it, the command's
// id being the answer. The progress dialog is modeless and created with no question: it swallows
// every command, since Enter, Escape and the close box must not end it while the passes are at work.
#include "dialog_font.h"

#include "resource.h"
#include "../data/format.h"
#include "../data/messages.h"
#include "../data/run_context.h"

static void NormalizeDialogFont(HWND dialog)
{
    HFONT font = TheRun.DialogFont;
    if (font == nullptr) {
        // A null font (the system font) is no object: GetObjectA fails on it.
        LOGFONTA description;
        if (GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof(description),
                       &description) != sizeof(description))
            return;
        description.lfWeight = FW_NORMAL;
        font = TheRun.DialogFont = CreateFontIndirectA(&description);
        if (font == nullptr)
            return;
    }
    // The first child, then each next one, through one call.
    HWND child = dialog;
    UINT relation = GW_CHILD;
    while ((child = GetWindow(child, relation)) != nullptr) {
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        relation = GW_HWNDNEXT;
    }
}

void ReleaseDialogFont()
{
    if (TheRun.DialogFont == nullptr)
        return;
    DeleteObject(TheRun.DialogFont);
    TheRun.DialogFont = nullptr;
}

// The prompt's question, then its buttons in the order of their messages, MSG_YES to MSG_NO_TO_ALL.
static const WORD PromptItemIds[] = {IDC_TEXT, IDYES, IDC_YES_TO_ALL, IDNO, IDC_NO_TO_ALL};

INT_PTR CALLBACK StubDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        NormalizeDialogFont(dialog);
        // What SetWindowTextA does, through a call the stub imports anyway.
        SendMessageA(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(GetMessageText(0, MSG_TITLE)));
        if (lParam != 0) { // the read-only prompt: its question, then its answers (one lookup to spare)
            const char* text = reinterpret_cast<const char*>(lParam);
            for (int item = 0; item < 5; ++item) {
                SetDlgItemTextA(dialog, PromptItemIds[item], text);
                text = GetMessageText(0, MSG_YES + item);
            }
        }
        return TRUE;
    }
    if (message == WM_COMMAND) {
        // The progress dialog is known by its handle; its controls send no command while it is
        // being created, before the handle is recorded.
        if (dialog == TheRun.ProgressDialog)
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
        else
            EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
