// The file removal pass, and the in-use tests the driver runs before anything is removed.
#pragma once

bool IsFileInUse(const char* path);
bool AnyFileInUse();
void RemoveFiles();
