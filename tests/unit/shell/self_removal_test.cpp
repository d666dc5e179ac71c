// The self-removal in-process. A copy of a DLL that does nothing stands in for the uninstaller's
// executable (its module handle is given as ModuleInstance), so the batch removes that copy and
// its folder instead of this test program. While the test holds the copy open, the batch keeps
// trying, which leaves time to read the batch and to look at how its interpreter was started.
// On the NT line the batch lives in a folder of its own below the Windows folder's Temp, which
// tests running side by side share: a test finds its batch by the executable it deletes. The
// temporary folder, which only the 9x line uses, is a private one, through TMP and TEMP.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <shlobj.h>
#include <sddl.h>

#include <algorithm>
#include <string>

#include "data/format.h"
#include "data/text.h"
#include "run/driver.h"
#include "data/run_context.h"
#include "run/self_removal.h"
#include "shell_support.h"

namespace {

using qt::CurrentDirectory;
using qt::Lower;
using qt::SystemFolder;
using qt::WindowsFolder;

class SelfRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectPlatform();
        ASSERT_TRUE(InitializeRun(GetModuleHandleA(nullptr)));
        savedDirectory_ = CurrentDirectory();
        folder_ = qt::FreshFolder("unit-selfremoval");
        temp_ = qt::Join(folder_, "tmp");
        CreateDirectoryA(temp_.c_str(), nullptr);
        SetTemporaryFolder(temp_);
    }
    void TearDown() override
    {
        if (hold_ != INVALID_HANDLE_VALUE)
            CloseHandle(hold_);
        if (module_ != nullptr)
            FreeLibrary(module_);
        SetCurrentDirectoryA(savedDirectory_.c_str());
        FinalizeRun();
        tempVariables_.reset();
    }
    // Installs the stand-in in folder, loads it and holds it open without delete sharing.
    void InstallStandIn(const std::string& folder)
    {
        app_ = folder;
        CreateDirectoryA(app_.c_str(), nullptr);
        exe_ = qt::Join(app_, "uninst.dll");
        ASSERT_TRUE(CopyFileA(qt::TestBinPath("shell_module.dll").c_str(), exe_.c_str(), FALSE));
        module_ = LoadLibraryA(exe_.c_str());
        ASSERT_NE(nullptr, module_);
        hold_ = CreateFileA(exe_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hold_);
        TheRun.ModuleInstance = module_;
        ASSERT_TRUE(CopyText(TheRun.InstallDir, PATH_SIZE, (app_ + "\\").c_str()));
    }
    void Release()
    {
        CloseHandle(hold_);
        hold_ = INVALID_HANDLE_VALUE;
        FreeLibrary(module_);
        module_ = nullptr;
    }
    std::vector<std::string> Batches() { return qt::ListFiles(temp_, "delme*.bat"); }
    // The batch that deletes the stand-in, found once it is written.
    std::string WaitForBatch()
    {
        std::string batch;
        qt::WaitUntil([&] { return !(batch = qt::FindSelfRemovalBatch(exe_)).empty(); }, 10000);
        return batch;
    }
    static std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }
    // Gone: the executable, its folder unless keepFolder, and the batch with its own folder.
    bool AllGone(const std::string& batch, bool keepFolder = false)
    {
        return qt::WaitUntil(
            [&] {
                return !qt::FileExists(exe_) && (keepFolder || !qt::FolderExists(app_)) &&
                       !qt::FolderExists(FolderOf(batch));
            },
            30000);
    }
    void SetTemporaryFolder(const std::string& folder)
    {
        tempVariables_.reset();
        tempVariables_.reset(new qt::ScopedTempFolder(folder));
    }

    std::string savedDirectory_, folder_, temp_, app_, exe_;
    HMODULE module_ = nullptr;
    HANDLE hold_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<qt::ScopedTempFolder> tempVariables_;
};

