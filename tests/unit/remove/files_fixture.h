// Shared set-up of the in-process file pass tests: a started run (the stub's own start-up, so
// the path buffers are the real ones) and a file list of the test's making.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "data/format.h"
#include "data/lists.h"
#include "data/text.h"
#include "run/driver.h"
#include "run/run_context.h"
#include "files_support.h"
#include "win_test.h"

namespace files_test {

class FilePassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectPlatform();
        ASSERT_TRUE(InitializeRun(GetModuleHandleA(nullptr)));
        TheRun.StepTotal = 0;
        TheRun.LastProgressPos = 0;
    }

    void TearDown() override
    {
        TheRun.FileList = nullptr;
        TheRun.FileCount = 0;
        TheRun.MessageTable = nullptr;
        TheRun.StepTotal = 0;
        DetectPlatform();
        FinalizeRun();
    }

    // InstallDir as the stub keeps it: with one trailing backslash.
    void SetInstallDir(const std::string& folder)
    {
        std::string withBackslash = folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
        ASSERT_TRUE(CopyText(TheRun.InstallDir, PATH_SIZE, withBackslash.c_str())) << folder;
    }

    // The list as the loader would leave it: records that hold their own texts, in list order.
    void SetFiles(const std::vector<quillon::FileItem>& items)
    {
        records_.clear();
        pointers_.clear();
        for (const quillon::FileItem& item : items) {
            auto record = std::make_unique<Record>();
            record->folder.assign(item.folder.begin(), item.folder.end());
            record->folder.push_back('\0');
            record->name.assign(item.name.begin(), item.name.end());
            record->name.push_back('\0');
            record->entry.Folder = record->folder.data();
            record->entry.FileName = record->name.data();
            record->entry.Flags = item.flags;
            pointers_.push_back(&record->entry);
            records_.push_back(std::move(record));
        }
        TheRun.FileList = pointers_.empty() ? nullptr : pointers_.data();
        TheRun.FileCount = static_cast<DWORD>(pointers_.size());
    }

    // Table 0 as the loader would leave it (owned here, so never released by the stub).
    void SetMessages(const std::vector<std::string>& messages)
    {
        messageTexts_.clear();
        messagePointers_.clear();
        for (const std::string& text : messages)
            messageTexts_.push_back(std::vector<char>(text.c_str(), text.c_str() + text.size() + 1));
        for (std::vector<char>& text : messageTexts_)
            messagePointers_.push_back(text.data());
        messagePointers_.push_back(nullptr);
        TheRun.MessageTable = messagePointers_.data();
    }

private:
    std::vector<std::vector<char>> messageTexts_;
    std::vector<char*> messagePointers_;
    struct Record {
        std::vector<char> folder;
        std::vector<char> name;
        FileEntry entry;
    };
    std::vector<std::unique_ptr<Record>> records_;
    std::vector<FileEntry*> pointers_;
};

} // namespace files_test
