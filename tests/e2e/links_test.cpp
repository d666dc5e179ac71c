// Links along listed paths, end to end. links.sh makes, from the Linux side, C:\quillon-hard with
// a victim folder, App\data a link to it, and App\prepared a link to a second victim. An
// unprivileged user could have made such links; no pass may delete, unregister or prune through
// them, and a folder swapped for one while the pattern pass works inside its tree must not be
// followed either.
#include <gtest/gtest.h>

#include <string>

#include "install_support.h"
#include "win_test.h"

namespace {

using qt::FileExists;
using qt::FolderExists;
using qt::Join;

const char Root[] = "C:\\quillon-hard";
const BYTE COM_SERVER = 0x04;

bool IsLink(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST(Links, NoPassWorksThroughALinkAlongAListedPath)
{
    std::string app = Join(Root, "App");
    std::string victim = Join(Root, "victim");
    ASSERT_TRUE(IsLink(Join(app, "data"))) << "run through links.sh, which makes the links";
    ASSERT_TRUE(FileExists(Join(app, "data\\important.dll"))) << "the link leads to the victim";
    ASSERT_TRUE(CopyFileA(qt::TestBinPath("files_com_marker.dll").c_str(), Join(victim, "server.dll").c_str(), FALSE));
    ASSERT_TRUE(CreateDirectoryA(Join(app, "own").c_str(), nullptr));
    qt::WriteTextFile(Join(app, "own\\own.dll"), "x");

    std::string exe = Join(app, "uninstall.exe");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{".\\own", "own.dll"},
                  {".\\data", "important.dll"},
                  {".\\data", "server.dll", COM_SERVER},
                  {".\\data\\empty", ""},
                  {".\\data\\empty", "gone.txt"}};
    data.folderGroups = {{0, Join(app, "data\\sub"), "", "group.txt"}};
    data.patterns = {"data\\logs\\*.log", "data\\*.log"};
    qt::WriteUninstaller(exe, data);
    qt::RunSilently(exe, app);

    EXPECT_FALSE(FolderExists(Join(app, "own"))) << "what lies in the tree itself still goes";
    EXPECT_TRUE(IsLink(Join(app, "data")));
    EXPECT_TRUE(FileExists(Join(victim, "important.dll"))) << "file entry";
    EXPECT_TRUE(FileExists(Join(victim, "server.dll")));
    EXPECT_FALSE(FileExists(Join(victim, "server.dll.marker"))) << "regsvr32 /u ran on the victim's server";
    EXPECT_TRUE(FileExists(Join(victim, "sub\\group.txt"))) << "folder group";
    EXPECT_TRUE(FileExists(Join(victim, "logs\\keep.log"))) << "pattern below the link";
    EXPECT_TRUE(FileExists(Join(victim, "top.log"))) << "pattern whose folder is the link";
    EXPECT_TRUE(FolderExists(Join(victim, "empty"))) << "pruning";
}

// The pass lists logs (aaa, evil) and cleans aaa first. Once aaa's first file is gone, the
// swapper of links.sh renames evil away and a link to the victim into its place: the listing of
// logs still says evil is a plain folder. The pass must not follow it.
TEST(Links, AFolderSwappedForALinkWhileThePatternPassRunsIsNotFollowed)
{
    std::string app = Join(Root, "App");
    std::string logs = Join(app, "logs");
    std::string victim = Join(Root, "racevictim");
    ASSERT_TRUE(IsLink(Join(app, "prepared"))) << "run through links.sh, which makes the links";
    ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(Join(logs, "evil").c_str(), nullptr));
    qt::WriteTextFile(Join(logs, "evil\\e.log"), "x");
    std::string aaa = Join(logs, "aaa");
    ASSERT_TRUE(CreateDirectoryA((aaa + ".new").c_str(), nullptr));
    // Many files, so that the pass is still busy in aaa while the swapper works; the folder gets
    // its name (which the swapper waits for) only when it is full.
    for (int i = 0; i < 1000; ++i)
        qt::WriteTextFile(Join(aaa + ".new", "a" + std::to_string(1000 + i) + ".log"), "x");
    ASSERT_TRUE(MoveFileA((aaa + ".new").c_str(), aaa.c_str()));

    std::string exe = Join(app, "uninstall.exe");
    quillon::UninstallData data = qt::StandardData();
    data.patterns = {"logs\\*.log"};
    qt::WriteUninstaller(exe, data);
    qt::RunSilently(exe, app);

    std::string result = Join(Root, "swapper.result");
    for (int waited = 0; waited < 100 && !FileExists(result); ++waited)
        Sleep(50);
    EXPECT_EQ("swapped\n", qt::ReadTextFile(result)) << "the attack did not take place as staged";
    EXPECT_FALSE(FolderExists(aaa)) << "the pass ran";
    EXPECT_TRUE(IsLink(Join(logs, "evil")));
    EXPECT_TRUE(FileExists(Join(victim, "r.log")));
    EXPECT_TRUE(FileExists(Join(victim, "deep\\d.log")));
}

} // namespace
