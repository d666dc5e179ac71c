// The file pass end to end: real uninstallers run under Wine on real files and registry values.
// Files held open by another process (files_holder.exe) and the in-use box, shared-DLL counts
// and their question, read-only files through the real prompt, fonts registered in the test,
// and COM servers built in the test tree, unregistered through regsvr32 or in-process by level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files_support.h"
#include "font_support.h"
#include "win_test.h"

namespace {

using qt::FontChanges;

const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char NtFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char FontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const DWORD RunLimitMs = 60000;

std::string Texts(const std::vector<qt::Box>& boxes)
{
    std::string texts = "boxes:";
    for (const qt::Box& box : boxes)
        texts += " \"" + box.text + "\"";
    return texts;
}

void DeleteValue(HKEY root, const char* key, const std::string& name)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS) {
        RegDeleteValueA(handle, name.c_str());
        RegCloseKey(handle);
    }
}

// Waits for a visible box of the process other than the progress dialog and any in seen.
bool WaitForBox(const qt::Process& process, std::vector<HWND>* seen, qt::Box* box)
{
    for (DWORD waited = 0; waited < RunLimitMs; waited += 50) {
        for (const qt::Box& candidate : qt::ListBoxes(process.Id())) {
            bool known = false;
            for (HWND window : *seen)
                known = known || window == candidate.window;
            if (known || candidate.kind == qt::BoxKind::Progress)
                continue;
            Sleep(100); // let it fill its texts
            if (!qt::ReadBox(candidate.window, box))
                continue;
            seen->push_back(candidate.window);
            return true;
        }
        if (WaitForSingleObject(process.Handle(), 50) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

class FilePass : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = qt::FreshFolder("files-" + test);
        app_ = qt::Join(folder_, "app");
        ASSERT_TRUE(CreateDirectoryA(app_.c_str(), nullptr));
        exe_ = qt::Join(app_, "uninstall-" + test + ".exe");
    }

    std::string App(const std::string& name) const { return qt::Join(app_, name); }

    // Files in the uninstaller's folder, listed as ".\name" in the order given.
    void Create(const std::vector<std::string>& names, bool readOnly = false)
    {
        for (const std::string& name : names) {
            qt::WriteTextFile(App(name), name);
            if (readOnly)
                qt::MakeReadOnly(App(name));
        }
    }

    void Pack(const std::vector<quillon::FileItem>& files, const std::vector<std::string>& messages = qt::StandardMessages())
    {
        quillon::UninstallData data = qt::StandardData();
        data.messages = messages;
        data.files = files;
        qt::WriteUninstaller(exe_, data);
    }

    // Runs the uninstaller /S without any box expected; returns its exit code and process id.
    DWORD RunSilently(DWORD* processId = nullptr)
    {
        qt::Process process;
        EXPECT_TRUE(process.Start(exe_, "/S"));
        if (processId != nullptr)
            *processId = process.Id();
        return process.Wait(RunLimitMs);
    }

    std::string folder_, app_, exe_;
};

// --- Order -----------------------------------------------------------------------------------

// The entries carry FILE_FONT, which keeps them out of the empty-folder pass that follows: only
// the file pass's own order can remove a folder here.
TEST_F(FilePass, AFolderListedBeforeItsFilesGoesInTheSamePass)
{
    for (const char* sub : {"early", "late"}) {
        ASSERT_TRUE(CreateDirectoryA(App(sub).c_str(), nullptr));
        qt::WriteTextFile(qt::Join(App(sub), "a.txt"), "a");
        qt::WriteTextFile(qt::Join(App(sub), "b.txt"), "b");
    }
    Pack({{".\\early", "", FILE_FONT}, {".\\early", "a.txt", FILE_FONT}, {".\\early", "b.txt", FILE_FONT},
          {".\\late", "a.txt", FILE_FONT}, {".\\late", "b.txt", FILE_FONT}, {".\\late", "", FILE_FONT}});
    EXPECT_EQ(0u, RunSilently());
    EXPECT_FALSE(qt::FolderExists(App("early")));
    EXPECT_TRUE(qt::FolderExists(App("late"))) << "tried before its files were gone";
    EXPECT_FALSE(qt::FileExists(qt::Join(App("late"), "a.txt")));
    EXPECT_TRUE(qt::FileExists(exe_)) << "/S leaves the uninstaller";
}

// --- Files in use ----------------------------------------------------------------------------

TEST_F(FilePass, CancelInTheInUseBoxEndsTheRunWithNothingRemoved)
{
    Create({"held.dat", "free.txt"});
    Pack({{".", "held.dat", FILE_CHECK_IN_USE}, {".", "free.txt", FILE_CHECK_IN_USE}});
    qt::FileHolder holder(App("held.dat"));
    ASSERT_TRUE(holder.Holding());
    qt::Session session = qt::RunAnswering(exe_, "", {IDOK, IDCANCEL, IDCANCEL});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(2u, session.boxes.size()) << Texts(session.boxes);
    EXPECT_EQ("C:confirm", session.boxes[0].text);
    const qt::Box& inUse = session.boxes[1];
    EXPECT_EQ("U:in use", inUse.text);
    EXPECT_EQ("T:title", inUse.caption);
    EXPECT_TRUE(inUse.HasButton(IDRETRY) && inUse.HasButton(IDCANCEL));
    EXPECT_FALSE(inUse.HasButton(IDOK));
    EXPECT_FALSE(session.sawProgress);
    EXPECT_TRUE(qt::FileExists(App("held.dat")));
    EXPECT_TRUE(qt::FileExists(App("free.txt")));
    EXPECT_TRUE(qt::FileExists(exe_));
}

TEST_F(FilePass, RetryAfterTheFileIsReleasedGoesOnWithoutAnotherBox)
{
    Create({"held.dat", "free.txt"});
    Pack({{".", "held.dat", FILE_CHECK_IN_USE}, {".", "free.txt", 0}});
    qt::FileHolder holder(App("held.dat"));
    ASSERT_TRUE(holder.Holding());
    qt::Process process;
    ASSERT_TRUE(process.Start(exe_, ""));
    std::vector<HWND> seen;
    qt::Box box;
    ASSERT_TRUE(WaitForBox(process, &seen, &box));
    EXPECT_EQ("C:confirm", box.text);
    qt::Press(box.window, IDOK);
    ASSERT_TRUE(WaitForBox(process, &seen, &box));
    ASSERT_EQ("U:in use", box.text);
    // Retry while the file is still held: the same question comes again.
    qt::Press(box.window, IDRETRY);
    ASSERT_TRUE(WaitForBox(process, &seen, &box));
    ASSERT_EQ("U:in use", box.text);
    holder.Release();
    qt::Press(box.window, IDRETRY);
    ASSERT_TRUE(WaitForBox(process, &seen, &box));
    EXPECT_EQ("F:finished", box.text) << "no further in-use box once the file is free";
    qt::Press(box.window, IDOK);
    EXPECT_EQ(0u, process.Wait(RunLimitMs));
    EXPECT_FALSE(qt::FileExists(App("held.dat")));
    EXPECT_FALSE(qt::FileExists(App("free.txt")));
}

TEST_F(FilePass, InQuietModeAFileInUseIsSimplyLeftInPlace)
{
    Create({"held.dat", "free.txt", "shared.dll"});
    qt::SetRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App("shared.dll"), 1);
    Pack({{".", "held.dat", FILE_CHECK_IN_USE}, {".", "free.txt", FILE_CHECK_IN_USE},
          {".", "shared.dll", FILE_SHARED_DLL | FILE_CHECK_IN_USE}});
    qt::FileHolder holdData(App("held.dat"));
    qt::FileHolder holdShared(App("shared.dll"));
    ASSERT_TRUE(holdData.Holding() && holdShared.Holding());
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDYES});
    EXPECT_EQ(0u, session.exitCode);
    EXPECT_TRUE(session.boxes.empty()) << Texts(session.boxes);
    EXPECT_TRUE(qt::FileExists(App("held.dat")));
    EXPECT_TRUE(qt::FileExists(App("shared.dll")));
    EXPECT_FALSE(qt::FileExists(App("free.txt")));
    DWORD count = 99;
    EXPECT_TRUE(qt::ReadRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App("shared.dll"), &count));
    EXPECT_EQ(1u, count) << "a file in use keeps its last reference";
    DeleteValue(HKEY_LOCAL_MACHINE, SharedDllsKey, App("shared.dll"));
}

