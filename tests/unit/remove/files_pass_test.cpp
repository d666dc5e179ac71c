// The file pass in-process: the entry path rule, paths too long for TargetPath, the in-use tests
// against a file held by another process, the order of the pass, the read-only policy, the
// shared-DLL count of a file in use, and the progress it reports.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "box_watcher.h"
#include "files_fixture.h"
#include "files_support.h"
#include "remove/files.h"
#include "remove/pass_helpers.h"
#include "ui/progress.h"
#include "ui/readonly_prompt.h"

using files_test::FilePassTest;

namespace {

const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// --- The entry path rule ---------------------------------------------------------------------

struct PathCase {
    const char* folder;
    const char* name;
    const char* expected;
};

TEST_F(FilePassTest, EntryPathsFollowTheRuleForEveryForm)
{
    SetInstallDir("E:\\App\\");
    const PathCase cases[] = {
        {".", "a.dll", "E:\\App\\a.dll"},
        {".\\bin", "a.dll", "E:\\App\\bin\\a.dll"},
        {".\\bin", "", "E:\\App\\bin"},               // a folder entry gets no backslash
        {"..\\x", "a.dll", "E:\\App\\a.dll"},         // two full stops: InstallDir alone
        {"D:\\Shared\\", "a.dll", "D:\\Shared\\a.dll"},
        {"D:\\Shared", "a.dll", "D:\\Shared\\a.dll"},
        {"", "a.dll", "a.dll"},                       // relative to the current directory
        {".", "", "E:\\App\\"},                       // "." is InstallDir itself
        {".x\\y", "a.dll", "E:\\App\\a.dll"},         // only ".\" keeps what follows
        {".\\", "a.dll", "E:\\App\\a.dll"},
        {".\\bin\\", "a.dll", "E:\\App\\bin\\a.dll"},
        {".\\bin\\sub", "", "E:\\App\\bin\\sub"},
        {"D:\\Shared", "", "D:\\Shared"},
        {"", "", ""},
    };
    for (const PathCase& c : cases) {
        SetFiles({{c.folder, c.name, 0}});
        CopyText(TheRun.TargetPath, PATH_SIZE, "left over from before");
        BuildEntryPath(TheRun.FileList[0]);
        EXPECT_STREQ(c.expected, TheRun.TargetPath) << "folder \"" << c.folder << "\", name \"" << c.name << "\"";
    }
}

struct LongCase {
    std::string installDir;
    std::string folder;
    std::string name;
    bool fits;
};

// TargetPath is swapped for a larger buffer whose tail must stay untouched.
TEST_F(FilePassTest, PathsLongerThan259CharactersAreSkippedAndNeverWrittenPastTargetPath)
{
    const std::string base = "C:\\" + std::string(200, 'd'); // 203 characters
    const LongCase cases[] = {
        {"E:\\App\\", base + std::string(50, 'e'), "x", true},              // 253 + 1 + 1 = 255
        {"E:\\App\\", "C:\\" + std::string(255, 'f'), "", true},            // 258: a folder entry
        {"E:\\App\\", "C:\\" + std::string(256, 'f'), "", true},            // 259 exactly
        {"E:\\App\\", "C:\\" + std::string(257, 'f'), "", false},           // 260
        {"E:\\App\\", "C:\\" + std::string(254, 'f'), "y", true},           // 257 + 1 + 1 = 259
        {"E:\\App\\", "C:\\" + std::string(255, 'f'), "y", false},          // the backslash fits, the name not
        {"E:\\App\\", "C:\\" + std::string(256, 'f'), "y", false},          // not even the backslash
        {"E:\\App\\", "C:\\" + std::string(256, 'f') + "\\", "y", false},   // 260 with its own backslash
        {"E:\\App\\", base, std::string(300, 'n'), false},
        {base + "\\", ".\\" + std::string(50, 's'), "", true},              // 204 + 50
        {base + "\\", ".\\" + std::string(56, 's'), "", false},             // 204 + 56 = 260
        {base + "\\", ".\\" + std::string(40, 's'), std::string(14, 'n'), true},  // 204 + 40 + 1 + 14
        {base + "\\", ".\\" + std::string(40, 's'), std::string(15, 'n'), false}, // 260
    };
    char* realTarget = TheRun.TargetPath;
    std::vector<char> wide(PATH_SIZE + 64, '#');
    TheRun.TargetPath = wide.data();
    for (const LongCase& c : cases) {
        SetInstallDir(c.installDir);
        SetFiles({{c.folder, c.name, 0}});
        std::fill(wide.begin(), wide.end(), '#');
        BuildEntryPath(TheRun.FileList[0]);
        std::string expected;
        if (c.fits) {
            const std::string root = c.folder[0] == '.' ? c.installDir + c.folder.substr(2) : c.folder;
            expected = c.name.empty() ? root : root + (root.back() == '\\' ? "" : "\\") + c.name;
            ASSERT_LE(expected.size(), 259u);
        }
        EXPECT_EQ(expected, std::string(wide.data())) << c.folder.size() << " + " << c.name.size();
        for (size_t at = PATH_SIZE; at < wide.size(); ++at)
            ASSERT_EQ('#', wide[at]) << "written past TargetPath at " << at;
    }
    TheRun.TargetPath = realTarget;
}

// A cut path would name another file: the one whose path is the first 259 characters.
TEST_F(FilePassTest, AnEntryTooLongToNameIsLeftAloneByEveryStep)
{
    std::string folder = qt::FreshFolder("unit-files-long");
    std::string name(260 - folder.size() - 1, 'n'); // folder + '\' + name = 260 characters
    std::string cutPath = folder + "\\" + name.substr(0, name.size() - 1);
    ASSERT_EQ(259u, cutPath.size());
    qt::WriteTextFile(cutPath, "the file a cut path would name");
    SetFiles({{folder, name, FILE_CHECK_IN_USE}, {folder, name, FILE_SHARED_DLL | FILE_FONT | FILE_COM_SERVER}});
    {
        qt::FileHolder holder(cutPath);
        ASSERT_TRUE(holder.Holding());
        EXPECT_FALSE(AnyFileInUse());
    }
    RemoveFiles();
    EXPECT_TRUE(qt::FileExists(cutPath));
    qt::RemoveTree(folder);
}

// --- The in-use tests ------------------------------------------------------------------------

TEST_F(FilePassTest, InUseTestSeesOnlyFilesThatCannotBeOpenedForWriting)
{
    std::string folder = qt::FreshFolder("unit-files-inuse");
    std::string plain = qt::Join(folder, "plain.dat");
    std::string readOnly = qt::Join(folder, "readonly.dat");
    std::string held = qt::Join(folder, "held.dat");
    std::string heldReadOnly = qt::Join(folder, "held-readonly.dat");
    for (const std::string& path : {plain, readOnly, held, heldReadOnly})
        qt::WriteTextFile(path, "data");
    qt::MakeReadOnly(readOnly);
    qt::MakeReadOnly(heldReadOnly);

    EXPECT_FALSE(IsFileInUse(qt::Join(folder, "missing.dat").c_str()));
    EXPECT_FALSE(IsFileInUse(plain.c_str()));
    EXPECT_FALSE(IsFileInUse(readOnly.c_str()));
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY, qt::Attributes(readOnly) & FILE_ATTRIBUTE_READONLY)
        << "a read-only file keeps its attribute after the test";
    {
        qt::FileHolder holdPlain(held);
        qt::FileHolder holdReadOnly(heldReadOnly);
        ASSERT_TRUE(holdPlain.Holding() && holdReadOnly.Holding());
        EXPECT_TRUE(IsFileInUse(held.c_str()));
        EXPECT_TRUE(IsFileInUse(heldReadOnly.c_str()));
        EXPECT_EQ(FILE_ATTRIBUTE_READONLY, qt::Attributes(heldReadOnly) & FILE_ATTRIBUTE_READONLY);
    }
    EXPECT_FALSE(IsFileInUse(held.c_str())) << "released";
    EXPECT_FALSE(IsFileInUse(heldReadOnly.c_str()));
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY, qt::Attributes(heldReadOnly) & FILE_ATTRIBUTE_READONLY);
    qt::RemoveTree(folder);
}

