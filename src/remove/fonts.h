// Font deregistration before a font file is deleted.
#pragma once

#include <windows.h>

void GetFontFullName(const char* path, char* buffer, DWORD size);
void RemoveFont(const char* path);