// --- Shared DLLs -----------------------------------------------------------------------------

TEST_F(FilePass, SharedDllCountsAreLoweredAndTheLastReferenceAsksFirst)
{
    Create({"two.dll", "yes.dll", "no.dll", "unlisted.dll", "held.dll", "zero.dll"});
    const std::pair<const char*, DWORD> counts[] = {
        {"two.dll", 2}, {"yes.dll", 1}, {"no.dll", 1}, {"held.dll", 1}, {"zero.dll", 0}};
    for (const auto& count : counts)
        qt::SetRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App(count.first), count.second);
    DeleteValue(HKEY_LOCAL_MACHINE, SharedDllsKey, App("unlisted.dll"));
    std::vector<quillon::FileItem> files;
    for (const char* name : {"two.dll", "yes.dll", "no.dll", "unlisted.dll", "held.dll", "zero.dll"})
        files.push_back({".", name, FILE_SHARED_DLL});
    Pack(files);
    qt::FileHolder holder(App("held.dll"));
    ASSERT_TRUE(holder.Holding());
    // Last entry first: zero.dll, held.dll (no question), unlisted.dll, no.dll, yes.dll, two.dll.
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDYES, IDYES, IDNO, IDYES, IDYES});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(4u, session.boxes.size()) << Texts(session.boxes);
    const char* asked[] = {"zero.dll", "unlisted.dll", "no.dll", "yes.dll"};
    for (size_t index = 0; index < 4; ++index) {
        EXPECT_EQ("SH:" + App(asked[index]), session.boxes[index].text);
        EXPECT_TRUE(session.boxes[index].HasButton(IDYES) && session.boxes[index].HasButton(IDNO));
    }
    DWORD count = 99;
    EXPECT_TRUE(qt::FileExists(App("two.dll")));
    EXPECT_TRUE(qt::ReadRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App("two.dll"), &count));
    EXPECT_EQ(1u, count);
    EXPECT_FALSE(qt::FileExists(App("yes.dll")));
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, SharedDllsKey, App("yes.dll")));
    EXPECT_TRUE(qt::FileExists(App("no.dll")));
    EXPECT_TRUE(qt::ReadRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App("no.dll"), &count));
    EXPECT_EQ(0u, count) << "No leaves the count at 0";
    EXPECT_FALSE(qt::FileExists(App("unlisted.dll")));
    EXPECT_TRUE(qt::FileExists(App("held.dll")));
    EXPECT_TRUE(qt::ReadRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App("held.dll"), &count));
    EXPECT_EQ(1u, count);
    EXPECT_FALSE(qt::FileExists(App("zero.dll")));
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, SharedDllsKey, App("zero.dll")));
    for (const auto& item : counts)
        DeleteValue(HKEY_LOCAL_MACHINE, SharedDllsKey, App(item.first));
}

