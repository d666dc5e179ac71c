// The pattern pass and links, end to end. patterns_links.sh makes, from the Linux side, a folder
// C:\quillon-links\outside with logs in it, a link to it inside the pattern's tree (App\logs\link)
// and a link to it standing for a pattern's own folder (App\linked). The pass must delete through
// neither: the link stays, and so does every file of the folder it points at.
#include <gtest/gtest.h>

#include <string>

#include "install_support.h"
#include "win_test.h"

namespace {

using qt::FileExists;
using qt::FolderExists;
using qt::Join;

const char Root[] = "C:\\quillon-links";

bool IsLink(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(PatternLinks, NoLinkIsFollowedNeitherInsideTheTreeNorAsThePatternsFolder)
{
    std::string app = Join(Root, "App");
    std::string outside = Join(Root, "outside");
    ASSERT_TRUE(IsLink(Join(app, "logs\\link"))) << "run through patterns_links.sh, which makes the links";
    ASSERT_TRUE(IsLink(Join(app, "linked")));
    ASSERT_TRUE(FileExists(Join(app, "logs\\link\\keep.log"))) << "the link leads to the outside folder";

    qt::WriteTextFile(Join(app, "logs\\a.log"), "x");
    ASSERT_TRUE(CreateDirectoryA(Join(app, "logs\\sub").c_str(), nullptr));
    qt::WriteTextFile(Join(app, "logs\\sub\\b.log"), "x");
    std::string exe = Join(app, "uninstall.exe");
    quillon::UninstallData data = qt::StandardData();
    data.patterns = {"logs\\*.log", "linked\\*.log", "#InstallDir#\\linked\\"};
    qt::WriteUninstaller(exe, data);
    qt::RunSilently(exe, app);

    EXPECT_FALSE(FileExists(Join(app, "logs\\a.log")));
    EXPECT_FALSE(FolderExists(Join(app, "logs\\sub"))) << "the rest of the tree is cleaned as usual";
    EXPECT_TRUE(IsLink(Join(app, "logs\\link")));
    EXPECT_TRUE(IsLink(Join(app, "linked")));
    EXPECT_TRUE(FolderExists(Join(app, "logs"))) << "it still holds the link";
    EXPECT_TRUE(FileExists(Join(outside, "keep.log")));
    EXPECT_TRUE(FileExists(Join(outside, "sub\\deep.log")));
    EXPECT_TRUE(FolderExists(Join(outside, "sub")));
}

} // namespace
