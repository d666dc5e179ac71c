// Support for Windows test programs under Wine; see win_test.h.
#include "file_bytes.h"
#include "win_test.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace qt {

// --- Paths and files -------------------------------------------------------------------------

std::string WindowsPath(const std::string& unixPath)
{
    if (unixPath.empty() || unixPath[0] != '/')
        return unixPath;
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string StubPath() { return WindowsPath(QUILLON_STUB_PATH); }
std::string FailingHeapStubPath() { return WindowsPath(QUILLON_FAILHEAP_STUB_PATH); }
std::string TestBinPath(const std::string& name) { return Join(WindowsPath(QUILLON_TEST_BIN_DIR), name); }

std::string Join(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '\\')
        return folder + name;
    return folder + "\\" + name;
}

void RemoveTree(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(Join(path, "*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name != "." && name != "..")
                    RemoveTree(Join(path, name));
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryA(path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryA(path.c_str()); // a link: removed, never followed
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

std::string FreshFolder(const std::string& name)
{
    CreateDirectoryA("C:\\quillon-tests", nullptr);
    std::string folder = "C:\\quillon-tests\\" + name;
    RemoveTree(folder);
    EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    return folder;
}

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// --- Packing ---------------------------------------------------------------------------------

std::vector<std::string> StandardMessages()
{
    return {"T:title",   "C:confirm",    "F:finished",  "Yes", "Yes to all", "No", "No to all",
            "M:memory %s", "R:read %s",  "RO:%s",       "SH:%s",
            "S:files",   "S:groups",     "S:folders",   "S:registry", "U:in use"};
}

quillon::UninstallData StandardData()
{
    quillon::UninstallData data;
    data.messages = StandardMessages();
    return data;
}

void WriteUninstaller(const std::string& path, const quillon::Bytes& chain, const std::string& stub)
{
    quillon::Bytes stubBytes;
    quillon::Bytes out;
    std::string error;
    ASSERT_TRUE(quillon::ReadFileBytes(stub, &stubBytes, &error)) << error;
    ASSERT_TRUE(quillon::BuildUninstaller(stubBytes, chain, &out, &error)) << error;
    ASSERT_TRUE(quillon::WriteFileBytes(path, out, &error)) << error;
}

void WriteUninstaller(const std::string& path, const quillon::UninstallData& data, const std::string& stub)
{
    WriteUninstaller(path, quillon::EncodeUninstallData(data), stub);
}

void SetWindowsVersionFor(const std::string& exeName, const std::string& level)
{
    SetRegistryString(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + exeName, "Version", level);
}

// --- Processes -------------------------------------------------------------------------------

Process::~Process()
{
    if (handle_ != nullptr) {
        if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT)
            TerminateProcess(handle_, 1);
        CloseHandle(handle_);
    }
}

bool Process::Start(const std::string& exe, const std::string& arguments, const std::string& directory)
{
    std::string commandLine = "\"" + exe + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    id_ = info.dwProcessId;
    return true;
}

DWORD Process::Wait(DWORD timeoutMs)
{
    if (handle_ == nullptr)
        return STILL_ACTIVE;
    if (WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(handle_, 1);
        WaitForSingleObject(handle_, 5000);
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(handle_, &code);
    return code;
}

// --- Windows ---------------------------------------------------------------------------------

bool Box::HasButton(int id) const
{
    for (const Button& button : buttons) {
        if (button.id == id)
            return true;
    }
    return false;
}

std::string ControlText(HWND control)
{
    // WM_GETTEXT reaches controls of another process; GetWindowText would not.
    char text[4096] = "";
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             1000, &result))
        return "";
    return text;
}


static BOOL CALLBACK CollectChild(HWND child, LPARAM parameter)
{
    Box* box = reinterpret_cast<Box*>(parameter);
    char className[64] = "";
    GetClassNameA(child, className, sizeof className);
    int id = GetDlgCtrlID(child);
    if (lstrcmpiA(className, "Button") == 0) {
        box->buttons.push_back({id, ControlText(child)});
    } else if (id == 0xFFFF || id == 1000) {
        box->text = ControlText(child);
    }
    if (id == 1009)
        box->kind = BoxKind::Progress;
    else if (id == 1001 && box->kind != BoxKind::Progress)
        box->kind = BoxKind::ReadOnlyPrompt;
    else if (id == 0xFFFF && box->kind == BoxKind::Other)
        box->kind = BoxKind::MessageBox;
    return TRUE;
}

bool ReadBox(HWND window, Box* box)
{
    if (!IsWindow(window))
        return false;
    *box = Box();
    box->window = window;
    box->caption = ControlText(window);
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(box));
    // A message box without text has no static control: its buttons tell it apart.
    if (box->kind == BoxKind::Other && !box->buttons.empty())
        box->kind = BoxKind::MessageBox;
    return true;
}

struct WindowScan {
    DWORD processId;
    std::vector<HWND> windows;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    WindowScan* scan = reinterpret_cast<WindowScan*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (owner == scan->processId && IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0)
        scan->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> ListDialogWindows(DWORD processId)
{
    WindowScan scan{processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&scan));
    return scan.windows;
}

std::vector<Box> ListBoxes(DWORD processId)
{
    std::vector<Box> boxes;
    for (HWND window : ListDialogWindows(processId)) {
        Box box;
        if (ReadBox(window, &box))
            boxes.push_back(box);
    }
    return boxes;
}

void Press(HWND window, int id)
{
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void SendKey(HWND window, int virtualKey)
{
    PostMessageA(window, WM_KEYDOWN, virtualKey, 0);
    PostMessageA(window, WM_KEYUP, virtualKey, 0);
}

Session RunAnswering(const std::string& exe, const std::string& arguments, const std::vector<int>& answers,
                     DWORD timeoutMs, const std::string& directory)
{
    Session session;
    Process process;
    if (!process.Start(exe, arguments, directory)) {
        ADD_FAILURE() << "cannot start " << exe << ": error " << GetLastError();
        return session;
    }
    size_t nextAnswer = 0;
    std::vector<HWND> answered;
    DWORD started = GetTickCount();
    while (WaitForSingleObject(process.Handle(), 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - started > timeoutMs) {
            for (const Box& box : ListBoxes(process.Id())) {
                if (box.kind != BoxKind::Progress)
                    session.boxes.push_back(box);
            }
            ADD_FAILURE() << exe << " " << arguments << ": still running after " << timeoutMs << " ms";
            session.exitCode = process.Wait(0);
            return session;
        }
        for (const Box& box : ListBoxes(process.Id())) {
            if (box.kind == BoxKind::Progress) {
                session.sawProgress = true;
                if (session.progress.empty() || session.progress.back().text != box.text)
                    session.progress.push_back(box);
                continue;
            }
            bool seen = false;
            for (HWND window : answered)
                seen = seen || window == box.window;
            if (seen || nextAnswer >= answers.size())
                continue;
            // A box may still be filling its texts; read it once more after a moment.
            Sleep(100);
            Box settled;
            if (!ReadBox(box.window, &settled))
                continue;
            session.boxes.push_back(settled);
            answered.push_back(box.window);
            Press(box.window, answers[nextAnswer++]);
        }
    }
    session.exitCode = process.Wait(5000);
    return session;
}

// --- Registry --------------------------------------------------------------------------------

void SetRegistryString(HKEY root, const std::string& key, const std::string& name, const std::string& value,
                       REGSAM view)
{
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                             &handle, nullptr))
        << key;
    RegSetValueExA(handle, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
}

void SetRegistryDword(HKEY root, const std::string& key, const std::string& name, DWORD value, REGSAM view)
{
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                             &handle, nullptr))
        << key;
    RegSetValueExA(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(handle);
}

bool RegistryKeyExists(HKEY root, const std::string& key, REGSAM view)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool RegistryValueExists(HKEY root, const std::string& key, const std::string& name, REGSAM view)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExA(handle, name.empty() ? nullptr : name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

bool ReadRegistryDword(HKEY root, const std::string& key, const std::string& name, DWORD* value, REGSAM view)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof *value;
    LONG result = RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

void DeleteRegistryTree(HKEY root, const std::string& key, REGSAM view)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &handle) != ERROR_SUCCESS)
        return;
    char name[1024];
    for (;;) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(handle, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        DeleteRegistryTree(handle, name, view);
        if (RegistryKeyExists(handle, name, view))
            break; // a sub-key that cannot go: stop instead of trying it forever
    }
    RegCloseKey(handle);
    RegDeleteKeyExA(root, key.c_str(), view, 0);
}

} // namespace qt