// The interpreter started for the batch, found among the running processes by its command line.
qt::ProcessStart FindInterpreter(const std::string& commandLine)
{
    qt::ProcessStart found;
    qt::WaitUntil(
        [&] {
            for (DWORD id : qt::FindProcesses("cmd.exe")) {
                HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
                if (process == nullptr)
                    continue;
                qt::ProcessStart start = qt::ReadProcessStart(process);
                CloseHandle(process);
                if (start.ok && start.commandLine == commandLine) {
                    found = start;
                    return true;
                }
            }
            return false;
        },
        10000);
    return found;
}

TEST_F(SelfRemoval, TheBatchRemovesTheExecutableAndItsEmptyFolderThenItself)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "Wine has no command.com for the 9x line";
    InstallStandIn(qt::Join(folder_, "App"));
    StartSelfRemoval();

    EXPECT_EQ(app_, std::string(TheRun.InstallDir)) << "the folder loses its trailing backslash";
    EXPECT_EQ(exe_, std::string(TheRun.TargetPath));
    EXPECT_EQ(Lower(SystemFolder()), Lower(CurrentDirectory()));
    EXPECT_TRUE(Batches().empty()) << "the NT line's batch is not in the temporary folder";
    std::string batch = WaitForBatch();
    ASSERT_FALSE(batch.empty()) << "no batch deletes " << exe_;
    EXPECT_EQ(Lower(qt::BatchParentFolder()), Lower(FolderOf(FolderOf(batch))));
    EXPECT_EQ(qt::ExpectedSelfRemovalBatch(exe_, SystemFolder(), app_, batch), qt::ReadTextFile(batch));

    qt::ProcessStart interpreter = FindInterpreter(qt::ExpectedInterpreterLine(batch));
    ASSERT_TRUE(interpreter.ok) << "no interpreter runs the batch";
    EXPECT_EQ(DWORD(STARTF_USESHOWWINDOW), interpreter.windowFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(DWORD(SW_HIDE), interpreter.showWindow);
    EXPECT_EQ(Lower(SystemFolder() + "\\"), Lower(interpreter.directory));
    std::string image = Lower(interpreter.imagePath);
    EXPECT_TRUE(image == Lower(SystemFolder() + "\\cmd.exe") ||
                (!qt::FlavourIsX64 && image.find("\\syswow64\\cmd.exe") != std::string::npos))
        << interpreter.imagePath;

    EXPECT_TRUE(qt::FileExists(exe_)) << "deleted while still held";
    Release();
    EXPECT_TRUE(AllGone(batch)) << "executable " << qt::FileExists(exe_) << ", folder " << qt::FolderExists(app_)
                                << ", batch folder " << qt::FolderExists(FolderOf(batch));
}

TEST_F(SelfRemoval, AFolderThatStillHoldsAFileSurvives)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "Wine has no command.com for the 9x line";
    InstallStandIn(qt::Join(folder_, "App"));
    qt::WriteTextFile(qt::Join(app_, "log.txt"), "written later");
    StartSelfRemoval();
    std::string batch = WaitForBatch();
    ASSERT_FALSE(batch.empty());
    Release();
    EXPECT_TRUE(AllGone(batch, true));
    EXPECT_TRUE(qt::FileExists(qt::Join(app_, "log.txt")));
}

// A path outside ASCII is written in the OEM code page, in which the interpreter reads it, and "%"
// doubled, which the interpreter would otherwise expand.
TEST_F(SelfRemoval, APathOutsideAsciiIsWrittenInTheOemCodePageAndPercentDoubled)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "Wine has no command.com for the 9x line";
    if (GetACP() != 1252)
        GTEST_SKIP() << "the test names its folder in code page 1252; this one is " << GetACP();
    InstallStandIn(qt::Join(folder_, "Caf\xE9 \xFC 5%"));
    StartSelfRemoval();
    std::string batch = WaitForBatch();
    ASSERT_FALSE(batch.empty());
    std::string text = qt::ReadTextFile(batch);
    EXPECT_EQ(qt::ExpectedSelfRemovalBatch(exe_, SystemFolder(), app_, batch), text);
    EXPECT_EQ(std::string::npos, text.find('\xE9')) << "written in the ANSI code page";
    EXPECT_NE(std::string::npos, text.find("Caf\x82 \x81 5%%\\")) << "not in code page 850 or 437, or % single";
    Release();
    EXPECT_TRUE(AllGone(batch));
}

