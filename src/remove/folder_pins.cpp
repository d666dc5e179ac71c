// Folder pins: the elevated passes must not follow a junction, symbolic link or mount point that an
// unprivileged user put along a listed path, nor let one be swapped in after the check. Each folder
// along a path is opened without delete sharing and with the link itself (not its target) named,
// so that while the handle is held nobody can rename, delete or replace that folder; only then is
// it checked for being a link. A link is followed only when SYSTEM or the Administrators own it.
//
// The chain of pins is kept between calls: consecutive entries of one folder reuse it, so each
// folder is opened once per run of entries, not once per file. Opening needs only traverse access,
// which the system's compatibility junctions grant even where they deny listing; it still counts
// as read access for sharing, so the missing delete sharing holds.
#include "folder_pins.h"

#include "../data/format.h"
#include "../data/run_context.h"

static char PinnedPath[PATH_SIZE]; // the pinned folders' path, as far as PinCount reaches
static HANDLE Pins[PATH_SIZE / 2];  // one per folder, from below the root down
static DWORD PinCount;

bool IsPrivilegedOwner(const void* descriptor)
{
    // Self-relative: the owner's offset follows revision and control. SIDs compared as words:
    // revision and count, then the NT authority, then the sub-authorities.
    const BYTE* bytes = static_cast<const BYTE*>(descriptor);
    const DWORD* sid = reinterpret_cast<const DWORD*>(bytes + reinterpret_cast<const DWORD*>(bytes)[1]);
    if (sid[1] != 0x05000000)
        return false;
    return (sid[0] == 0x0101 && sid[2] == SECURITY_LOCAL_SYSTEM_RID) ||
           (sid[0] == 0x0201 && sid[2] == SECURITY_BUILTIN_DOMAIN_RID && sid[3] == DOMAIN_ALIAS_RID_ADMINS);
}

typedef BOOL(WINAPI* GetKernelObjectSecurityFunction)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                                       DWORD, LPDWORD);

// Drops the pins below the first keep of the chain.
static void DropPinsBelow(DWORD keep)
{
    while (PinCount > keep)
        CloseHandle(Pins[--PinCount]);
}

// Opens and pins the folder at path as the next of the chain; true when it may be followed. A
// refused one is dropped by the caller, so that it is never reused unchecked.
static bool PinNextFolder(const char* path)
{
    HANDLE folder = CreateFileA(path, FILE_TRAVERSE | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    Pins[PinCount++] = folder;
    // Held without delete sharing, the name stays what was opened, so its attributes by name are
    // those of the object held (Wine's handle leads to a link's target, its name query does not).
    // Missing attributes (all bits set) count as a link.
    if (!(GetFileAttributesA(path) & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    // Present on every NT, looked up all the same: the 9x line never gets here.
    GetKernelObjectSecurityFunction getSecurity = reinterpret_cast<GetKernelObjectSecurityFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "GetKernelObjectSecurity")));
    DWORD descriptor[64];
    DWORD needed;
    return getSecurity != nullptr &&
           getSecurity(folder, OWNER_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed) &&
           IsPrivilegedOwner(descriptor);
}

bool PinFolders(const char* path, bool withLast)
{
    if (!TheRun.IsNT)
        return true;
    // A folder ends at each backslash past the root ("C:\" or "\\server\share\") but a trailing
    // one, and at the end of path when withLast.
    DWORD rootSeparators = path[0] == '\\' ? 4 : 1;
    DWORD separators = 0;
    DWORD depth = 0;     // folders of path passed so far
    bool reused = true;  // the pinned chain still agrees with path
    for (DWORD at = 0; at < PATH_SIZE; ++at) {
        char c = path[at];
        if ((c == '\\' && ++separators > rootSeparators && path[at + 1] != '\0') || (c == '\0' && withLast)) {
            reused = reused && depth < PinCount && (PinnedPath[at] == '\\' || PinnedPath[at] == '\0');
            if (!reused) {
                DropPinsBelow(depth);
                PinnedPath[at] = '\0';
                if (!PinNextFolder(PinnedPath)) {
                    DropPinsBelow(depth);
                    return false;
                }
            }
            ++depth;
        } else {
            reused = reused && PinnedPath[at] == c;
        }
        PinnedPath[at] = c;
        if (c == '\0') {
            DropPinsBelow(depth);
            return true;
        }
    }
    return false; // longer than any path
}

bool RemovePinnedFolder(const char* path)
{
    return PinFolders(path, true) && PinFolders(path, false) && RemoveDirectoryA(path);
}
