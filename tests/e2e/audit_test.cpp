// quillon-audit end to end: real uninstallers, installed and run under Wine, audited before and
// after their run, with the JSON output read back. The audit must change nothing, report nothing
// after a clean uninstall, name each leftover with its reason, predict exactly what a randomized
// uninstall removes, and refuse a damaged uninstaller with the loader's error.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "audit_support.h"
#include "files_support.h"
#include "install_support.h"
#include "win_test.h"

namespace {

using qt::Audit;
using qt::AuditRun;
using qt::ItemLines;
using qt::Quoted;

const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char TestKey[] = "Software\\QuillonAuditTest";
const char CurrentUser[] = "HKEY_CURRENT_USER\\";

// --- Snapshots of a folder tree and a registry branch -------------------------------------------

using Snapshot = std::map<std::string, std::string>; // what -> its state

void SnapFolder(const std::string& folder, Snapshot* snapshot)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(qt::Join(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = qt::Join(folder, name);
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        (*snapshot)[(isFolder ? "folder:" : "file:") + path] =
            std::to_string(found.dwFileAttributes) + "/" + std::to_string(found.nFileSizeLow) + "/" +
            std::to_string(found.ftLastWriteTime.dwLowDateTime) + "/" + std::to_string(found.ftLastWriteTime.dwHighDateTime) +
            (isFolder ? "" : "/" + qt::ReadTextFile(path));
        if (isFolder)
            SnapFolder(path, snapshot);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void SnapKey(HKEY root, const std::string& rootName, const std::string& path, Snapshot* snapshot)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    (*snapshot)["key:" + rootName + path] = "";
    char name[1024];
    BYTE data[4096];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        (*snapshot)["value:" + rootName + path + "\\\\" + name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataSize);
    }
    std::vector<std::string> subKeys;
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subKeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& sub : subKeys)
        SnapKey(root, rootName, path + "\\" + sub, snapshot);
}

Snapshot SnapMachine(const std::string& folder)
{
    Snapshot snapshot;
    SnapFolder(folder, &snapshot);
    SnapKey(HKEY_CURRENT_USER, CurrentUser, TestKey, &snapshot);
    SnapKey(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\", SharedDllsKey, &snapshot);
    return snapshot;
}

class AuditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qt::DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        base_ = qt::FreshFolder("audit-" + test);
        app_ = qt::Join(base_, "App");
        ASSERT_TRUE(CreateDirectoryA(app_.c_str(), nullptr));
        // Beside the installation, not in it: the data names App by full path.
        exe_ = qt::Join(base_, "uninstall.exe");
    }
    void TearDown() override { qt::DeleteRegistryTree(HKEY_CURRENT_USER, TestKey); }

    std::string App(const std::string& name) const { return qt::Join(app_, name); }
    std::string Key(const std::string& name) const { return std::string(TestKey) + "\\" + name; }

    std::string base_, app_, exe_;
};

// --- After a clean uninstall, and after one with leftovers ------------------------------------

TEST_F(AuditTest, AfterACleanUninstallNothingIsLeftAndTheExitStatusIsZero)
{
    ASSERT_TRUE(CreateDirectoryA(App("data").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(App("logs").c_str(), nullptr));
    for (const char* name : {"app.exe", "data\\a.dat", "logs\\1.log", "logs\\2.log"})
        qt::WriteTextFile(App(name), name);
    // A pattern behind a macro, resolved here as the stub resolves it.
    char appData[MAX_PATH];
    ASSERT_NE(0u, GetEnvironmentVariableA("APPDATA", appData, MAX_PATH));
    std::string logs = qt::Join(appData, "QuillonAuditTest");
    qt::RemoveTree(logs);
    ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr));
    qt::WriteTextFile(qt::Join(logs, "a.log"), "a");
    qt::SetRegistryString(HKEY_CURRENT_USER, Key("App\\Sub"), "Name", "x");
    qt::SetRegistryString(HKEY_CURRENT_USER, Key("Shared"), "Setting", "x");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{app_, "app.exe"}, {app_ + "\\data", "a.dat"}};
    data.patterns = {"App\\logs\\*.log", "#AppData#\\QuillonAuditTest\\*.log"};
    data.registry = {{ROOT_CURRENT_USER, Key("App")}, {ROOT_CURRENT_USER, Key("Shared") + "\\\\Setting"}};
    qt::WriteUninstaller(exe_, data);
    std::vector<std::string> before = ItemLines(Audit(Quoted(exe_) + " --before --json").Json());
    for (const std::string& line : {"removed - file " + qt::Join(logs, "a.log"), "removed - folder " + logs,
                                    "removed - folder " + app_})
        EXPECT_NE(before.end(), std::find(before.begin(), before.end(), line)) << line;

    qt::RunSilently(exe_);
    ASSERT_FALSE(qt::FolderExists(app_));
    ASSERT_FALSE(qt::FolderExists(logs));
    // The key of a listed value stays, empty: only what it holds would make it a leftover.
    ASSERT_TRUE(qt::RegistryKeyExists(HKEY_CURRENT_USER, Key("Shared")));

    AuditRun json = Audit(Quoted(exe_) + " --after --json");
    EXPECT_EQ(0u, json.exitCode) << json.out << json.err;
    nlohmann::json report = json.Json();
    EXPECT_TRUE(report["items"].empty()) << json.out;
    EXPECT_EQ(0, report["leftovers"]);
    AuditRun text = Audit(Quoted(exe_) + " --after");
    EXPECT_EQ(0u, text.exitCode);
    EXPECT_NE(std::string::npos, text.out.find("\n0 leftovers")) << text.out;
}

