// Shared set-up of the in-process tests of the folder-group, empty-folder, pattern and registry
// passes: a started run (the stub's own start-up, so the path buffers are the real ones), removal
// lists of the test's making laid out as the loader leaves them, the current directory put back
// after each test, and a recorder of the positions the passes send to the real progress bar.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/format.h"
#include "data/lists.h"
#include "data/text.h"
#include "run/driver.h"
#include "data/run_context.h"
#include "ui/progress.h"
#include "win_test.h"

namespace passes_test {

inline std::vector<char> TextBytes(const std::string& text)
{
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

inline std::string CurrentDirectory()
{
    char path[MAX_PATH * 2] = "";
    GetCurrentDirectoryA(sizeof path, path);
    return path;
}

// Opens the stub's progress dialog and records every position sent to its bar, in order. The
// optional step callback runs inside the pass, at the moment the bar moves. The dialog is opened
// once and left open for the rest of the test program: under Wine every hiding or destruction of a
// visible window costs seconds.
class ProgressRecorder {
public:
    // The one recorder, its dialog open and its records empty; null when the dialog cannot open.
    static ProgressRecorder* Start()
    {
        ProgressRecorder& recorder = Instance();
        if (recorder.previous_ == nullptr) {
            if (!OpenProgressDialog() || TheRun.ProgressBar == nullptr)
                return nullptr;
            recorder.previous_ = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(TheRun.ProgressBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BarProc)));
            if (recorder.previous_ == nullptr)
                return nullptr;
        }
        recorder.values.clear();
        recorder.onStep = nullptr;
        return &recorder;
    }
    // Drops the callback, whose captures belong to the test that set it.
    static void Forget()
    {
        Instance().onStep = nullptr;
        Instance().values.clear();
    }
    std::vector<unsigned> values;
    std::function<void(unsigned)> onStep;

private:
    static ProgressRecorder& Instance()
    {
        static ProgressRecorder recorder;
        return recorder;
    }
    static LRESULT CALLBACK BarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        ProgressRecorder& recorder = Instance();
        if (message == PBM_SETPOS) {
            recorder.values.push_back(static_cast<unsigned>(wParam));
            if (recorder.onStep)
                recorder.onStep(static_cast<unsigned>(wParam));
        }
        return CallWindowProcA(recorder.previous_, window, message, wParam, lParam);
    }
    WNDPROC previous_ = nullptr;
};

class PassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDirectory_ = CurrentDirectory();
        DetectPlatform();
        ASSERT_TRUE(InitializeRun(GetModuleHandleA(nullptr)));
        TheRun.StepTotal = 0;
        TheRun.LastProgressPos = 0;
    }

    void TearDown() override
    {
        ProgressRecorder::Forget();
        SetCurrentDirectoryA(savedDirectory_.c_str());
        TheRun.FileList = nullptr;
        TheRun.FileCount = 0;
        TheRun.FolderGroupList = nullptr;
        TheRun.FolderGroupCount = 0;
        TheRun.RegistryList = nullptr;
        TheRun.RegistryCount = 0;
        TheRun.PatternList = nullptr;
        TheRun.PatternListLength = 0;
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

    void SetFiles(const std::vector<quillon::FileItem>& items)
    {
        files_.clear();
        filePointers_.clear();
        for (const quillon::FileItem& item : items) {
            auto record = std::make_unique<FileRecord>();
            record->folder = TextBytes(item.folder);
            record->name = TextBytes(item.name);
            record->entry.Folder = record->folder.data();
            record->entry.FileName = record->name.data();
            record->entry.Flags = item.flags;
            filePointers_.push_back(&record->entry);
            files_.push_back(std::move(record));
        }
        TheRun.FileList = filePointers_.empty() ? nullptr : filePointers_.data();
        TheRun.FileCount = static_cast<DWORD>(filePointers_.size());
    }

    void SetGroups(const std::vector<quillon::FolderGroupItem>& items)
    {
        groups_.clear();
        groupPointers_.clear();
        for (const quillon::FolderGroupItem& item : items) {
            auto record = std::make_unique<GroupRecord>();
            record->folder = TextBytes(item.folder);
            record->second = TextBytes(item.secondFolder);
            record->name = TextBytes(item.fileName);
            record->entry.ParentLevels = item.parentLevels;
            record->entry.Folder = record->folder.data();
            record->entry.SecondFolder = record->second.data();
            record->entry.FileName = record->name.data();
            groupPointers_.push_back(&record->entry);
            groups_.push_back(std::move(record));
        }
        TheRun.FolderGroupList = groupPointers_.empty() ? nullptr : groupPointers_.data();
        TheRun.FolderGroupCount = static_cast<DWORD>(groupPointers_.size());
    }

    void SetRegistry(const std::vector<quillon::RegistryItem>& items)
    {
        keys_.clear();
        keyPointers_.clear();
        for (const quillon::RegistryItem& item : items) {
            auto record = std::make_unique<KeyRecord>();
            record->path = TextBytes(item.keyPath);
            record->entry.Root = item.root;
            record->entry.KeyPath = record->path.data();
            keyPointers_.push_back(&record->entry);
            keys_.push_back(std::move(record));
        }
        TheRun.RegistryList = keyPointers_.empty() ? nullptr : keyPointers_.data();
        TheRun.RegistryCount = static_cast<DWORD>(keyPointers_.size());
    }

    // The key text of registry entry index as the pass left it (it edits texts in place).
    std::string KeyText(size_t index) const { return keys_.at(index)->path.data(); }

    // The pattern list as the loader keeps it: strings, each with its NUL, then an empty string.
    void SetPatterns(const std::vector<std::string>& patterns)
    {
        patterns_.clear();
        for (const std::string& pattern : patterns) {
            patterns_.insert(patterns_.end(), pattern.begin(), pattern.end());
            patterns_.push_back('\0');
        }
        patterns_.push_back('\0');
        SetRawPatterns(patterns_, static_cast<DWORD>(patterns_.size()));
    }
    void SetRawPatterns(const std::vector<char>& bytes, DWORD length)
    {
        patterns_ = bytes;
        TheRun.PatternList = patterns_.data();
        TheRun.PatternListLength = length;
    }

private:
    std::string savedDirectory_;
    struct FileRecord {
        std::vector<char> folder, name;
        FileEntry entry;
    };
    struct GroupRecord {
        std::vector<char> folder, second, name;
        FolderGroupEntry entry;
    };
    struct KeyRecord {
        std::vector<char> path;
        RegistryEntry entry;
    };
    std::vector<std::unique_ptr<FileRecord>> files_;
    std::vector<FileEntry*> filePointers_;
    std::vector<std::unique_ptr<GroupRecord>> groups_;
    std::vector<FolderGroupEntry*> groupPointers_;
    std::vector<std::unique_ptr<KeyRecord>> keys_;
    std::vector<RegistryEntry*> keyPointers_;
    std::vector<char> patterns_;
};

} // namespace passes_test
