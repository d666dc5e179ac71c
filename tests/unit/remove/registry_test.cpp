// The registry pass in-process: the depth-first removal and its early stop, symbolic links that go
// as links, the 64-bit view on the NT line against no view flag on the 9x line, the refused texts (with HKLM and HKCU
// redirected to a scratch key, so that a fault could only ever remove scratch keys), the texts as
// the pass leaves them, and the progress positions.
#include <gtest/gtest.h>

#include <string>

#include "passes_support.h"
#include "remove/registry.h"
#include "registry_support.h"
#include "win_test.h"

namespace {

using passes_test::PassTest;
using passes_test::ProgressRecorder;
using qt::AllowDelete;
using qt::CreateKey;
using qt::DeleteRegistryTree;
using qt::DenyDelete;
using qt::FlavourIsX64;
using qt::OtherRegistryView;
using qt::OwnRegistryView;
using qt::RegistryKeyExists;
using qt::RegistryValueExists;
using qt::SetRegistryString;

const char TestKey[] = "Software\\QuillonRegistryUnit";

std::string Under(const std::string& path) { return std::string(TestKey) + "\\" + path; }

class DeleteKeyTreeTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteRegistryTree(HKEY_CURRENT_USER, TestKey); }
    void TearDown() override
    {
        AllowDelete(HKEY_CURRENT_USER, Under("A\\B2\\Locked"));
        CleanLinks();
        DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
    }
    // Links first: the clean-up's own removal would follow them.
    static void CleanLinks()
    {
        qt::DeleteRegistryLink(HKEY_CURRENT_USER, Under("Tree\\Link"));
        qt::DeleteRegistryLink(HKEY_CURRENT_USER, Under("Listed"));
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QuillonLinkVictim", KEY_WOW64_64KEY);
    }
};

TEST_F(DeleteKeyTreeTest, AnEmptyOrMissingPathIsABadKey)
{
    EXPECT_EQ(ERROR_BADKEY, DeleteKeyTree(HKEY_CURRENT_USER, "", 0, nullptr));
    EXPECT_EQ(ERROR_BADKEY, DeleteKeyTree(HKEY_CURRENT_USER, nullptr, 0, nullptr));
    EXPECT_EQ(ERROR_BADKEY, DeleteKeyTreeInView(HKEY_CURRENT_USER, "", KEY_WOW64_64KEY));
}

TEST_F(DeleteKeyTreeTest, AMissingKeyReportsTheOpenError)
{
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyTreeInView(HKEY_CURRENT_USER, Under("Missing").c_str(), 0));
}

TEST_F(DeleteKeyTreeTest, ATreeThreeLevelsDeepGoesWhole)
{
    CreateKey(HKEY_CURRENT_USER, Under("A\\B1\\C1\\D1"));
    CreateKey(HKEY_CURRENT_USER, Under("A\\B1\\C2"));
    CreateKey(HKEY_CURRENT_USER, Under("A\\B2"));
    CreateKey(HKEY_CURRENT_USER, Under("Sibling"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTreeInView(HKEY_CURRENT_USER, Under("A").c_str(), 0));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, Under("A")));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, Under("Sibling")));
}

TEST_F(DeleteKeyTreeTest, TheFirstSubKeyThatCannotGoStopsTheWholeTree)
{
    // B1 sorts before B2, whose sub-key refuses: B1 is gone, B2 and A stay, C3 is never reached.
    CreateKey(HKEY_CURRENT_USER, Under("A\\B1\\C1"));
    CreateKey(HKEY_CURRENT_USER, Under("A\\B2\\Locked"));
    CreateKey(HKEY_CURRENT_USER, Under("A\\B3\\C3"));
    DenyDelete(HKEY_CURRENT_USER, Under("A\\B2\\Locked"));

    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTreeInView(HKEY_CURRENT_USER, Under("A").c_str(), 0));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, Under("A\\B1")));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, Under("A\\B2\\Locked")));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, Under("A\\B2")));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, Under("A\\B3\\C3")));
}

