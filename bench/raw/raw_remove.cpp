// bench-raw-remove: the raw limit of an uninstall, for the benchmark.
//
//   bench-raw-remove OPS_FILE
//
// Reads the list of calls that quillon-bench wrote (one a line: F path, D path, K key path, or
// V key path and value name, tab-separated, keys below HKEY_CURRENT_USER) in one read, and makes
// exactly those calls in that order: DeleteFileA, RemoveDirectoryA, RegDeleteKeyA, RegDeleteValueA.
// No test, no attribute, no search: what any uninstaller must at least do for the same job. The
// values' key is opened once and kept open. Exit value: the number of calls that failed, at most
// 255, or 255 when the list cannot be read.
#include <windows.h>

#include <string>
#include <vector>

namespace {

bool ReadWhole(const char* path, std::vector<char>* text)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    text->resize(size + 1);
    DWORD read = 0;
    bool ok = size != INVALID_FILE_SIZE && ReadFile(file, text->data(), size, &read, nullptr) && read == size;
    CloseHandle(file);
    (*text)[size] = '\0';
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<char> text;
    if (argc != 2 || !ReadWhole(argv[1], &text))
        return 255;

    int failures = 0;
    HKEY valuesKey = nullptr;
    std::string valuesPath;
    char* line = text.data();
    while (*line != '\0') {
        char* end = line;
        while (*end != '\0' && *end != '\r' && *end != '\n')
            ++end;
        char* next = end;
        while (*next == '\r' || *next == '\n')
            ++next;
        *end = '\0';
        char kind = line[0];
        char* path = line[0] != '\0' ? line + 2 : line;
        bool ok = true;
        switch (kind) {
        case 'F':
            ok = DeleteFileA(path) != 0;
            break;
        case 'D':
            ok = RemoveDirectoryA(path) != 0;
            break;
        case 'K':
            ok = RegDeleteKeyA(HKEY_CURRENT_USER, path) == ERROR_SUCCESS;
            break;
        case 'V': {
            char* tab = path;
            while (*tab != '\0' && *tab != '\t')
                ++tab;
            if (*tab == '\0') {
                ok = false;
                break;
            }
            *tab = '\0';
            if (valuesKey == nullptr || valuesPath != path) {
                if (valuesKey != nullptr)
                    RegCloseKey(valuesKey);
                valuesKey = nullptr;
                valuesPath = path;
                RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, &valuesKey);
            }
            ok = valuesKey != nullptr && RegDeleteValueA(valuesKey, tab + 1) == ERROR_SUCCESS;
            break;
        }
        default:
            ok = false;
        }
        failures += ok ? 0 : 1;
        line = next;
    }
    if (valuesKey != nullptr)
        RegCloseKey(valuesKey);
    return failures > 255 ? 255 : failures;
}
