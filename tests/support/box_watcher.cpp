// A second thread that answers the boxes of the test's own process; see box_watcher.h.
#include "box_watcher.h"

namespace qt {

BoxWatcher::BoxWatcher(int answer) : answer_(answer), thread_(&BoxWatcher::Watch, this) {}

BoxWatcher::~BoxWatcher()
{
    stop_ = true;
    thread_.join();
}

std::vector<Box> BoxWatcher::Seen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void BoxWatcher::Watch()
{
    // Only windows not answered yet are read: reading sends messages to the window's thread, and
    // a box that is closing may belong to a thread that no longer answers.
    std::vector<HWND> answered;
    while (!stop_) {
        std::vector<HWND> stillThere;
        for (HWND window : answered) {
            if (IsWindow(window))
                stillThere.push_back(window);
        }
        answered.swap(stillThere);
        for (HWND window : ListDialogWindows(GetCurrentProcessId())) {
            bool seen = false;
            for (HWND done : answered)
                seen = seen || done == window;
            if (seen)
                continue;
            Sleep(30); // let the box finish filling its texts
            Box box;
            if (!ReadBox(window, &box))
                continue;
            if (box.kind != BoxKind::MessageBox && box.kind != BoxKind::ReadOnlyPrompt)
                continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(box);
            }
            answered.push_back(window);
            Press(window, answer_);
        }
        Sleep(10);
    }
}

} // namespace qt
