// The pattern pass in-process: where it leaves the current directory and InstallDir, the two
// working procedures on their own, paths too long for the stub's buffers, trees deeper than a path,
// and pattern lists that end badly. What a whole run removes is covered end to end (patterns_test).
#include <gtest/gtest.h>

#include <string>

#include "passes_support.h"
#include "remove/patterns.h"
#include "win_test.h"

namespace {

using passes_test::CurrentDirectory;
using passes_test::PassTest;
using qt::FileExists;
using qt::FolderExists;
using qt::FreshFolder;
using qt::Join;
using qt::WriteTextFile;

class PatternPass : public PassTest {};

TEST_F(PatternPass, RemovePatternInCwdCleansTheTreeAndEndsInTheParent)
{
    std::string base = FreshFolder("patterns-cwd");
    std::string tree = Join(base, "tree");
    std::string sub = Join(tree, "sub");
    std::string gone = Join(sub, "gone");
    for (const std::string& path : {tree, sub, gone})
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    WriteTextFile(Join(tree, "a.log"), "x");
    WriteTextFile(Join(sub, "b.log"), "x");
    WriteTextFile(Join(sub, "keep.txt"), "x");
    WriteTextFile(Join(gone, "c.log"), "x");

    ASSERT_TRUE(SetCurrentDirectoryA(tree.c_str()));
    RemovePatternInCwd("*.log");
    EXPECT_EQ(base, CurrentDirectory());
    EXPECT_FALSE(FileExists(Join(tree, "a.log")));
    EXPECT_FALSE(FileExists(Join(sub, "b.log")));
    EXPECT_FALSE(FolderExists(gone));
    EXPECT_TRUE(FileExists(Join(sub, "keep.txt")));
    EXPECT_TRUE(FolderExists(tree));
}

TEST_F(PatternPass, RemoveCwdAndStepUpRemovesAnEmptyFolderAndLeavesAFullOne)
{
    std::string base = FreshFolder("patterns-stepup");
    std::string empty = Join(base, "empty");
    std::string full = Join(base, "full");
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(full.c_str(), nullptr));
    WriteTextFile(Join(full, "f.txt"), "x");

    ASSERT_TRUE(SetCurrentDirectoryA(empty.c_str()));
    RemoveCwdAndStepUp();
    EXPECT_EQ(base, CurrentDirectory());
    EXPECT_FALSE(FolderExists(empty));

    ASSERT_TRUE(SetCurrentDirectoryA(full.c_str()));
    RemoveCwdAndStepUp();
    EXPECT_EQ(base, CurrentDirectory());
    EXPECT_TRUE(FolderExists(full));
}

TEST_F(PatternPass, AfterAFolderWasEnteredInstallDirLacksItsBackslashAndIsCurrent)
{
    std::string install = FreshFolder("patterns-installdir");
    ASSERT_TRUE(CreateDirectoryA(Join(install, "logs").c_str(), nullptr));
    SetInstallDir(install);
    SetPatterns({"logs\\*.log"});
    RemovePatterns();
    EXPECT_EQ(install, std::string(TheRun.InstallDir));
    EXPECT_EQ(install, CurrentDirectory());
}

TEST_F(PatternPass, WhenNoFolderIsEnteredNothingChanges)
{
    std::string install = FreshFolder("patterns-none");
    WriteTextFile(Join(install, "a.log"), "x");
    SetInstallDir(install);
    std::string before = CurrentDirectory();
    // A missing folder, no backslash after expansion, a protected folder.
    SetPatterns({"missing\\*.log", "#Unknown#a.log", "#Windows#\\*.log"});
    RemovePatterns();
    EXPECT_EQ(install + "\\", std::string(TheRun.InstallDir));
    EXPECT_EQ(before, CurrentDirectory());
    EXPECT_TRUE(FileExists(Join(install, "a.log")));
}