// A link in the tree and a listed key that is a link go as links, whichever view the removal
// takes; their target, in another hive, keeps its sub-keys and values.
TEST_F(DeleteKeyTreeTest, LinksGoAsLinksAndTheirTargetStays)
{
    const char victim[] = "Software\\QuillonLinkVictim\\Sub"; // the native path has no view
    const char target[] = "\\Registry\\Machine\\Software\\QuillonLinkVictim";
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
        CreateKey(HKEY_LOCAL_MACHINE, victim, KEY_WOW64_64KEY);
        CreateKey(HKEY_CURRENT_USER, Under("Tree\\Plain"));
        qt::CreateRegistryLink(HKEY_CURRENT_USER, Under("Tree\\Link"), target);
        qt::CreateRegistryLink(HKEY_CURRENT_USER, Under("Listed"), target);
        ASSERT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, Under("Listed\\Sub"))) << "the link leads to the victim";

        EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTreeInView(HKEY_CURRENT_USER, Under("Tree").c_str(), view));
        EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTreeInView(HKEY_CURRENT_USER, Under("Listed").c_str(), view));
        EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, victim, "marker", KEY_WOW64_64KEY)) << "view " << view;
        EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, Under("Tree")));
        HKEY link;
        EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, Under("Listed").c_str(), REG_OPTION_OPEN_LINK,
                                               KEY_READ, &link))
            << "the listed link went itself";
        CleanLinks();
    }
}

// A key of the same name in both views of HKLM: which one an entry removes shows the view flag.
class RegistryViews : public PassTest {
protected:
    void SetUp() override
    {
        PassTest::SetUp();
        Clean();
        CreateKey(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_32KEY);
        CreateKey(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_64KEY);
    }
    void TearDown() override
    {
        Clean();
        PassTest::TearDown();
    }
    void Clean()
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_32KEY);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_64KEY);
    }
    bool In32() { return RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_32KEY); }
    bool In64() { return RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_64KEY); }
    bool InOwnView() { return RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", OwnRegistryView); }
    bool InOtherView() { return RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", OtherRegistryView); }
};

TEST_F(RegistryViews, TheViewsAreApartOnThisSystem)
{
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_64KEY);
    ASSERT_TRUE(In32()) << "this test needs a 64-bit prefix, where the two views differ";
    ASSERT_FALSE(In64());
}

TEST_F(RegistryViews, OnTheNtLineSoftware64TakesThe64BitView)
{
    TheRun.IsNT = true;
    SetRegistry({{ROOT_LOCAL_MACHINE, "Software64\\QuillonViewUnit"}});
    RemoveRegistryEntries();
    EXPECT_FALSE(In64());
    EXPECT_TRUE(In32());
    EXPECT_EQ("Software\\QuillonViewUnit", KeyText(0)) << "the 64 is dropped for good";
}

TEST_F(RegistryViews, OnThe9xLineSoftware64IsMappedWithoutAViewFlag)
{
    TheRun.IsNT = false;
    SetRegistry({{ROOT_LOCAL_MACHINE, "SOFTWARE64\\QuillonViewUnit"}});
    RemoveRegistryEntries();
    // x86: the 32-bit view; x64: the 64-bit one.
    EXPECT_FALSE(InOwnView()) << "no flag: the program's own view";
    EXPECT_TRUE(InOtherView());
    EXPECT_EQ("SOFTWARE\\QuillonViewUnit", KeyText(0));
}

TEST_F(RegistryViews, ValueEntriesTakeTheSameViewAsKeyEntries)
{
    TheRun.IsNT = true;
    SetRegistry({{ROOT_LOCAL_MACHINE, "Software64\\QuillonViewUnit\\\\marker"}});
    RemoveRegistryEntries();
    EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", "marker", KEY_WOW64_64KEY));
    EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", "marker", KEY_WOW64_32KEY));

    TheRun.IsNT = false;
    SetRegistry({{ROOT_LOCAL_MACHINE, "Software64\\QuillonViewUnit\\\\marker"}});
    RemoveRegistryEntries();
    EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", "marker", OwnRegistryView))
        << "no flag on the 9x line: the program's own view";
    EXPECT_EQ("Software\\QuillonViewUnit\\\\marker", KeyText(0));
}

