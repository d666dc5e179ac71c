// End-to-end set-up for the removal passes: an installation folder holding a packed uninstaller,
// and a silent run of it that must end on its own, show nothing and exit with 0.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "win_test.h"

namespace qt {

struct Installation {
    std::string base; // C:\quillon-tests\<name>, made afresh
    std::string dir;  // base\App, the uninstaller's folder
    std::string exe;  // dir\<exeName>
};

inline Installation MakeInstallation(const std::string& name, const std::string& exeName = "uninstall.exe")
{
    Installation installation;
    installation.base = FreshFolder(name);
    installation.dir = Join(installation.base, "App");
    EXPECT_TRUE(CreateDirectoryA(installation.dir.c_str(), nullptr)) << installation.dir;
    installation.exe = Join(installation.dir, exeName);
    return installation;
}

// "/S": no confirmation, no progress dialog, no closing box, no self-removal.
inline void RunSilently(const std::string& exe, const std::string& directory = "")
{
    Session session = RunAnswering(exe, "/S", {}, 60000, directory);
    EXPECT_EQ(0u, session.exitCode) << exe;
    for (const Box& box : session.boxes)
        ADD_FAILURE() << "unexpected box: " << box.caption << " / " << box.text;
}

} // namespace qt
