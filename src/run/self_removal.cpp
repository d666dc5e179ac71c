// Removal of the uninstaller's own executable and folder by a batch that outlives the process.
//
// A running executable cannot delete itself, so the last act of a completed run writes a batch
// file "delme<n>.bat" into the temporary folder and starts it hidden through the system's command
// interpreter. The batch keeps trying to delete the executable until the uninstaller has ended,
// removes the folder if that left it empty, and deletes itself.
//
// The stub runs elevated and the temporary folder belongs to the user, so the batch is made new
// (never a file that is already there) and, on the NT line, with an access list that lets only
// administrators and SYSTEM change it. The interpreter and the pause program are named by full
// path. The text is written in the OEM code page, in which the interpreter reads it.
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
//   del "B"
//
// The retries are counted so that an executable that can never be deleted (read-only, or on a
// medium without delete rights) does not keep a hidden interpreter running for ever; the counter
// is a growing text because command.com has no arithmetic. "rmdir" has no switches: the folder
// goes only when it is empty.
#include "self_removal.h"

#include <stddef.h>

#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../shell/launch.h"

enum {
    BATCH_LAST_NUMBER = 998,
    BATCH_NAME_SIZE = 1025, // wsprintfA writes at most 1,024 characters and the NUL
    BATCH_TEXT_SIZE = 2048, // the text below with five paths of 259 characters fits
    BATCH_TRIES = 60,       // the length of the counter that ends the tries
};

// alignas keeps the text unpadded: the compiler would otherwise align it to 32.
alignas(1) static const char BatchFormat[] =
    "@echo off\r\n"
    "set Q=\r\n"
    ":Repeat\r\n"
    "del \"%s\"\r\n"
    "if not exist \"%s\" goto Done\r\n"
    "set Q=%Q%x\r\n"
    "if \"%Q%\"==\"%s\" goto Done\r\n"
    "\"%s\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
    "goto Repeat\r\n"
    ":Done\r\n"
    "rmdir \"%s\"\r\n"
    "del \"%s\"\r\n";

// Full access for SYSTEM and administrators, read and execute for everyone else; not inherited
// from the temporary folder. Held ready-made as a self-relative descriptor: the 9x line, which has
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

HANDLE CreateTempBatch(char* path, const char* nameFormat)
{
    if (!PathLengthFits(GetTempPathA(PATH_SIZE, path)))
        return INVALID_HANDLE_VALUE;
    DWORD folderLength = TextLength(path);

    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (TheRun.IsNT)
        security.lpSecurityDescriptor = const_cast<BatchDescriptor*>(&BatchSecurity);

    // CREATE_NEW passes over every name that is taken, by a file or anything else. A name that does
    // not fit is no file to try.
    for (int n = 1; n <= BATCH_LAST_NUMBER; ++n) {
        char name[BATCH_NAME_SIZE];
        wsprintfA(name, nameFormat, n);
        path[folderLength] = '\0';
        if (!AppendToPath(path, PATH_SIZE, name))
            continue;
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

void StartSelfRemoval()
{
    char batchPath[PATH_SIZE];
    char interpreter[PATH_SIZE];
    char text[BATCH_TEXT_SIZE];

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

    HANDLE batch = CreateTempBatch(batchPath, "delme%d.bat");
    if (batch == INVALID_HANDLE_VALUE)
        return;
    char lastCount[BATCH_TRIES + 1]; // built here rather than held as 60 bytes of text
    FillBytes(lastCount, 'x', BATCH_TRIES);
    lastCount[BATCH_TRIES] = '\0';
    bool written = false;
    if (ComposeText(text, sizeof text, BatchFormat, TheRun.TargetPath, TheRun.TargetPath, lastCount, interpreter,
                    TheRun.InstallDir, batchPath)) {
        CharToOemA(text, text);
        DWORD size = TextLength(text);
        DWORD wrote = 0;
        written = WriteFile(batch, text, size, &wrote, nullptr) && wrote == size;
    }
    CloseHandle(batch);

    // A partial batch could end inside a path and delete another file: only a whole one runs.
    if (written) {
        name[-1] = '\\';
        HANDLE process = nullptr;
        if (ComposeText(text, sizeof text, "%s /C \"%s\"", name, batchPath))
            process = CreateProgramProcess(interpreter, text, true, false);
        if (process != nullptr) {
            CloseHandle(process);
            return;
        }
    }
    DeleteFileA(batchPath);
}
