// The Win32 calls beneath the stub's file, heap and message-box primitives, emulated natively.
//
// One in-memory file stands for the uninstaller: CreateFileA opens it by its name, ReadFile and
// SetFilePointer move over it as Windows does (a read at or past the end succeeds with fewer
// bytes; positions are 64-bit). The heap is malloc with a count of requests and of live blocks,
// and fails the requests that a test chooses. MessageBoxA records what it would show.
#include "emulated_windows.h"

#include <cstdlib>
#include <cstring>

namespace emulated {

State state;

void Reset(const uint8_t* bytes, size_t size)
{
    state.file.assign(bytes, bytes + size);
    state.position = 0;
    state.openHandles = 0;
    state.requests = 0;
    state.failFrom = 0;
    state.failCount = 0;
    state.boxes.clear();
}

static bool FailsNow()
{
    ++state.requests;
    return state.failFrom != 0 && state.requests >= state.failFrom && state.requests - state.failFrom < state.failCount;
}

} // namespace emulated

using emulated::state;

static HANDLE const FileHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x4F11E));
static HANDLE const HeapHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x4EA9));

HANDLE CreateFileA(const char* name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE)
{
    if (std::strcmp(name, emulated::FILE_NAME) != 0 || access != GENERIC_READ || disposition != OPEN_EXISTING)
        return INVALID_HANDLE_VALUE;
    ++state.openHandles;
    state.position = 0;
    return FileHandle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED)
{
    if (file != FileHandle)
        return 0;
    uint64_t left = state.position < state.file.size() ? state.file.size() - state.position : 0;
    DWORD taken = count < left ? count : static_cast<DWORD>(left);
    if (taken != 0)
        std::memcpy(buffer, state.file.data() + state.position, taken);
    state.position += taken;
    *read = taken;
    return 1;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    if (file != FileHandle)
        return INVALID_FILE_SIZE;
    int64_t move = distanceHigh ? static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32 |
                                                       static_cast<uint32_t>(distance))
                                : distance;
    int64_t base = method == FILE_BEGIN ? 0 : static_cast<int64_t>(state.position);
    if (base + move < 0)
        return INVALID_FILE_SIZE; // Windows refuses a negative position and leaves the file where it was
    state.position = static_cast<uint64_t>(base + move);
    if (distanceHigh)
        *distanceHigh = static_cast<LONG>(state.position >> 32);
    return static_cast<DWORD>(state.position);
}

DWORD GetFileSize(HANDLE file, LPDWORD high)
{
    if (file != FileHandle)
        return INVALID_FILE_SIZE;
    if (high)
        *high = 0;
    return static_cast<DWORD>(state.file.size());
}

BOOL CloseHandle(HANDLE handle)
{
    if (handle != FileHandle || state.openHandles == 0)
        return 0;
    --state.openHandles;
    return 1;
}

HANDLE GetProcessHeap() { return HeapHandle; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t size)
{
    if (heap != HeapHandle || emulated::FailsNow())
        return nullptr;
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, size ? size : 1) : std::malloc(size ? size : 1);
    if (block)
        ++state.liveBlocks;
    return block;
}

LPVOID HeapReAlloc(HANDLE heap, DWORD, LPVOID block, size_t size)
{
    if (heap != HeapHandle || emulated::FailsNow())
        return nullptr;
    return std::realloc(block, size ? size : 1);
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block)
{
    if (heap != HeapHandle || block == nullptr)
        return 0;
    std::free(block);
    --state.liveBlocks;
    return 1;
}

size_t HeapCompact(HANDLE, DWORD) { return 0; }

int MessageBoxA(HWND, const char* text, const char* caption, UINT style)
{
    state.boxes.push_back({text ? text : "", caption ? caption : "", style});
    return 1; // IDOK
}
