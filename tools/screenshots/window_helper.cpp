// The screenshot script's hands inside Wine: it waits for one of the uninstaller's windows, tells
// where it is on the screen, moves it, and presses its buttons. The script itself captures the
// X display, which knows nothing of Windows windows; this program knows them by their controls.
//
//   window_helper wait KIND TIMEOUT_MS   waits until a window of KIND is shown with its texts
//                                        filled, then prints "X Y WIDTH HEIGHT" (screen pixels)
//   window_helper press KIND BUTTON_ID   clicks a button of the window of KIND, as a click would
//   window_helper move KIND X Y          moves the window of KIND to X, Y
//
// KIND is one of: box (a message box: the confirmation, the closing message), progress (the
// progress dialog), prompt (the read-only prompt). Exit value 0 done, 1 no such window (in time),
// 2 usage error. The uninstaller is the only program with dialogs in the prefix, so any visible
// dialog of the right kind is its own.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Kind { KindBox, KindProgress, KindPrompt, KindNone };

// The control ids that tell the dialogs apart (res/resource.h; a message box's text is 0xFFFF).
constexpr int ProgressBarId = 1009;
constexpr int YesToAllId = 1001;
constexpr int MessageBoxTextId = 0xFFFF;

struct Search {
    Kind wanted;
    HWND found;
};

// WM_GETTEXT reaches the controls of another process; GetWindowText would not.
bool HasText(HWND window)
{
    char text[16] = "";
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                               1000, &result) != 0 &&
           text[0] != '\0';
}

Kind KindOf(HWND dialog)
{
    if (GetDlgItem(dialog, ProgressBarId) != nullptr)
        return KindProgress;
    if (GetDlgItem(dialog, YesToAllId) != nullptr)
        return KindPrompt;
    if (GetDlgItem(dialog, MessageBoxTextId) != nullptr || GetDlgItem(dialog, IDOK) != nullptr)
        return KindBox;
    return KindNone;
}

BOOL CALLBACK CheckWindow(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window) && KindOf(window) == search->wanted) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindDialog(Kind kind)
{
    Search search{kind, nullptr};
    EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A window counts as shown once its caption and its message (or status line) are filled: the
// uninstaller sets them right after creating it.
bool IsFilled(HWND dialog, Kind kind)
{
    int textId = kind == KindBox ? MessageBoxTextId : 1000;
    HWND text = GetDlgItem(dialog, textId);
    return HasText(dialog) && text != nullptr && HasText(text);
}

Kind ParseKind(const char* name)
{
    if (std::strcmp(name, "box") == 0)
        return KindBox;
    if (std::strcmp(name, "progress") == 0)
        return KindProgress;
    if (std::strcmp(name, "prompt") == 0)
        return KindPrompt;
    return KindNone;
}

int Usage()
{
    std::fprintf(stderr, "usage: window_helper wait KIND TIMEOUT_MS | press KIND BUTTON_ID | move KIND X Y\n"
                         "KIND: box, progress or prompt\n");
    return 2;
}

int Wait(Kind kind, const char* kindName, DWORD timeoutMs)
{
    DWORD started = GetTickCount();
    for (;;) {
        HWND dialog = FindDialog(kind);
        if (dialog != nullptr && IsFilled(dialog, kind)) {
            // Let the window paint what it was just given before the screen is taken.
            RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            Sleep(300);
            RECT rect;
            if (!GetWindowRect(dialog, &rect))
                continue; // gone meanwhile: look again
            std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
            return 0;
        }
        if (GetTickCount() - started > timeoutMs) {
            std::fprintf(stderr, "window_helper: no %s window came within %lu ms\n", kindName, timeoutMs);
            return 1;
        }
        Sleep(50);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return Usage();
    Kind kind = ParseKind(argv[2]);
    if (kind == KindNone)
        return Usage();
    if (std::strcmp(argv[1], "wait") == 0 && argc == 4)
        return Wait(kind, argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    HWND dialog = FindDialog(kind);
    if (dialog == nullptr) {
        std::fprintf(stderr, "window_helper: no %s window is shown\n", argv[2]);
        return 1;
    }
    if (std::strcmp(argv[1], "press") == 0 && argc == 4) {
        int id = std::atoi(argv[3]);
        HWND button = GetDlgItem(dialog, id);
        if (button == nullptr) {
            std::fprintf(stderr, "window_helper: the %s window has no button %d\n", argv[2], id);
            return 1;
        }
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return 0;
    }
    if (std::strcmp(argv[1], "move") == 0 && argc == 5) {
        if (!SetWindowPos(dialog, nullptr, std::atoi(argv[3]), std::atoi(argv[4]), 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
            return 1;
        Sleep(300); // the windows uncovered and moved repaint
        return 0;
    }
    return Usage();
}