TEST_F(AuditTest, BeforeChangesNothingAndAfterNamesEachLeftoverWithItsReason)
{
    for (const char* name : {"app.exe", "held.dll", "held-ro.dll", "readonly.txt", "shared.dll", "user.cfg"})
        qt::WriteTextFile(App(name), name);
    qt::MakeReadOnly(App("readonly.txt"));
    qt::MakeReadOnly(App("held-ro.dll")); // held too: its in-use test must leave the attribute be
    qt::SetRegistryDword(HKEY_LOCAL_MACHINE, SharedDllsKey, App("shared.dll"), 2);
    qt::SetRegistryString(HKEY_CURRENT_USER, Key("App"), "Name", "x");
    qt::SetRegistryString(HKEY_CURRENT_USER, Key("Shared"), "Setting", "x");
    qt::SetRegistryString(HKEY_CURRENT_USER, Key("Shared"), "Other", "x");
    quillon::UninstallData data = qt::StandardData();
    data.files = {{app_, "app.exe"},      {app_, "held.dll"},
                  {app_, "held-ro.dll"},  {app_, "readonly.txt"},
                  {app_, "shared.dll", FILE_SHARED_DLL}, {"C:\\windows", ""}};
    data.registry = {{ROOT_CURRENT_USER, Key("App")}, {ROOT_CURRENT_USER, Key("Shared") + "\\\\Setting"}};
    qt::WriteUninstaller(exe_, data);
    qt::FileHolder holder(App("held.dll")), holderOfReadOnly(App("held-ro.dll"));
    ASSERT_TRUE(holder.Holding() && holderOfReadOnly.Holding());

    Snapshot before = SnapMachine(base_);
    AuditRun dryRun = Audit(Quoted(exe_) + " --before --json");
    EXPECT_EQ(before, SnapMachine(base_)) << "the audit changed the machine";
    EXPECT_EQ(0u, dryRun.exitCode) << dryRun.err;
    const std::string key = CurrentUser + Key("");
    EXPECT_EQ((std::vector<std::string>{
                  "removed - file " + App("app.exe"),
                  "stays in_use file " + App("held.dll"),
                  "stays in_use file " + App("held-ro.dll"),
                  "asks read_only file " + App("readonly.txt"),
                  "stays shared_dll file " + App("shared.dll"),
                  "stays protected_folder folder C:\\windows",
                  "stays not_empty folder " + app_,
                  "removed - key " + key + "App",
                  "removed - value " + key + "Shared\\\\Setting",
                  "stays unlisted_contents key " + key + "Shared",
              }),
              ItemLines(dryRun.Json()))
        << dryRun.out;

    qt::Session session = qt::RunAnswering(exe_, "/S", {IDNO});
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ(qt::BoxKind::ReadOnlyPrompt, session.boxes[0].kind);
    ASSERT_FALSE(qt::FileExists(App("app.exe")));

    AuditRun after = Audit(Quoted(exe_) + " --after --json");
    EXPECT_EQ(7u, after.exitCode) << after.out << after.err;
    nlohmann::json report = after.Json();
    EXPECT_EQ((std::vector<std::string>{
                  "stays in_use file " + App("held.dll"),
                  "stays in_use file " + App("held-ro.dll"),
                  "stays read_only file " + App("readonly.txt"),
                  "stays shared_dll file " + App("shared.dll"),
                  "stays protected_folder folder C:\\windows",
                  "stays not_empty folder " + app_,
                  "stays unlisted_contents key " + key + "Shared",
              }),
              ItemLines(report))
        << after.out;
    EXPECT_EQ(1, report["items"][3]["shared_count"]);
    EXPECT_EQ(nlohmann::json({"user.cfg"}), report["items"][5]["unlisted"]) << "listed leftovers are not unlisted";
    EXPECT_EQ(nlohmann::json({"Other"}), report["items"][6]["unlisted"]);
    AuditRun text = Audit(Quoted(exe_) + " --after");
    EXPECT_EQ(7u, text.exitCode);
    EXPECT_NE(std::string::npos, text.out.find("stays   folder " + app_ + " -- not empty: unlisted user.cfg\n"))
        << text.out;
}

