// Pinning the folders along a path, so that a removal pass never follows a link an unprivileged
// user could have made, and nothing along the path can be swapped between the check and the
// removal (see folder_pins.cpp).
#pragma once

#include <windows.h>

// Pins every folder of path from below its root down to its parent, and down to path itself when
// withLast. True when each is a plain folder or a link that only the system or an administrator
// could have made. The pins stay until a later call leaves a folder off its chain; folders the
// last call pinned before are reused, not opened again. Always true on the 9x line (no links).
bool PinFolders(const char* path, bool withLast);

// Removes the folder at path (only when empty) once its own folder and all above it are checked;
// the folder's own pin is dropped first, as it would stop the removal.
bool RemovePinnedFolder(const char* path);

// Drops every pin. The passes keep theirs to the end of the process: nothing later removes a
// folder.
inline void ReleaseFolderPins()
{
    PinFolders("", false);
}

// True when the owner of a self-relative security descriptor is SYSTEM or the Administrators
// group: such a link (the system's own compatibility junctions) no unprivileged user made.
bool IsPrivilegedOwner(const void* descriptor);
