// Opening the closing document or web address through the shell, or the ".htm" class command.
#pragma once

#include <windows.h>

void OpenDocument(const char* target, const char* extension);
LONG ReadClassesRootDefault(HKEY root, const char* keyPath, char* buffer);
