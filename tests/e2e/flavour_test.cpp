// What each flavour's uninstaller reaches on 64-bit Windows: the x86 stub is redirected like any
// 32-bit program (C:\Windows\System32 is SysWOW64 to it, #Program Files# the x86 folder, its
// registry the 32-bit view unless "Software64" asks for the other), the x64 stub is not (the real
// System folder, the 64-bit Program Files, the 64-bit view for both spellings). The same manifest is packed, the
// same files and keys are planted in both places, and each run must remove exactly its own.
#include <gtest/gtest.h>

#include <string>

#include "install_support.h"
#include "registry_support.h"
#include "win_test.h"

namespace {

using qt::CreateKey;
using qt::DeleteRegistryTree;
using qt::FileExists;
using qt::FlavourIsX64;
using qt::FolderExists;
using qt::RegistryKeyExists;

const char Base[] = "Software\\QuillonFlavourE2E";

// The two System folders and the two Program Files, as this test program reaches them. A 32-bit
// program reaches the real System folder through "Sysnative", which is never redirected.
struct Places {
    std::string nativeSystem, wowSystem, nativeProgramFiles, x86ProgramFiles;
};

Places FindPlaces()
{
    char windows[MAX_PATH] = "";
    char wow[MAX_PATH] = "";
    EXPECT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
    EXPECT_NE(0u, GetSystemWow64DirectoryA(wow, MAX_PATH)) << "this test needs a 64-bit prefix";
    Places places;
    places.nativeSystem = std::string(windows) + (FlavourIsX64 ? "\\system32" : "\\Sysnative");
    places.wowSystem = wow;
    std::string drive = std::string(windows).substr(0, 2);
    places.nativeProgramFiles = drive + "\\Program Files";
    places.x86ProgramFiles = drive + "\\Program Files (x86)";
    return places;
}

void Plant(const std::string& folder)
{
    std::string ours = qt::Join(folder, "QuillonFlavourE2E");
    qt::RemoveTree(ours);
    ASSERT_TRUE(CreateDirectoryA(ours.c_str(), nullptr)) << ours;
    qt::WriteTextFile(qt::Join(ours, "flavour.dll"), "planted");
}

class Flavour : public ::testing::Test {
protected:
    void SetUp() override
    {
        places_ = FindPlaces();
        for (const std::string& folder : Folders())
            Plant(folder);
        Clean();
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            CreateKey(HKEY_LOCAL_MACHINE, std::string(Base) + "\\Plain", view);
            CreateKey(HKEY_LOCAL_MACHINE, std::string(Base) + "\\Wide", view);
        }
    }
    void TearDown() override
    {
        for (const std::string& folder : Folders())
            qt::RemoveTree(qt::Join(folder, "QuillonFlavourE2E"));
        Clean();
    }
    static void Clean()
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, Base, KEY_WOW64_32KEY);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, Base, KEY_WOW64_64KEY);
    }
    std::vector<std::string> Folders() const
    {
        return {places_.nativeSystem, places_.wowSystem, places_.nativeProgramFiles, places_.x86ProgramFiles};
    }
    // The planted file, or its folder once the file is gone.
    static bool Planted(const std::string& folder)
    {
        std::string ours = qt::Join(folder, "QuillonFlavourE2E");
        return FileExists(qt::Join(ours, "flavour.dll")) || FolderExists(ours);
    }
    static bool Key(const char* name, REGSAM view)
    {
        return RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(Base) + "\\" + name, view);
    }
    Places places_;
};

TEST_F(Flavour, EachFlavourRemovesWhatItsOwnViewOfTheMachineNames)
{
    qt::Installation app = qt::MakeInstallation("flavour");
    quillon::UninstallData data = qt::StandardData();
    // A file entry names its folder literally, as the installer wrote it; a pattern may use macros.
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    data.files = {{std::string(windows) + "\\system32\\QuillonFlavourE2E", "flavour.dll"}};
    data.patterns = {"#Program Files#\\QuillonFlavourE2E\\*.dll"};
    data.registry = {{ROOT_LOCAL_MACHINE, std::string(Base) + "\\Plain"},
                     {ROOT_LOCAL_MACHINE, "Software64\\QuillonFlavourE2E\\Wide"}};
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);

    if (FlavourIsX64) {
        // No redirection: the real System folder and the 64-bit Program Files, and the 64-bit view
        // for both spellings of the key. The 32-bit side is another application's.
        EXPECT_FALSE(Planted(places_.nativeSystem)) << "file and emptied folder under the real System folder";
        EXPECT_FALSE(Planted(places_.nativeProgramFiles));
        EXPECT_TRUE(Planted(places_.wowSystem));
        EXPECT_TRUE(Planted(places_.x86ProgramFiles));
        EXPECT_FALSE(Key("Plain", KEY_WOW64_64KEY));
        EXPECT_FALSE(Key("Wide", KEY_WOW64_64KEY));
        EXPECT_TRUE(Key("Plain", KEY_WOW64_32KEY));
        EXPECT_TRUE(Key("Wide", KEY_WOW64_32KEY));
    } else {
        // Redirected as a 32-bit program: SysWOW64, Program Files (x86), the 32-bit view; only
        // "Software64" reaches the 64-bit view.
        EXPECT_FALSE(Planted(places_.wowSystem));
        EXPECT_FALSE(Planted(places_.x86ProgramFiles));
        EXPECT_TRUE(Planted(places_.nativeSystem));
        EXPECT_TRUE(Planted(places_.nativeProgramFiles));
        EXPECT_FALSE(Key("Plain", KEY_WOW64_32KEY));
        EXPECT_FALSE(Key("Wide", KEY_WOW64_64KEY));
        EXPECT_TRUE(Key("Plain", KEY_WOW64_64KEY));
        EXPECT_TRUE(Key("Wide", KEY_WOW64_32KEY));
    }
}

} // namespace