// A name that the OEM code page best-fits ("\xE3" has no place in code page 437) would name another
// folder: no batch is written, and the uninstaller stays.
TEST_F(SelfRemoval, APathThatDoesNotComeBackFromOemIsNeverWritten)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "Wine has no command.com for the 9x line";
    std::string name = "S\xE3o Tools";
    std::string back = name;
    CharToOemA(back.c_str(), &back[0]);
    OemToCharA(back.c_str(), &back[0]);
    if (back == name)
        GTEST_SKIP() << "this OEM code page (" << GetOEMCP() << ") holds the character";
    InstallStandIn(qt::Join(folder_, name));
    std::vector<std::string> before = qt::ListFiles(qt::BatchParentFolder(), "delme*");
    StartSelfRemoval();
    EXPECT_TRUE(qt::FindSelfRemovalBatch(exe_).empty());
    Release();
    Sleep(1000);
    EXPECT_TRUE(qt::FileExists(exe_));
    for (const std::string& folder : qt::ListFiles(qt::BatchParentFolder(), "delme*"))
        if (std::find(before.begin(), before.end(), folder) == before.end())
            EXPECT_TRUE(qt::FileExists(qt::Join(qt::Join(qt::BatchParentFolder(), folder), "delme.bat")))
                << "an empty batch folder was left behind: " << folder;
}

// Long paths: six of them near the 259-character limit still make a whole batch.
TEST_F(SelfRemoval, LongPathsMakeAWholeBatch)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "Wine has no command.com for the 9x line";
    std::string deep = folder_;
    while (deep.size() < 200)
        deep += "\\long-folder";
    ASSERT_EQ(0, SHCreateDirectoryExA(nullptr, deep.c_str(), nullptr));
    std::string app = deep + "\\" + std::string(244 - deep.size(), 'a');
    InstallStandIn(app);

    StartSelfRemoval();
    std::string batch = WaitForBatch();
    ASSERT_FALSE(batch.empty());
    EXPECT_EQ(qt::ExpectedSelfRemovalBatch(exe_, SystemFolder(), app_, batch), qt::ReadTextFile(batch));
    Release();
    EXPECT_TRUE(AllGone(batch));
}

