// The modal question asked before a read-only file is deleted.
//
// The dialog procedure is the one both dialogs share (StubDialogProc), given the question.
// The four answers are the button ids themselves; whatever else ends the dialog (Escape and the
// close box give IDCANCEL) comes back as it is, and the file pass takes it as No. When the data
// has no text for the question there is nothing to ask, and read-only files go without asking.
#include "readonly_prompt.h"

#include "dialog_font.h"
#include "resource.h"
#include "../data/format.h"
#include "../data/memory.h"
#include "../data/messages.h"
#include "../data/run_context.h"

int ShowReadOnlyPrompt(const char* path)
{
    char* text = NewFormattedMessage(MSG_READ_ONLY, path);
    if (text == nullptr)
        return IDNO;
    int answer = IDC_YES_TO_ALL;
    if (text[0] != '\0')
        answer = static_cast<int>(DialogBoxParamA(TheRun.ModuleInstance, MAKEINTRESOURCEA(IDD_READONLY_PROMPT),
                                                  TheRun.MainWindow, StubDialogProc, reinterpret_cast<LPARAM>(text)));
    MemRelease(&text);
    return answer == -1 ? IDNO : answer; // -1: the dialog could not be shown
}