TEST_F(FilePass, WithoutTheSharedDllsKeyTheQuestionStillComes)
{
    Create({"kept.dll", "gone.dll"});
    qt::DeleteRegistryTree(HKEY_LOCAL_MACHINE, SharedDllsKey);
    ASSERT_FALSE(qt::RegistryKeyExists(HKEY_LOCAL_MACHINE, SharedDllsKey));
    Pack({{".", "gone.dll", FILE_SHARED_DLL}, {".", "kept.dll", FILE_SHARED_DLL}});
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDNO, IDYES, IDYES});
    // Put the key back before anything can fail, so later tests find the machine as it was.
    qt::SetRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, "placeholder", 1);
    DeleteValue(HKEY_LOCAL_MACHINE, SharedDllsKey, "placeholder");
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(2u, session.boxes.size()) << Texts(session.boxes);
    EXPECT_EQ("SH:" + App("kept.dll"), session.boxes[0].text);
    EXPECT_EQ("SH:" + App("gone.dll"), session.boxes[1].text);
    EXPECT_TRUE(qt::FileExists(App("kept.dll")));
    EXPECT_FALSE(qt::FileExists(App("gone.dll")));
}

TEST_F(FilePass, AnEmptySharedFileQuestionDeletesWithoutAsking)
{
    Create({"last.dll"});
    qt::SetRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App("last.dll"), 1);
    std::vector<std::string> messages = qt::StandardMessages();
    messages[10] = "";
    Pack({{".", "last.dll", FILE_SHARED_DLL}}, messages);
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDNO});
    EXPECT_EQ(0u, session.exitCode);
    EXPECT_TRUE(session.boxes.empty()) << Texts(session.boxes);
    EXPECT_FALSE(qt::FileExists(App("last.dll")));
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, SharedDllsKey, App("last.dll")));
}

