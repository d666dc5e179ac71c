// Removal of the uninstaller's own executable and folder by a batch that outlives the process.
//
// A running executable cannot delete itself, so the last act of a completed run writes a batch
// file and starts it hidden through the system's command interpreter. The batch keeps trying to
// delete the executable until the uninstaller has ended, removes the folder if that left it
// empty, and deletes itself.
//
// The stub runs elevated, and the interpreter reopens a batch by its path for every line: a batch
// in a folder that the user can change could be swapped between two lines. So on the NT line the
// batch is "delme.bat" in a new folder "delme<n>" below the Windows folder's Temp, which users
// cannot rename, made with an access list that lets only administrators and SYSTEM change it; a
// folder that is there already, whoever made it, is never used. The interpreter's command line
// removes that folder with the batch once the batch has ended (an interpreter may hold the batch
// open while it runs, so the batch cannot remove itself and its folder). The 9x line, which has neither access lists nor elevation, keeps
// "delme<n>.bat" in the temporary folder, made new, which deletes itself. The interpreter is
// started by full path: on the NT line as
//   cmd.exe /D /V:OFF /S /C ""B" & rmdir /s /q "<B's folder>""
// /D: no AutoRun command of the user's runs first; /V:OFF: a "!" in a path is not expanded even
// where the user turned delayed expansion on; /S: the outer quotes go and the inner ones stay, so
// a path that holds "&", "(" or the like stays one argument. On the 9x line: command.com /C "B".
//
// The interpreter expands "%" in batch lines, so every "%" in a path is written doubled. It reads
// the text in the OEM code page, which best-fits characters it lacks ("é" becomes "e", naming
// another file): a text that does not come back unchanged from OEM is never written, and the
// uninstaller then stays. A run without administrator rights on the NT line cannot write into
// the batch's folder, and its uninstaller stays too.
//
// The batch, with E the executable, F the interpreter's folder (the system folder on the NT line,
// the Windows folder on the 9x line), D the uninstaller's folder and B the batch itself:
//
//   @echo off
//   set Q=
//   :Repeat
//   del "E"
//   if not exist "E" goto Done
//   set Q=%Q%x
//   if "%Q%"=="x...x" goto Done          (60 x: about a minute of tries)
//   "F\ping.exe" -n 2 127.0.0.1 >nul     (a pause of about a second)
//   goto Repeat
//   :Done
//   rmdir "D"
//   del "B"                              (on the NT line: rem "B", a comment)
//
// The retries are counted so that an executable that can never be deleted (read-only, or on a
// medium without delete rights) does not keep a hidden interpreter running for ever; the counter
// is a growing text because command.com has no arithmetic. "rmdir" of D has no switches: the
// folder goes only when it is empty.
#include "self_removal.h"

#include <stddef.h>

#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../shell/launch.h"

enum {
    BATCH_LAST_NUMBER = 998,
    BATCH_TEXT_SIZE = 2048, // the text below with five paths of 259 characters fits, "%" undoubled
    BATCH_TRIES = 60,       // the length of the counter that ends the tries
};

// The batch's own "%" stands as BATCH_PERCENT in the format, a character that no path can hold,
// so that one pass can double every "%" that the paths bring and then put the batch's own back.
static const char BATCH_PERCENT = '\1';

// alignas keeps the text unpadded: the compiler would otherwise align it to 32.
alignas(1) static const char BatchFormat[] =
    "@echo off\r\n"
    "set Q=\r\n"
    ":Repeat\r\n"
    "del \"%s\"\r\n"
    "if not exist \"%s\" goto Done\r\n"
    "set Q=\1Q\1x\r\n"
    "if \"\1Q\1\"==\"%s\" goto Done\r\n"
    "\"%s\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
    "goto Repeat\r\n"
    ":Done\r\n"
    "rmdir \"%s\"\r\n"
    "%s \"%s\"\r\n";

// Full access for SYSTEM and administrators, read and execute for everyone else; nothing inherited
// from the folder above. Held ready-made as a self-relative descriptor: the 9x line, which has
// no access lists, never passes it on.
struct AllowedAce {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    SID Sid; // one sub-authority
};
struct AllowedAceTwoRids {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    SID Sid; // two sub-authorities: the second follows
    DWORD SecondSubAuthority;
};
struct BatchDescriptor {
    SECURITY_DESCRIPTOR_RELATIVE Header;
    ACL Dacl;
    AllowedAce System;
    AllowedAceTwoRids Administrators;
    AllowedAce Everyone;
};

// alignas keeps it at the alignment of its fields: the compiler would otherwise pad it to 32.
alignas(4) const BatchDescriptor BatchSecurity = {
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PROTECTED | SE_DACL_PRESENT, 0, 0, 0,
     offsetof(BatchDescriptor, Dacl)},
    {ACL_REVISION, 0, sizeof(BatchDescriptor) - offsetof(BatchDescriptor, Dacl), 3, 0},
    {{ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowedAce)},
     FILE_ALL_ACCESS,
     {SID_REVISION, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID}}},
    {{ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowedAceTwoRids)},
     FILE_ALL_ACCESS,
     {SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID}},
     DOMAIN_ALIAS_RID_ADMINS},
    {{ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowedAce)},
     FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
     {SID_REVISION, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}}},
};

