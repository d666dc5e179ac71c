// The canary property: an uninstall removes what it lists and nothing else. From each seed a
// random installation is made (nested folders with spaces, dots and non-ASCII names; files with
// every flag, read-only ones, shared DLL counts; patterns; folder groups with parent levels;
// registry keys and values in both views), canaries are planted around it (unlisted files beside
// listed ones, sibling folders, parents holding a file of their own, a folder reached through a
// link, protected folders, sibling keys, unlisted values), the uninstaller is packed and run with
// /S, and every listed item must be gone unless it had to stay, every canary intact.
//
// canary.sh makes the links from the Linux side and names the seeds: QUILLON_CANARY_SEEDS is
// "FIRST-LAST" (default 1-3). A failing seed prints the setting that replays it alone.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "files_support.h"
#include "install_support.h"
#include "registry_support.h"
#include "win_test.h"

namespace {

const char kRoot[] = "C:\\quillon-canary"; // canary.sh made s<seed>\App\linked -> ..\victim in it
const char kKeyBase[] = "Software\\QuillonCanary";
const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

struct Check {
    std::string what;
    std::function<bool()> holds;
};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed), seed_(seed)
    {
        // Non-ASCII names only where the ANSI code page gives these bytes letters.
        nonAscii_ = GetACP() == 1252;
    }

    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
    bool Chance(int percent) { return Pick(100) < percent; }

    // A unique name with spaces, dots or non-ASCII letters in it.
    std::string Name(const char* kind)
    {
        static const char* const plain[] = {"data", "My Files", "v1.2", "a.b.c", "x y z", "Lib", "res.d"};
        static const char* const accented[] = {"Caf\xE9", "na\xEFve dir", "\xDC" "ber", "R\xE9sum\xE9 1.0"};
        std::string base = nonAscii_ && Chance(30) ? accented[Pick(4)] : plain[Pick(7)];
        return base + " " + kind + std::to_string(++counter_);
    }

    std::mt19937& random() { return random_; }
    unsigned seed() const { return seed_; }

private:
    std::mt19937 random_;
    unsigned seed_;
    bool nonAscii_ = false;
    int counter_ = 0;
};

std::string MakeFile(const std::string& path, const std::string& text)
{
    qt::WriteTextFile(path, text);
    return path;
}

void MakeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
}

class Canary {
public:
    explicit Canary(unsigned seed) : gen_(seed)
    {
        base_ = std::string(kRoot) + "\\s" + std::to_string(seed);
        app_ = base_ + "\\App";
        key_ = std::string(kKeyBase) + "\\s" + std::to_string(seed);
        data_ = qt::StandardData();
        data_.messages[MSG_READ_ONLY] = "";   // read-only files go without a prompt
        data_.messages[MSG_SHARED_FILE] = ""; // so does a shared DLL whose count ran out
    }

    void Build()
    {
        Canaries();
        Files();
        Patterns();
        FolderGroups();
        Registry();
        LinkedFolder();
        ProtectedFolders();
    }

    void Run()
    {
        std::string exe = app_ + "\\uninstall.exe";
        qt::WriteUninstaller(exe, data_);
        qt::RunSilently(exe);
        Keep(exe); // /S keeps the uninstaller
    }

    void Verify()
    {
        printf("canary: seed %u: %zu listed items, %zu canaries\n", gen_.seed(), gone_.size(), kept_.size());
        for (const Check& check : gone_)
            EXPECT_FALSE(check.holds()) << "still there: " << check.what;
        for (const Check& check : kept_)
            EXPECT_TRUE(check.holds()) << "canary lost: " << check.what;
    }

    // What the run may leave outside the seed's folder: shared counts and the desktop shortcut.
    void CleanUp()
    {
        CleanRegistry();
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            for (const std::string& path : shared_)
                RegDeleteValueA(key, path.c_str());
            RegCloseKey(key);
        }
        if (!desktopLink_.empty())
            DeleteFileA(desktopLink_.c_str());
    }

    void CleanRegistry()
    {
        for (REGSAM view : {REGSAM(0), qt::OtherRegistryView}) {
            qt::DeleteRegistryTree(HKEY_CURRENT_USER, key_, view);
            qt::DeleteRegistryTree(HKEY_LOCAL_MACHINE, key_, view);
        }
    }