TEST_F(AuditTest, WithoutAnyRunEveryItemIsALeftoverAndTheExitStatusStopsAt125)
{
    quillon::UninstallData data = qt::StandardData();
    for (int index = 0; index < 130; ++index) {
        std::string name = std::to_string(index) + ".txt";
        qt::WriteTextFile(App(name), name);
        data.files.push_back({app_, name});
    }
    qt::WriteUninstaller(exe_, data);
    AuditRun run = Audit(Quoted(exe_) + " --after --json");
    EXPECT_EQ(125u, run.exitCode);
    nlohmann::json report = run.Json();
    EXPECT_EQ(131, report["leftovers"]) << "the files and their folder";
    EXPECT_EQ("present", report["items"][0]["reason"]);
}

// --- A dry run on a randomized installation -----------------------------------------------------

TEST_F(AuditTest, BeforeListsExactlyWhatARandomizedUninstallRemoves)
{
    std::random_device device;
    unsigned seed = device();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };

    quillon::UninstallData data = qt::StandardData();
    // Folders two levels deep; each file is listed, unlisted (it keeps its folders) or, in the
    // logs tree, matched by the pattern or not.
    std::vector<std::string> folders = {"."};
    for (int index = 0, count = 1 + random() % 4; index < count; ++index) {
        std::string parent = folders[random() % folders.size()];
        std::string folder = parent == "." ? "d" + std::to_string(index) : parent + "\\d" + std::to_string(index);
        if (folder.size() < 10)
            folders.push_back(folder);
    }
    for (const std::string& folder : folders) {
        std::string path = folder == "." ? app_ : App(folder);
        CreateDirectoryA(path.c_str(), nullptr);
        for (int index = 0, count = random() % 4; index < count; ++index) {
            std::string name = "f" + std::to_string(index) + ".txt";
            qt::WriteTextFile(qt::Join(path, name), name);
            if (!chance(15))
                data.files.push_back({".\\App" + (folder == "." ? "" : "\\" + folder), name});
        }
        if (folder != "." && chance(30))
            data.files.push_back({".\\App\\" + folder, ""});
    }
    for (const char* folder : {"logs", "logs\\old"}) {
        CreateDirectoryA(App(folder).c_str(), nullptr);
        for (int index = 0, count = random() % 4; index < count; ++index) {
            std::string name = std::to_string(index) + (chance(70) ? ".log" : ".txt");
            qt::WriteTextFile(qt::Join(App(folder), name), name);
        }
    }
    data.patterns = {"App\\logs\\*.log"};
    // A group of shortcuts with its parent, which other files may keep.
    std::string vendor = qt::Join(base_, "Vendor"), group = qt::Join(vendor, "Group");
    CreateDirectoryA(vendor.c_str(), nullptr);
    CreateDirectoryA(group.c_str(), nullptr);
    qt::WriteTextFile(qt::Join(group, "App.lnk"), "lnk");
    if (chance(30))
        qt::WriteTextFile(qt::Join(chance(50) ? vendor : group, "other.lnk"), "other");
    data.folderGroups = {{1, group, "", "App.lnk"}};
    for (int index = 0, count = 1 + random() % 3; index < count; ++index) {
        std::string key = Key("K" + std::to_string(index));
        qt::SetRegistryString(HKEY_CURRENT_USER, key, "v", "x");
        if (chance(50))
            qt::SetRegistryDword(HKEY_CURRENT_USER, key + "\\Sub", "n", index);
        if (chance(80))
            data.registry.push_back({ROOT_CURRENT_USER, key});
    }
    for (int index = 0, count = random() % 4; index < count; ++index) {
        std::string name = "V" + std::to_string(index);
        qt::SetRegistryString(HKEY_CURRENT_USER, Key("Values"), name, "x");
        if (chance(70))
            data.registry.push_back({ROOT_CURRENT_USER, Key("Values") + "\\\\" + name});
    }
    qt::WriteUninstaller(exe_, data);

    AuditRun dryRun = Audit(Quoted(exe_) + " --before --json");
    ASSERT_EQ(0u, dryRun.exitCode) << dryRun.err;
    std::set<std::string> predicted, staying;
    nlohmann::json report = dryRun.Json();
    for (const auto& item : report["items"]) {
        std::string what = item["kind"].get<std::string>() + ":" + item["path"].get<std::string>() +
                           (item.contains("value") ? "\\\\" + item["value"].get<std::string>() : "");
        (item["status"] == "removed" ? predicted : staying).insert(what);
    }

    Snapshot before = SnapMachine(base_);
    qt::RunSilently(exe_);
    Snapshot after = SnapMachine(base_);
    // What went: every file and folder; of the registry, what went without the key above it.
    std::set<std::string> removed;
    for (const auto& [what, state] : before) {
        if (after.count(what))
            continue;
        bool isRegistry = what.compare(0, 4, "key:") == 0 || what.compare(0, 6, "value:") == 0;
        std::string path = what.substr(what.find(':') + 1);
        std::string keyAbove = path.substr(0, path.find_last_of('\\') - (what[0] == 'v' ? 1 : 0));
        if (isRegistry && before.count("key:" + keyAbove) && !after.count("key:" + keyAbove))
            continue;
        removed.insert(what);
    }
    EXPECT_EQ(removed, predicted) << dryRun.out;
    for (const std::string& what : staying)
        EXPECT_TRUE(after.count(what)) << what << " was to stay";
}

