// Support for the registry tests, in-process and end to end: a key with a value in it, a key that
// nobody may open for removal, and giving it back for clean-up afterwards; symbolic-link keys.
#pragma once

#include <windows.h>

#include <string>

namespace qt {

// Creates the key (and the keys above it), holding one value, "marker" = "x"; view 0 or a
// KEY_WOW64_* flag.
void CreateKey(HKEY root, const std::string& path, REGSAM view = 0);

// Denies DELETE on a key to everyone and allows the rest, so that neither the test nor the stub
// can open it for removal. Wine honours the deny when the key is opened.
void DenyDelete(HKEY root, const std::string& path);

// Gives the key back a DACL that allows everything, so that the test can clean up. A key that
// is not there is left alone.
void AllowDelete(HKEY root, const std::string& path);

// Creates path as a symbolic link to target, a key of the native namespace such as
// "\\Registry\\Machine\\Software\\Vendor"; view 0 or a KEY_WOW64_* flag.
void CreateRegistryLink(HKEY root, const std::string& path, const std::string& target, REGSAM view = 0);

// Deletes the link at path itself, never its target. A key that is not there is left alone.
void DeleteRegistryLink(HKEY root, const std::string& path, REGSAM view = 0);

}  // namespace qt
