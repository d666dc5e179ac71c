// The command-line switches /Q, /S and /X ('-' as well as '/', either case).
//
// Only the letter right behind the '/' or '-' counts; the rest of the word is skipped, so /Quiet
// is /Q and /qs is /Q alone. Parsing ends at the first word that is not a switch.
#include "driver.h"
#include "../data/run_context.h"
#include "../data/text.h"

void ParseSwitches(const char* text)
{
    if (text == nullptr)
        return;
    for (;;) {
        while (*text == ' ')
            ++text;
        if (*text != '-' && *text != '/')
            return;
        ++text;
        if (*text == '\0')
            return;
        switch (FoldCase(*text)) {
        case 'Q':
            TheRun.SwitchQ = true;
            break;
        case 'S':
            TheRun.SwitchS = TheRun.SwitchQ = true;
            break;
        case 'X':
            TheRun.SwitchX = TheRun.SwitchQ = true;
            break;
        }
        // The rest of the word: up to the next '-' or '/' (another switch) or a blank.
        ++text;
        while (*text != '\0' && *text != '-' && *text != '/' && *text != ' ')
            ++text;
    }
}
