// The pattern pass when a level's search record cannot be had. Built with the failing heap: the
// two outer levels get their records, the third does not, the heap gives again after that.
#include <gtest/gtest.h>

#include <string>

#include "data/format.h"
#include "passes_support.h"
#include "remove/patterns.h"
#include "run/driver.h"
#include "data/run_context.h"
#include "win_test.h"

namespace {

using passes_test::CurrentDirectory;
using qt::FileExists;
using qt::FolderExists;
using qt::Join;
using qt::WriteTextFile;

TEST(PatternsWithoutMemory, ALevelWithoutItsRecordIsSkippedAndEndsOneFolderUp)
{
    std::string base = qt::FreshFolder("patterns-nomem");
    std::string top = Join(base, "top");
    std::string middle = Join(top, "middle");
    std::string inner = Join(middle, "inner");
    std::string innermost = Join(inner, "innermost");
    for (const std::string& path : {top, middle, inner, innermost})
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    for (const std::string& path : {top, middle, inner, innermost})
        WriteTextFile(Join(path, "a.log"), "x");

    static char targetPath[PATH_SIZE];
    TheRun.TargetPath = targetPath;
    DetectPlatform();
    // The failing heap reads this once, at the stub's first request.
    ASSERT_TRUE(SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", "2,1"));
    ASSERT_TRUE(SetCurrentDirectoryA(top.c_str()));
    RemovePatternInCwd("*.log");

    // top and middle were cleaned; inner got no record, so neither it nor anything below it was
    // searched. Had inner not stepped back up, middle's file step would have run inside inner.
    EXPECT_EQ(base, CurrentDirectory());
    EXPECT_FALSE(FileExists(Join(top, "a.log")));
    EXPECT_FALSE(FileExists(Join(middle, "a.log")));
    EXPECT_TRUE(FileExists(Join(inner, "a.log")));
    EXPECT_TRUE(FileExists(Join(innermost, "a.log")));
    EXPECT_TRUE(FolderExists(innermost));

    // The heap gives again: the same call now cleans what was left.
    ASSERT_TRUE(SetCurrentDirectoryA(top.c_str()));
    RemovePatternInCwd("*.log");
    EXPECT_EQ(base, CurrentDirectory());
    EXPECT_FALSE(FolderExists(top));
    TheRun.TargetPath = nullptr;
}

} // namespace