// --- Read-only files -------------------------------------------------------------------------

TEST_F(FilePass, EachReadOnlyAnswerDoesWhatItSaysAndYesToAllCarriesOver)
{
    Create({"r1.txt", "r2.txt", "r3.txt", "r4.txt", "r5.txt"}, true);
    Create({"plain.txt"});
    Pack({{".", "r1.txt", 0}, {".", "r2.txt", 0}, {".", "plain.txt", 0}, {".", "r3.txt", 0}, {".", "r4.txt", 0},
          {".", "r5.txt", 0}});
    // r5 Yes, r4 No, r3 Escape, plain.txt without asking, r2 Yes to all, r1 without asking.
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDYES, IDNO, IDCANCEL, 1001, IDNO, IDNO});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(4u, session.boxes.size()) << Texts(session.boxes);
    const char* asked[] = {"r5.txt", "r4.txt", "r3.txt", "r2.txt"};
    for (size_t index = 0; index < 4; ++index) {
        EXPECT_EQ(qt::BoxKind::ReadOnlyPrompt, session.boxes[index].kind);
        EXPECT_EQ("RO:" + App(asked[index]), session.boxes[index].text);
    }
    EXPECT_FALSE(qt::FileExists(App("r5.txt")));
    EXPECT_TRUE(qt::FileExists(App("r4.txt")));
    EXPECT_TRUE(qt::FileExists(App("r3.txt")));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), qt::Attributes(App("r3.txt")) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(qt::FileExists(App("plain.txt")));
    EXPECT_FALSE(qt::FileExists(App("r2.txt")));
    EXPECT_FALSE(qt::FileExists(App("r1.txt")));
}

TEST_F(FilePass, NoToAllCarriesOverButFontsAndServersGoWithoutAsking)
{
    Create({"r1.txt", "r2.txt", "r3.txt", "font.ttf", "server.dll"}, true);
    Pack({{".", "font.ttf", FILE_FONT}, {".", "server.dll", FILE_COM_SERVER}, {".", "r1.txt", 0},
          {".", "r2.txt", 0}, {".", "r3.txt", 0}});
    qt::Session session = qt::RunAnswering(exe_, "/S", {1002, IDNO, IDNO});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size()) << Texts(session.boxes);
    EXPECT_EQ("RO:" + App("r3.txt"), session.boxes[0].text);
    for (const char* name : {"r1.txt", "r2.txt", "r3.txt"}) {
        EXPECT_TRUE(qt::FileExists(App(name))) << name;
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), qt::Attributes(App(name)) & FILE_ATTRIBUTE_READONLY) << name;
    }
    EXPECT_FALSE(qt::FileExists(App("font.ttf")));
    EXPECT_FALSE(qt::FileExists(App("server.dll")));
}

TEST_F(FilePass, AnEmptyReadOnlyQuestionDeletesWithoutAPrompt)
{
    Create({"r1.txt", "r2.txt"}, true);
    std::vector<std::string> messages = qt::StandardMessages();
    messages[9] = "";
    Pack({{".", "r1.txt", 0}, {".", "r2.txt", 0}}, messages);
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDNO});
    EXPECT_EQ(0u, session.exitCode);
    EXPECT_TRUE(session.boxes.empty()) << Texts(session.boxes);
    EXPECT_FALSE(qt::FileExists(App("r1.txt")));
    EXPECT_FALSE(qt::FileExists(App("r2.txt")));
}

