// Registry removal, the last pass of a run. Each entry removes one value or one key with all its
// sub-keys, below one of the predefined root keys.
//
// The key text carries a small syntax: two backslashes before a name make a value entry (an empty
// name is the key's default value), and under HKEY_LOCAL_MACHINE a leading "Software64" means
// Software in the 64-bit view, which a 32-bit program reaches only with KEY_WOW64_64KEY. Texts
// that would name a whole root key, or a key that holds other vendors' or the system's keys, are
// refused in any spelling. Failures are silent; every entry is tried.
//
// A key tree is walked without following symbolic links: each key is opened as itself
// (REG_OPTION_OPEN_LINK) and deleted through its own handle (NtDeleteKey), so that a link placed in
// the tree, or a listed key that is a link, goes as a link and its target stays. Deleting by name
// through the parent would follow the link and remove the target instead.
#include "registry.h"

#include "pass_helpers.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"

enum { REGISTRY_NAME_SIZE = 1024 };

// Keys no entry may remove whole, under any root: the roots themselves (the empty text too) and the
// keys that hold the 32-bit view, the file classes, the system's own software and the services.
// One packed list, closed by the empty name, which is tested as well.
static const char RefusedKeys[] = "Software\0System\0Software\\Wow6432Node\0Software\\Classes\0"
                                  "Software\\Microsoft\0System\\CurrentControlSet\0";

LONG DeleteKeyTree(HKEY parent, const char* path, REGSAM view, DeleteKeyByHandleProc deleteKey)
{
    if (path == nullptr || path[0] == '\0')
        return ERROR_BADKEY;
    HKEY key;
    LONG result = RegOpenKeyExA(parent, path, REG_OPTION_OPEN_LINK, DELETE | KEY_ENUMERATE_SUB_KEYS | view, &key);
    if (result != ERROR_SUCCESS)
        return result;
    char name[REGISTRY_NAME_SIZE];
    for (;;) {
        // Always index 0: each sub-key removed no longer counts. A link has no sub-keys of its own.
        result = RegEnumKeyA(key, 0, name, REGISTRY_NAME_SIZE);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = deleteKey(key); // the key as opened, in its view; a link, not its target
            break;
        }
        if (result != ERROR_SUCCESS)
            break;
        // The first sub-key that cannot go ends the removal of this whole tree.
        result = DeleteKeyTree(key, name, view, deleteKey);
        if (result != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return result;
}

LONG DeleteKeyTreeInView(HKEY root, const char* path, REGSAM view)
{
    // ntdll is mapped into every process of the NT line, so no library is loaded or searched for.
    DeleteKeyByHandleProc deleteKey = reinterpret_cast<DeleteKeyByHandleProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    if (deleteKey == nullptr)
        return ERROR_PROC_NOT_FOUND;
    return DeleteKeyTree(root, path, view, deleteKey);
}

// True when key names the key name: letter case aside, each run of backslashes in key counts as
// one separator, as the registry reads it, and those at its end count not at all.
static bool KeyTextNames(const char* key, const char* name)
{
    for (;; ++name) {
        char c = *key++;
        if (c == '\\') {
            while (*key == '\\')
                ++key;
            if (*key == '\0')
                c = '\0';
        }
        if (FoldCase(c) != FoldCase(*name))
            return false;
        if (c == '\0')
            return true;
    }
}

bool IsRefusedKey(DWORD root, const char* key)
{
    if (root == ROOT_USERS) {
        const char* separator = FindChar(key, '\\');
        if (separator == nullptr)
            return true;
        while (*separator == '\\')
            ++separator;
        if (*separator == '\0')
            return true;
    }
    for (const char* name = RefusedKeys;; name += TextLength(name) + 1) {
        if (KeyTextNames(key, name))
            return true;
        if (name[0] == '\0')
            return false;
    }
}

REGSAM MapRegistryView(RegistryEntry* entry)
{
    REGSAM view = 0;
    char* key = entry->KeyPath;
    // "Software64..." under HKLM: drop the "64" for good; the NT line takes the 64-bit view.
    if (entry->Root == ROOT_LOCAL_MACHINE && TextStartsWithNoCase(key, "Software64")) {
        for (char* at = key + 8; (at[0] = at[2]) != '\0'; ++at) {
        }
        if (TheRun.IsNT)
            view = KEY_WOW64_64KEY;
    }
    return view;
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
        REGSAM view = MapRegistryView(entry);
        // Tested after the mapping, so that "Software64" alone is refused as "Software" is.
        if (!IsRefusedKey(entry->Root, key)) {
            char* lastBackslash = FindLastChar(key, '\\');
            if (lastBackslash != nullptr && lastBackslash != key && lastBackslash[-1] == '\\') {
                // A value entry: the key ends at the first of the two backslashes. A key that is a
                // link is opened as itself, so the value goes from the link, never from its target.
                lastBackslash[-1] = '\0';
                HKEY valueKey;
                if (RegOpenKeyExA(root, key, TheRun.IsNT ? REG_OPTION_OPEN_LINK : 0, KEY_SET_VALUE | view, &valueKey) !=
                    ERROR_SUCCESS)
                    valueKey = nullptr;
                DeleteValueAndCloseKey(valueKey, lastBackslash + 1);
                lastBackslash[-1] = '\\';
                continue; // values do not move the bar; the next key entry catches it up
            }
            if (TheRun.IsNT)
                DeleteKeyTreeInView(root, key, view);
            else
                RegDeleteKeyA(root, key); // removes the whole tree on the 9x line
        }
        ReportRemovalStep(offset + index);
    }
}
