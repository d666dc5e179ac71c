// Registry removal end to end: real uninstallers with registry lists, run silently under Wine on
// real keys, at the NT level and at the 9x level, the registry checked afterwards.
#include <gtest/gtest.h>

#include <string>

#include "install_support.h"
#include "registry_support.h"
#include "win_test.h"

namespace {

using qt::AllowDelete;
using qt::CreateKey;
using qt::DeleteRegistryTree;
using qt::DenyDelete;
using qt::RegistryKeyExists;
using qt::RegistryValueExists;
using qt::SetRegistryString;

const char Base[] = "Software\\QuillonRegistryE2E";

std::string Under(const std::string& path) { return std::string(Base) + "\\" + path; }

// A key that may live below a volatile key (HKEY_CURRENT_CONFIG\System is one): made volatile.
void CreateVolatileKey(HKEY root, const std::string& path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr))
        << path;
    RegCloseKey(key);
}

void RunEntries(const std::string& name, const std::vector<quillon::RegistryItem>& entries,
                const std::string& level = "")
{
    qt::Installation app = qt::MakeInstallation(name, "uninstall-" + name + ".exe");
    if (!level.empty())
        qt::SetWindowsVersionFor("uninstall-" + name + ".exe", level);
    quillon::UninstallData data = qt::StandardData();
    data.registry = entries;
    qt::WriteUninstaller(app.exe, data);
    qt::RunSilently(app.exe);
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        AllowDelete(HKEY_LOCAL_MACHINE, Under("Stop\\B\\Locked"));
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            DeleteRegistryTree(root, Base, KEY_WOW64_32KEY);
            DeleteRegistryTree(root, Base, KEY_WOW64_64KEY);
        }
        DeleteRegistryTree(HKEY_CURRENT_USER, "Software64\\QuillonRegistryE2E");
        for (HKEY root : {HKEY_CURRENT_CONFIG, HKEY_USERS}) {
            DeleteRegistryTree(root, "Software\\QuillonRegistryE2E");
            DeleteRegistryTree(root, "System\\QuillonRegistryE2E");
        }
    }
};

TEST_F(Registry, AKeyWithSubKeysThreeLevelsDeepGoesWhole)
{
    CreateKey(HKEY_LOCAL_MACHINE, Under("Deep\\L1\\L2\\L3"));
    CreateKey(HKEY_LOCAL_MACHINE, Under("Deep\\L1\\Side"));
    CreateKey(HKEY_LOCAL_MACHINE, Under("Kept"));
    RunEntries("registry-deep", {{ROOT_LOCAL_MACHINE, Under("Deep")}});
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Deep")));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Kept")));
}

TEST_F(Registry, ASubKeyThatCannotGoStopsItsEntryAndTheNextEntryRuns)
{
    CreateKey(HKEY_LOCAL_MACHINE, Under("Stop\\A\\Inner"));
    CreateKey(HKEY_LOCAL_MACHINE, Under("Stop\\B\\Locked"));
    CreateKey(HKEY_LOCAL_MACHINE, Under("Stop\\C"));
    CreateKey(HKEY_LOCAL_MACHINE, Under("Next\\Sub"));
    DenyDelete(HKEY_LOCAL_MACHINE, Under("Stop\\B\\Locked"));
    RunEntries("registry-stop", {{ROOT_LOCAL_MACHINE, Under("Stop")}, {ROOT_LOCAL_MACHINE, Under("Next")}});
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Stop\\A"))) << "removed before the refusal";
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Stop\\B\\Locked")));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Stop\\C"))) << "never reached";
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Stop")));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Next")));
}

// HKLM\Software\QTest\Link, a link to HKLM\Software\QVictim: the entry for QTest takes QTest and
// the link, never the victim's keys and values. The same in the 64-bit view, and from HKCU, where
// the user can make links.
class RegistryLinks : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    // Links first: the clean-up's own removal would follow them.
    static void Clean()
    {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            qt::DeleteRegistryLink(HKEY_LOCAL_MACHINE, "Software\\QTest\\Link", view);
            qt::DeleteRegistryLink(HKEY_LOCAL_MACHINE, "Software\\QTestListed", view);
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QTest", view);
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QVictim", view);
        }
        qt::DeleteRegistryLink(HKEY_CURRENT_USER, "Software\\QTest\\Link");
        DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\QTest");
    }
};

