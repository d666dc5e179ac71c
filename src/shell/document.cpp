// Opening the closing document, a local file or a web address, after the removal.
//
// The shell's "open" verb comes first. When the shell cannot open the target, the command that
// the registry gives the ".htm" class is run with the target in place of its placeholder; what
// stood behind the placeholder (switches included) is dropped, as the class commands of browsers
// of that time expected. A local file opens in its own folder; a web address has no folder.
//
// A command text that cannot be read whole, or that does not fit with the target, is not run:
// a cut or left-over text would start something other than the document's handler.
#include "document.h"

#include "../data/format.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"

enum { DOCUMENT_BUFFER_SIZE = 520 };

static char* FindText(char* text, const char* part)
{
    for (; *text != '\0'; ++text) {
        DWORD i = 0;
        while (part[i] != '\0' && text[i] == part[i])
            ++i;
        if (part[i] == '\0')
            return text;
    }
    return nullptr;
}

// An empty buffer means "nothing usable": a value that is missing, not text or too long is never
// passed on as a class name or a command. The unnamed value is read as every path value of the
// stub is, through the shared reader: a text stored without its NUL gets one.
LONG ReadClassesRootDefault(HKEY root, const char* keyPath, char* buffer)
{
    HKEY key;
    LONG result = RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    if (!ReadPathValue(key, nullptr, buffer))
        buffer[0] = '\0';
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

// True when the key under HKEY_CLASSES_ROOT opens and its unnamed value is a usable, non-empty text.
static bool ReadUsableDefault(const char* keyPath, char* buffer)
{
    return ReadClassesRootDefault(HKEY_CLASSES_ROOT, keyPath, buffer) == ERROR_SUCCESS && buffer[0] != '\0';
}

void OpenDocument(const char* target, const char* extension)
{
    char folder[DOCUMENT_BUFFER_SIZE];
    char command[DOCUMENT_BUFFER_SIZE];

    const char* directory = nullptr;
    if (!TextStartsWithNoCase(target, "http://") && !TextStartsWithNoCase(target, "https://") &&
        CopyText(folder, sizeof folder, target)) {
        char* lastBackslash = FindLastChar(folder, '\\');
        if (lastBackslash != nullptr) {
            *lastBackslash = '\0';
            directory = folder;
        }
    }
    if (reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", target, nullptr, directory, SW_SHOW)) > 32)
        return;

    // The class named by the extension, then that class's open command.
    if (!ReadUsableDefault(extension, command) || !AppendText(command, sizeof command, "\\shell\\open\\command") ||
        !ReadUsableDefault(command, command))
        return;
    char* placeholder = FindText(command, "\"%1\"");
    if (placeholder == nullptr)
        placeholder = FindText(command, "%1");
    if (placeholder != nullptr)
        *placeholder = '\0';
    if (ComposeText(folder, sizeof folder, "%s %s", command, target))
        WinExec(folder, SW_SHOW);
}
