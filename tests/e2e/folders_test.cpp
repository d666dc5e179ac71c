// Folder groups and the pruning of emptied folders, end to end: real uninstallers packed with
// their lists, run silently under Wine, the folders checked afterwards.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "install_support.h"
#include "win_test.h"

namespace {

using qt::FileExists;
using qt::FolderExists;
using qt::Join;
using qt::WriteTextFile;

void MakeFolders(const std::string& base, const std::vector<std::string>& relatives)
{
    for (const std::string& relative : relatives)
        ASSERT_TRUE(CreateDirectoryA(Join(base, relative).c_str(), nullptr)) << relative;
}

// The Program Files folder as the 32-bit uninstaller reads it.
std::string ProgramFilesFolder()
{
    HKEY key;
    char value[MAX_PATH] = "";
    DWORD size = sizeof value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) == 0) {
        RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
    }
    return value;
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// --- Folder groups ---------------------------------------------------------------------------

TEST(FolderGroups, ParentLevelsZeroRemovesOnlyItsOwnFolders)
{
    qt::Installation app = qt::MakeInstallation("folders-levels0");
    MakeFolders(app.base, {"Menu", "Menu\\Group", "Other", "Other\\Second"});
    quillon::UninstallData data = qt::StandardData();
    data.folderGroups = {{0, Join(app.base, "Menu\\Group"), Join(app.base, "Other\\Second"), ""}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FolderExists(Join(app.base, "Menu\\Group")));
    EXPECT_FALSE(FolderExists(Join(app.base, "Other\\Second")));
    EXPECT_TRUE(FolderExists(Join(app.base, "Menu"))) << "empty, but above the levels allowed";
    EXPECT_TRUE(FolderExists(Join(app.base, "Other")));
}

TEST(FolderGroups, AFolderThatStaysDoesNotStopTheClimb)
{
    // ParentLevels 2: the first chain keeps a file and stays whole; the second chain, climbing
    // beside it, loses its folder and both parents, and nothing above them.
    qt::Installation app = qt::MakeInstallation("folders-levels2");
    MakeFolders(app.base, {"L1", "L1\\L2", "L1\\L2\\Group", "S1", "S1\\S2", "S1\\S2\\Second", "S1\\Beside"});
    WriteTextFile(Join(app.base, "L1\\L2\\Group\\keep.txt"), "x");
    WriteTextFile(Join(app.base, "L1\\L2\\Group\\Shortcut.lnk"), "x");
    quillon::UninstallData data = qt::StandardData();
    data.folderGroups = {{2, Join(app.base, "L1\\L2\\Group"), Join(app.base, "S1\\S2\\Second"), "Shortcut.lnk"}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FileExists(Join(app.base, "L1\\L2\\Group\\Shortcut.lnk"))) << "the group's file goes first";
    EXPECT_TRUE(FileExists(Join(app.base, "L1\\L2\\Group\\keep.txt")));
    EXPECT_FALSE(FolderExists(Join(app.base, "S1\\S2")));
    EXPECT_TRUE(FolderExists(Join(app.base, "S1"))) << "S1 still holds Beside";
    EXPECT_TRUE(FolderExists(app.base));

    // The same with S1 empty: the second parent goes too, the folder above it stays.
    ASSERT_TRUE(RemoveDirectoryA(Join(app.base, "S1\\Beside").c_str()));
    MakeFolders(app.base, {"S1\\S2", "S1\\S2\\Second"});
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FolderExists(Join(app.base, "S1")));
    EXPECT_TRUE(FolderExists(Join(app.base, "L1\\L2\\Group")));
}

TEST(FolderGroups, AProtectedSecondFolderStopsBothFoldersAtThatLevel)
{
    qt::Installation app = qt::MakeInstallation("folders-protected");
    std::string programFiles = ProgramFilesFolder();
    ASSERT_FALSE(programFiles.empty());
    std::string inProgramFiles = Join(programFiles, "QuillonGroupTest");
    qt::RemoveTree(inProgramFiles);
    ASSERT_TRUE(CreateDirectoryA(inProgramFiles.c_str(), nullptr));
    MakeFolders(app.base, {"A", "P", "P\\B"});
    char windows[MAX_PATH];
    ASSERT_NE(0u, GetWindowsDirectoryA(windows, sizeof windows));

    quillon::UninstallData data = qt::StandardData();
    data.folderGroups = {
        {0, Join(app.base, "A"), windows, ""},
        // Level 0 removes B and the folder in Program Files; level 1 reaches Program Files itself.
        {1, Join(app.base, "P\\B"), inProgramFiles, ""},
    };
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_TRUE(FolderExists(Join(app.base, "A"))) << "empty, but beside the Windows folder";
    EXPECT_FALSE(FolderExists(Join(app.base, "P\\B")));
    EXPECT_FALSE(FolderExists(inProgramFiles));
    EXPECT_TRUE(FolderExists(Join(app.base, "P"))) << "empty, but beside Program Files";
    EXPECT_TRUE(FolderExists(programFiles));
    qt::RemoveTree(inProgramFiles);
}