TEST_F(FilePassTest, AnyFileInUseLooksOnlyAtFlaggedFileEntries)
{
    std::string folder = qt::FreshFolder("unit-files-anyinuse");
    SetInstallDir(folder);
    std::string held = qt::Join(folder, "held.dat");
    qt::WriteTextFile(held, "data");
    qt::WriteTextFile(qt::Join(folder, "free.dat"), "data");

    SetFiles({});
    EXPECT_FALSE(AnyFileInUse());
    qt::FileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    SetFiles({{".", "held.dat", FILE_SHARED_DLL | FILE_FONT | FILE_COM_SERVER}, {".", "", FILE_CHECK_IN_USE}});
    EXPECT_FALSE(AnyFileInUse()) << "the held file is not flagged";
    SetFiles({{".", "free.dat", FILE_CHECK_IN_USE}, {".", "missing.dat", FILE_CHECK_IN_USE}});
    EXPECT_FALSE(AnyFileInUse());
    SetFiles({{".", "free.dat", FILE_CHECK_IN_USE}, {".", "held.dat", FILE_CHECK_IN_USE}});
    EXPECT_TRUE(AnyFileInUse());
    SetFiles({{folder, "held.dat", FILE_CHECK_IN_USE | 0xF0}});
    EXPECT_TRUE(AnyFileInUse());
    holder.Release();
    EXPECT_FALSE(AnyFileInUse());
    qt::RemoveTree(folder);
}

