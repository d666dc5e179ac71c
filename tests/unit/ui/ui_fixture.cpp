// Shared set-up for the in-process window and dialog tests; see ui_fixture.h.
#include "ui_fixture.h"

#include <commctrl.h>

#include "data/messages.h"
#include "file_bytes.h"
#include "format_writer.h"
#include "data/run_context.h"
#include "ui/main_window.h"
#include "ui/progress.h"

namespace ui_test {

bool UiTest::ClassRegistered = false;

static const UINT MarkerMessage = WM_APP + 17;

std::vector<std::string> MessagesWith(const std::vector<std::pair<int, std::string>>& changes)
{
    std::vector<std::string> messages = qt::StandardMessages();
    for (const auto& change : changes)
        messages.at(change.first) = change.second;
    return messages;
}

void LoadMessages(const std::vector<std::string>& messages)
{
    std::string path = qt::Join(qt::FreshFolder("unit-ui"), "messages.bin");
    quillon::Bytes body = quillon::EncodeMessageTableBody(messages);
    std::string error;
    ASSERT_TRUE(quillon::WriteFileBytes(path, body, &error)) << error;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    int result = ReadMessageTableBlock(file, static_cast<DWORD>(body.size()));
    CloseHandle(file);
    ASSERT_EQ(0, result);
}

void PostMarker()
{
    ASSERT_TRUE(PostMessageA(TheRun.MainWindow, MarkerMessage, 0, 0));
}

bool MarkerQueued()
{
    MSG message;
    return PeekMessageA(&message, TheRun.MainWindow, MarkerMessage, MarkerMessage, PM_NOREMOVE) != FALSE;
}

void DiscardMarkers()
{
    MSG message;
    while (PeekMessageA(&message, TheRun.MainWindow, MarkerMessage, MarkerMessage, PM_REMOVE)) {
    }
}

bool DrainWithin(DWORD timeoutMs)
{
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD mainThread = GetCurrentThreadId();
    std::atomic<bool> forced{false};
    std::thread watchdog([&] {
        if (WaitForSingleObject(done, timeoutMs) == WAIT_TIMEOUT) {
            forced = true;
            PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
        }
    });
    DrainMessages();
    SetEvent(done);
    watchdog.join();
    CloseHandle(done);
    return !forced;
}

void UiTest::SetUp()
{
    TheRun.ModuleInstance = GetModuleHandleA(nullptr);
    if (!ClassRegistered) {
        InitCommonControls(); // start-up does this in the stub: it registers the progress bar class
        ClassRegistered = RegisterMainWindowClass();
    }
    ASSERT_TRUE(ClassRegistered);
    LoadMessages(qt::StandardMessages());
    TheRun.ProgressDialog = nullptr;
    TheRun.ProgressBar = nullptr;
    TheRun.LastProgressPos = 0;
    ASSERT_TRUE(CreateMainWindow());
}

void UiTest::TearDown()
{
    CloseProgressDialog();
    EXPECT_TRUE(DrainWithin(10000)) << "the final message loop did not end";
    FreeMessageTable();
}

// --- Modal dialogs ---------------------------------------------------------------------------

DialogWatcher::DialogWatcher(Action action) : mainThread_(GetCurrentThreadId())
{
    thread_ = std::thread([this, action] { Run(action); });
}

DialogWatcher::~DialogWatcher() { Finish(); }

DialogSeen DialogWatcher::Finish()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    return seen_;
}

static LONG StyleOf(HWND dialog, int id)
{
    return GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE);
}

static HFONT FontOf(HWND window)
{
    DWORD_PTR font = 0;
    SendMessageTimeoutA(window, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, 3000, &font);
    return reinterpret_cast<HFONT>(font);
}

static BOOL CALLBACK CancelDialog(HWND window, LPARAM)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") == 0)
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

static bool WaitGone(HWND window, DWORD timeoutMs)
{
    for (DWORD started = GetTickCount(); GetTickCount() - started < timeoutMs; Sleep(10)) {
        if (!IsWindow(window))
            return true;
    }
    return false;
}

void DialogWatcher::Run(Action action)
{
    DWORD started = GetTickCount();
    while (!stop_ && GetTickCount() - started < 10000) {
        for (const qt::Box& box : qt::ListBoxes(GetCurrentProcessId())) {
            if (box.kind == qt::BoxKind::Progress)
                continue;
            seen_.appeared = true;
            seen_.box = box;
            seen_.owner = GetWindow(box.window, GW_OWNER);
            seen_.textStyle = StyleOf(box.window, 1000);
            for (int id : {IDYES, 1001, IDNO, 1002})
                seen_.buttonStyles.push_back(StyleOf(box.window, id));
            seen_.controlFont = FontOf(GetDlgItem(box.window, 1000));
            seen_.dialogFont = FontOf(box.window);
            switch (action.act) {
            case Act::Press:
                qt::Press(box.window, action.value);
                break;
            case Act::Key:
                qt::SendKey(box.window, action.value);
                break;
            case Act::CloseBox:
                PostMessageA(box.window, WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
            case Act::Nothing:
                break;
            }
            seen_.closedByAction = action.act != Act::Nothing && WaitGone(box.window, 5000);
            EnumThreadWindows(mainThread_, CancelDialog, 0);
            return;
        }
        Sleep(20);
    }
    EnumThreadWindows(mainThread_, CancelDialog, 0);
}

// --- Commands of a modeless dialog -------------------------------------------------------------

static CommandRecorder* ActiveRecorder = nullptr;

CommandRecorder::CommandRecorder(HWND dialog) : dialog_(dialog)
{
    ActiveRecorder = this;
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CommandRecorder::Proc)));
}

CommandRecorder::~CommandRecorder()
{
    if (IsWindow(dialog_))
        SetWindowLongPtrA(dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    ActiveRecorder = nullptr;
}

LRESULT CALLBACK CommandRecorder::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcA(ActiveRecorder->original_, window, message, wParam, lParam);
    if (message == WM_COMMAND && ActiveRecorder != nullptr)
        ActiveRecorder->commands.push_back(
            {LOWORD(wParam), result, IsWindow(window) ? GetWindowLongPtrA(window, DWLP_MSGRESULT) : -1});
    return result;
}

} // namespace ui_test
