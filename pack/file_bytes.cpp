// Whole files as bytes, for the packer, the stamp and the tests: read in one go, and written to a
// new temporary file beside the target that is then renamed over it, so that a failed or
// interrupted write never leaves a partial uninstaller (or stub) behind.
#include "file_bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillon {

bool ReadFileBytes(const std::string& path, Bytes* out, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (error) *error = "cannot open for reading: " + std::string(std::strerror(errno));
        return false;
    }
    Bytes bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        if (error) *error = "read error";
        return false;
    }
    *out = std::move(bytes);
    return true;
}

// Replaces target by source in one step; an existing target is overwritten.
static bool RenameOver(const std::string& source, const std::string& target) {
#ifdef _WIN32
    return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(source.c_str(), target.c_str()) == 0;
#endif
}

// Creates path only if it does not exist yet, so two writers never share a temporary file.
// On POSIX systems the new file gets the mode of the file it will replace (the stamped stub
// stays executable), or a linker's default for a new output.
static bool WriteNewFile(const std::string& path, const std::string& replaces, const Bytes& bytes, bool* exists,
                         std::string* error) {
    *exists = false;
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *exists = GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
        if (error) *error = "cannot create a file beside " + replaces + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    bool ok = true;
    for (size_t at = 0; ok && at < bytes.size();) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 20)), written = 0;
        ok = WriteFile(file, bytes.data() + at, chunk, &written, nullptr) && written == chunk;
        at += written;
    }
    ok = CloseHandle(file) && ok;
#else
    struct stat existing;
    mode_t mode = stat(replaces.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0777;
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (file < 0) {
        *exists = errno == EEXIST;
        if (error) *error = "cannot create a file beside " + replaces + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (size_t at = 0; ok && at < bytes.size();) {
        ssize_t written = write(file, bytes.data() + at, bytes.size() - at);
        ok = written > 0;
        if (ok) at += static_cast<size_t>(written);
    }
    if (mode == 0777) {
        mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    ok = fchmod(file, mode) == 0 && ok;
    ok = close(file) == 0 && ok;
#endif
    if (!ok) {
        std::remove(path.c_str());
        if (error) *error = "cannot write beside " + replaces;
    }
    return ok;
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes, std::string* error) {
#ifdef _WIN32
    long pid = _getpid();
#else
    long pid = static_cast<long>(getpid());
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = path + ".~" + std::to_string(pid) + "-" + std::to_string(attempt) + ".tmp";
        bool exists = false;
        if (!WriteNewFile(temporary, path, bytes, &exists, error)) {
            if (exists) continue;
            return false;
        }
        if (!RenameOver(temporary, path)) {
            std::remove(temporary.c_str());
            if (error) *error = "cannot move the written file into place";
            return false;
        }
        return true;
    }
    if (error) *error = "cannot find a free temporary name beside the output";
    return false;
}

} // namespace quillon