// --- The pass --------------------------------------------------------------------------------

TEST_F(FilePassTest, EntriesGoLastFirstSoAFolderListedBeforeItsFilesGoesInTheSamePass)
{
    std::string folder = qt::FreshFolder("unit-files-order");
    SetInstallDir(folder);
    for (const char* sub : {"early", "late"}) {
        CreateDirectoryA(qt::Join(folder, sub).c_str(), nullptr);
        qt::WriteTextFile(qt::Join(qt::Join(folder, sub), "a.txt"), "a");
        qt::WriteTextFile(qt::Join(qt::Join(folder, sub), "b.txt"), "b");
    }
    SetFiles({
        {".\\early", "", 0}, // listed before its files: tried after them
        {".\\early", "a.txt", 0},
        {".\\early", "b.txt", 0},
        {".\\late", "a.txt", 0},
        {".\\late", "b.txt", 0},
        {".\\late", "", 0}, // listed after its files: tried first, while it still holds them
    });
    RemoveFiles();
    EXPECT_FALSE(qt::FolderExists(qt::Join(folder, "early")));
    EXPECT_TRUE(qt::FolderExists(qt::Join(folder, "late")));
    EXPECT_FALSE(qt::FileExists(qt::Join(qt::Join(folder, "late"), "a.txt")));
    EXPECT_FALSE(qt::FileExists(qt::Join(qt::Join(folder, "late"), "b.txt")));

    // "." stands for InstallDir itself, which goes once empty.
    RemoveDirectoryA(qt::Join(folder, "late").c_str());
    SetFiles({{".", "", 0}});
    RemoveFiles();
    EXPECT_FALSE(qt::FolderExists(folder));
}

