// Wildcard patterns end to end: real uninstallers with pattern lists, run silently under Wine on
// real folder trees, the trees checked afterwards.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "install_support.h"
#include "win_test.h"

namespace {

using qt::FileExists;
using qt::FolderExists;
using qt::Join;
using qt::WriteTextFile;

// Folders (ending in a backslash) and files (with the text "x"), relative to base.
void MakeTree(const std::string& base, const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        if (entry.back() == '\\')
            ASSERT_TRUE(CreateDirectoryA(Join(base, entry.substr(0, entry.size() - 1)).c_str(), nullptr)) << entry;
        else
            WriteTextFile(Join(base, entry), "x");
    }
}

void RunPatterns(const qt::Installation& app, const std::vector<std::string>& patterns)
{
    quillon::UninstallData data = qt::StandardData();
    data.patterns = patterns;
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe, app.dir);
}

TEST(Patterns, LogsDeepInATree)
{
    qt::Installation app = qt::MakeInstallation("patterns-logs");
    MakeTree(app.dir, {"logs\\", "logs\\a.log", "logs\\x\\", "logs\\x\\b.log", "logs\\x\\keep.txt", "logs\\x\\y\\",
                       "logs\\x\\y\\c.log", "logs\\x\\y\\z\\", "logs\\x\\y\\z\\d.LOG", "logs\\was-empty\\",
                       "other.log", "cache\\", "cache\\t\\", "cache\\t\\1.tmp", "cache\\2.tmp"});
    RunPatterns(app, {"logs\\*.log", "cache\\*.tmp"});
    for (const char* gone : {"logs\\a.log", "logs\\x\\b.log", "logs\\x\\y", "logs\\was-empty"})
        EXPECT_FALSE(FileExists(Join(app.dir, gone)) || FolderExists(Join(app.dir, gone))) << gone;
    EXPECT_TRUE(FileExists(Join(app.dir, "logs\\x\\keep.txt")));
    EXPECT_TRUE(FolderExists(Join(app.dir, "logs"))) << "it still holds x";
    EXPECT_TRUE(FileExists(Join(app.dir, "other.log"))) << "outside the pattern's folder";
    EXPECT_FALSE(FolderExists(Join(app.dir, "cache"))) << "emptied whole, the pattern's folder goes too";
}

TEST(Patterns, AFileNamePatternOverTheInstallationFolder)
{
    qt::Installation app = qt::MakeInstallation("patterns-bak");
    MakeTree(app.dir, {"a.bak", "keep.txt", "sub\\", "sub\\b.bak", "sub\\deeper\\", "sub\\deeper\\c.bak",
                       "settings\\", "settings\\settings.ini", "settings.ini", "other\\", "other\\settings.ini.old"});
    RunPatterns(app, {"*.bak", "settings.ini"});
    EXPECT_FALSE(FileExists(Join(app.dir, "a.bak")));
    EXPECT_FALSE(FolderExists(Join(app.dir, "sub")));
    EXPECT_FALSE(FileExists(Join(app.dir, "settings.ini")));
    EXPECT_FALSE(FolderExists(Join(app.dir, "settings"))) << "a plain name matches at every depth";
    EXPECT_TRUE(FileExists(Join(app.dir, "other\\settings.ini.old")));
    EXPECT_TRUE(FileExists(Join(app.dir, "keep.txt")));
    EXPECT_TRUE(FileExists(app.exe));
    EXPECT_TRUE(FolderExists(app.dir)) << "the installation folder still holds the uninstaller";
}

TEST(Patterns, AProtectedFolderInsideTheTreeIsLeftWhole)
{
    // The per-user Quick Launch folder is protected; made here inside a folder of the test's own.
    char appData[MAX_PATH] = "";
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData));
    std::string explorer = Join(appData, "Microsoft\\Internet Explorer");
    bool explorerExisted = FolderExists(explorer);
    std::string quickLaunch = Join(explorer, "Quick Launch");
    CreateDirectoryA(Join(appData, "Microsoft").c_str(), nullptr);
    CreateDirectoryA(explorer.c_str(), nullptr);
    qt::RemoveTree(quickLaunch);
    qt::RemoveTree(Join(explorer, "QuillonOther"));
    MakeTree(explorer, {"Quick Launch\\", "Quick Launch\\q.log", "Quick Launch\\inner\\", "Quick Launch\\inner\\i.log",
                        "Quick Launch\\hollow\\", "QuillonOther\\", "QuillonOther\\o.log"});

    // And a pattern over the Windows folder itself, with a canary in it.
    char windows[MAX_PATH] = "";
    ASSERT_NE(0u, GetWindowsDirectoryA(windows, sizeof windows));
    std::string canary = Join(windows, "quillon-canary.log");
    WriteTextFile(canary, "x");

    qt::Installation app = qt::MakeInstallation("patterns-protected");
    RunPatterns(app, {"#AppData#\\Microsoft\\Internet Explorer\\*.log", "#Windows#\\*.log"});
    EXPECT_TRUE(FileExists(canary));
    DeleteFileA(canary.c_str());
    EXPECT_TRUE(FileExists(Join(quickLaunch, "q.log")));
    EXPECT_TRUE(FileExists(Join(quickLaunch, "inner\\i.log")));
    EXPECT_TRUE(FolderExists(Join(quickLaunch, "hollow"))) << "nothing inside a protected folder is touched";
    EXPECT_FALSE(FolderExists(Join(explorer, "QuillonOther")));
    EXPECT_TRUE(FolderExists(explorer)) << "it still holds Quick Launch";

    if (explorerExisted)
        qt::RemoveTree(quickLaunch);
    else
        qt::RemoveTree(explorer);
}

