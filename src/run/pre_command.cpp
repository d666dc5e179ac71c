// The pre-uninstall command from the settings: expanded, composed, split and started.
//
// A command whose text starts (behind an optional opening quote and blanks) with '#' is taken as
// a macro form and expanded whole; anything else, and a macro form whose expansion failed (the
// macro left in place, '#' and length unchanged), is taken relative to the uninstaller's folder.
// Arguments are recognised only behind a quoted program: an unquoted "tool.exe /s" is one name.
// The command runs unless /X is given without /S; whether it could start is not looked at.
//
// A composed line that does not fit the 260-byte working path, an expansion whose memory cannot be
// had, or one that does not come out as long as it was measured, skips the command: a cut path
// would start some other program.
#include "pre_command.h"

#include "../data/format.h"
#include "../data/heap.h"
#include "../data/loader.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/macros.h"
#include "../paths/path_helpers.h"
#include "../shell/launch.h"

static const char* SkipBlanks(const char* text)
{
    while (*text == ' ')
        ++text;
    return text;
}

// Splits line in place: a quoted program and the arguments behind its closing quote, or the whole
// line as the program. arguments is null or empty when there are none.
static void SplitCommandLine(char* line, char** program, char** arguments)
{
    *program = line;
    *arguments = nullptr;
    char* closingQuote = line[0] == '"' ? FindChar(line + 1, '"') : nullptr;
    if (closingQuote == nullptr)
        return;
    char* start = const_cast<char*>(SkipBlanks(line + 1));
    char* end = closingQuote;
    while (end - 1 > start && end[-1] == ' ')
        --end;
    *end = '\0';
    *program = start;
    *arguments = const_cast<char*>(SkipBlanks(closingQuote + 1));
}

void RunPreUninstallCommand()
{
    if (TheRun.SwitchX && !TheRun.SwitchS)
        return;
    const char* command = GetPreUninstallCommand();
    if (command == nullptr)
        return;
    const char* body = SkipBlanks(command + (command[0] == '"' ? 1 : 0));

    char* expansion = nullptr;
    char* line = nullptr;
    if (*body == '#') {
        DWORD length = ExpandMacros(nullptr, command, 0);
        expansion = static_cast<char*>(HeapBlockAlloc(length + 1, false));
        if (expansion == nullptr)
            return;
        // Both calls must agree: an expansion that came out longer than measured was cut.
        if (ExpandMacros(expansion, command, length + 1) != length) {
            HeapBlockFree(expansion);
            return;
        }
        DWORD bodyAt = static_cast<DWORD>(body - command);
        bool failed = length == TextLength(command) && expansion[bodyAt] == '#';
        if (!failed)
            line = expansion;
    }
    if (line == nullptr) {
        // The start-up left the folder ending in its backslash.
        line = TheRun.TargetPath;
        if (!ComposeText(line, PATH_SIZE, "%s%s%s", command[0] == '"' ? "\"" : "", TheRun.InstallDir, body))
            line = nullptr;
    }
    if (line != nullptr) {
        char* program;
        char* arguments;
        SplitCommandLine(line, &program, &arguments);
        RunProgram(program, arguments, (GetSettingsFlags() & SETTINGS_WAIT_PRE_COMMAND) != 0);
    }
    if (expansion != nullptr)
        HeapBlockFree(expansion);
}