TEST_F(PatternPass, AFilePatternWithASlashOrADriveIsRefused)
{
    // Listed through the slash or the drive, found names would be deleted in the pattern's folder:
    // here x.log of the installation folder, which only shares a name with logs\x.log.
    std::string install = FreshFolder("patterns-slash");
    std::string logs = Join(install, "logs");
    ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr));
    WriteTextFile(Join(logs, "x.log"), "x");
    WriteTextFile(Join(install, "x.log"), "x");
    SetInstallDir(install);
    ASSERT_TRUE(SetCurrentDirectoryA(install.c_str()));
    SetPatterns({"logs/*.log", "C:*.log"});
    RemovePatterns();
    EXPECT_TRUE(FileExists(Join(install, "x.log")));
    EXPECT_TRUE(FileExists(Join(logs, "x.log")));
}

TEST_F(PatternPass, NoListOrAnEmptyListDoesNothing)
{
    std::string install = FreshFolder("patterns-empty");
    SetInstallDir(install);
    std::string before = CurrentDirectory();
    TheRun.PatternList = nullptr;
    TheRun.PatternListLength = 0;
    RemovePatterns();
    SetPatterns({});
    RemovePatterns();
    EXPECT_EQ(before, CurrentDirectory());
    EXPECT_EQ(install + "\\", std::string(TheRun.InstallDir));
}

TEST_F(PatternPass, NothingBeyondTheListLengthIsRead)
{
    std::string install = FreshFolder("patterns-bounds");
    WriteTextFile(Join(install, "a.log"), "x");
    WriteTextFile(Join(install, "b.log"), "x");
    SetInstallDir(install);
    std::string bytes("none\\*.x\0*.log\0\0", 16);
    // The list ends after its first string, without the closing empty string.
    SetRawPatterns(std::vector<char>(bytes.begin(), bytes.end()), 9);
    RemovePatterns();
    EXPECT_TRUE(FileExists(Join(install, "a.log")));
    // A last string without its NUL inside the length is not used.
    std::string cut("b.log\0\0", 7);
    SetRawPatterns(std::vector<char>(cut.begin(), cut.end()), 5);
    RemovePatterns();
    EXPECT_TRUE(FileExists(Join(install, "b.log")));
}

TEST_F(PatternPass, ACompositionLongerThanAPathIsSkippedAndNeverCut)
{
    std::string install = FreshFolder("patterns-long");
    std::string sub = Join(install, "sub");
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    // InstallDir\sub\<name> is 300 characters; cut at 259 it would name this file.
    std::string name(300 - sub.size() - 1, 'n');
    std::string cutName = name.substr(0, PATH_SIZE - 1 - sub.size() - 1);
    WriteTextFile(Join(sub, cutName), "x");
    ASSERT_TRUE(FileExists(Join(sub, cutName)));
    SetInstallDir(install);
    SetPatterns({"sub\\" + name, "#InstallDir#\\sub\\" + name, std::string(400, '#')});
    RemovePatterns();
    EXPECT_TRUE(FileExists(Join(sub, cutName)));
    EXPECT_EQ(install + "\\", std::string(TheRun.InstallDir)) << "no pattern folder was entered";
}

TEST_F(PatternPass, WhatLiesDeeperThanAPathStaysAndThePassEndsInPlace)
{
    std::string install = FreshFolder("patterns-deep");
    // Build a chain of folders whose deepest paths pass 259 characters, with a log at each level.
    std::wstring folder(install.begin(), install.end());
    folder = L"\\\\?\\" + folder + L"\\deep";
    std::vector<std::wstring> levels;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    while (folder.size() < 340) {
        levels.push_back(folder);
        HANDLE file = CreateFileW((folder + L"\\a.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
        folder += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    SetInstallDir(install);
    SetPatterns({"deep\\*.log"});
    RemovePatterns();
    EXPECT_EQ(install, CurrentDirectory());
    // The shallow levels lost their logs; beyond a path's length nothing was touched.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((levels.front() + L"\\a.log").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((levels.back() + L"\\a.log").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str())) << "the deepest folder stays";
    // Clean up the long tree from the bottom.
    RemoveDirectoryW(folder.c_str());
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        DeleteFileW((*level + L"\\a.log").c_str());
        RemoveDirectoryW(level->c_str());
    }
}

} // namespace