// --- Fonts -----------------------------------------------------------------------------------

class FontPass : public FilePass {
protected:
    void SetUp() override
    {
        FilePass::SetUp();
        counter_ = qt::OpenFontChangeCounter("FilesE2EFontChangeCounter");
        ASSERT_NE(nullptr, counter_);
    }
    void TearDown() override
    {
        DestroyWindow(counter_);
        for (const std::string& value : values_) {
            DeleteValue(HKEY_LOCAL_MACHINE, NtFontsKey, value);
            DeleteValue(HKEY_LOCAL_MACHINE, FontsKey, value);
        }
        FilePass::TearDown();
    }

    // A font file in the uninstaller's folder, registered under both Fonts keys by its value name.
    void Install(const std::string& file, const std::string& value, const qt::FontSpec& spec)
    {
        qt::WriteFontFile(App(file), spec);
        qt::SetRegistryString(HKEY_LOCAL_MACHINE, NtFontsKey, value, App(file));
        qt::SetRegistryString(HKEY_LOCAL_MACHINE, FontsKey, value, App(file));
        values_.push_back(value);
    }

    // Runs the uninstaller /S while this thread answers the broadcasts sent to its window.
    DWORD RunPumping()
    {
        qt::Process process;
        EXPECT_TRUE(process.Start(exe_, "/S"));
        HANDLE handle = process.Handle();
        for (DWORD waited = 0; waited < RunLimitMs; waited += 50) {
            DWORD woken = MsgWaitForMultipleObjects(1, &handle, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            if (woken == WAIT_OBJECT_0)
                break;
        }
        return process.Wait(5000);
    }

    HWND counter_ = nullptr;
    std::vector<std::string> values_;
};

TEST_F(FontPass, AFontIsDeregisteredUnderTheNtKeyAndDeleted)
{
    Install("demo.ttf", "Quillon E2E Sans Regular (TrueType)", {qt::StandardFontNames("Quillon E2E Sans")});
    Install("winonly.ttf", "Quillon E2E Win Regular (TrueType)",
            {qt::StandardFontNames("Quillon E2E Win", false, true)});
    // Not registered: the system never loaded it, so its removal from the system fails.
    qt::WriteFontFile(App("unloaded.ttf"), {qt::StandardFontNames("Quillon E2E Unloaded")});
    Pack({{".", "demo.ttf", FILE_FONT}, {".", "winonly.ttf", FILE_FONT}, {".", "unloaded.ttf", FILE_FONT}});
    EXPECT_EQ(0u, RunPumping());
    EXPECT_FALSE(qt::FileExists(App("demo.ttf")));
    EXPECT_FALSE(qt::FileExists(App("winonly.ttf")));
    EXPECT_FALSE(qt::FileExists(App("unloaded.ttf")));
    // The system loads registered fonts into every process, the uninstaller's too: the two
    // registered fonts leave it and each removal is announced; the unloaded one is not.
    EXPECT_EQ(2, FontChanges);
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, "Quillon E2E Sans Regular (TrueType)"));
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, FontsKey, "Quillon E2E Sans Regular (TrueType)"))
        << "the NT line leaves the 9x key alone";
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, "Quillon E2E Win Regular (TrueType)"))
        << "Windows names only: no full name to go by";
}

TEST_F(FontPass, OnThe9xLineTheWindowsFontsKeyLosesTheValue)
{
    Install("demo98.ttf", "Quillon E2E Nine Regular (TrueType)", {qt::StandardFontNames("Quillon E2E Nine")});
    Pack({{".", "demo98.ttf", FILE_FONT}});
    qt::SetWindowsVersionFor("uninstall-OnThe9xLineTheWindowsFontsKeyLosesTheValue.exe", "win98");
    EXPECT_EQ(0u, RunPumping());
    EXPECT_FALSE(qt::FileExists(App("demo98.ttf")));
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, FontsKey, "Quillon E2E Nine Regular (TrueType)"));
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, "Quillon E2E Nine Regular (TrueType)"));
}

