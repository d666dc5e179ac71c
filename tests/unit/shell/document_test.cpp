// Opening the closing document. Before Vista: through the shell in the document's folder, a web
// address without a folder, and the fallback through the ".htm" class command with its placeholder
// forms, its program started by name and never searched for. From Vista on, where the run is
// elevated: only through the desktop shell, which Wine does not have, so nothing starts. The
// handlers are copies of the recorder, registered in this test prefix's own classes.
#include <gtest/gtest.h>

#include <string>

#include "data/run_context.h"
#include "run/driver.h"
#include "shell/document.h"
#include "shell_support.h"

namespace {

const char* const HtmlClass = "QuillonTest.Html";

class Document : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectPlatform();
        TheRun.IsVistaOrLater = false; // the tests of the desktop shell say otherwise
        folder_ = qt::FreshFolder("unit-document");
        docs_ = qt::Join(folder_, "docs");
        cwd_ = qt::Join(folder_, "cwd");
        CreateDirectoryA(docs_.c_str(), nullptr);
        CreateDirectoryA(cwd_.c_str(), nullptr);
        handler_ = qt::Join(folder_, "handler.exe");
        qt::InstallRecorder(handler_);
        recordFile_ = qt::Join(folder_, "records.txt");
        record_.reset(new qt::ScopedVariable("QUILLON_RECORD", recordFile_));
        char saved[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof saved, saved);
        savedDirectory_ = saved;
        ASSERT_TRUE(SetCurrentDirectoryA(cwd_.c_str()));
        unassociated_ = qt::Join(docs_, "readme.qtnone");
        qt::WriteTextFile(unassociated_, "<html></html>");
        htm_.reset(new qt::ScopedClassDefault(".htm", HtmlClass));
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(savedDirectory_.c_str());
        scoped_.clear();
        htm_.reset();
        record_.reset();
    }
    void SetClass(const std::string& key, const std::string& value)
    {
        scoped_.emplace_back(new qt::ScopedClassDefault(key, value));
    }
    std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
    qt::Record OnlyRecord()
    {
        EXPECT_TRUE(qt::WaitForRecords(recordFile_, 1, 30000)) << "no handler ran";
        Sleep(300); // a second, unexpected start would have recorded by now
        std::vector<qt::Record> records = qt::ReadRecords(recordFile_);
        EXPECT_EQ(1u, records.size());
        return records.empty() ? qt::Record() : records[0];
    }
    // Nothing may start: a handler started afterwards on purpose is the only one that records.
    void ExpectNothingStarted(const char* what)
    {
        SetClass(std::string(HtmlClass) + "\\shell\\open\\command", Quoted(handler_) + " control %1");
        OpenDocument(unassociated_.c_str(), ".htm");
        ASSERT_TRUE(qt::WaitForRecords(recordFile_, 1, 30000));
        Sleep(300);
        std::vector<qt::Record> records = qt::ReadRecords(recordFile_);
        ASSERT_EQ(1u, records.size()) << what;
        EXPECT_NE(std::string::npos, records[0].commandLine.find("control")) << what;
    }

    std::string folder_, docs_, cwd_, handler_, recordFile_, savedDirectory_, unassociated_;
    std::unique_ptr<qt::ScopedVariable> record_;
    std::unique_ptr<qt::ScopedClassDefault> htm_;
    std::vector<std::unique_ptr<qt::ScopedClassDefault>> scoped_;
};

TEST_F(Document, ReadClassesRootDefaultReadsTheUnnamedValue)
{
    SetClass("QuillonTest.Read", "the value");
    SetClass("QuillonTest.Read\\empty\\sub", "x");
    char buffer[520];
    lstrcpyA(buffer, "left over");
    EXPECT_EQ(ERROR_SUCCESS, ReadClassesRootDefault(HKEY_CLASSES_ROOT, "QuillonTest.Read", buffer));
    EXPECT_STREQ("the value", buffer);
    lstrcpyA(buffer, "left over");
    EXPECT_EQ(ERROR_SUCCESS, ReadClassesRootDefault(HKEY_CLASSES_ROOT, "QuillonTest.Read\\empty", buffer));
    EXPECT_STREQ("", buffer) << "a key without a default value reads as nothing";
    lstrcpyA(buffer, "left over");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadClassesRootDefault(HKEY_CLASSES_ROOT, "QuillonTest.Missing", buffer));
    EXPECT_STREQ("left over", buffer);
}