TEST_F(RegistryLinks, ALinkInAListedKeyGoesAsALinkAndItsTargetStaysWithItsValues)
{
    // The victim by its native name, which has no view: the 64-bit key.
    const char target[] = "\\Registry\\Machine\\Software\\QVictim";
    CreateKey(HKEY_LOCAL_MACHINE, "Software\\QVictim\\Sub\\Deeper", KEY_WOW64_64KEY);
    SetRegistryString(HKEY_LOCAL_MACHINE, "Software\\QVictim", "kept", "1", KEY_WOW64_64KEY);
    // QTest in the uninstaller's own view and in the 64-bit one (the same one for x64).
    std::vector<REGSAM> views = {qt::OwnRegistryView};
    if (!qt::FlavourIsX64)
        views.push_back(KEY_WOW64_64KEY);
    for (REGSAM view : views) {
        CreateKey(HKEY_LOCAL_MACHINE, "Software\\QTest\\Plain", view);
        qt::CreateRegistryLink(HKEY_LOCAL_MACHINE, "Software\\QTest\\Link", target, view);
    }
    qt::CreateRegistryLink(HKEY_LOCAL_MACHINE, "Software\\QTestListed", target, KEY_WOW64_64KEY);
    CreateKey(HKEY_CURRENT_USER, "Software\\QTest\\Plain");
    qt::CreateRegistryLink(HKEY_CURRENT_USER, "Software\\QTest\\Link", target);
    ASSERT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\QTest\\Link\\Sub")) << "the link leads to the victim";

    RunEntries("registry-links", {{ROOT_CURRENT_USER, "Software\\QTest\\Link\\\\kept"},
                                  {ROOT_LOCAL_MACHINE, "Software\\QTest"},
                                  {ROOT_LOCAL_MACHINE, "Software64\\QTest"},
                                  {ROOT_LOCAL_MACHINE, "Software64\\QTestListed"},
                                  {ROOT_CURRENT_USER, "Software\\QTest"}});
    EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, "Software\\QVictim\\Sub\\Deeper", "marker", KEY_WOW64_64KEY));
    EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, "Software\\QVictim", "kept", KEY_WOW64_64KEY));
    for (REGSAM view : views)
        EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\QTest", view)) << "view " << view;
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\QTest"));
    HKEY link;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\QTestListed", REG_OPTION_OPEN_LINK,
                                           KEY_READ | KEY_WOW64_64KEY, &link))
        << "the listed link went itself";
}

TEST_F(Registry, ValueEntriesRemoveOneValueOrTheDefaultValue)
{
    SetRegistryString(HKEY_CURRENT_USER, Under("Values"), "Level", "3");
    SetRegistryString(HKEY_CURRENT_USER, Under("Values"), "Other", "4");
    SetRegistryString(HKEY_CURRENT_USER, Under("Values"), "", "default");
    SetRegistryString(HKEY_CURRENT_USER, Under("Defaults"), "", "default");
    SetRegistryString(HKEY_CURRENT_USER, Under("Defaults"), "Named", "5");
    RunEntries("registry-values", {{ROOT_CURRENT_USER, Under("Values\\\\Level")},
                                   {ROOT_CURRENT_USER, Under("Missing\\\\Level")},
                                   {ROOT_CURRENT_USER, Under("Defaults\\\\")}});
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, Under("Values"), "Level"));
    EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, Under("Values"), "Other"));
    EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, Under("Values"), ""));
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, Under("Defaults"), ""));
    EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, Under("Defaults"), "Named"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, Under("Missing"))) << "a missing key is not made";
}

TEST_F(Registry, Software64TakesThe64BitViewOnTheNtLine)
{
    CreateKey(HKEY_LOCAL_MACHINE, Under("Vendor\\Product"), KEY_WOW64_64KEY);
    CreateKey(HKEY_LOCAL_MACHINE, Under("Vendor\\Product"), KEY_WOW64_32KEY);
    ASSERT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Vendor"), KEY_WOW64_64KEY));
    RunEntries("registry-view64", {{ROOT_LOCAL_MACHINE, "Software64\\QuillonRegistryE2E\\Vendor"}});
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Vendor"), KEY_WOW64_64KEY));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Vendor\\Product"), KEY_WOW64_32KEY));
}

TEST_F(Registry, Software64IsMappedOnThe9xLineToo)
{
    // Wine ignores the view flag at the 9x level, so this shows the mapping, not the flag; the
    // flag itself is checked in-process.
    CreateKey(HKEY_LOCAL_MACHINE, Under("Vendor"));
    RunEntries("registry-win98", {{ROOT_LOCAL_MACHINE, "software64\\QuillonRegistryE2E\\Vendor"}}, "win98");
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("Vendor")));
}

TEST_F(Registry, UnderHkcuSoftware64IsTakenLiterally)
{
    CreateKey(HKEY_CURRENT_USER, "Software64\\QuillonRegistryE2E\\Vendor");
    CreateKey(HKEY_CURRENT_USER, Under("Vendor"));
    RunEntries("registry-hkcu64", {{ROOT_CURRENT_USER, "Software64\\QuillonRegistryE2E\\Vendor"}});
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, "Software64\\QuillonRegistryE2E\\Vendor"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, Under("Vendor")));
}

TEST_F(Registry, TextsNamingAWholeRootAreRefused)
{
    // Under two roots whose Software and System keys a test may lose without harm; the same texts
    // under HKLM and HKCU are checked in-process against redirected roots.
    for (HKEY root : {HKEY_CURRENT_CONFIG, HKEY_USERS}) {
        CreateVolatileKey(root, "Software\\QuillonRegistryE2E");
        CreateVolatileKey(root, "System\\QuillonRegistryE2E");
    }
    std::vector<quillon::RegistryItem> entries;
    for (uint32_t root : {ROOT_CURRENT_CONFIG, ROOT_USERS}) {
        for (const char* text : {"", "software", "SYSTEM", "Software\\", "system\\\\", "SOFTWARE\\\\\\"})
            entries.push_back({root, text});
    }
    CreateKey(HKEY_LOCAL_MACHINE, Under("AfterThem"));
    entries.push_back({ROOT_LOCAL_MACHINE, Under("AfterThem")});
    RunEntries("registry-roots", entries);
    for (HKEY root : {HKEY_CURRENT_CONFIG, HKEY_USERS}) {
        EXPECT_TRUE(RegistryKeyExists(root, "Software\\QuillonRegistryE2E"));
        EXPECT_TRUE(RegistryKeyExists(root, "System\\QuillonRegistryE2E"));
    }
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, Under("AfterThem"))) << "the pass went on to the end";
}

} // namespace
