// Showing a text in a box under the message table's caption, owned by the main window.
//
// In a file of its own so that a program built from the stub's objects without a window (the
// leftover audit) can leave this object out and print the text instead.
#include "messages.h"

#include "format.h"
#include "run_context.h"

int ShowMessage(const char* text, UINT style)
{
    return MessageBoxA(TheRun.MainWindow, text, GetMessageText(0, MSG_TITLE), style);
}
