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
    std::vector<HWND> answered;
    while (!stop_) {
        for (const Box& box : ListBoxes(GetCurrentProcessId())) {
            if (box.kind != BoxKind::MessageBox && box.kind != BoxKind::ReadOnlyPrompt)
                continue;
            bool seen = false;
            for (HWND window : answered)
                seen = seen || window == box.window;
            if (seen)
                continue;
            Sleep(30); // let the box finish filling its texts
            Box settled;
            if (!ReadBox(box.window, &settled))
                continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(settled);
            }
            Press(box.window, answer_);
            // Wait for the box to go, so a later box that reuses its handle is answered too.
            for (int waited = 0; waited < 200 && IsWindow(box.window); ++waited)
                Sleep(10);
            if (IsWindow(box.window))
                answered.push_back(box.window);
        }
        Sleep(10);
    }
}

} // namespace qt