// On the 9x line the interpreter is command.com from the Windows folder. Wine has none: the batch
// is deleted again and nothing else happens. A stand-in put there shows what would start.
TEST_F(SelfRemoval, OnThe9xLineTheInterpreterIsCommandCom)
{
    if (TheRun.IsNT)
        GTEST_SKIP() << "the 9x line only";
    std::string commandCom = qt::Join(WindowsFolder(), "command.com");
    ASSERT_FALSE(qt::FileExists(commandCom)) << "this prefix has a command.com of its own";
    InstallStandIn(qt::Join(folder_, "App"));

    StartSelfRemoval();
    EXPECT_TRUE(Batches().empty()) << "a batch that no interpreter runs is deleted again";
    EXPECT_TRUE(qt::FileExists(exe_));
    EXPECT_EQ(Lower(WindowsFolder()), Lower(CurrentDirectory()));

    std::string recordFile = qt::Join(folder_, "records.txt");
    qt::ScopedVariable record("QUILLON_RECORD", recordFile);
    qt::InstallRecorder(commandCom);
    ASSERT_TRUE(CopyText(TheRun.InstallDir, PATH_SIZE, (app_ + "\\").c_str()));
    StartSelfRemoval();
    bool recorded = qt::WaitForRecords(recordFile, 1, 30000);
    EXPECT_TRUE(qt::DeleteProgramWhenItEnds(commandCom)) << "a stand-in left in the Windows folder";
    ASSERT_TRUE(recorded);
    std::string batch = qt::Join(temp_, "delme1.bat");
    qt::Record start = qt::ReadRecords(recordFile)[0];
    EXPECT_EQ("command.com /C \"" + batch + "\"", start.commandLine) << "command.com knows no /D, /V or /S";
    EXPECT_EQ(Lower(commandCom), Lower(start.module));
    EXPECT_EQ(DWORD(STARTF_USESHOWWINDOW), start.startFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(DWORD(SW_HIDE), start.show);
    EXPECT_EQ(Lower(WindowsFolder()), Lower(start.directory));
    EXPECT_EQ(qt::ExpectedSelfRemovalBatch(exe_, WindowsFolder(), app_, batch, false), qt::ReadTextFile(batch));
    DeleteFileA(batch.c_str());
}

// --- Finding and creating the batch file -------------------------------------------------------

// On the NT line a name is passed over whatever holds it in the shared Temp folder, a folder (even
// one that another user could have made to hold a batch of their own) or a file. Other tests may
// take names meanwhile: what counts is that the batch's folder is new.
TEST_F(SelfRemoval, OnTheNtLineTheBatchGetsANewFolderOfItsOwn)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "the 9x line keeps the temporary folder";
    std::string parent = qt::BatchParentFolder();
    int n = 1;
    while (GetFileAttributesA(qt::Join(parent, "delme" + std::to_string(n)).c_str()) != INVALID_FILE_ATTRIBUTES)
        ++n;
    std::string plantedFile = qt::Join(parent, "delme" + std::to_string(n));
    std::string plantedFolder = qt::Join(parent, "delme" + std::to_string(n + 1));
    qt::WriteTextFile(plantedFile, "kept");
    ASSERT_TRUE(CreateDirectoryA(plantedFolder.c_str(), nullptr));
    qt::WriteTextFile(qt::Join(plantedFolder, "delme.bat"), "planted");
    std::vector<std::string> before = qt::ListFiles(parent, "delme*");

    char path[PATH_SIZE];
    HANDLE file = CreateBatchFile(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    std::string batch = path;
    std::string folder = batch.substr(0, batch.rfind('\\'));
    EXPECT_EQ(Lower(parent), Lower(folder.substr(0, folder.rfind('\\'))));
    EXPECT_EQ("delme.bat", batch.substr(folder.size() + 1));
    EXPECT_EQ(before.end(), std::find(before.begin(), before.end(), folder.substr(parent.size() + 1)))
        << "an existing folder was used: " << folder;
    EXPECT_EQ("kept", qt::ReadTextFile(plantedFile));
    EXPECT_EQ("planted", qt::ReadTextFile(qt::Join(plantedFolder, "delme.bat")));
    DeleteFileA(path);
    RemoveDirectoryA(folder.c_str());
    DeleteFileA(plantedFile.c_str());
    DeleteFileA(qt::Join(plantedFolder, "delme.bat").c_str());
    RemoveDirectoryA(plantedFolder.c_str());
}

// The 9x line's batch is a new file in the temporary folder; the NT line's tests of the name rule
// on it run here as on the 9x line.
class NineXBatchFile : public SelfRemoval {
protected:
    void SetUp() override
    {
        SelfRemoval::SetUp();
        TheRun.IsNT = false;
    }
};

// A name is passed over whatever holds it: a file, a folder, or a file that cannot even be read.
TEST_F(NineXBatchFile, NamesThatAreTakenArePassedOver)
{
    qt::WriteTextFile(qt::Join(temp_, "delme1.bat"), "one");
    ASSERT_TRUE(CreateDirectoryA(qt::Join(temp_, "delme2.bat").c_str(), nullptr));
    std::string locked = qt::Join(temp_, "delme3.bat");
    qt::WriteTextFile(locked, "kept");
    HANDLE lock = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    char path[PATH_SIZE];
    HANDLE file = CreateBatchFile(path);
    CloseHandle(lock);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "four", 4, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ(qt::Join(temp_, "delme4.bat"), std::string(path));
    EXPECT_EQ("one", qt::ReadTextFile(qt::Join(temp_, "delme1.bat")));
    EXPECT_EQ("kept", qt::ReadTextFile(locked));
    EXPECT_EQ("four", qt::ReadTextFile(path));
}

TEST_F(NineXBatchFile, WithAllNamesUpTo998TakenThereIsNoBatch)
{
    for (int n = 1; n <= 998; ++n)
        qt::WriteTextFile(qt::Join(temp_, "delme" + std::to_string(n) + ".bat"), "");
    char path[PATH_SIZE];
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateBatchFile(path));
    EXPECT_FALSE(qt::FileExists(qt::Join(temp_, "delme999.bat")));
    EXPECT_EQ(998u, Batches().size());
}

