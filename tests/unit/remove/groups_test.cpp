// The folder-group passes and the empty-folder pass in-process: stepping out of the current
// directory, the progress positions they report, the last pruned folder, and paths too long for
// the stub's buffers. The removals on a whole run are covered end to end (folders_test).
#include <gtest/gtest.h>

#include <string>

#include "passes_support.h"
#include "remove/folder_groups.h"
#include "win_test.h"

namespace {

using passes_test::CurrentDirectory;
using passes_test::PassTest;
using passes_test::ProgressRecorder;
using qt::FolderExists;
using qt::FileExists;
using qt::FreshFolder;
using qt::Join;

class FolderGroupPass : public PassTest {};
class PrunePass : public PassTest {};

TEST_F(FolderGroupPass, AFolderThatIsTheCurrentDirectoryIsSteppedOutOfAndRemoved)
{
    std::string base = FreshFolder("groups-cwd");
    std::string parent = Join(base, "Parent");
    std::string folder = Join(parent, "Shortcuts");
    ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));

    SetGroups({{0, folder, "", ""}});
    RemoveFolderGroups();
    EXPECT_FALSE(FolderExists(folder));
    EXPECT_TRUE(FolderExists(parent)) << "ParentLevels 0 climbs no further";
    EXPECT_EQ(parent, CurrentDirectory());
}

TEST_F(FolderGroupPass, ASecondFolderThatIsTheCurrentDirectoryIsSteppedOutOfAndRemoved)
{
    std::string base = FreshFolder("groups-cwd2");
    std::string first = Join(base, "First");
    std::string parent = Join(base, "Parent");
    std::string second = Join(parent, "Second");
    for (const std::string& path : {first, parent, second})
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(second.c_str()));

    SetGroups({{0, first, second, ""}});
    RemoveFolderGroups();
    EXPECT_FALSE(FolderExists(first));
    EXPECT_FALSE(FolderExists(second));
    EXPECT_EQ(parent, CurrentDirectory());
}

TEST_F(FolderGroupPass, TheCurrentDirectoryIsComparedWithoutRegardToCase)
{
    std::string base = FreshFolder("groups-cwd3");
    std::string folder = Join(base, "Shortcuts");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));

    std::string upper = folder;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    SetGroups({{0, upper, "", ""}});
    RemoveFolderGroups();
    EXPECT_FALSE(FolderExists(folder));
    EXPECT_EQ(base, CurrentDirectory());
}

TEST_F(FolderGroupPass, AGroupFileWhosePathDoesNotFitIsLeftAndNoShorterPathIsTouched)
{
    std::string base = FreshFolder("groups-long");
    // Folder + "\" + name is 300 characters; cut at 259 it would name this existing file.
    std::string name(300 - base.size() - 1, 'n');
    std::string cut = Join(base, name).substr(0, PATH_SIZE - 1);
    qt::WriteTextFile(cut, "x");
    ASSERT_TRUE(FileExists(cut));

    SetGroups({{0, "", "", ""}, {0, base, "", name}});
    RemoveFolderGroupFiles();
    EXPECT_TRUE(FileExists(cut));
}

TEST_F(FolderGroupPass, AFolderLongerThanAPathIsSkippedWhole)
{
    std::string base = FreshFolder("groups-long2");
    std::string empty = Join(base, "Empty");
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
    // 300 characters under Empty: its parent (Empty) would go if the entry climbed.
    std::string longFolder = Join(empty, std::string(300 - empty.size() - 1, 'f'));
    SetGroups({{1, longFolder, "", ""}, {1, empty + "\\x", longFolder, ""}});
    RemoveFolderGroups();
    EXPECT_TRUE(FolderExists(empty));
}

// Ten file entries (one a font), two folder groups, three registry entries: StepTotal 25.
TEST_F(FolderGroupPass, ProgressFollowsTheFilePassSteps)
{
    std::string base = FreshFolder("groups-progress");
    ProgressRecorder* recorder = ProgressRecorder::Start();
    ASSERT_NE(nullptr, recorder);
    std::vector<quillon::FileItem> files(10, quillon::FileItem{base + "\\none", "x.txt", 0});
    SetFiles(files);
    SetGroups({{0, base + "\\g1", "", "a.lnk"}, {0, base + "\\g2", "", ""}});
    TheRun.RegistryCount = 3;
    TheRun.StepTotal = 25;

    RemoveFolderGroupFiles();
    EXPECT_EQ((std::vector<unsigned>{40, 44}), recorder->values);
    RemoveFolderGroups();
    EXPECT_EQ((std::vector<unsigned>{40, 44, 40, 44}), recorder->values);
    TheRun.RegistryCount = 0;
}

