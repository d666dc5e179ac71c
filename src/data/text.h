// Bounded text helpers. Every function that writes takes the capacity of its destination in bytes,
// always leaves a NUL-terminated string there, and reports whether the whole text fitted, so that
// no caller ever turns a cut path silently into another path.
#pragma once

#include <windows.h>

DWORD TextLength(const char* text);
bool CopyText(char* destination, DWORD capacity, const char* source);
bool AppendText(char* destination, DWORD capacity, const char* source);
bool AppendChar(char* destination, DWORD capacity, char c);

// Names and paths compare without regard to case, folding only A to Z.
char FoldCase(char c);
bool TextEqualsNoCase(const char* a, const char* b);
bool TextStartsWithNoCase(const char* text, const char* prefix);

char* FindChar(const char* text, char c);
char* FindLastChar(const char* text, char c);

void FillBytes(void* destination, BYTE value, DWORD count);
void CopyBytes(void* destination, const void* source, DWORD count);