TEST_F(NineXBatchFile, ATemporaryFolderTooLongForTheNameGivesNoBatch)
{
    std::string longTemp = temp_ + "\\" + std::string(259 - 10 - temp_.size() - 1, 'n');
    SetTemporaryFolder(longTemp);
    char path[PATH_SIZE];
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateBatchFile(path)) << "the full name has 260 characters";
    EXPECT_TRUE(qt::ListFiles(temp_, "*").size() == 2u) << "only . and .. are there";
}

// The writers and the readers that an access list allows, as SID texts.
struct AccessSummary {
    bool ok = false;
    bool isProtected = false;
    std::vector<std::string> writers;
    std::vector<std::string> readers;
    std::vector<std::string> others;
};

AccessSummary Summarize(PSECURITY_DESCRIPTOR descriptor)
{
    AccessSummary summary;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || acl == nullptr)
        return summary;
    summary.isProtected = (control & SE_DACL_PROTECTED) != 0;
    const DWORD changing = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | DELETE |
                           WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&header)))
            return summary;
        ACCESS_ALLOWED_ACE* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        char* sid = nullptr;
        if (!ConvertSidToStringSidA(&ace->SidStart, &sid))
            return summary;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            summary.others.push_back(sid);
        else if (ace->Mask & changing)
            summary.writers.push_back(sid);
        else if (ace->Mask & FILE_READ_DATA)
            summary.readers.push_back(sid);
        else
            summary.others.push_back(sid);
        LocalFree(sid);
    }
    std::sort(summary.writers.begin(), summary.writers.end());
    summary.ok = true;
    return summary;
}

void ExpectAdministratorsOnlyWrite(const AccessSummary& summary)
{
    ASSERT_TRUE(summary.ok);
    EXPECT_TRUE(summary.isProtected) << "the temporary folder's entries would be inherited";
    EXPECT_EQ((std::vector<std::string>{"S-1-5-18", "S-1-5-32-544"}), summary.writers) << "SYSTEM and administrators";
    EXPECT_EQ(std::vector<std::string>{"S-1-1-0"}, summary.readers) << "everyone reads and runs it";
    EXPECT_TRUE(summary.others.empty());
}

PSECURITY_DESCRIPTOR BatchDescriptorAddress()
{
    return const_cast<BatchDescriptor*>(&BatchSecurity);
}

TEST(BatchAccess, OnlyAdministratorsAndSystemMayChangeTheBatch)
{
    DetectPlatform();
    if (!TheRun.IsNT)
        GTEST_SKIP() << "the 9x line has no access lists";
    EXPECT_TRUE(IsValidSecurityDescriptor(BatchDescriptorAddress()));
    ExpectAdministratorsOnlyWrite(Summarize(BatchDescriptorAddress()));
}