TEST_F(FilePassTest, AFileInUseIsLeftInPlaceAndKeepsItsLastSharedReference)
{
    std::string folder = qt::FreshFolder("unit-files-held");
    SetInstallDir(folder);
    std::string held = qt::Join(folder, "held.dll");
    std::string heldTwice = qt::Join(folder, "held-twice.dll");
    qt::WriteTextFile(held, "dll");
    qt::WriteTextFile(heldTwice, "dll");
    qt::SetRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, held, 1);
    qt::SetRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, heldTwice, 2);
    SetMessages(qt::StandardMessages());
    SetFiles({{".", "held.dll", FILE_SHARED_DLL}, {".", "held-twice.dll", FILE_SHARED_DLL}});
    qt::BoxWatcher watcher(IDYES);
    {
        qt::FileHolder holdOne(held);
        qt::FileHolder holdTwo(heldTwice);
        RemoveFiles();
    }
    EXPECT_TRUE(watcher.Seen().empty()) << "no question for a file in use";
    EXPECT_TRUE(qt::FileExists(held));
    EXPECT_TRUE(qt::FileExists(heldTwice));
    DWORD count = 99;
    EXPECT_TRUE(qt::ReadRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, held, &count));
    EXPECT_EQ(1u, count);
    EXPECT_TRUE(qt::ReadRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, heldTwice, &count));
    EXPECT_EQ(1u, count) << "a file in use still gives up a reference while others remain";
    for (const std::string& path : {held, heldTwice}) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, path.c_str());
            RegCloseKey(key);
        }
    }
    qt::RemoveTree(folder);
}

// A value too large for a count is no count: nothing is lowered, and the question decides.
TEST_F(FilePassTest, ASharedDllValueLargerThanACountIsLeftAsItIsAndTheQuestionComes)
{
    std::string folder = qt::FreshFolder("unit-files-bigcount");
    SetInstallDir(folder);
    std::string path = qt::Join(folder, "big.dll");
    qt::WriteTextFile(path, "dll");
    const BYTE data[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    RegSetValueExA(key, path.c_str(), 0, REG_BINARY, data, sizeof data);
    SetMessages(qt::StandardMessages());
    SetFiles({{".", "big.dll", FILE_SHARED_DLL}});
    {
        qt::BoxWatcher watcher(IDNO);
        RemoveFiles();
        std::vector<qt::Box> seen = watcher.Seen();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ("SH:" + path, seen[0].text);
    }
    EXPECT_TRUE(qt::FileExists(path));
    BYTE read[16] = {};
    DWORD size = sizeof read;
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, path.c_str(), nullptr, &type, read, &size));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    EXPECT_EQ(8u, size);
    EXPECT_EQ(0, memcmp(data, read, sizeof data));
    RegDeleteValueA(key, path.c_str());
    RegCloseKey(key);
    qt::RemoveTree(folder);
}

struct PolicyCase {
    int policy;
    BYTE flags;
    bool deleted;
    int policyAfter;
};

