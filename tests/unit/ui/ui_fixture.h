// Shared set-up for the in-process tests of the windows and dialogs: the stub's own message table
// reader, a fresh hidden main window for every test, a watcher thread that reads and answers modal
// dialogs of the main thread, and a recorder for the commands a dialog receives.
//
// Every wait has a limit. A modal dialog that nobody answers is cancelled by the watcher once its
// limit runs out, and a final message loop that does not end is ended by a watchdog, so a fault
// fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "win_test.h"

namespace ui_test {

// The standard messages of win_test, with texts of our own put in at the numbers given.
std::vector<std::string> MessagesWith(const std::vector<std::pair<int, std::string>>& changes);
// Reads messages through the stub's message table reader (a messages block written to a file).
void LoadMessages(const std::vector<std::string>& messages);

// A message posted to the main window before an action; still queued afterwards means nothing
// pumped the queue in between.
void PostMarker();
bool MarkerQueued();
void DiscardMarkers();

// Destroys the main window and runs the final loop; false when it had to be ended by force.
bool DrainWithin(DWORD timeoutMs);

// Registers the class once per process and creates a new main window and message table per test.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    static bool ClassRegistered;
};

// --- Modal dialogs, watched from a second thread ----------------------------------------------
enum class Act { Press, Key, CloseBox, Nothing };

struct Action {
    Act act;
    int value; // the button id for Press, the virtual key for Key
};

struct DialogSeen {
    bool appeared = false;
    qt::Box box;
    HWND owner = nullptr;
    LONG textStyle = 0;           // style of control 1000
    std::vector<LONG> buttonStyles; // styles of controls 6, 1001, 7, 1002 in that order
    HFONT controlFont = nullptr;  // the font of control 1000
    HFONT dialogFont = nullptr;   // the dialog's own font
    bool closedByAction = false;  // gone after the action, without being forced
};

// Waits (up to 10 s) for a visible dialog of this process other than the progress dialog, reads
// it, then acts on it and waits (up to 5 s) for it to go. Whatever is still open of the main
// thread's dialogs at the end is cancelled, so that the main thread never stays blocked.
class DialogWatcher {
public:
    explicit DialogWatcher(Action action);
    ~DialogWatcher();
    DialogSeen Finish(); // stops watching; returns what was seen
private:
    void Run(Action action);
    std::thread thread_;
    std::atomic<bool> stop_{false};
    DWORD mainThread_;
    DialogSeen seen_;
};

// --- Commands a modeless dialog receives -------------------------------------------------------
struct CommandSeen {
    int id;
    LRESULT result;      // what the dialog returned for it
    LONG_PTR msgResult;  // its DWL_MSGRESULT right after
};

// Subclasses a dialog and records every WM_COMMAND that reaches it, sent or dispatched.
class CommandRecorder {
public:
    explicit CommandRecorder(HWND dialog);
    ~CommandRecorder();
    std::vector<CommandSeen> commands;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND dialog_;
    WNDPROC original_;
};

} // namespace ui_test