// The ready-made descriptor says what the system makes of the access list written in its own
// language: the same control bits and, entry by entry, the same kind, flags, rights and account.
TEST(BatchAccess, TheDescriptorIsTheOneTheSystemBuildsFromItsText)
{
    DetectPlatform();
    if (!TheRun.IsNT)
        GTEST_SKIP() << "the 9x line has no access lists";
    PSECURITY_DESCRIPTOR expected = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;WD)",
                                                                     SDDL_REVISION_1, &expected, nullptr));
    PSECURITY_DESCRIPTOR actual = BatchDescriptorAddress();
    SECURITY_DESCRIPTOR_CONTROL expectedControl = 0, actualControl = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(expected, &expectedControl, &revision));
    ASSERT_TRUE(GetSecurityDescriptorControl(actual, &actualControl, &revision));
    EXPECT_EQ(expectedControl, actualControl);
    EXPECT_EQ(GetSecurityDescriptorLength(expected), GetSecurityDescriptorLength(actual));

    PACL lists[2] = {};
    PSECURITY_DESCRIPTOR descriptors[2] = {expected, actual};
    for (int i = 0; i < 2; ++i) {
        BOOL present = FALSE, defaulted = FALSE;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptors[i], &present, &lists[i], &defaulted));
        ASSERT_TRUE(present && lists[i] != nullptr);
        EXPECT_FALSE(defaulted);
        PSID none = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorOwner(descriptors[i], &none, &defaulted));
        EXPECT_EQ(nullptr, none) << "no owner: the file gets its creator's";
        ASSERT_TRUE(GetSecurityDescriptorGroup(descriptors[i], &none, &defaulted));
        EXPECT_EQ(nullptr, none);
    }
    EXPECT_TRUE(IsValidAcl(lists[1]));
    EXPECT_EQ(lists[0]->AclRevision, lists[1]->AclRevision);
    ASSERT_EQ(lists[0]->AceCount, lists[1]->AceCount);
    ASSERT_EQ(3, lists[1]->AceCount);
    for (DWORD i = 0; i < lists[0]->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* aces[2] = {};
        for (int d = 0; d < 2; ++d)
            ASSERT_TRUE(GetAce(lists[d], i, reinterpret_cast<void**>(&aces[d])));
        EXPECT_EQ(aces[0]->Header.AceType, aces[1]->Header.AceType) << "entry " << i;
        EXPECT_EQ(aces[0]->Header.AceFlags, aces[1]->Header.AceFlags) << "entry " << i;
        EXPECT_EQ(aces[0]->Header.AceSize, aces[1]->Header.AceSize) << "entry " << i;
        EXPECT_EQ(aces[0]->Mask, aces[1]->Mask) << "entry " << i;
        EXPECT_TRUE(IsValidSid(&aces[1]->SidStart)) << "entry " << i;
        EXPECT_TRUE(EqualSid(&aces[0]->SidStart, &aces[1]->SidStart)) << "entry " << i;
    }
    LocalFree(expected);
}

// Whether files here keep the access list they are given (Wine makes one up from the file mode).
bool FileSystemKeepsAccessLists(const std::string& folder)
{
    std::string probe = qt::Join(folder, "probe.txt");
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)", SDDL_REVISION_1,
                                                              &security.lpSecurityDescriptor, nullptr))
        return false;
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW, 0, nullptr);
    LocalFree(security.lpSecurityDescriptor);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;
    bool kept = false;
    if (GetNamedSecurityInfoA(probe.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                              &descriptor) == ERROR_SUCCESS) {
        AccessSummary summary = Summarize(descriptor);
        kept = summary.ok && summary.isProtected && summary.writers == std::vector<std::string>{"S-1-5-18"} &&
               summary.readers.empty() && summary.others.empty();
        LocalFree(descriptor);
    }
    DeleteFileA(probe.c_str());
    return kept;
}

TEST_F(SelfRemoval, OnTheNtLineTheBatchAndItsFolderCarryThatAccessList)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "the 9x line has no access lists";
    if (!FileSystemKeepsAccessLists(temp_))
        GTEST_SKIP() << "this file system does not keep the access lists of its files";
    char path[PATH_SIZE];
    HANDLE file = CreateBatchFile(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    std::string folder = std::string(path).substr(0, std::string(path).rfind('\\'));
    for (const std::string& object : {std::string(path), folder}) {
        SCOPED_TRACE(object);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PACL acl = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, GetNamedSecurityInfoA(object.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                       nullptr, nullptr, &acl, nullptr, &descriptor));
        ExpectAdministratorsOnlyWrite(Summarize(descriptor));
        LocalFree(descriptor);
    }
    DeleteFileA(path);
    RemoveDirectoryA(folder.c_str());
}

} // namespace
