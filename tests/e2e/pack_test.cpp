// The Windows packer under Wine: it builds the French example into an uninstaller, and that
// uninstaller loads and asks its confirmation in code page 1252, accents and all.
#include <gtest/gtest.h>

#include "win_test.h"

namespace {

// The manifest's UTF-8 text in code page 1252, as the stub must show it.
std::string InCodePage1252(const std::string& utf8)
{
    int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(wide, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], wide);
    int narrow = WideCharToMultiByte(1252, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(narrow, '\0');
    WideCharToMultiByte(1252, 0, text.c_str(), -1, &result[0], narrow, nullptr, nullptr);
    result.resize(narrow - 1);
    return result;
}

TEST(WindowsPacker, BuildsAnUninstallerThatSpeaksCodePage1252)
{
    std::string folder = qt::FreshFolder("pack-french");
    std::string exe = qt::Join(folder, "uninstall.exe");
    qt::Process pack;
    ASSERT_TRUE(pack.Start(qt::WindowsPath(QUILLON_PACK_EXE),
                           "build \"" + qt::WindowsPath(QUILLON_EXAMPLES "/french/manifest.json") + "\" --stub \"" +
                               qt::StubPath() + "\" -o \"" + exe + "\""));
    ASSERT_EQ(0u, pack.Wait(60000));

    qt::Session session = qt::RunAnswering(exe, "", {IDCANCEL});
    EXPECT_EQ(0u, session.exitCode);
    ASSERT_EQ(1u, session.boxes.size());
    EXPECT_EQ(InCodePage1252("Désinstallation de Crème Brûlée Éditeur"), session.boxes[0].caption);
    EXPECT_EQ(0u, session.boxes[0].text.find(InCodePage1252("Crème Brûlée Éditeur et tous ses éléments")))
        << session.boxes[0].text;
}

} // namespace