TEST_F(RegistryViews, DeleteKeyTreeInViewChoosesTheView)
{
    CreateKey(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit\\Sub", KEY_WOW64_64KEY);
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTreeInView(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", KEY_WOW64_64KEY));
    EXPECT_FALSE(In64());
    EXPECT_TRUE(In32());
    if (FlavourIsX64) {
        // Without the flag an x64 program still addresses the 64-bit view: the 32-bit key is out
        // of its reach, which is the x64 flavour's promise.
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyTreeInView(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", 0));
        EXPECT_TRUE(In32());
    } else {
        EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTreeInView(HKEY_LOCAL_MACHINE, "Software\\QuillonViewUnit", 0));
        EXPECT_FALSE(In32());
    }
}

// HKLM and HKCU of this process are redirected to scratch keys that hold a Software and a System
// key of their own: a text that slipped through would remove those, never the real ones.
class RootTexts : public PassTest {
protected:
    // Below each of the keys no entry may remove whole: kept while the refused texts run.
    static constexpr const char* KeptKeys[] = {"Software\\Vendor", "System\\Vendor",
                                               "Software\\Wow6432Node\\Vendor", "Software\\Classes\\Vendor",
                                               "Software\\Microsoft\\Vendor", "System\\CurrentControlSet\\Vendor"};
    void ExpectAllKept(const char* text)
    {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            for (const char* key : KeptKeys)
                ASSERT_TRUE(RegistryKeyExists(root, key)) << '"' << text << "\": " << key;
        }
        for (const char* user : Users)
            ASSERT_TRUE(RegistryKeyExists(HKEY_USERS, std::string(user) + "\\Software\\Vendor")) << '"' << text << '"';
    }
    static constexpr const char* Users[] = {"S-1-5-21-7-8-9-1001", "QuillonUser"};
    void SetUp() override
    {
        PassTest::SetUp();
        DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
        for (const char* scratch : {"Machine", "User"}) {
            for (const char* key : KeptKeys)
                CreateKey(HKEY_CURRENT_USER, Under(std::string(scratch) + "\\" + key));
            CreateKey(HKEY_CURRENT_USER, Under(std::string(scratch) + "\\Software64\\Vendor"));
        }
        // Wine cannot redirect HKEY_USERS, but lets a test make keys of one part there.
        for (const char* user : Users)
            CreateKey(HKEY_USERS, std::string(user) + "\\Software\\Vendor");
        ASSERT_TRUE(Redirect(HKEY_LOCAL_MACHINE, "Machine"));
        ASSERT_TRUE(Redirect(HKEY_CURRENT_USER, "User"));
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        for (const char* user : Users)
            DeleteRegistryTree(HKEY_USERS, user);
        DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
        PassTest::TearDown();
    }
    bool Redirect(HKEY root, const char* scratch)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, Under(scratch).c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return false;
        LONG result = RegOverridePredefKey(root, key);
        RegCloseKey(key);
        return result == ERROR_SUCCESS;
    }
};