TEST_F(FilePassTest, ReadOnlyFilesFollowThePolicyAndFontsAndServersGoRegardless)
{
    std::string folder = qt::FreshFolder("unit-files-policy");
    SetInstallDir(folder);
    SetMessages(qt::StandardMessages()); // message 9 not empty: the prompt would show
    const PolicyCase cases[] = {
        {1, 0, true, 1},
        {0, 0, false, 0},
        {0, FILE_FONT, true, 0},
        {0, FILE_COM_SERVER, true, 0},
        {-1, FILE_FONT, true, -1},
        {-1, FILE_COM_SERVER, true, -1},
    };
    qt::BoxWatcher watcher(IDNO); // any prompt would be a failure; it is answered so nothing hangs
    for (const PolicyCase& c : cases) {
        std::string path = qt::Join(folder, "ro.txt");
        qt::WriteTextFile(path, "data"); // not a font, not a server: their steps change nothing
        qt::MakeReadOnly(path);
        SetFiles({{".", "ro.txt", c.flags}});
        TheRun.ReadOnlyPolicy = c.policy;
        RemoveFiles();
        EXPECT_EQ(c.deleted, !qt::FileExists(path)) << "policy " << c.policy << ", flags " << int(c.flags);
        EXPECT_EQ(c.policyAfter, TheRun.ReadOnlyPolicy);
        if (qt::FileExists(path)) {
            EXPECT_EQ(FILE_ATTRIBUTE_READONLY, qt::Attributes(path) & FILE_ATTRIBUTE_READONLY);
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    EXPECT_TRUE(watcher.Seen().empty());
    qt::RemoveTree(folder);
}

TEST_F(FilePassTest, YesToAllInThePromptCarriesOverToLaterFiles)
{
    std::string folder = qt::FreshFolder("unit-files-yestoall");
    SetInstallDir(folder);
    SetMessages(qt::StandardMessages());
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        qt::WriteTextFile(qt::Join(folder, name), name);
        qt::MakeReadOnly(qt::Join(folder, name));
    }
    SetFiles({{".", "a.txt", 0}, {".", "b.txt", 0}, {".", "c.txt", 0}});
    TheRun.ReadOnlyPolicy = -1;
    qt::BoxWatcher watcher(IDC_YES_TO_ALL_ANSWER);
    RemoveFiles();
    std::vector<qt::Box> seen = watcher.Seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(qt::BoxKind::ReadOnlyPrompt, seen[0].kind);
    EXPECT_EQ("RO:" + qt::Join(folder, "c.txt"), seen[0].text) << "the last entry is asked about first";
    EXPECT_EQ(1, TheRun.ReadOnlyPolicy);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_FALSE(qt::FileExists(qt::Join(folder, name))) << name;
    qt::RemoveTree(folder);
}

// --- Progress --------------------------------------------------------------------------------

// Every position the pass sends to the real progress bar, taken from the bar's own messages.
std::vector<WPARAM> BarPositions;
WNDPROC BarProcedure;

LRESULT CALLBACK RecordingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETPOS)
        BarPositions.push_back(wParam);
    return CallWindowProcA(BarProcedure, window, message, wParam, lParam);
}

class FileProgressTest : public FilePassTest {
protected:
    void SetUp() override
    {
        FilePassTest::SetUp();
        SetMessages(qt::StandardMessages());
        ASSERT_TRUE(OpenProgressDialog());
        ASSERT_NE(nullptr, TheRun.ProgressBar);
        BarProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            TheRun.ProgressBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBarProc)));
        BarPositions.clear();
        // The bar only hears of a change; starting elsewhere makes a first report of 0 visible too.
        TheRun.LastProgressPos = 77;
    }
    void TearDown() override
    {
        CloseProgressDialog();
        FilePassTest::TearDown();
    }
};

TEST_F(FileProgressTest, EachEntryReportsItsShareOfTheSteps)
{
    SetInstallDir(qt::FreshFolder("unit-files-progress"));
    SetFiles({{".", "a.txt", 0}, {".", "b.txt", 0}, {".", "", 0}});
    TheRun.StepTotal = 10;
    RemoveFiles();
    EXPECT_EQ((std::vector<WPARAM>{0, 10, 20}), BarPositions);

    BarPositions.clear();
    TheRun.LastProgressPos = 77;
    SetFiles({{".", "a.txt", 0}, {".", "b.txt", 0}, {".", "c.txt", 0}, {".", "d.txt", 0}});
    TheRun.StepTotal = 3;
    RemoveFiles();
    EXPECT_EQ((std::vector<WPARAM>{0, 33, 66, 100}), BarPositions) << "rounded down";
}

TEST_F(FileProgressTest, NothingIsReportedWithoutStepsOrEntries)
{
    SetInstallDir(qt::FreshFolder("unit-files-noprogress"));
    SetFiles({{".", "a.txt", 0}, {".", "b.txt", 0}, {".", "c.txt", 0}});
    TheRun.StepTotal = 0; // quiet mode
    RemoveFiles();
    SetFiles({});
    TheRun.StepTotal = 10;
    RemoveFiles();
    EXPECT_TRUE(BarPositions.empty());
    EXPECT_EQ(77u, TheRun.LastProgressPos);
}

} // namespace