HANDLE CreateBatchFile(char* path)
{
    UINT length = TheRun.IsNT ? GetWindowsDirectoryA(path, PATH_SIZE) : GetTempPathA(PATH_SIZE, path);
    if (!PathLengthFits(length) || (TheRun.IsNT && !AppendToPath(path, PATH_SIZE, "Temp")))
        return INVALID_HANDLE_VALUE;
    DWORD parentLength = TextLength(path);

    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (TheRun.IsNT)
        security.lpSecurityDescriptor = const_cast<BatchDescriptor*>(&BatchSecurity);

    // CREATE_NEW and CreateDirectoryA pass over every name that is taken, by anything.
    for (int n = 1; n <= BATCH_LAST_NUMBER; ++n) {
        char name[16];
        wsprintfA(name, "delme%d", n);
        path[parentLength] = '\0';
        if (!AppendToPath(path, PATH_SIZE, name))
            break;
        DWORD folderLength = TextLength(path);
        if (TheRun.IsNT && !CreateDirectoryA(path, &security))
            continue;
        if (AppendText(path, PATH_SIZE, TheRun.IsNT ? "\\delme.bat" : ".bat")) {
            HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                return file;
        }
        // Nothing else can be in the new folder: another name would fail the same way.
        if (TheRun.IsNT) {
            path[folderLength] = '\0';
            RemoveDirectoryA(path);
            break;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// Copies text into batch (BATCH_TEXT_SIZE bytes) with every "%" doubled and every BATCH_PERCENT
// made a "%". False when it does not fit.
static bool DoublePercents(char* batch, const char* text)
{
    batch[0] = '\0';
    bool fits = true;
    for (; fits && *text != '\0'; ++text) {
        char c = *text;
        if (c == '%')
            fits = AppendChar(batch, BATCH_TEXT_SIZE, '%');
        fits = fits && AppendChar(batch, BATCH_TEXT_SIZE, c == BATCH_PERCENT ? '%' : c);
    }
    return fits;
}

void StartSelfRemoval()
{
    char batchPath[PATH_SIZE];
    char batchFolder[PATH_SIZE];
    char interpreter[PATH_SIZE];
    // Kept out of the stack, which would otherwise need probing.
    static char text[BATCH_TEXT_SIZE];
    static char batch[BATCH_TEXT_SIZE];

    StripTrailingBackslash(TheRun.InstallDir);
    if (!GetUninstallerPath(TheRun.TargetPath))
        return;
    char* name = GetInterpreterPath(interpreter);
    if (name == nullptr)
        return;
    // Cut before its name, the interpreter's path is its folder: the batch takes the pause program
    // from there, and the interpreter inherits it as a folder that is neither the uninstaller's nor
    // the user's.
    name[-1] = '\0';
    SetCurrentDirectoryA(interpreter);

    HANDLE file = CreateBatchFile(batchPath);
    if (file == INVALID_HANDLE_VALUE)
        return;
    CopyText(batchFolder, sizeof batchFolder, batchPath);
    *FindLastChar(batchFolder, '\\') = '\0';
    char lastCount[BATCH_TRIES + 1]; // built here rather than held as 60 bytes of text
    FillBytes(lastCount, 'x', BATCH_TRIES);
    lastCount[BATCH_TRIES] = '\0';
    bool written = false;
    if (ComposeText(text, sizeof text, BatchFormat, TheRun.TargetPath, TheRun.TargetPath, lastCount, interpreter,
                    TheRun.InstallDir, TheRun.IsNT ? "rem" : "del", batchPath)) {
        // ASCII comes back from OEM unchanged, so comparing without regard to case hides no change.
        CharToOemA(text, batch);
        OemToCharA(batch, batch);
        if (TextEqualsNoCase(text, batch) && DoublePercents(batch, text)) {
            CharToOemA(batch, batch);
            DWORD size = TextLength(batch);
            DWORD wrote = 0;
            written = WriteFile(file, batch, size, &wrote, nullptr) && wrote == size;
        }
    }
    CloseHandle(file);

    // A partial batch could end inside a path and delete another file: only a whole one runs.
    if (written) {
        name[-1] = '\\';
        HANDLE process = nullptr;
        if (ComposeText(text, sizeof text,
                        TheRun.IsNT ? "%s /D /V:OFF /S /C \"\"%s\" & rmdir /s /q \"%s\"\"" : "%s /C \"%s\"", name,
                        batchPath, batchFolder))
            process = CreateProgramProcess(interpreter, text, true, false);
        if (process != nullptr) {
            CloseHandle(process);
            return;
        }
    }
    DeleteFileA(batchPath);
    if (TheRun.IsNT)
        RemoveDirectoryA(batchFolder);
}