private:
    void Gone(const std::string& path) { gone_.push_back({path, [path] { return qt::FileExists(path) || qt::FolderExists(path); }}); }
    void Keep(const std::string& path) { kept_.push_back({path, [path] { return qt::FileExists(path) || qt::FolderExists(path); }}); }
    // A canary file: its text must survive too.
    std::string CanaryFile(const std::string& folder, const std::string& name)
    {
        std::string path = MakeFile(qt::Join(folder, name), "canary " + name);
        kept_.push_back({path, [path, name] { return qt::FileExists(path) && qt::ReadTextFile(path) == "canary " + name; }});
        return path;
    }

    // The parent of the installation holds a file of its own, and so does the folder above it.
    void Canaries()
    {
        MakeFolders(app_);
        CanaryFile(base_, "parent's own.txt");
        std::string sibling = qt::Join(base_, gen_.Name("sibling"));
        MakeFolders(sibling);
        CanaryFile(sibling, "beside.dat");
    }

    // Nested folders below the installation; in each, listed files and unlisted ones beside them.
    // A folder whose files are all listed is pruned (unless only font entries name it: fonts lie
    // in the font folder, whose emptiness is no concern); one holding a canary stays.
    void Files()
    {
        int folders = 1 + gen_.Pick(4);
        for (int f = 0; f < folders; ++f) {
            std::string relative = ".";
            std::string folder = app_;
            for (int depth = 1 + gen_.Pick(3); depth > 0; --depth) {
                std::string name = gen_.Name("dir");
                relative += "\\" + name;
                folder += "\\" + name;
            }
            MakeFolders(folder);
            bool absolute = gen_.Chance(30); // listed by its full path instead of relative to the install
            int files = 1 + gen_.Pick(3);
            bool anyStays = false, anyPrunes = false;
            for (int i = 0; i < files; ++i) {
                std::string name = gen_.Name("file") + (gen_.Chance(50) ? ".dll" : ".txt");
                std::string path = MakeFile(qt::Join(folder, name), "listed");
                uint8_t flags = 0;
                if (gen_.Chance(25))
                    flags |= FILE_CHECK_IN_USE;
                if (gen_.Chance(20))
                    flags |= FILE_FONT;
                if (gen_.Chance(10))
                    flags |= FILE_COM_SERVER;
                bool stays = false;
                if (gen_.Chance(25)) {
                    flags |= FILE_SHARED_DLL;
                    DWORD count = 1 + gen_.Pick(2); // 2: another application still counts it
                    qt::SetRegistryDword(HKEY_LOCAL_MACHINE, kSharedDlls, path, count);
                    stays = count > 1;
                    shared_.push_back(path);
                    if (stays)
                        kept_.push_back({path + " counted once less", [path] {
                                             DWORD left = 0;
                                             return qt::ReadRegistryDword(HKEY_LOCAL_MACHINE, kSharedDlls, path, &left) &&
                                                    left == 1;
                                         }});
                    else
                        gone_.push_back({"SharedDLLs count of " + path,
                                         [path] { return qt::RegistryValueExists(HKEY_LOCAL_MACHINE, kSharedDlls, path); }});
                }
                if (gen_.Chance(30))
                    qt::MakeReadOnly(path);
                data_.files.push_back({absolute ? folder : relative, name, flags});
                stays ? Keep(path) : Gone(path);
                anyStays = anyStays || stays;
                anyPrunes = anyPrunes || !(flags & FILE_FONT); // font entries prune no folder
            }
            if (gen_.Chance(60))
                CanaryFile(folder, gen_.Name("unlisted") + ".txt");
            else if (!anyStays && anyPrunes)
                Gone(folder); // emptied, so pruned
            std::string sibling = folder.substr(0, folder.rfind('\\')) + "\\" + gen_.Name("sibling");
            if (gen_.Chance(40)) {
                MakeFolders(sibling);
                CanaryFile(sibling, "sibling's.txt");
            }
        }
    }

    // A relative pattern over a tree: matching files go at every depth, other files stay.
    void Patterns()
    {
        int patterns = gen_.Pick(3);
        for (int p = 0; p < patterns; ++p) {
            std::string folderName = gen_.Name("logs");
            std::string folder = qt::Join(app_, folderName);
            std::string deep = qt::Join(folder, gen_.Name("deep"));
            MakeFolders(deep);
            Gone(MakeFile(qt::Join(folder, gen_.Name("run") + ".log"), "log"));
            Gone(MakeFile(qt::Join(deep, gen_.Name("old") + ".log"), "log"));
            // A canary in the deep folder keeps both; one in the top folder keeps it alone.
            int canary = gen_.Pick(3);
            if (canary == 0) {
                CanaryFile(deep, gen_.Name("keep") + ".log.txt");
            } else {
                Gone(deep);
                if (canary == 1)
                    CanaryFile(folder, gen_.Name("keep") + ".txt");
                else
                    Gone(folder);
            }
            data_.patterns.push_back(folderName + "\\*.log");
        }
    }

    // Groups of shortcuts under Menu folders beside the installation, with a second folder and
    // parent levels; a parent that holds a file of its own stays.
    void FolderGroups()
    {
        int groups = gen_.Pick(3);
        for (int g = 0; g < groups; ++g) {
            std::string menu = qt::Join(base_, gen_.Name("Menu"));
            std::string group = qt::Join(menu, gen_.Name("Group"));
            std::string desk = qt::Join(base_, gen_.Name("Desk"));
            MakeFolders(group);
            MakeFolders(desk);
            std::string link = gen_.Name("App") + ".lnk";
            Gone(MakeFile(qt::Join(group, link), "shortcut"));
            uint8_t levels = static_cast<uint8_t>(gen_.Pick(3));
            bool groupKeeps = gen_.Chance(25);
            if (groupKeeps)
                CanaryFile(group, "user's own.lnk");
            else
                Gone(group);
            Gone(desk);
            bool menuKeeps = gen_.Chance(40);
            if (menuKeeps)
                CanaryFile(menu, "other program.lnk");
            else if (levels >= 1 && !groupKeeps)
                Gone(menu);
            else
                Keep(menu); // beyond the group's levels, or under a folder that stayed
            data_.folderGroups.push_back({levels, group, desk, link});
        }
    }

    // Keys and values in both views: listed ones go; siblings, unlisted values and the same names
    // in the other view stay.
    void Registry()
    {
        std::string app = key_ + "\\" + gen_.Name("App");
        qt::SetRegistryString(HKEY_CURRENT_USER, app + "\\" + gen_.Name("sub"), "v", "x");
        qt::SetRegistryString(HKEY_CURRENT_USER, app, "Path", "C:\\x");
        data_.registry.push_back({ROOT_CURRENT_USER, app});
        gone_.push_back({"HKCU\\" + app, [app] { return qt::RegistryKeyExists(HKEY_CURRENT_USER, app); }});
        std::string sibling = key_ + "\\" + gen_.Name("Sibling");
        qt::SetRegistryString(HKEY_CURRENT_USER, sibling, "keep", "x");
        kept_.push_back({"HKCU\\" + sibling, [sibling] { return qt::RegistryValueExists(HKEY_CURRENT_USER, sibling, "keep"); }});

        std::string values = key_ + "\\" + gen_.Name("Values");
        std::string listed = gen_.Chance(50) ? "Level 1.0" : "";
        qt::SetRegistryString(HKEY_CURRENT_USER, values, listed, "listed");
        qt::SetRegistryString(HKEY_CURRENT_USER, values, "Unlisted", "x");
        data_.registry.push_back({ROOT_CURRENT_USER, values + "\\\\" + listed});
        gone_.push_back({"value \"" + listed + "\"", [values, listed] {
                             return qt::RegistryValueExists(HKEY_CURRENT_USER, values, listed);
                         }});
        kept_.push_back({"unlisted value", [values] { return qt::RegistryValueExists(HKEY_CURRENT_USER, values, "Unlisted"); }});

        // Under HKLM: "Software64" names the 64-bit view, "Software" the program's own.
        bool software64 = gen_.Chance(50);
        REGSAM listedView = software64 ? KEY_WOW64_64KEY : qt::OwnRegistryView;
        REGSAM otherView = listedView == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        std::string machine = key_ + "\\" + gen_.Name("Machine");
        for (REGSAM view : {listedView, otherView})
            qt::SetRegistryString(HKEY_LOCAL_MACHINE, machine, "v", "x", view);
        std::string text = software64 ? "Software64" + machine.substr(8) : machine;
        data_.registry.push_back({ROOT_LOCAL_MACHINE, text});
        gone_.push_back({"HKLM\\" + text, [machine, listedView] {
                             return qt::RegistryKeyExists(HKEY_LOCAL_MACHINE, machine, listedView);
                         }});
        kept_.push_back({"HKLM\\" + machine + " in the other view", [machine, otherView] {
                             return qt::RegistryKeyExists(HKEY_LOCAL_MACHINE, machine, otherView);
                         }});
    }

    // App\linked is a link to ..\victim (canary.sh made it): entries and a pattern through it
    // must not touch the victim's files.
    void LinkedFolder()
    {
        std::string victim = qt::Join(base_, "victim");
        if (!qt::FileExists(qt::Join(victim, "keep.txt"))) {
            ADD_FAILURE() << "canary.sh did not make " << victim;
            return;
        }
        kept_.push_back({victim + "\\keep.txt", [victim] { return qt::FileExists(qt::Join(victim, "keep.txt")); }});
        kept_.push_back({victim + "\\sub\\deep.txt", [victim] { return qt::FileExists(victim + "\\sub\\deep.txt"); }});
        if (gen_.Chance(50))
            data_.files.push_back({".\\linked", "keep.txt", 0});
        if (gen_.Chance(50))
            data_.files.push_back({".\\linked\\sub", "deep.txt", FILE_SHARED_DLL});
        if (gen_.Chance(50))
            data_.patterns.push_back("linked\\*.txt");
        if (gen_.Chance(50))
            data_.folderGroups.push_back({1, app_ + "\\linked\\sub", "", "deep.txt"});
    }

    // A group whose folder is the user's desktop, with parent levels: the shortcut goes, the
    // desktop and the profile above it stay even when empty.
    void ProtectedFolders()
    {
        if (!gen_.Chance(34))
            return;
        char desktop[MAX_PATH];
        if (SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop) != S_OK)
            return;
        // The shortcut itself is not checked: where the desktop is a link (as Wine may make it),
        // the group's file is not ours to delete.
        std::string link = "canary " + std::to_string(gen_.seed()) + ".lnk";
        desktopLink_ = MakeFile(qt::Join(desktop, link), "shortcut");
        Keep(desktop);
        std::string profile = std::string(desktop).substr(0, std::string(desktop).rfind('\\'));
        Keep(profile);
        data_.folderGroups.push_back({2, desktop, "", link});
    }

    Generator gen_;
    std::string base_, app_, key_;
    quillon::UninstallData data_;
    std::vector<Check> gone_, kept_;
    std::vector<std::string> shared_;
    std::string desktopLink_;
};

std::pair<unsigned, unsigned> SeedRange()
{
    unsigned first = 1, last = 3;
    if (const char* text = getenv("QUILLON_CANARY_SEEDS"))
        if (sscanf(text, "%u-%u", &first, &last) == 1)
            last = first;
    return {first, last};
}

TEST(Canary, NothingUnlistedIsEverRemoved)
{
    auto [first, last] = SeedRange();
    unsigned failed = 0;
    for (unsigned seed = first; seed <= last; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed) + "; replay with QUILLON_CANARY_SEEDS=" + std::to_string(seed));
        int failuresBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        Canary canary(seed);
        canary.CleanRegistry();
        canary.Build();
        canary.Run();
        canary.Verify();
        canary.CleanUp();
        if (::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() != failuresBefore) {
            ++failed;
            printf("canary: seed %u FAILED; replay with QUILLON_CANARY_SEEDS=%u\n", seed, seed);
        }
    }
    printf("canary: seeds %u to %u, %u failed\n", first, last, failed);
}

} // namespace