TEST(FolderGroups, AGroupFolderThatIsTheCurrentDirectoryIsLeftAndRemoved)
{
    qt::Installation app = qt::MakeInstallation("folders-cwd");
    MakeFolders(app.base, {"Group"});
    quillon::UninstallData data = qt::StandardData();
    data.folderGroups = {{0, Join(app.base, "Group"), "", ""}};
    qt::WriteUninstaller(app.exe, data);
    // The uninstaller starts in the group's folder.
    qt::RunSilently(app.exe, Join(app.base, "Group"));
    EXPECT_FALSE(FolderExists(Join(app.base, "Group")));
}

// --- Pruning -----------------------------------------------------------------------------------

TEST(Pruning, TwoFilesOfOneFolderTakeTheFolderAndItsEmptyParents)
{
    qt::Installation app = qt::MakeInstallation("folders-prune-two");
    MakeFolders(app.dir, {"a", "a\\b", "a\\b\\c"});
    WriteTextFile(Join(app.dir, "a\\b\\c\\one.txt"), "x");
    WriteTextFile(Join(app.dir, "a\\b\\c\\two.txt"), "x");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{".\\a\\b\\c", "one.txt", 0}, {".\\a\\b\\c", "two.txt", 0}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FolderExists(Join(app.dir, "a")));
    EXPECT_TRUE(FileExists(app.exe)) << "InstallDir still holds the uninstaller";
    EXPECT_TRUE(FolderExists(app.dir));
}

TEST(Pruning, TheClimbStopsAtAParentThatIsNotEmpty)
{
    qt::Installation app = qt::MakeInstallation("folders-prune-full");
    MakeFolders(app.dir, {"a", "a\\b"});
    WriteTextFile(Join(app.dir, "a\\b\\one.txt"), "x");
    WriteTextFile(Join(app.dir, "a\\other.txt"), "x");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{".\\a\\b", "one.txt", 0}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FolderExists(Join(app.dir, "a\\b")));
    EXPECT_TRUE(FileExists(Join(app.dir, "a\\other.txt")));
}

TEST(Pruning, TheClimbStopsBelowAProtectedFolder)
{
    // The all-users startup folder is protected and, in a fresh prefix, empty: a climb that did
    // not stop would take it. (Made again if an earlier faulty run took it.)
    std::string startup = ShellFolder(CSIDL_COMMON_STARTUP);
    ASSERT_FALSE(startup.empty());
    CreateDirectoryA(startup.c_str(), nullptr);
    ASSERT_TRUE(FolderExists(startup)) << startup;
    std::string mine = Join(startup, "QuillonPrune");
    qt::RemoveTree(mine);
    MakeFolders(startup, {"QuillonPrune", "QuillonPrune\\sub"});
    qt::Installation app = qt::MakeInstallation("folders-prune-protected");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{Join(mine, "sub"), "gone.txt", 0}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FolderExists(mine));
    EXPECT_TRUE(FolderExists(startup));
}

TEST(Pruning, TheClimbEndsAtTheDriveRoot)
{
    std::string top = "C:\\quillon-prune-top";
    qt::RemoveTree(top);
    ASSERT_TRUE(CreateDirectoryA(top.c_str(), nullptr));
    qt::Installation app = qt::MakeInstallation("folders-prune-root");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{top, "gone.txt", 0}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FolderExists(top));
    EXPECT_TRUE(FolderExists("C:\\"));
    EXPECT_TRUE(FolderExists(app.dir));
}

TEST(Pruning, FontEntriesTakeNoPart)
{
    qt::Installation app = qt::MakeInstallation("folders-prune-font");
    MakeFolders(app.dir, {"fonts", "plain"});
    quillon::UninstallData data = qt::StandardData();
    data.files = {{".\\fonts", "QuillonNone.ttf", FILE_FONT}, {".\\plain", "none.txt", 0}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_TRUE(FolderExists(Join(app.dir, "fonts")));
    EXPECT_FALSE(FolderExists(Join(app.dir, "plain")));
}

TEST(Pruning, AFolderEntryIsTriedAgainWithItsEmptyParents)
{
    // The file pass cannot remove p\x, which still holds the group's folder y; the group passes
    // empty and remove y; pruning then tries p\x again, and p above it.
    qt::Installation app = qt::MakeInstallation("folders-prune-again");
    MakeFolders(app.dir, {"p", "p\\x", "p\\x\\y"});
    WriteTextFile(Join(app.dir, "p\\x\\y\\Shortcut.lnk"), "x");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{".\\p\\x", "", 0}};
    data.folderGroups = {{0, Join(app.dir, "p\\x\\y"), "", "Shortcut.lnk"}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
    EXPECT_FALSE(FolderExists(Join(app.dir, "p")));
    EXPECT_TRUE(FolderExists(app.dir));
}

} // namespace
