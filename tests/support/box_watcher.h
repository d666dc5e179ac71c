// Answers the message boxes that the test's own process shows, from a second thread, so that
// in-process tests can run code that asks the user (the loader's error box, the prompts) without
// blocking. Every box is read before it is answered and kept in order.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "win_test.h"

namespace qt {

class BoxWatcher {
public:
    explicit BoxWatcher(int answer);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;
    std::vector<Box> Seen();

private:
    void Watch();
    int answer_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Box> seen_;
    std::thread thread_;
};

} // namespace qt