// Other spellings of protected folders, each of which Windows resolves to the folder itself: none
// of their files goes, nor a sub-folder's.
TEST(Patterns, NoSpellingOfAProtectedFolderLetsItsFilesGo)
{
    char buffer[MAX_PATH] = "";
    ASSERT_NE(0u, GetWindowsDirectoryA(buffer, sizeof buffer));
    std::string windows = buffer;
    std::string slashed = windows;
    for (char& c : slashed)
        c = c == '\\' ? '/' : c;
    ASSERT_NE(0u, GetSystemWow64DirectoryA(buffer, sizeof buffer));
    std::string wow64 = buffer;
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, buffer));
    std::string programFiles = buffer;
    ASSERT_NE(0u, GetShortPathNameA(programFiles.c_str(), buffer, sizeof buffer));
    std::string shortProgramFiles = buffer;
    ASSERT_NE(programFiles, shortProgramFiles) << "Wine gives Program Files an 8.3 name";

    std::vector<std::string> markers = {Join(windows, "quillon-marker.qlog"), Join(wow64, "quillon-marker.qlog"),
                                        Join(programFiles, "quillon-marker.qlog")};
    qt::RemoveTree(Join(windows, "quillon-sub"));
    ASSERT_TRUE(CreateDirectoryA(Join(windows, "quillon-sub").c_str(), nullptr));
    markers.push_back(Join(windows, "quillon-sub\\quillon-marker.qlog"));
    for (const std::string& marker : markers)
        WriteTextFile(marker, "x");

    qt::Installation app = qt::MakeInstallation("patterns-spellings");
    RunPatterns(app, {"#Windows#\\.\\*.qlog", slashed + "\\*.qlog", "#System#\\..\\*.qlog", windows + ".\\*.qlog",
                      windows + " \\*.qlog", windows + "\\quillon-sub\\..\\*.qlog", "\\\\?\\" + windows + "\\*.qlog",
                      "#Windows#\\SysWOW64\\.\\*.qlog", shortProgramFiles + "\\*.qlog"});
    for (const std::string& marker : markers) {
        EXPECT_TRUE(FileExists(marker)) << marker;
        DeleteFileA(marker.c_str());
    }
    RemoveDirectoryA(Join(windows, "quillon-sub").c_str());
}

TEST(Patterns, AMissingFolderIsPassedOverAndTheNextPatternRuns)
{
    qt::Installation app = qt::MakeInstallation("patterns-missing");
    MakeTree(app.dir, {"present\\", "present\\a.log"});
    RunPatterns(app, {"missing\\*.log", "#Unknown#\\missing\\*.log", "present\\*.log"});
    EXPECT_FALSE(FolderExists(Join(app.dir, "present")));
}

TEST(Patterns, ATrailingBackslashDeletesNoFileButRemovesEmptyFolders)
{
    qt::Installation app = qt::MakeInstallation("patterns-trailing");
    MakeTree(app.dir, {"hollow\\", "hollow\\a\\", "hollow\\a\\b\\", "hollow\\c\\", "holds\\", "holds\\keep.log",
                       "holds\\empty\\", "holds\\full\\", "holds\\full\\f.txt"});
    RunPatterns(app, {"hollow\\", "holds\\"});
    EXPECT_FALSE(FolderExists(Join(app.dir, "hollow")));
    EXPECT_TRUE(FileExists(Join(app.dir, "holds\\keep.log")));
    EXPECT_TRUE(FileExists(Join(app.dir, "holds\\full\\f.txt")));
    EXPECT_FALSE(FolderExists(Join(app.dir, "holds\\empty")));
}

TEST(Patterns, AReadOnlyMatchStaysWithItsFolder)
{
    qt::Installation app = qt::MakeInstallation("patterns-readonly");
    MakeTree(app.dir, {"ro\\", "ro\\r.log", "ro\\w.log", "ro\\sub\\", "ro\\sub\\s.log"});
    ASSERT_TRUE(SetFileAttributesA(Join(app.dir, "ro\\r.log").c_str(), FILE_ATTRIBUTE_READONLY));
    RunPatterns(app, {"ro\\*.log"});
    EXPECT_TRUE(FileExists(Join(app.dir, "ro\\r.log")));
    EXPECT_FALSE(FileExists(Join(app.dir, "ro\\w.log")));
    EXPECT_FALSE(FolderExists(Join(app.dir, "ro\\sub")));
    EXPECT_TRUE(FolderExists(Join(app.dir, "ro")));
    SetFileAttributesA(Join(app.dir, "ro\\r.log").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Patterns, AnExpansionWithoutABackslashIsSkipped)
{
    // "#Unknown#" expands to nothing, leaving a bare name: it names no folder and is passed over,
    // even though the uninstaller runs in a folder that holds a file of that name.
    qt::Installation app = qt::MakeInstallation("patterns-nobackslash");
    MakeTree(app.dir, {"x.log", "sub\\", "sub\\x.log"});
    RunPatterns(app, {"#Unknown#x.log"});
    EXPECT_TRUE(FileExists(Join(app.dir, "x.log")));
    EXPECT_TRUE(FileExists(Join(app.dir, "sub\\x.log")));
}

TEST(Patterns, MacroPatternsNameAbsoluteFolders)
{
    qt::Installation app = qt::MakeInstallation("patterns-macro");
    MakeTree(app.dir, {"cache\\", "cache\\a.tmp", "cache\\keep.dat"});
    RunPatterns(app, {"#InstallDir#\\cache\\*.tmp"});
    EXPECT_FALSE(FileExists(Join(app.dir, "cache\\a.tmp")));
    EXPECT_TRUE(FileExists(Join(app.dir, "cache\\keep.dat")));
}

} // namespace