// --- A damaged uninstaller --------------------------------------------------------------------

TEST_F(AuditTest, ADamagedOrTruncatedUninstallerGetsTheLoadersErrorAndNoReport)
{
    quillon::UninstallData data = qt::StandardData();
    data.files = {{app_, "app.exe"}};
    quillon::Bytes chain = quillon::EncodeUninstallData(data);
    quillon::Bytes truncated(chain.begin(), chain.end() - 12);
    quillon::Bytes damaged = quillon::BlockWriter()
                                 .Block(BLOCK_MESSAGES, quillon::EncodeMessageTableBody(qt::StandardMessages()))
                                 .Block(BLOCK_SETTINGS, quillon::EncodeSettingsBody({}), BLOCK_FLAG_UNSUPPORTED)
                                 .End()
                                 .bytes();
    qt::WriteTextFile(App("app.exe"), "app");
    for (const quillon::Bytes* bytes : {&truncated, &damaged}) {
        qt::WriteUninstaller(exe_, *bytes);
        for (const char* mode : {"--before", "--after --json"}) {
            AuditRun run = Audit(Quoted(exe_) + " " + mode);
            EXPECT_EQ(126u, run.exitCode) << mode;
            EXPECT_EQ("", run.out) << mode;
            EXPECT_EQ(0u, run.err.find("R:read " + exe_ + "\n")) << run.err;
        }
    }
    qt::WriteTextFile(exe_, "MZ, but no uninstaller");
    AuditRun run = Audit(Quoted(exe_));
    EXPECT_EQ(126u, run.exitCode);
    EXPECT_EQ("", run.out);

    // An uninstaller of the other flavour reaches other folders and another registry view: the
    // audit of its own flavour must read it. Its PE header's machine field says which it is.
    qt::WriteUninstaller(exe_, data);
    std::string image = qt::ReadTextFile(exe_);
    size_t machineAt = *reinterpret_cast<const uint32_t*>(&image[0x3C]) + 4;
    const char* other = qt::FlavourIsX64 ? "\x4C\x01" : "\x64\x86";
    image.replace(machineAt, 2, other, 2);
    qt::WriteTextFile(exe_, image);
    run = Audit(Quoted(exe_));
    EXPECT_EQ(126u, run.exitCode);
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find(qt::FlavourIsX64 ? "an x86 uninstaller" : "an x64 uninstaller")) << run.err;
}

} // namespace
