// Bounded text helpers: every write knows its destination's capacity and says whether the whole
// text fitted. The stub has no C runtime, so these also stand in for strlen, memcpy and memset.
#include "text.h"

DWORD TextLength(const char* text)
{
    DWORD length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

bool CopyText(char* destination, DWORD capacity, const char* source)
{
    if (capacity == 0)
        return false;
    destination[0] = '\0';
    return AppendText(destination, capacity, source);
}

bool AppendText(char* destination, DWORD capacity, const char* source)
{
    DWORD at = TextLength(destination);
    if (at >= capacity)
        return false;
    while (*source != '\0') {
        if (at + 1 >= capacity) {
            destination[at] = '\0';
            return false;
        }
        destination[at++] = *source++;
    }
    destination[at] = '\0';
    return true;
}

bool AppendChar(char* destination, DWORD capacity, char c)
{
    char text[2] = {c, '\0'};
    return AppendText(destination, capacity, text);
}

char FoldCase(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool TextStartsWithNoCase(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (FoldCase(*text) != FoldCase(*prefix))
            return false;
    }
    return true;
}

// Equal texts: a begins with b and ends where b ends.
bool TextEqualsNoCase(const char* a, const char* b)
{
    return TextStartsWithNoCase(a, b) && a[TextLength(b)] == '\0';
}

char* FindChar(const char* text, char c)
{
    for (; *text != '\0'; ++text) {
        if (*text == c)
            return const_cast<char*>(text);
    }
    return nullptr;
}

char* FindLastChar(const char* text, char c)
{
    const char* last = nullptr;
    for (; *text != '\0'; ++text) {
        if (*text == c)
            last = text;
    }
    return const_cast<char*>(last);
}

void FillBytes(void* destination, BYTE value, DWORD count)
{
    BYTE* bytes = static_cast<BYTE*>(destination);
    while (count-- != 0)
        *bytes++ = value;
}

void CopyBytes(void* destination, const void* source, DWORD count)
{
    BYTE* to = static_cast<BYTE*>(destination);
    const BYTE* from = static_cast<const BYTE*>(source);
    while (count-- != 0)
        *to++ = *from++;
}