// --- COM servers -----------------------------------------------------------------------------

class ComPass : public FilePass {
protected:
    std::string InstallServer(const std::string& program, const std::string& relativePath)
    {
        std::string path = App(relativePath);
        EXPECT_TRUE(CopyFileA(qt::TestBinPath(program).c_str(), path.c_str(), FALSE)) << path;
        return path;
    }
};

TEST_F(ComPass, FromVistaOnRegsvr32UnregistersTheServerOutsideTheUninstaller)
{
    ASSERT_TRUE(CreateDirectoryA(App("with blanks").c_str(), nullptr));
    std::string server = InstallServer("files_com_marker.dll", "with blanks\\marker server.dll");
    Pack({{".\\with blanks", "marker server.dll", FILE_COM_SERVER}});
    DWORD uninstaller = 0;
    EXPECT_EQ(0u, RunSilently(&uninstaller));
    auto marker = qt::ReadMarker(server);
    ASSERT_FALSE(marker["pid"].empty()) << "the server was called";
    EXPECT_NE(std::to_string(uninstaller), marker["pid"]) << "never loaded into the uninstaller";
    EXPECT_EQ("regsvr32 /u /s \"" + server + "\"", marker["cmdline"]);
    EXPECT_FALSE(qt::FileExists(server));
}

TEST_F(ComPass, BeforeVistaTheServerIsCalledInsideTheUninstaller)
{
    std::string server = InstallServer("files_com_marker.dll", "server.dll");
    Pack({{".", "server.dll", FILE_COM_SERVER}});
    qt::SetWindowsVersionFor("uninstall-BeforeVistaTheServerIsCalledInsideTheUninstaller.exe", "winxp");
    DWORD uninstaller = 0;
    EXPECT_EQ(0u, RunSilently(&uninstaller));
    auto marker = qt::ReadMarker(server);
    EXPECT_EQ(std::to_string(uninstaller), marker["pid"]);
    EXPECT_EQ(app_, marker["cwd"]) << "called with its own folder current";
    EXPECT_FALSE(qt::FileExists(server));
}

TEST_F(ComPass, AServerThatFaultsDoesNotEndTheUninstallerAndIsDeleted)
{
    std::string server = InstallServer("files_com_fault.dll", "fault.dll");
    Create({"after.txt"});
    Pack({{".", "after.txt", 0}, {".", "fault.dll", FILE_COM_SERVER}});
    qt::SetWindowsVersionFor("uninstall-AServerThatFaultsDoesNotEndTheUninstallerAndIsDeleted.exe", "winxp");
    qt::Session session = qt::RunAnswering(exe_, "/S", {IDOK});
    EXPECT_EQ(0u, session.exitCode);
    EXPECT_TRUE(session.boxes.empty()) << Texts(session.boxes);
    EXPECT_TRUE(qt::FileExists(server + ".marker")) << "the server ran";
    EXPECT_FALSE(qt::FileExists(server));
    EXPECT_FALSE(qt::FileExists(App("after.txt"))) << "the pass went on";
}

TEST_F(ComPass, AFileThatIsNoDllChangesNothingAndShowsNoBox)
{
    for (const char* level : {"win10", "winxp"}) {
        exe_ = qt::Join(app_, std::string("uninstall-nodll-") + level + ".exe");
        Create({"text.dll"});
        Pack({{".", "text.dll", FILE_COM_SERVER}});
        qt::SetWindowsVersionFor(std::string("uninstall-nodll-") + level + ".exe", level);
        qt::Session session = qt::RunAnswering(exe_, "/S", {IDOK});
        EXPECT_EQ(0u, session.exitCode) << level;
        EXPECT_TRUE(session.boxes.empty()) << level << " " << Texts(session.boxes);
        EXPECT_FALSE(qt::FileExists(App("text.dll"))) << level;
    }
}

} // namespace