TEST_F(RootTexts, TextsThatNameAWholeRootAreRefusedInEverySpelling)
{
    TheRun.IsNT = true;
    ASSERT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\Vendor")) << "the redirection holds";
    const char* texts[] = {"", "software", "SYSTEM", "Software\\", "System\\\\", "SOFTWARE\\\\\\",
                           "Software64", "software64\\", "Software64\\\\", "Software\\Wow6432Node",
                           "software64\\WOW6432NODE\\", "Software\\Classes", "SOFTWARE\\\\classes\\",
                           "Software\\Microsoft\\\\", "Software64\\Microsoft", "System\\CurrentControlSet",
                           "system\\\\\\currentcontrolset\\"};
    for (const char* text : texts) {
        for (DWORD root : {ROOT_LOCAL_MACHINE, ROOT_CURRENT_USER}) {
            SetRegistry({{root, text}});
            RemoveRegistryEntries();
        }
        ExpectAllKept(text);
    }
    // Below HKEY_USERS a key of one part is a whole user's registry.
    for (const char* text : {"S-1-5-21-7-8-9-1001", "QUILLONUSER\\", "QuillonUser\\\\", "S-1-5-21-7-8-9-1001\\\\\\"}) {
        SetRegistry({{ROOT_USERS, text}});
        RemoveRegistryEntries();
        ExpectAllKept(text);
    }
    // Under HKCU "Software64" is no prefix: the key of that name is taken literally (the texts
    // above may have removed it, being legitimate there).
    CreateKey(HKEY_CURRENT_USER, "Software64\\Vendor");
    ASSERT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, "Software64\\Vendor"));
    SetRegistry({{ROOT_CURRENT_USER, "Software64\\Vendor"}, {ROOT_LOCAL_MACHINE, "Software\\Vendor"}});
    RemoveRegistryEntries();
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, "Software64\\Vendor"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\Vendor"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\Vendor")) << "a key below a root still goes";
    SetRegistry({{ROOT_LOCAL_MACHINE, "Software\\Classes\\Vendor"},
                 {ROOT_LOCAL_MACHINE, "System\\CurrentControlSet\\Vendor"},
                 {ROOT_USERS, "S-1-5-21-7-8-9-1001\\Software"}});
    RemoveRegistryEntries();
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes\\Vendor"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Vendor"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_USERS, "S-1-5-21-7-8-9-1001\\Software"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_USERS, "S-1-5-21-7-8-9-1001"));
}

TEST_F(RootTexts, ThePrefixTestLooksAtTenCharactersOnly)
{
    TheRun.IsNT = false;
    SetRegistry({{ROOT_LOCAL_MACHINE, "Software64Tools\\X"}, {ROOT_CURRENT_USER, "Software64Tools\\X"}});
    RemoveRegistryEntries();
    EXPECT_EQ("SoftwareTools\\X", KeyText(0));
    EXPECT_EQ("Software64Tools\\X", KeyText(1));
}

TEST_F(RootTexts, AValueEntryPutsItsBackslashBack)
{
    SetRegistry({{ROOT_CURRENT_USER, "Software\\Vendor\\\\marker"}, {ROOT_CURRENT_USER, "Software\\Vendor\\\\"}});
    RemoveRegistryEntries();
    EXPECT_EQ("Software\\Vendor\\\\marker", KeyText(0));
    EXPECT_EQ("Software\\Vendor\\\\", KeyText(1));
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, "Software\\Vendor", "marker"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\Vendor"));
}

// F = 10, G = 2, R = 3, StepTotal = 25: the key entries report 48, 52, 56.
class RegistryProgress : public PassTest {
protected:
    void SetUp() override
    {
        PassTest::SetUp();
        DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
        TheRun.FileCount = 10;
        TheRun.FolderGroupCount = 2;
        TheRun.StepTotal = 25;
    }
    void TearDown() override
    {
        TheRun.FileCount = 0;
        TheRun.FolderGroupCount = 0;
        DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
        PassTest::TearDown();
    }
};

TEST_F(RegistryProgress, ThreeKeyEntriesReport48And52And56)
{
    ProgressRecorder* recorder = ProgressRecorder::Start();
    ASSERT_NE(nullptr, recorder);
    SetRegistry({{ROOT_CURRENT_USER, Under("One")}, {ROOT_CURRENT_USER, ""}, {ROOT_CURRENT_USER, Under("Three")}});
    RemoveRegistryEntries();
    EXPECT_EQ((std::vector<unsigned>{48, 52, 56}), recorder->values) << "a refused entry moves the bar too";
}

TEST_F(RegistryProgress, ValueEntriesLeaveTheBarAndTheNextKeyEntryCatchesUp)
{
    CreateKey(HKEY_CURRENT_USER, Under("Values"));
    ProgressRecorder* recorder = ProgressRecorder::Start();
    ASSERT_NE(nullptr, recorder);
    SetRegistry({{ROOT_CURRENT_USER, Under("Values\\\\marker")}, {ROOT_CURRENT_USER, Under("Values\\\\")},
                 {ROOT_CURRENT_USER, Under("Values")}});
    RemoveRegistryEntries();
    EXPECT_EQ((std::vector<unsigned>{56}), recorder->values);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, Under("Values")));
}

} // namespace
