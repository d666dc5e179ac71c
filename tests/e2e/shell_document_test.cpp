// The closing document end to end. Before Vista (the runs here that Wine tells they are on XP):
// opened through the shell after the removal, or through the ".htm" class command, by its quoted
// program, when the shell cannot open it; opened under /Q, not under /S or /X. From Vista on the
// run is elevated and opens it only through the desktop shell, which Wine does not have: neither
// the shell's verb nor a class command that the user could have set runs. The handlers are copies
// of the recorder registered in this test prefix's own classes.
#include <gtest/gtest.h>

#include <string>

#include "shell_support.h"
#include "win_test.h"

namespace {

class ClosingDocument : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_.reset(new qt::RecordedTestFolder("doc-"));
        base_ = folder_->base;
        recordFile_ = folder_->recordFile;
        docs_ = qt::Join(base_, "docs");
        CreateDirectoryA(docs_.c_str(), nullptr);
        handler_ = qt::Join(base_, "handler.exe");
        qt::InstallRecorder(handler_);
        SetClass(".htm", "QuillonTest.E2eHtml");
        SetClass(".qtgood", "QuillonTest.E2eGood");
        SetClass("QuillonTest.E2eGood\\shell\\open\\command", "\"" + handler_ + "\" shell \"%1\"");
    }
    void TearDown() override
    {
        classes_.clear();
        folder_.reset();
    }
    void SetClass(const std::string& key, const std::string& value)
    {
        classes_.emplace_back(new qt::ScopedClassDefault(key, value));
    }
    void SetFallback(const std::string& marker)
    {
        SetClass("QuillonTest.E2eHtml\\shell\\open\\command", "\"" + handler_ + "\" " + marker + " \"%1\" /lost");
    }
    // An uninstaller in a fresh folder whose closing document is target, told it runs on XP
    // unless level says otherwise; returns its exit code.
    DWORD RunStub(const std::string& target, const std::string& switches, const std::string& level = "winxp")
    {
        std::string app = qt::Join(base_, "App" + std::to_string(++round_));
        CreateDirectoryA(app.c_str(), nullptr);
        std::string name = "uninstall-doc-" + level + ".exe";
        if (level != "default")
            qt::SetWindowsVersionFor(name, level);
        std::string exe = qt::Join(app, name);
        quillon::UninstallData data = qt::StandardData();
        data.settings.closingDocument = target;
        qt::WriteUninstaller(exe, data);
        std::vector<int> answers;
        if (switches.empty())
            answers = {IDOK, IDOK};
        qt::Session session = qt::RunAnswering(exe, switches, answers, 60000);
        return session.exitCode;
    }
    qt::Record OnlyRecord()
    {
        EXPECT_TRUE(qt::WaitForRecords(recordFile_, 1, 30000)) << "no handler ran";
        Sleep(300);
        std::vector<qt::Record> records = qt::ReadRecords(recordFile_);
        EXPECT_EQ(1u, records.size());
        return records.empty() ? qt::Record() : records[0];
    }

    std::string base_, docs_, handler_, recordFile_;
    int round_ = 0;
    std::unique_ptr<qt::RecordedTestFolder> folder_;
    std::vector<std::unique_ptr<qt::ScopedClassDefault>> classes_;
};

TEST_F(ClosingDocument, TheShellOpensTheDocumentInItsFolder)
{
    SetFallback("fallback");
    std::string target = qt::Join(docs_, "readme.qtgood");
    qt::WriteTextFile(target, "<html></html>");
    EXPECT_EQ(0u, RunStub(target, ""));
    qt::Record record = OnlyRecord();
    EXPECT_EQ("\"" + handler_ + "\" shell \"" + target + "\"", record.commandLine);
    EXPECT_EQ(docs_, record.directory);
}

// A document of a type the shell cannot open goes to the ".htm" class command: the target takes
// the place of the placeholder, and what followed it is dropped.
TEST_F(ClosingDocument, WhatTheShellCannotOpenGoesToTheHtmClassCommand)
{
    SetFallback("fallback");
    std::string target = qt::Join(docs_, "readme.qtnone");
    qt::WriteTextFile(target, "<html></html>");
    EXPECT_EQ(0u, RunStub(target, ""));
    qt::Record record = OnlyRecord();
    EXPECT_EQ("\"" + handler_ + "\" fallback  " + target, record.commandLine);
    EXPECT_EQ(qt::Lower(handler_), qt::Lower(record.module));
}

TEST_F(ClosingDocument, AWebAddressIsOpenedWithoutAFolder)
{
    SetFallback("fallback");
    SetClass("https", "URL:https");
    SetClass("https\\shell\\open\\command", "\"" + handler_ + "\" url \"%1\"");
    EXPECT_EQ(0u, RunStub("HTTPS://example.invalid/a\\b", ""));
    qt::Record record = OnlyRecord();
    EXPECT_NE(std::string::npos, record.commandLine.find(" url ")) << record.commandLine;
    EXPECT_EQ(std::string::npos, record.directory.find("example")) << record.directory;
}

// Opened under /Q as without switches; under /S, /X or both it is not. Each run marks its own
// handler, so a late start of an earlier run would show.
TEST_F(ClosingDocument, TheSwitchesDecideWhetherItIsOpened)
{
    std::string target = qt::Join(docs_, "readme.qtnone");
    qt::WriteTextFile(target, "<html></html>");
    struct Case {
        const char* switches;
        const char* marker;
    } cases[] = {{"/S", "silent"}, {"/X", "x"}, {"/X /S", "xs"}, {"/Q", "quiet"}};
    for (const Case& c : cases) {
        SetFallback(c.marker);
        EXPECT_EQ(0u, RunStub(target, c.switches)) << c.switches;
    }
    qt::Record record = OnlyRecord();
    EXPECT_EQ("\"" + handler_ + "\" quiet  " + target, record.commandLine) << "opened under a switch that forbids it";
}

// The attack: a class command that the user set through their own classes would run elevated.
TEST_F(ClosingDocument, FromVistaOnTheElevatedRunStartsNothingWithoutADesktopShell)
{
    if (GetShellWindow() != nullptr)
        GTEST_SKIP() << "this desktop has a shell";
    SetFallback("elevated");
    std::string good = qt::Join(docs_, "readme.qtgood");
    std::string none = qt::Join(docs_, "readme.qtnone");
    qt::WriteTextFile(good, "<html></html>");
    qt::WriteTextFile(none, "<html></html>");
    EXPECT_EQ(0u, RunStub(good, "/Q", "default"));
    EXPECT_EQ(0u, RunStub(none, "/Q", "default"));
    SetFallback("control");
    EXPECT_EQ(0u, RunStub(none, "/Q"));
    qt::Record record = OnlyRecord();
    EXPECT_EQ("\"" + handler_ + "\" control  " + none, record.commandLine) << "the elevated runs started a handler";
}

} // namespace
