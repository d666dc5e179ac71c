// Registry removal, the last pass of a run. Each entry removes one value or one key with all its
// sub-keys, below one of the predefined root keys.
//
// The key text carries a small syntax: two backslashes before a name make a value entry (an empty
// name is the key's default value), and under HKEY_LOCAL_MACHINE a leading "Software64" means
// Software in the 64-bit view, which a 32-bit program reaches only with KEY_WOW64_64KEY and, to
// delete a key there, RegDeleteKeyExA. Texts that would name a whole root key (Software, System,
// nothing at all) are refused in any spelling. Failures are silent; every entry is tried.
#include "registry.h"

#include "pass_helpers.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"

// The root names below are string literals, not named arrays: the compiler aligns an array to four
// bytes, a literal packs with the others.
static const char* const Software64Prefix = "Software64";
enum { REGISTRY_NAME_SIZE = 1024 };

LONG DeleteKeyTree(HKEY parent, const char* path, REGSAM view, RegDeleteKeyExProc deleteKeyEx)
{
    if (path == nullptr || path[0] == '\0')
        return ERROR_BADKEY;
    HKEY key;
    LONG result = RegOpenKeyExA(parent, path, 0, DELETE | KEY_ENUMERATE_SUB_KEYS | view, &key);
    if (result != ERROR_SUCCESS)
        return result;
    char name[REGISTRY_NAME_SIZE];
    for (;;) {
        // Always index 0: each sub-key removed no longer counts.
        result = RegEnumKeyA(key, 0, name, REGISTRY_NAME_SIZE);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = deleteKeyEx != nullptr ? deleteKeyEx(parent, path, view, 0) : RegDeleteKeyA(parent, path);
            break;
        }
        if (result != ERROR_SUCCESS)
            break;
        // The first sub-key that cannot go ends the removal of this whole tree.
        result = DeleteKeyTree(key, name, view, deleteKeyEx);
        if (result != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return result;
}

LONG DeleteKeyTreeInView(HKEY root, const char* path, bool view64)
{
    REGSAM view = 0;
    RegDeleteKeyExProc deleteKeyEx = nullptr;
    if (view64) {
        view = KEY_WOW64_64KEY;
        // advapi32 is one of our imports, so it is already loaded from the system folder: take
        // that module instead of searching for one. Without RegDeleteKeyExA each key is deleted
        // with RegDeleteKeyA through its parent, which was opened in the 64-bit view.
        deleteKeyEx = reinterpret_cast<RegDeleteKeyExProc>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA")));
    }
    return DeleteKeyTree(root, path, view, deleteKeyEx);
}

// True when the first length characters of key are the root name, in any letter case.
template <DWORD N> static bool IsRootName(const char* key, DWORD length, const char (&name)[N])
{
    return length == N - 1 && TextStartsWithNoCase(key, name);
}

// True for a key text that names a whole root key or nothing: empty, Software or System, in any
// letter case and with any number of trailing backslashes.
static bool NamesWholeRoot(const char* key)
{
    DWORD length = TextLength(key);
    while (length != 0 && key[length - 1] == '\\')
        --length;
    return length == 0 || IsRootName(key, length, "Software") || IsRootName(key, length, "System");
}

// Out of line: inlined into the driver, the pass's locals would live in the driver's large frame,
// where every access takes a longer instruction.
__attribute__((noinline)) void RemoveRegistryEntries()
{
    const DWORD offset = TheRun.FileCount + TheRun.FolderGroupCount;
    for (DWORD index = 0; index < TheRun.RegistryCount; ++index) {
        RegistryEntry* entry = TheRun.RegistryList[index];
        char* key = entry->KeyPath;
        HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(entry->Root));
        REGSAM view = 0;
        // "Software64..." under HKLM: drop the "64" for good; the NT line takes the 64-bit view.
        if (entry->Root == ROOT_LOCAL_MACHINE && TextStartsWithNoCase(key, Software64Prefix)) {
            for (char* at = key + 8; (at[0] = at[2]) != '\0'; ++at) {
            }
            if (TheRun.IsNT)
                view = KEY_WOW64_64KEY;
        }
        // Tested after the mapping, so that "Software64" alone is refused as "Software" is.
        if (!NamesWholeRoot(key)) {
            char* lastBackslash = FindLastChar(key, '\\');
            if (lastBackslash != nullptr && lastBackslash != key && lastBackslash[-1] == '\\') {
                // A value entry: the key ends at the first of the two backslashes.
                lastBackslash[-1] = '\0';
                DeleteValueAndCloseKey(OpenRegistryKey(root, key, KEY_ALL_ACCESS | view), lastBackslash + 1);
                lastBackslash[-1] = '\\';
                continue; // values do not move the bar; the next key entry catches it up
            }
            if (TheRun.IsNT)
                DeleteKeyTreeInView(root, key, view != 0);
            else
                RegDeleteKeyA(root, key); // removes the whole tree on the 9x line
        }
        ReportRemovalStep(offset + index);
    }
}
