// A test program that holds a file open the way a running application does, so that the file
// pass and the in-use test see it as in use.
//
//   files_holder.exe FILE READY RELEASE
// Opens FILE for reading with read sharing only (no other process can open it for writing),
// creates READY, and keeps FILE open until RELEASE exists; then closes it and ends. It ends by
// itself after two minutes, so a failed test never leaves it behind.
#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 3;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready == INVALID_HANDLE_VALUE)
        return 4;
    CloseHandle(ready);
    for (DWORD waited = 0; waited < 120000; waited += 20) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(20);
    }
    CloseHandle(held);
    return 0;
}