TEST_F(FolderGroupPass, NoProgressWithoutAStepTotal)
{
    std::string base = FreshFolder("groups-noprogress");
    ProgressRecorder* recorder = ProgressRecorder::Start();
    ASSERT_NE(nullptr, recorder);
    SetFiles(std::vector<quillon::FileItem>(10, quillon::FileItem{base, "x.txt", 0}));
    SetGroups({{0, base + "\\g1", "", "a.lnk"}, {0, base + "\\g2", "", ""}});
    TheRun.StepTotal = 0;
    RemoveFolderGroupFiles();
    RemoveFolderGroups();
    PruneEmptyFolders();
    EXPECT_TRUE(recorder->values.empty());
}

TEST_F(PrunePass, ProgressCountsFromRegistryGroupsAndFilesAndSkipsFonts)
{
    std::string base = FreshFolder("prune-progress");
    SetInstallDir(base);
    ProgressRecorder* recorder = ProgressRecorder::Start();
    ASSERT_NE(nullptr, recorder);
    std::vector<quillon::FileItem> files(10, quillon::FileItem{".\\none", "x.txt", 0});
    files[3].flags = FILE_FONT;
    SetFiles(files);
    SetGroups({{0, "", "", ""}, {0, "", "", ""}});
    TheRun.RegistryCount = 3;
    TheRun.StepTotal = 25;

    PruneEmptyFolders();
    EXPECT_EQ((std::vector<unsigned>{60, 64, 68, 76, 80, 84, 88, 92, 96}), recorder->values);
    TheRun.RegistryCount = 0;
}

TEST_F(PrunePass, TheProcessStandsInTheParentOfInstallDirWhichKeepsItsBackslash)
{
    std::string base = FreshFolder("prune-cwd");
    std::string install = Join(base, "App");
    ASSERT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
    // As the pattern pass leaves it: without the trailing backslash.
    ASSERT_TRUE(CopyText(TheRun.InstallDir, PATH_SIZE, install.c_str()));
    SetFiles({});
    PruneEmptyFolders();
    EXPECT_EQ(install + "\\", std::string(TheRun.InstallDir));
    EXPECT_EQ(base, CurrentDirectory());
}

TEST_F(PrunePass, ASecondFileOfTheLastPrunedFolderDoesNotClimbAgain)
{
    std::string base = FreshFolder("prune-last");
    std::string install = Join(base, "App");
    std::string folder = Join(install, "data");
    ASSERT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    qt::WriteTextFile(Join(install, "uninstall.exe"), "x");
    SetInstallDir(install);
    SetFiles({{".\\data", "a.txt", 0}, {".\\DATA", "b.txt", 0}, {".\\data", "c.txt", 0}});

    // The folder comes back while the bar moves after the first entry; the later entries of the
    // same folder must not take it away again.
    ProgressRecorder* recorder = ProgressRecorder::Start();
    ASSERT_NE(nullptr, recorder);
    int recreated = 0;
    recorder->onStep = [&](unsigned) {
        if (recreated++ == 0) {
            EXPECT_FALSE(FolderExists(folder)) << "the first entry removes the folder";
            CreateDirectoryA(folder.c_str(), nullptr);
        }
    };
    TheRun.StepTotal = 6;
    PruneEmptyFolders();
    EXPECT_GE(recreated, 1);
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(FolderExists(install));
}

TEST_F(PrunePass, AnotherFolderIsTriedAfterTheLastPrunedOne)
{
    std::string base = FreshFolder("prune-other");
    std::string install = Join(base, "App");
    ASSERT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
    for (const char* name : {"one", "two"})
        ASSERT_TRUE(CreateDirectoryA(Join(install, name).c_str(), nullptr));
    qt::WriteTextFile(Join(install, "uninstall.exe"), "x");
    SetInstallDir(install);
    SetFiles({{".\\one", "a.txt", 0}, {".\\two", "b.txt", 0}, {".\\one", "c.txt", 0}});
    PruneEmptyFolders();
    EXPECT_FALSE(FolderExists(Join(install, "one")));
    EXPECT_FALSE(FolderExists(Join(install, "two")));
    EXPECT_TRUE(FolderExists(install));
}

TEST_F(PrunePass, AnEntryWhosePathDoesNotFitRemovesNothing)
{
    std::string base = FreshFolder("prune-long");
    std::string install = Join(base, "App");
    ASSERT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
    qt::WriteTextFile(Join(install, "uninstall.exe"), "x");
    SetInstallDir(install);
    // The file's folder is 300 characters long; cut at 259 it would name this empty folder.
    std::string relative = std::string(300 - install.size() - 1, 'd');
    std::string cut = Join(install, relative).substr(0, PATH_SIZE - 1);
    ASSERT_TRUE(CreateDirectoryA(cut.c_str(), nullptr)) << cut.size();
    SetFiles({{".\\" + relative, "x.txt", 0}, {".\\" + relative, "", 0}});
    PruneEmptyFolders();
    EXPECT_TRUE(FolderExists(cut));
}

} // namespace
