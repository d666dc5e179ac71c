// The modeless progress dialog and the message pump that keeps it alive.
//
// The removal passes run on the only thread, so the dialog is painted and moved only when a pass
// hands control to the pump. That happens when the whole-percent position changes, so a pass over
// many entries pays for at most one bar update and one pump per percent. The dialog swallows every
// command (see StubDialogProc): Enter, Escape and the close box must not end it while the passes
// are still at work.
#include "progress.h"

#include <windows.h>
#include <commctrl.h>

#include "dialog_font.h"
#include "resource.h"
#include "../data/format.h"
#include "../data/messages.h"
#include "../data/run_context.h"

bool OpenProgressDialog()
{
    TheRun.ProgressDialog =
        CreateDialogParamA(TheRun.ModuleInstance, MAKEINTRESOURCEA(IDD_PROGRESS), TheRun.MainWindow, StubDialogProc, 0);
    if (TheRun.ProgressDialog == nullptr)
        return false;
    TheRun.ProgressBar = GetDlgItem(TheRun.ProgressDialog, IDC_PROGRESS);
    return true;
}

void SetStatusText(int message)
{
    if (TheRun.ProgressDialog != nullptr)
        SetDlgItemTextA(TheRun.ProgressDialog, IDC_TEXT, GetMessageText(0, message));
}

void SetProgress(unsigned percent)
{
    if (percent > 100)
        percent = 100;
    if (percent == TheRun.LastProgressPos)
        return; // also makes a first report of 0 free
    TheRun.LastProgressPos = percent;
    if (TheRun.ProgressBar != nullptr)
        SendMessageA(TheRun.ProgressBar, PBM_SETPOS, percent, 0);
    PumpPendingMessages();
}

// The dialog is destroyed; the handles are forgotten too, so that a late status line or progress
// report can never reach a window that no longer exists (or a new one that reuses its handle).
void CloseProgressDialog()
{
    if (TheRun.ProgressDialog == nullptr)
        return;
    DestroyWindow(TheRun.ProgressDialog);
    TheRun.ProgressDialog = nullptr;
    TheRun.ProgressBar = nullptr;
}

void PumpPendingMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            continue; // dropped: the pump, the final drain too, ends on an empty queue
        // IsDialogMessageA translates and dispatches the dialog's own messages; no other window of
        // the stub takes keys, so the rest goes out untranslated.
        if (TheRun.ProgressDialog == nullptr || !IsDialogMessageA(TheRun.ProgressDialog, &message))
            DispatchMessageA(&message);
    }
}
