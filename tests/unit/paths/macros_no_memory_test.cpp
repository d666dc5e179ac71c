// Folder macros when the scratch area cannot be had: the text is handed on unexpanded, within the
// destination's size. Built with the failing heap; this program's first heap requests fail.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "folders_expected.h"
#include "paths/macros.h"

namespace {

TEST(MacrosWithoutMemory, TheSourceIsCopiedUnexpandedWithinTheSize)
{
    // The failing heap reads this once, at the first request: fail the first hundred.
    ASSERT_TRUE(SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", "0,100"));
    const std::string source = "#Windows#\\Fonts";
    const DWORD length = static_cast<DWORD>(source.size());

    EXPECT_EQ(length, ExpandMacros(nullptr, source.c_str(), 0));
    const DWORD guard = 16;
    for (DWORD size = 0; size <= length + 6; ++size) {
        std::vector<char> buffer(size + guard, '@');
        EXPECT_EQ(length, ExpandMacros(buffer.data(), source.c_str(), size)) << size;
        for (DWORD index = size; index < size + guard; ++index)
            ASSERT_EQ('@', buffer[index]) << "written past size " << size;
        if (size == 0)
            continue;
        DWORD copied = size - 1 < length ? size - 1 : length;
        EXPECT_EQ(source.substr(0, copied), std::string(buffer.data(), copied)) << size;
        for (DWORD index = copied; index < size; ++index)
            EXPECT_EQ('\0', buffer[index]) << "size " << size << " byte " << index;
    }
}

TEST(MacrosWithoutMemory, OnceTheHeapGivesAgainTheTextIsExpanded)
{
    std::string expected = paths_test::Stripped(paths_test::WindowsFolder()) + "\\Fonts";
    std::vector<char> buffer(MAX_PATH, '@');
    DWORD length = 0;
    for (int attempt = 0; attempt < 200 && length != expected.size(); ++attempt)
        length = ExpandMacros(buffer.data(), "#Windows#\\Fonts", MAX_PATH);
    EXPECT_EQ(expected, buffer.data()) << "the failures were the heap's, not the expansion's";
}

} // namespace
