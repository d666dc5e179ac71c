// Shared set-up of the in-process file pass tests: the passes' own fixture (a started run, with
// the stub's own start-up, so the path buffers are the real ones, and a file list of the test's
// making), and a message table of the test's making.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files_support.h"
#include "passes_support.h"
#include "win_test.h"

namespace files_test {

class FilePassTest : public passes_test::PassTest {
protected:
    void TearDown() override
    {
        TheRun.MessageTable = nullptr;  // owned here, so never released by the stub
        passes_test::PassTest::TearDown();
    }

    // Table 0 as the loader would leave it (owned here, so never released by the stub).
    void SetMessages(const std::vector<std::string>& messages)
    {
        messageTexts_.clear();
        messagePointers_.clear();
        for (const std::string& text : messages)
            messageTexts_.push_back(passes_test::TextBytes(text));
        for (std::vector<char>& text : messageTexts_)
            messagePointers_.push_back(text.data());
        messagePointers_.push_back(nullptr);
        TheRun.MessageTable = messagePointers_.data();
    }

private:
    std::vector<std::vector<char>> messageTexts_;
    std::vector<char*> messagePointers_;
};

} // namespace files_test
