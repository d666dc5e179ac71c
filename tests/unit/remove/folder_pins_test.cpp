// Folder pins in-process: which owners make a link trusted (Wine cannot make a link owned by the
// system, so the rule is tested on its own), and that a pinned folder and those above it cannot
// be renamed away until the pins are dropped. Links themselves are covered end to end
// (e2e_links, e2e_patterns_links).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include "data/run_context.h"
#include "remove/folder_pins.h"
#include "win_test.h"

namespace {

using qt::Join;

bool OwnerIsPrivileged(const char* descriptorText)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptorText, SDDL_REVISION_1, &descriptor,
                                                                     nullptr))
        << descriptorText;
    bool privileged = descriptor != nullptr && IsPrivilegedOwner(descriptor);
    LocalFree(descriptor);
    return privileged;
}

TEST(FolderPins, OnlyLinksOwnedBySystemOrAdministratorsAreTrusted)
{
    EXPECT_TRUE(OwnerIsPrivileged("O:SY"));
    EXPECT_TRUE(OwnerIsPrivileged("O:BA"));
    EXPECT_TRUE(OwnerIsPrivileged("O:BAG:SYD:(A;;GA;;;WD)")) << "with a group and an access list";
    EXPECT_FALSE(OwnerIsPrivileged("O:S-1-5-21-1-2-3-1000")) << "a user";
    EXPECT_FALSE(OwnerIsPrivileged("O:BU"));
    EXPECT_FALSE(OwnerIsPrivileged("O:WD"));
    EXPECT_FALSE(OwnerIsPrivileged("O:S-1-5-18-1")) << "SYSTEM's authority and rid, one part more";
    EXPECT_FALSE(OwnerIsPrivileged("O:S-1-5-32-545")) << "the Users alias";
    EXPECT_FALSE(OwnerIsPrivileged("O:S-1-1-0-544"));
    EXPECT_FALSE(OwnerIsPrivileged("G:SY")) << "no owner at all";
}

TEST(FolderPins, PinnedFoldersCannotBeMovedUntilDropped)
{
    std::string base = qt::FreshFolder("pins");
    std::string folder = Join(base, "a\\b");
    ASSERT_TRUE(CreateDirectoryA(Join(base, "a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    bool wasNT = TheRun.IsNT;
    TheRun.IsNT = true;

    ASSERT_TRUE(PinFolders(Join(folder, "file.txt").c_str(), false));
    EXPECT_FALSE(MoveFileA(folder.c_str(), Join(base, "a\\moved").c_str()));
    EXPECT_FALSE(MoveFileA(Join(base, "a").c_str(), Join(base, "moved").c_str())) << "nor a folder above it";
    EXPECT_FALSE(PinFolders(Join(base, "missing\\file.txt").c_str(), false));
    EXPECT_TRUE(MoveFileA(folder.c_str(), Join(base, "a\\moved").c_str())) << "the failed call dropped b";
    ReleaseFolderPins();
    EXPECT_TRUE(MoveFileA(Join(base, "a").c_str(), Join(base, "moved").c_str()));
    TheRun.IsNT = wasNT;
}

} // namespace
