// The file removal pass: the listed files and folders, last entry first, so that a folder listed
// before its files is tried after they are gone. Before a file goes it is tested for being in use,
// a shared DLL loses one reference under SharedDLLs (and the user is asked before the last one
// goes), a font is deregistered and a COM server unregistered; a read-only file goes only as the
// read-only policy or the user allows. Every failure is silent: what cannot go stays.
//
// Also here: the path rule for file entries, shared with the folder passes, and the in-use test
// the driver runs before anything is removed. A path that would not fit TargetPath leaves it
// empty, and every caller skips such an entry: a cut path would name another file.
#include "files.h"

#include "com_server.h"
#include "folder_pins.h"
#include "fonts.h"
#include "pass_helpers.h"
#include "../data/file_io.h"
#include "../data/format.h"
#include "../data/memory.h"
#include "../data/messages.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../paths/protected_folders.h"
#include "../ui/progress.h"
#include "../ui/readonly_prompt.h"

static const char SharedDllsName[] = "SharedDLLs"; // below the CurrentVersion key

// The runtime's write-access check: 0 when the path may be written, otherwise the error of the
// attribute query, or access denied for a read-only file.
static DWORD CheckWriteAccess(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error != 0 ? error : ERROR_FILE_NOT_FOUND;
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) ? ERROR_ACCESS_DENIED : 0;
}

// Sets the read-only attribute to readOnly (FILE_ATTRIBUTE_READONLY or 0), keeping the others.
static void SetReadOnlyAttribute(const char* path, DWORD readOnly)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(path, (attributes & ~FILE_ATTRIBUTE_READONLY) | readOnly);
}

// True when the file can be opened for writing; the handle is closed again at once.
static bool OpensForWriting(const char* path)
{
    HANDLE file = OpenExistingFile(path, OPEN_MODE_READ_WRITE);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseFile(file);
    return true;
}

bool IsFileInUse(const char* path)
{
    DWORD error = CheckWriteAccess(path);
    if (error == ERROR_ACCESS_DENIED) {
        // Read-only: the open for writing needs the attribute cleared for a moment; it comes back.
        // An attribute that would not go (or attributes that cannot be read) makes the open fail,
        // so such a file counts as in use without a second test.
        SetReadOnlyAttribute(path, 0);
    } else if (error != 0) {
        return false; // missing: nothing holds it
    }
    bool inUse = !OpensForWriting(path);
    if (error != 0)
        SetReadOnlyAttribute(path, FILE_ATTRIBUTE_READONLY);
    return inUse;
}

bool AnyFileInUse()
{
    for (DWORD index = 0; index < TheRun.FileCount; ++index) {
        const FileEntry* entry = TheRun.FileList[index];
        if (entry->FileName[0] == '\0' || !(entry->Flags & FILE_CHECK_IN_USE))
            continue;
        BuildEntryPath(entry);
        if (TheRun.TargetPath[0] != '\0' && IsFileInUse(TheRun.TargetPath))
            return true;
    }
    return false;
}

// Lowers the shared file's reference count and asks before a file whose references have run out
// (or were never counted) is deleted. Returns whether the file may go. Out of line, so that the
// pass keeps a small frame.
__attribute__((noinline)) static bool ReleaseSharedReference(bool inUse)
{
    const char* path = TheRun.TargetPath;
    bool removable = !inUse;
    HKEY key = OpenBelowCurrentVersion(SharedDllsName, KEY_ALL_ACCESS);
    DWORD count = 0; // a shorter value leaves the rest zero; an empty one has run out, as 1 would
    DWORD type = REG_DWORD;
    DWORD size = sizeof count;
    // Without the key the query fails on the null handle: nothing is counted, and the file still
    // brings the question.
    if (RegQueryValueExA(key, path, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) == ERROR_SUCCESS) {
        if (count > 1) {
            --count;
            removable = false;
        } else {
            count = 0;
        }
        // A file in use keeps its last reference: it stays, and so must its count.
        if (!inUse || count != 0)
            RegSetValueExA(key, path, 0, type, reinterpret_cast<const BYTE*>(&count), size);
    }
    if (removable) {
        // An empty question, or none for want of memory, asks nothing; releasing none is harmless.
        char* question = NewFormattedMessage(MSG_SHARED_FILE, path);
        removable = question == nullptr || question[0] == '\0' ||
                    ShowMessage(question, MB_YESNO | MB_ICONQUESTION) == IDYES;
        MemRelease(&question);
    }
    DeleteValueAndCloseKey(key, removable ? path : nullptr);
    return removable;
}

// A deletion refused for lack of access or because another process holds the file.
static bool DeleteWasRefused()
{
    DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Deletes the file in TargetPath; a read-only one only as the policy or the prompt allows. Fonts
// and COM servers have been deregistered already, so they go without asking. A read-only file is
// deleted once more after its attribute is cleared; only a Yes to the prompt tries again after
// that, so that an attribute that would not go brings the question back.
static void DeleteTargetFile(BYTE flags)
{
    const char* path = TheRun.TargetPath;
    bool askedYes = true; // the first failure is always looked into
    while (!DeleteFileA(path) && askedYes) {
        if (!DeleteWasRefused() || CheckWriteAccess(path) != ERROR_ACCESS_DENIED)
            return; // not a read-only file: it stays
        askedYes = false;
        if (!(flags & (FILE_FONT | FILE_COM_SERVER)) && TheRun.ReadOnlyPolicy != 1) {
            if (TheRun.ReadOnlyPolicy == 0)
                return;
            int answer = ShowReadOnlyPrompt(path);
            if (answer == IDC_YES_TO_ALL_ANSWER) {
                TheRun.ReadOnlyPolicy = 1;
            } else if (answer == IDYES) {
                askedYes = true;
            } else {
                if (answer == IDC_NO_TO_ALL_ANSWER)
                    TheRun.ReadOnlyPolicy = 0;
                return;
            }
        }
        SetReadOnlyAttribute(path, 0);
    }
}

static void RemoveEntry(const FileEntry* entry)
{
    BuildEntryPath(entry);
    char* path = TheRun.TargetPath;
    if (path[0] == '\0')
        return; // too long to name, or names nothing
    if (entry->FileName[0] == '\0') {
        RemoveUnprotectedFolder(path); // only an empty folder goes
        return;
    }
    // Its folders stay pinned while the file is counted, unregistered and deleted: a font or COM
    // server reached through a link is not ours to deregister.
    if (!PinFolders(path, false))
        return;
    bool inUse = IsFileInUse(path);
    bool removable = !inUse;
    if (entry->Flags & FILE_SHARED_DLL)
        removable = ReleaseSharedReference(inUse);
    if (!removable)
        return;
    if (entry->Flags & FILE_FONT)
        RemoveFont(path);
    if (entry->Flags & FILE_COM_SERVER)
        UnregisterComServer();
    DeleteTargetFile(entry->Flags);
}

// Out of line: inlined into the driver, the pass's locals would live in the driver's large frame,
// where every access takes a longer instruction.
__attribute__((noinline)) void RemoveFiles()
{
    DWORD handled = 0;
    for (DWORD index = TheRun.FileCount; index-- > 0; ++handled) {
        RemoveEntry(TheRun.FileList[index]);
        ReportRemovalStep(handled);
    }
}