TEST_F(Document, AValueTooLongForItsBufferReadsAsNothing)
{
    SetClass("QuillonTest.Long", std::string(300, 'v'));
    char buffer[520];
    lstrcpyA(buffer, "QuillonTest.Long");
    EXPECT_EQ(ERROR_SUCCESS, ReadClassesRootDefault(HKEY_CLASSES_ROOT, buffer, buffer));
    EXPECT_STREQ("", buffer);
}

struct TemplateCase {
    const char* templateText; // H stands for the quoted handler path, T for the target
    const char* expected;
};

const TemplateCase TemplateCases[] = {
    {"H \"%1\"", "H  T"},
    {"H \"%1\" /extra -switch", "H  T"},     // what follows the placeholder is lost
    {"H %1 /extra", "H  T"},                 // unquoted placeholder
    {"H -open", "H -open T"},                // no placeholder: the target goes at the end
    {"H /a %1 /b \"%1\"", "H /a %1 /b  T"},  // the quoted placeholder is looked for first
};

std::string Fill(const std::string& pattern, const std::string& handler, const std::string& target)
{
    std::string text;
    for (char c : pattern) {
        if (c == 'H')
            text += "\"" + handler + "\"";
        else if (c == 'T')
            text += target;
        else
            text += c;
    }
    return text;
}

TEST_F(Document, TheFallbackRunsTheHtmClassCommandWithTheTarget)
{
    for (const TemplateCase& c : TemplateCases) {
        SCOPED_TRACE(c.templateText);
        DeleteFileA(recordFile_.c_str());
        SetClass(std::string(HtmlClass) + "\\shell\\open\\command", Fill(c.templateText, handler_, ""));
        OpenDocument(unassociated_.c_str(), ".htm");
        qt::Record record = OnlyRecord();
        EXPECT_EQ(Fill(c.expected, handler_, unassociated_), record.commandLine);
        EXPECT_EQ(qt::Lower(handler_), qt::Lower(record.module));
        EXPECT_EQ(cwd_, record.directory);
    }
}

// An unquoted program with a blank in its path: WinExec would have tried "<folder>\Program.exe"
// first. Its program is the text up to the blank, started by that name only: nothing of that
// name exists, so nothing starts. An unquoted program without a blank starts, quoted.
TEST_F(Document, TheFallbackProgramIsNeverSearchedFor)
{
    std::string planted = qt::Join(folder_, "Program.exe");
    qt::InstallRecorder(planted);
    std::string real = qt::Join(qt::Join(folder_, "Program Files"), "handler.exe");
    CreateDirectoryA(qt::Join(folder_, "Program Files").c_str(), nullptr);
    qt::InstallRecorder(real);
    {
        qt::ScopedClassDefault command(std::string(HtmlClass) + "\\shell\\open\\command", real + " -x %1");
        OpenDocument(unassociated_.c_str(), ".htm");
    }
    SetClass(std::string(HtmlClass) + "\\shell\\open\\command", handler_ + " control %1");
    OpenDocument(unassociated_.c_str(), ".htm");
    qt::Record record = OnlyRecord();
    EXPECT_EQ(qt::Lower(handler_), qt::Lower(record.module)) << "the planted Program.exe ran";
    EXPECT_EQ(Quoted(handler_) + " control  " + unassociated_, record.commandLine);
}

// From Vista on the run is elevated: neither the shell's verb nor a class command that the user
// may have set runs from it. Without a desktop shell to start it from, nothing opens.
TEST_F(Document, FromVistaOnWithoutADesktopShellNothingOpens)
{
    if (GetShellWindow() != nullptr)
        GTEST_SKIP() << "this desktop has a shell";
    SetClass(".qtgood", "QuillonTest.Good");
    SetClass("QuillonTest.Good\\shell\\open\\command", Quoted(handler_) + " shell \"%1\"");
    SetClass(std::string(HtmlClass) + "\\shell\\open\\command", Quoted(handler_) + " fallback %1");
    std::string target = qt::Join(docs_, "readme.qtgood");
    qt::WriteTextFile(target, "<html></html>");
    TheRun.IsVistaOrLater = true;
    for (const std::string& document : {target, unassociated_, std::string("https://example.invalid/")})
        OpenDocument(document.c_str(), ".htm");
    TheRun.IsVistaOrLater = false;
    ExpectNothingStarted("an elevated run without a desktop shell");
}

