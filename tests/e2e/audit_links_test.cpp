// The audit and links, end to end. patterns_links.sh makes, from the Linux side, a folder
// C:\quillon-links\outside with logs in it, a link to it inside a pattern's tree (App\logs\link)
// and a link to it standing for a pattern's own folder (App\linked). A dry run, like the pattern
// pass, must go through neither: nothing outside is listed, and the link keeps what holds it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit_support.h"
#include "win_test.h"

namespace {

TEST(AuditLinks, ADryRunListsNothingThroughALink)
{
    std::string app = qt::Join("C:\\quillon-links", "App");
    ASSERT_TRUE(qt::FileExists(qt::Join(app, "logs\\link\\keep.log"))) << "run through patterns_links.sh";
    qt::WriteTextFile(qt::Join(app, "logs\\a.log"), "x");
    std::string exe = qt::Join(app, "uninstall.exe");
    quillon::UninstallData data = qt::StandardData();
    data.patterns = {"logs\\*.log", "linked\\*.log"};
    qt::WriteUninstaller(exe, data);

    qt::AuditRun run = qt::Audit(qt::Quoted(exe) + " --json");
    EXPECT_EQ(0u, run.exitCode) << run.err;
    nlohmann::json report = run.Json();
    EXPECT_EQ((std::vector<std::string>{
                  "removed - file " + qt::Join(app, "logs\\a.log"),
                  "stays not_empty folder " + qt::Join(app, "logs"),
                  "stays link folder " + qt::Join(app, "linked"),
              }),
              qt::ItemLines(report))
        << run.out;
    EXPECT_EQ(nlohmann::json({"link"}), report["items"][1]["unlisted"]);
}

} // namespace