TEST_F(Document, TheShellOpensALocalFileInItsFolder)
{
    SetClass(".qtgood", "QuillonTest.Good");
    SetClass("QuillonTest.Good\\shell\\open\\command", Quoted(handler_) + " shell \"%1\"");
    SetClass(std::string(HtmlClass) + "\\shell\\open\\command", Quoted(handler_) + " fallback %1");
    std::string target = qt::Join(docs_, "readme.qtgood");
    qt::WriteTextFile(target, "<html></html>");
    OpenDocument(target.c_str(), ".htm");
    qt::Record record = OnlyRecord();
    EXPECT_NE(std::string::npos, record.commandLine.find(" shell ")) << record.commandLine;
    EXPECT_NE(std::string::npos, record.commandLine.find(target)) << record.commandLine;
    EXPECT_EQ(docs_, record.directory);
}

TEST_F(Document, AWebAddressHasNoWorkingFolder)
{
    SetClass(std::string(HtmlClass) + "\\shell\\open\\command", Quoted(handler_) + " fallback %1");
    for (const char* scheme : {"http", "https"}) {
        SetClass(scheme, std::string("URL:") + scheme);
        SetClass(std::string(scheme) + "\\shell\\open\\command", Quoted(handler_) + " url \"%1\"");
    }
    // A backslash in the address would give a folder if the address were taken for a file.
    for (const char* target : {"HTTPS://example.invalid/a\\b", "http://example.invalid/x\\page.htm",
                               "hTtP://example.invalid/y\\z"}) {
        SCOPED_TRACE(target);
        DeleteFileA(recordFile_.c_str());
        OpenDocument(target, ".htm");
        qt::Record record = OnlyRecord();
        EXPECT_NE(std::string::npos, record.commandLine.find(" url ")) << record.commandLine;
        EXPECT_EQ(cwd_, record.directory);
    }
}

TEST_F(Document, WithoutAClassOrItsCommandNothingStarts)
{
    // ".htm" without a default value.
    htm_.reset();
    {
        qt::ScopedClassDefault htm(".htm", "");
        OpenDocument(unassociated_.c_str(), ".htm");
    }
    htm_.reset(new qt::ScopedClassDefault(".htm", HtmlClass));
    // The class has no open command.
    OpenDocument(unassociated_.c_str(), ".htm");
    ExpectNothingStarted("no class, then no command");
}

// A command key without a value, or with one too long to read, must not leave the key's own path
// behind as the command: a program planted under that relative path would then start.
TEST_F(Document, AnUnreadableCommandIsNeverRun)
{
    const char* const classes[] = {"QuillonTest.NoValue", "QuillonTest.TooLong"};
    for (const char* name : classes) {
        std::string planted = cwd_;
        for (const char* part : {name, "shell", "open"}) {
            planted = qt::Join(planted, part);
            CreateDirectoryA(planted.c_str(), nullptr);
        }
        qt::InstallRecorder(qt::Join(planted, "command.exe"));
    }
    SetClass("QuillonTest.NoValue\\shell\\open\\command\\sub", "x");
    SetClass("QuillonTest.TooLong\\shell\\open\\command", Quoted(handler_) + std::string(300, 'x') + " %1");
    for (const char* name : classes) {
        qt::ScopedClassDefault htm(".htm", name);
        OpenDocument(unassociated_.c_str(), ".htm");
    }
    ExpectNothingStarted("command keys that cannot be read");
}

TEST_F(Document, ACommandThatCannotHoldTheTargetIsNotRun)
{
    SetClass(std::string(HtmlClass) + "\\shell\\open\\command", Quoted(handler_) + " \"%1\"");
    std::string target = qt::Join(docs_, std::string(240, 'n') + ".qtnone");
    std::string longTarget = target + std::string(300, 'x');
    OpenDocument(longTarget.c_str(), ".htm");
    ExpectNothingStarted("a target that does not fit the command");
}

} // namespace
