// Tests of the quillon-pack commands as a user meets them: exit codes, messages, help, the
// guarantee that a refused build leaves no file behind, dumps of whole and damaged uninstallers,
// and build -> dump -> build giving the same bytes for every example and for a seeded set of
// random manifests in every code page. Most run the commands in-process; a few run the built
// executable to see the real exit status and streams.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "codepages.h"
#include "format_reader.h"
#include "file_bytes.h"
#include "format_writer.h"
#include "manifest.h"
#include "pack_cli.h"

using namespace quillon;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

class PackCli : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("quillon-cli-") + test->name() + "-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        stub_ = Path("quillon-stub.exe");
        WriteStub(stub_, true);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // A stand-in for the real stub: some bytes, the marker with its field, more bytes. With a
    // machine, the bytes begin with the DOS and PE headers' fields that name it.
    void WriteStub(const std::string& path, bool stamp, int markers = 1, uint16_t machine = 0) {
        Bytes stub(300, 0x4D);
        if (machine != 0) {
            stub[0x3C] = 0x40;
            stub[0x3D] = stub[0x3E] = stub[0x3F] = 0;
            const uint8_t pe[] = {'P', 'E', 0, 0, uint8_t(machine), uint8_t(machine >> 8)};
            std::copy(pe, pe + sizeof pe, stub.begin() + 0x40);
            stub[1] = 'Z';
        }
        for (int i = 0; i < markers; ++i) {
            stub.insert(stub.end(), DATA_MARKER, DATA_MARKER + DATA_MARKER_LENGTH);
            PutU32(stub, 0);
            stub.insert(stub.end(), 50, 0x90);
        }
        std::string error;
        if (stamp) {
            ASSERT_TRUE(StampStub(stub, &error)) << error;
        }
        ASSERT_TRUE(WriteFileBytes(path, stub, &error)) << error;
    }

    void WriteText(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string ReadText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }

    Result Run(const std::vector<std::string>& args, const std::string& toolFolder = "") {
        std::ostringstream out, err;
        int code = RunPackCommand(args, out, err, toolFolder.empty() ? dir_.string() : toolFolder);
        return {code, out.str(), err.str()};
    }

    // Runs a built program through the shell: its real exit status and what it wrote to its streams.
    Result RunProgram(const std::string& exe, const std::string& args) {
        std::string command = "'" + exe + "' " + args + " >'" + Path("out.txt") + "' 2>'" + Path("err.txt") + "'";
        int status = std::system(command.c_str());
        Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(Path("out.txt")), ReadText(Path("err.txt"))};
        fs::remove(Path("out.txt"));
        fs::remove(Path("err.txt"));
        return result;
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
    std::string stub_;
};

} // namespace

TEST_F(PackCli, HelpForEveryCommand) {
    struct Case {
        std::vector<std::string> args;
        const char* text;
    };
    const Case cases[] = {
        {{"--help"}, "usage: quillon-pack COMMAND"},
        {{"-h"}, "usage: quillon-pack COMMAND"},
        {{"help"}, "usage: quillon-pack COMMAND"},
        {{"build", "--help"}, "usage: quillon-pack build MANIFEST.json -o UNINSTALLER.exe"},
        {{"dump", "--help"}, "usage: quillon-pack dump UNINSTALLER.exe"},
        {{"check", "--help"}, "usage: quillon-pack check MANIFEST.json"},
        {{"scan", "--help"}, "usage: quillon-pack scan STAGING_FOLDER"},
        {{"help", "dump"}, "usage: quillon-pack dump"},
        {{"build", "x.json", "--help"}, "usage: quillon-pack build"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        Result result = Run(c.args);
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.out.rfind(c.text, 0), 0u) << result.out;
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(PackCli, UsageErrorsExitWithTwo) {
    WriteText(Path("m.json"), "{}");
    struct Case {
        std::vector<std::string> args;
        const char* errorPart;
    };
    const Case cases[] = {
        {{}, "usage: quillon-pack COMMAND"},
        {{"pack", "m.json"}, "unknown command \"pack\""},
        {{"build", Path("m.json")}, "build needs the output: -o UNINSTALLER.exe"},
        {{"build", "-o", Path("u.exe")}, "build takes one manifest"},
        {{"build", Path("m.json"), Path("n.json"), "-o", Path("u.exe")}, "build takes one manifest"},
        {{"build", Path("m.json"), "-o"}, "-o needs a value"},
        {{"build", Path("m.json"), "-o", Path("u.exe"), "--output", Path("v.exe")}, "the output is given twice"},
        {{"build", Path("m.json"), "-o", Path("u.exe"), "--stub"}, "--stub needs a value"},
        {{"build", Path("m.json"), "-o", Path("u.exe"), "--verbose"}, "unknown option --verbose"},
        {{"build", Path("m.json"), "-o", Path("u.exe"), "--codepage", "latin1"}, "--codepage takes a number, not \"latin1\""},
        {{"build", Path("m.json"), "-o", Path("u.exe"), "--codepage=437"}, "code page 437 is not supported"},
        {{"check", Path("m.json"), "--codepage", "12x"}, "--codepage takes a number"},
        {{"check", Path("m.json"), "-o", Path("u.exe")}, "unknown option -o"},
        {{"dump", Path("u.exe"), "--stub", stub_}, "unknown option --stub"},
        {{"dump"}, "dump takes one uninstaller"},
        {{"check"}, "check takes one manifest"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args.back());
        Result result = Run(c.args);
        EXPECT_EQ(result.code, 2);
        EXPECT_NE(result.err.find(c.errorPart), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"m.json", "quillon-stub.exe"}));
}

TEST_F(PackCli, RefusedManifestsLeaveNoFile) {
    struct Case {
        const char* name;
        std::string manifest;
        std::string error; // the whole first line of the refusal, without the manifest path
    };
    const Case cases[] = {
        {"malformed", "{\"files\": [", ":1:12: syntax error while parsing value"},
        {"wrong type", "{\"patterns\": \"*.log\"}", ":1:2: /patterns: must be an array, not a string"},
        {"unknown key", "{\"setings\": {}}", ":1:2: /setings: unknown key \"setings\""},
        {"unknown flag",
         R"({"files": [{"folder": "."}, {"folder": "."}, {"folder": "."}, {"folder": ".", "name": "a", "flags": ["fnt"]}]})",
         ":1:102: /files/3/flags/0: unknown flag \"fnt\""},
        {"unknown root", R"({"registry": [{"root": "HKEY_LOCAL", "key": "Software\\A"}]})", ":1:16: /registry/0/root: unknown root \"HKEY_LOCAL\""},
        {"parent levels", R"({"folder_groups": [{"folder": "C:\\A", "parent_levels": 300}]})",
         ":1:40: /folder_groups/0/parent_levels: is 300; parent levels run from 0 to 255"},
        {"whole root", R"({"registry": [{"root": "HKLM", "key": "SOFTWARE\\"}]})", ":1:32: /registry/0/key: \"SOFTWARE\\\\\" would remove a whole root key"},
        {"two %s", R"({"messages": {"read_only": "%s %s"}})", ":1:15: /messages/read_only: holds 2 \"%s\""},
        {"not in code page", R"({"messages": {"title": "Ω"}})", ":1:15: /messages/title: U+03A9 'Ω' (character 1) is not in code page 1252"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string manifest = Path("m.json");
        WriteText(manifest, c.manifest);
        Result built = Run({"build", manifest, "-o", Path("u.exe"), "--stub", stub_});
        EXPECT_EQ(built.code, 1);
        EXPECT_EQ(built.out, "");
        std::string lastLine = built.err.substr(built.err.rfind('\n', built.err.size() - 2) + 1);
        EXPECT_EQ(lastLine.rfind(manifest + c.error, 0), 0u) << built.err;
        EXPECT_EQ(Entries(), (std::vector<std::string>{"m.json", "quillon-stub.exe"}));
        Result checked = Run({"check", manifest});
        EXPECT_EQ(checked.code, 1);
        EXPECT_EQ(checked.err, built.err);
    }
}

TEST_F(PackCli, RefusedBuildKeepsAnExistingOutput) {
    WriteText(Path("m.json"), R"({"files": [{"folder": ""}]})");
    WriteText(Path("u.exe"), "previous uninstaller");
    Result result = Run({"build", Path("m.json"), "-o", Path("u.exe"), "--stub", stub_});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(ReadText(Path("u.exe")), "previous uninstaller");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"m.json", "quillon-stub.exe", "u.exe"}));
}

TEST_F(PackCli, ArchitectureChoosesTheStubRefusesAnotherAndComesBackInTheDump) {
    WriteStub(Path("quillon-stub.exe"), true, 1, 0x014C);
    WriteStub(Path("quillon-stub64.exe"), true, 1, 0x8664);
    WriteText(Path("x64.json"), R"({"architecture": "x64", "messages": {"confirm": "Remove?"}})");
    WriteText(Path("plain.json"), R"({"messages": {"confirm": "Remove?"}})");

    Result refused = Run({"build", Path("x64.json"), "-o", Path("u.exe"), "--stub", Path("quillon-stub.exe")});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("the stub is x86, but the manifest asks for x64"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(Path("u.exe")));

    // Without --stub the key picks the stub beside the packer; the dump names the flavour it finds.
    ASSERT_EQ(Run({"build", Path("x64.json"), "-o", Path("u64.exe")}).code, 0);
    EXPECT_EQ(json::parse(Run({"dump", Path("u64.exe")}).out)["architecture"], "x64");
    ASSERT_EQ(Run({"build", Path("plain.json"), "-o", Path("u32.exe")}).code, 0);
    EXPECT_EQ(json::parse(Run({"dump", Path("u32.exe")}).out)["architecture"], "x86");
    // Without the key, --stub decides.
    ASSERT_EQ(Run({"build", Path("plain.json"), "-o", Path("given.exe"), "--stub", Path("quillon-stub64.exe")}).code, 0);
    EXPECT_EQ(ReadText(Path("given.exe")), ReadText(Path("u64.exe")));

    WriteText(Path("arm.json"), R"({"architecture": "arm64"})");
    Result unknown = Run({"check", Path("arm.json")});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.err.find("/architecture: must be \"x86\" or \"x64\""), std::string::npos) << unknown.err;
}

TEST_F(PackCli, RefusedStubsAndOutputs) {
    WriteText(Path("m.json"), R"({"messages": {"confirm": "Remove?"}})");
    WriteStub(Path("nomarker.exe"), false, 0);
    WriteStub(Path("twice.exe"), false, 2);
    WriteStub(Path("unstamped.exe"), false, 1);
    std::string stubBytes = ReadText(stub_);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string errorPart;
    };
    const Case cases[] = {
        {"marker absent", {"--stub", Path("nomarker.exe"), "-o", Path("u.exe")}, "nomarker.exe: the data offset marker \"wwgT)H\" is absent"},
        {"marker twice", {"--stub", Path("twice.exe"), "-o", Path("u.exe")}, "twice.exe: the data offset marker \"wwgT)H\" occurs 2 times"},
        {"field wrong", {"--stub", Path("unstamped.exe"), "-o", Path("u.exe")}, "unstamped.exe: the data offset field holds 0 but the stub is 360 bytes long"},
        {"missing stub", {"--stub", Path("none.exe"), "-o", Path("u.exe")}, "none.exe: cannot open for reading"},
        {"output is the stub", {"--stub", stub_, "-o", stub_}, "the output is the stub itself"},
        {"output is the stub by another name", {"--stub", stub_, "-o", (dir_ / "." / "quillon-stub.exe").string()}, "the output is the stub itself"},
        {"output is the manifest", {"--stub", stub_, "-o", Path("m.json")}, "the output is the manifest itself"},
        {"missing manifest", {"--stub", stub_, "-o", Path("u.exe")}, "cannot open for reading"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"build", std::string(c.name) == "missing manifest" ? Path("none.json") : Path("m.json")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result result = Run(args);
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find(c.errorPart), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(Path("u.exe")));
        EXPECT_EQ(ReadText(stub_), stubBytes);
        EXPECT_EQ(ReadText(Path("m.json")), R"({"messages": {"confirm": "Remove?"}})");
    }
    // An uninstaller is no stub: its field no longer equals its size.
    ASSERT_EQ(Run({"build", Path("m.json"), "--stub", stub_, "-o", Path("u.exe")}).code, 0);
    Result again = Run({"build", Path("m.json"), "--stub", Path("u.exe"), "-o", Path("v.exe")});
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("not a freshly stamped stub"), std::string::npos) << again.err;
    EXPECT_FALSE(fs::exists(Path("v.exe")));
}

TEST_F(PackCli, DefaultStubIsTheOneBesideTheTool) {
    WriteText(Path("m.json"), R"({"messages": {"confirm": "Remove?"}})");
    Result result = Run({"build", Path("m.json"), "-o", Path("u.exe")});
    ASSERT_EQ(result.code, 0) << result.err;
    Bytes stub, uninstaller;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(stub_, &stub, &error));
    ASSERT_TRUE(ReadFileBytes(Path("u.exe"), &uninstaller, &error));
    ASSERT_GT(uninstaller.size(), stub.size());
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), uninstaller.begin()));
    EXPECT_EQ(result.out, Path("u.exe") + ": 1 message, 0 file entries, 0 folder groups, 0 registry entries, 0 patterns, code page 1252\n");

    fs::remove(stub_);
    Result missing = Run({"build", Path("m.json"), "-o", Path("v.exe")});
    EXPECT_EQ(missing.code, 1);
    auto near = [&](const char* path) { return (dir_ / path).lexically_normal().string(); };
    EXPECT_EQ(missing.err, "quillon-pack: no stub found; looked for " + Path("quillon-stub.exe") + ", " +
                               near("../share/quillon/quillon-stub.exe") + ", " + near("../../win32/quillon-stub.exe") + ", " +
                               near("../win32/quillon-stub.exe") + " (give the stub with --stub)\n");
    EXPECT_FALSE(fs::exists(Path("v.exe")));
}

// Without --stub, an installed packer (PREFIX/bin) finds the stub in PREFIX/share/quillon, and the
// native packer of a build tree (build/native/pack) the flavour's stub in build/win32 or build/win64.
TEST_F(PackCli, DefaultStubOfAnInstalledLayoutAndOfTheBuildTree) {
    WriteText(Path("m.json"), R"({"messages": {"confirm": "Remove?"}})");
    WriteText(Path("m64.json"), R"({"architecture": "x64", "messages": {"confirm": "Remove?"}})");
    fs::create_directories(Path("prefix/bin"));
    fs::create_directories(Path("prefix/share/quillon"));
    WriteStub(Path("prefix/share/quillon/quillon-stub.exe"), true, 1, 0x14C);
    EXPECT_EQ(Run({"build", Path("m.json"), "-o", Path("installed.exe")}, Path("prefix/bin")).code, 0);

    fs::create_directories(Path("build/native/pack"));
    fs::create_directories(Path("build/win64"));
    WriteStub(Path("build/win64/quillon-stub64.exe"), true, 1, 0x8664);
    Result x64 = Run({"build", Path("m64.json"), "-o", Path("tree64.exe")}, Path("build/native/pack"));
    EXPECT_EQ(x64.code, 0) << x64.err;
    Result x86 = Run({"build", Path("m.json"), "-o", Path("tree.exe")}, Path("build/native/pack"));
    EXPECT_EQ(x86.code, 1);
    EXPECT_NE(x86.err.find(Path("build/win32/quillon-stub.exe")), std::string::npos) << x86.err;
    EXPECT_TRUE(fs::exists(Path("installed.exe")) && fs::exists(Path("tree64.exe")) && !fs::exists(Path("tree.exe")));
}

TEST_F(PackCli, WarningsGoToStderrAndTheBuildGoesOn) {
    WriteText(Path("m.json"), R"({"messages": {"confirm": "Remove?"},
        "files": [{"folder": ".", "name": "icons.dll", "flags": ["font"]}],
        "patterns": ["#TempDir#*.tmp"]})");
    Result result = Run({"build", Path("m.json"), "-o", Path("u.exe"), "--stub", stub_});
    EXPECT_EQ(result.code, 0);
    EXPECT_NE(result.err.find(Path("m.json") + ":2:35: /files/0/name: warning 1: flagged \"font\""), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(Path("m.json") + ":3:22: /patterns/0: warning 2: no backslash outside its macros"), std::string::npos);
    EXPECT_TRUE(fs::exists(Path("u.exe")));
}

// Every example builds under --strict, and its dump builds the same bytes again.
TEST_F(PackCli, ExamplesRoundTripByteForByte) {
    std::vector<std::string> examples;
    for (const auto& folder : fs::directory_iterator(QUILLON_EXAMPLES_DIR))
        if (fs::exists(folder.path() / "manifest.json")) examples.push_back(folder.path().filename().string());
    EXPECT_GE(examples.size(), 4u);
    for (const std::string& example : examples) {
        SCOPED_TRACE(example);
        std::string manifest = std::string(QUILLON_EXAMPLES_DIR) + "/" + example + "/manifest.json";
        Result built = Run({"build", manifest, "--strict", "-o", Path("first.exe"), "--stub", stub_});
        ASSERT_EQ(built.code, 0) << built.err;
        EXPECT_EQ(built.err, "") << "the examples draw no warnings";
        std::string codePage = std::to_string(json::parse(ReadText(manifest)).value("codepage", 1252));
        Result dumped = Run({"dump", Path("first.exe"), "--codepage", codePage});
        ASSERT_EQ(dumped.code, 0) << dumped.err;
        EXPECT_EQ(dumped.err, "");
        WriteText(Path("dump.json"), dumped.out);
        Result rebuilt = Run({"build", Path("dump.json"), "-o", Path("second.exe"), "--stub", stub_});
        ASSERT_EQ(rebuilt.code, 0) << rebuilt.err;
        EXPECT_EQ(ReadText(Path("first.exe")), ReadText(Path("second.exe")));
        Result dumpedAgain = Run({"dump", Path("second.exe"), "--codepage", codePage});
        EXPECT_EQ(dumpedAgain.out, dumped.out);
        // The dump shows the author's texts as written.
        json original = json::parse(ReadText(manifest));
        json dump = json::parse(dumped.out);
        EXPECT_EQ(dump["messages"]["title"], original["messages"]["title"]);
        if (original.contains("files")) {
            EXPECT_EQ(dump["files"].size(), original["files"].size());
        }
    }
}

// The complete example of the manifest reference builds without a warning.
TEST_F(PackCli, TheReferenceExampleBuilds) {
    std::string doc = ReadText(std::string(QUILLON_DOCS_DIR) + "/manifest.md");
    size_t start = doc.find("```json\n");
    ASSERT_NE(start, std::string::npos);
    start += 8;
    size_t end = doc.find("```", start);
    WriteText(Path("example.json"), doc.substr(start, end - start));
    Result built = Run({"build", Path("example.json"), "--strict", "-o", Path("u.exe"), "--stub", stub_});
    EXPECT_EQ(built.code, 0) << built.err;
    EXPECT_EQ(built.err, "");
}

TEST_F(PackCli, DumpInTheWrongCodePageSaysSo) {
    std::string manifest = std::string(QUILLON_EXAMPLES_DIR) + "/japanese/manifest.json";
    ASSERT_EQ(Run({"build", manifest, "-o", Path("u.exe"), "--stub", stub_}).code, 0);
    Result dumped = Run({"dump", Path("u.exe")}); // read as 1252
    EXPECT_EQ(dumped.code, 1);
    EXPECT_NE(dumped.err.find(": /messages/title: byte 0x81"), std::string::npos) << dumped.err;
    EXPECT_NO_THROW(json::parse(dumped.out));
}

TEST_F(PackCli, DumpOfDamagedDataSaysWhereItStopped) {
    WriteText(Path("m.json"), R"({"messages": {"title": "T", "confirm": "Remove?"},
        "files": [{"folder": ".", "name": "a.exe"}, {"folder": ".", "name": "b.exe"}],
        "registry": [{"root": "HKCU", "key": "Software\\Q"}]})");
    ASSERT_EQ(Run({"build", Path("m.json"), "-o", Path("u.exe"), "--stub", stub_}).code, 0);
    Bytes whole;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(Path("u.exe"), &whole, &error));
    size_t stubSize = fs::file_size(stub_);

    // Cut inside the registry block: messages and files are shown, the stop is explained.
    ReadReport report = ReadUninstaller(whole);
    ASSERT_TRUE(report.complete);
    Bytes cut(whole.begin(), whole.end() - 30);
    ASSERT_TRUE(WriteFileBytes(Path("cut.exe"), cut, &error));
    Result dumped = Run({"dump", Path("cut.exe")});
    EXPECT_EQ(dumped.code, 1);
    json partial = json::parse(dumped.out);
    EXPECT_EQ(partial["messages"]["title"], "T");
    EXPECT_EQ(partial["files"].size(), 2u);
    EXPECT_NE(dumped.err.find(Path("cut.exe") + ": stopped at byte "), std::string::npos) << dumped.err;

    // A block length pointing past the end: reported at the block's header.
    Bytes badLength = whole;
    std::vector<std::string> messages(16);
    messages[MSG_TITLE] = "T";
    messages[MSG_CONFIRM] = "Remove?";
    size_t filesHeader = stubSize + 8 + EncodeMessageTableBody(messages).size();
    ASSERT_EQ(badLength[filesHeader], BLOCK_FILES & 0xFF);
    badLength[filesHeader + 7] = 0x7F;
    ASSERT_TRUE(WriteFileBytes(Path("bad.exe"), badLength, &error));
    Result bad = Run({"dump", Path("bad.exe")});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("stopped at byte " + std::to_string(filesHeader) + ": block 0x1235 declares"), std::string::npos)
        << bad.err;

    // The stub alone, and a file that is no uninstaller at all: nothing to print.
    Result stubOnly = Run({"dump", stub_});
    EXPECT_EQ(stubOnly.code, 1);
    EXPECT_EQ(stubOnly.out, "");
    EXPECT_NE(stubOnly.err.find("a stub without data"), std::string::npos) << stubOnly.err;
    Result other = Run({"dump", Path("m.json")});
    EXPECT_EQ(other.code, 1);
    EXPECT_NE(other.err.find("is absent"), std::string::npos);
}

TEST_F(PackCli, DumpOfForeignLayoutNotesTheDifference) {
    Bytes stub;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(stub_, &stub, &error));
    Settings settings;
    Bytes chain = BlockWriter()
                      .Block(BLOCK_SETTINGS, EncodeSettingsBody(settings))
                      .Block(0x1238, Bytes{1, 2})
                      .Block(BLOCK_MESSAGES, EncodeMessageTableBody({"T", "C"}))
                      .End()
                      .bytes();
    Bytes uninstaller;
    ASSERT_TRUE(BuildUninstaller(stub, chain, &uninstaller, &error));
    ASSERT_TRUE(WriteFileBytes(Path("u.exe"), uninstaller, &error));
    Result dumped = Run({"dump", Path("u.exe")});
    EXPECT_EQ(dumped.code, 0);
    EXPECT_NE(dumped.err.find("note: the data is not laid out as quillon-pack writes it"), std::string::npos) << dumped.err;
    EXPECT_EQ(json::parse(dumped.out)["messages"]["confirm"], "C");
}

// Data that a manifest cannot carry byte for byte is read whole, but the dump says that a build
// from it gives other bytes; data it can carry gets no such note.
TEST_F(PackCli, DumpSaysWhenARebuildIsNotByteIdentical) {
    Bytes stub;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(stub_, &stub, &error));
    struct Case {
        const char* name;
        std::vector<std::string> messages;
        const char* codePage;
        const char* note; // null: no note
    } cases[] = {
        {"16 messages", std::vector<std::string>(MSG_COUNT, "m"), "1252", nullptr},
        {"10 messages", std::vector<std::string>(10, "m"), "1252", "the message table holds 10 strings"},
        {"no messages", {}, "1252", "the message table holds 0 strings"},
        // 0x87 0x90 reads as U+2252, which code page 932 writes as 0x81 0xE0.
        {"a pair written back in another form", std::vector<std::string>(MSG_COUNT, "\x87\x90"), "932",
         "byte pairs that the code page writes back in another form"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UninstallData data;
        data.messages = c.messages;
        Bytes uninstaller;
        ASSERT_TRUE(BuildUninstaller(stub, EncodeUninstallData(data), &uninstaller, &error));
        ASSERT_TRUE(WriteFileBytes(Path("u.exe"), uninstaller, &error));
        Result dumped = Run({"dump", Path("u.exe"), "--codepage", c.codePage});
        EXPECT_EQ(dumped.code, 0) << dumped.err;
        if (c.note) {
            EXPECT_NE(dumped.err.find("note: a build from this dump is not byte-identical"), std::string::npos) << dumped.err;
            EXPECT_NE(dumped.err.find(c.note), std::string::npos) << dumped.err;
        } else {
            EXPECT_EQ(dumped.err, "");
        }
    }
}

// Random manifests in every code page: build, dump, build again gives the same bytes.
TEST_F(PackCli, RandomManifestsRoundTrip) {
    std::mt19937 random(20240611);
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    std::vector<int> pages = SupportedCodePages();
    const std::string plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_()[]{}&+=,;'!~$@";

    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        int number = pages[pick(pages.size())];
        const CodePage* page = FindCodePage(number);
        // One character: ASCII, or any character of the page that is safe in a path.
        auto character = [&]() -> std::string {
            if (chance(0.6)) return std::string(1, plain[pick(plain.size())]);
            for (;;) {
                std::string bytes = page->isDoubleByte() && chance(0.8)
                                        ? std::string{char(0x81 + pick(0x7E)), char(0x40 + pick(0xBF))}
                                        : std::string(1, char(0x80 + pick(0x80)));
                std::string utf8, error;
                if (!page->ToUtf8(bytes, &utf8, &error)) continue;
                std::string back;
                if (!page->FromUtf8(utf8, &back, &error)) continue;
                if (back.size() == 2 && back[1] == '\\') continue;
                return utf8;
            }
        };
        auto name = [&](size_t most) {
            std::string text(1, plain[pick(52)]);
            for (size_t n = pick(most); n > 0; --n) text += character();
            return text;
        };

        json manifest;
        manifest["codepage"] = number;
        json messages = json::object();
        for (int i = 0; i < MSG_COUNT; ++i) {
            if (!chance(0.8)) continue;
            std::string text = name(30);
            if (chance(0.3)) text += "\n" + name(10);
            bool formatted = i >= MSG_NO_MEMORY && i <= MSG_SHARED_FILE;
            if (formatted && chance(0.7)) text += " %s" + std::string(chance(0.3) ? " 100%%" : "");
            messages[kMessageNames[i]] = text;
        }
        messages["confirm"] = name(20);
        messages["files_in_use"] = name(20);
        manifest["messages"] = messages;
        json files = json::array();
        for (size_t n = pick(7); n > 0; --n) {
            json entry;
            int kind = static_cast<int>(pick(3));
            entry["folder"] = kind == 0 ? "." : kind == 1 ? ".\\" + name(12) : "C:\\" + name(12) + "\\" + name(12);
            uint8_t bits = static_cast<uint8_t>(pick(16));
            if (chance(0.8)) entry["name"] = name(15) + ((bits & FILE_FONT) ? ".ttf" : ".dat");
            json flags = json::array();
            for (const char* flag : {"shared_dll", "font", "com_server", "check_in_use"}) {
                if (bits & 1) flags.push_back(flag);
                bits >>= 1;
            }
            entry["flags"] = flags;
            files.push_back(entry);
        }
        manifest["files"] = files;
        json groups = json::array();
        for (size_t n = pick(3); n > 0; --n) {
            json entry = {{"folder", "C:\\Menu\\" + name(20)}, {"parent_levels", pick(256)}};
            if (chance(0.5)) entry["second_folder"] = "D:\\Desk\\" + name(20);
            if (chance(0.5)) entry["file"] = name(20) + ".lnk";
            groups.push_back(entry);
        }
        manifest["folder_groups"] = groups;
        json registry = json::array();
        const char* roots[] = {"HKLM", "HKCU", "HKCR", "HKU", "HKCC", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};
        for (size_t n = pick(5); n > 0; --n) {
            std::string key = (chance(0.2) ? "Software64\\" : "Software\\") + name(20);
            if (chance(0.3)) key += "\\\\" + (chance(0.2) ? std::string() : name(10));
            std::string root = key.rfind("Software64", 0) == 0 ? "HKLM" : roots[pick(7)];
            registry.push_back({{"root", root}, {"key", key}});
        }
        manifest["registry"] = registry;
        json patterns = json::array();
        for (size_t n = pick(4); n > 0; --n)
            patterns.push_back(chance(0.5) ? name(12) + "\\*." + name(3) : "#TempDir#\\" + name(12) + "\\*.tmp");
        manifest["patterns"] = patterns;
        json settings = {{"wait_for_pre_command", chance(0.5)}, {"themed_controls", chance(0.5)}};
        if (chance(0.6)) settings["pre_command"] = chance(0.5) ? "\"" + name(15) + ".exe\" /q" : "#System#\\" + name(10) + ".exe";
        if (!settings.contains("pre_command")) settings["wait_for_pre_command"] = false;
        if (chance(0.5)) settings["closing_document"] = "https://example.com/" + name(20);
        manifest["settings"] = settings;

        WriteText(Path("m.json"), manifest.dump(2));
        Result built = Run({"build", Path("m.json"), "-o", Path("first.exe"), "--stub", stub_});
        ASSERT_EQ(built.code, 0) << built.err << manifest.dump(2);
        Result dumped = Run({"dump", Path("first.exe"), "--codepage", std::to_string(number)});
        ASSERT_EQ(dumped.code, 0) << dumped.err;
        EXPECT_EQ(dumped.err, "");
        WriteText(Path("dump.json"), dumped.out);
        Result rebuilt = Run({"build", Path("dump.json"), "-o", Path("second.exe"), "--stub", stub_});
        ASSERT_EQ(rebuilt.code, 0) << rebuilt.err;
        ASSERT_EQ(ReadText(Path("first.exe")), ReadText(Path("second.exe")));
        // The texts read back are the ones written.
        json dump = json::parse(dumped.out);
        for (auto item = messages.begin(); item != messages.end(); ++item)
            ASSERT_EQ(dump["messages"][item.key()], item.value());
        ASSERT_EQ(dump["files"].size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) ASSERT_EQ(dump["files"][i]["folder"], files[i]["folder"]);
    }
}

// The executable itself: real exit status, streams and files.
TEST_F(PackCli, TheExecutable) {
    auto run = [&](const std::string& args) { return RunProgram(QUILLON_PACK_EXE, args); };
    std::string demo = std::string(QUILLON_EXAMPLES_DIR) + "/demo/manifest.json";
    Result built = run("build '" + demo + "' --stub '" + stub_ + "' -o '" + Path("u.exe") + "'");
    EXPECT_EQ(built.code, 0) << built.err;
    Result dumped = run("dump '" + Path("u.exe") + "'");
    EXPECT_EQ(dumped.code, 0);
    EXPECT_EQ(json::parse(dumped.out)["messages"]["title"], "Quillon Demo Setup");
    WriteText(Path("bad.json"), R"({"messages": {"confirm": "Remove?"}, "files": [{"folder": ".", "flags": ["fnt"]}]})");
    Result refused = run("build '" + Path("bad.json") + "' --stub '" + stub_ + "' -o '" + Path("v.exe") + "'");
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, Path("bad.json") + ":1:74: /files/0/flags/0: unknown flag \"fnt\" (known: shared_dll, font, com_server, check_in_use)\n");
    EXPECT_FALSE(fs::exists(Path("v.exe")));
    EXPECT_EQ(run("frobnicate").code, 2);
    EXPECT_EQ(run("check '" + demo + "'").code, 0);
}

// quillon-stamp, the stub's post-link step.
TEST_F(PackCli, StampTool) {
    auto run = [&](const std::string& args) { return RunProgram(QUILLON_STAMP_EXE, args); };
    WriteStub(Path("fresh.exe"), false, 1);
    Result stamped = run("'" + Path("fresh.exe") + "'");
    EXPECT_EQ(stamped.code, 0) << stamped.err;
    Bytes stub;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(Path("fresh.exe"), &stub, &error));
    EXPECT_TRUE(CheckStub(stub).ok) << CheckStub(stub).error;
    EXPECT_EQ(run("'" + Path("fresh.exe") + "'").code, 0); // stamping again changes nothing
    Bytes again;
    ASSERT_TRUE(ReadFileBytes(Path("fresh.exe"), &again, &error));
    EXPECT_EQ(again, stub);

    for (int markers : {0, 2}) {
        WriteStub(Path("bad.exe"), false, markers);
        std::string before = ReadText(Path("bad.exe"));
        Result refused = run("'" + Path("bad.exe") + "'");
        EXPECT_EQ(refused.code, 1);
        EXPECT_EQ(refused.err.rfind("quillon-stamp: " + Path("bad.exe") + ": the data offset marker", 0), 0u) << refused.err;
        EXPECT_NE(refused.err.find(markers == 0 ? "is absent" : "occurs 2 times"), std::string::npos) << refused.err;
        EXPECT_EQ(ReadText(Path("bad.exe")), before);
    }
    EXPECT_EQ(run("'" + Path("missing.exe") + "'").code, 1);
    EXPECT_EQ(run("").code, 2);
    Result help = run("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("usage: quillon-stamp STUB.exe", 0), 0u);
}

// A staging tree becomes one entry per file and folder, in an order that leaves nothing behind:
// removing the entries last first, as the uninstaller's file pass does (a file deleted, a folder
// entry's folder removed when empty), empties an installed copy of the tree completely.
TEST_F(PackCli, StagingFolderBecomesEntriesThatEmptyTheTree) {
    for (const char* file : {"stage/Demo.exe", "stage/bin/core.dll", "stage/bin/plugins/export.dll", "stage/fonts/Sans.TTF",
                             "stage/debug.pdb", "stage/docs/obj/x.pdb"}) {
        fs::create_directories(fs::path(Path(file)).parent_path());
        WriteText(Path(file), file);
    }
    fs::create_directories(Path("stage/docs/empty"));
    const char* manifest = R"({"messages": {"confirm": "?", "files_in_use": "Close it"},
        "staging": [{"source": "stage", "target": ".\\app", "exclude": ["*.pdb"],
                     "flags": {"*.ttf": ["font"], "bin\\*.dll": ["shared_dll"], "*.exe": ["check_in_use"]}}]})";
    LoadOptions options;
    options.baseFolder = dir_.string();
    Manifest loaded;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(LoadManifest(manifest, "m.json", options, &loaded, &warnings, &error)) << error;
    EXPECT_TRUE(warnings.empty()) << warnings[0];
    const std::vector<FileItem> expected = {
        {".\\app", "", 0}, {".\\app", "Demo.exe", FILE_CHECK_IN_USE}, {".\\app\\bin", "", 0},
        {".\\app\\bin", "core.dll", FILE_SHARED_DLL}, {".\\app\\bin\\plugins", "", 0}, {".\\app\\bin\\plugins", "export.dll", 0},
        {".\\app\\docs", "", 0}, {".\\app\\docs\\empty", "", 0}, {".\\app\\docs\\obj", "", 0}, {".\\app\\fonts", "", 0},
        {".\\app\\fonts", "Sans.TTF", FILE_FONT},
    };
    ASSERT_EQ(loaded.data.files.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(loaded.data.files[i].folder, expected[i].folder);
        EXPECT_EQ(loaded.data.files[i].name, expected[i].name);
        EXPECT_EQ(loaded.data.files[i].flags, expected[i].flags);
    }
    // The installation: the tree without what was excluded, under install\app.
    fs::create_directories(Path("install"));
    fs::copy(Path("stage"), Path("install/app"), fs::copy_options::recursive);
    fs::remove(Path("install/app/debug.pdb"));
    fs::remove(Path("install/app/docs/obj/x.pdb"));
    for (size_t i = loaded.data.files.size(); i-- > 0;) {
        const FileItem& entry = loaded.data.files[i];
        std::string path = Path("install") + "/" + entry.folder.substr(2) + (entry.name.empty() ? "" : "/" + entry.name);
        std::replace(path.begin(), path.end(), '\\', '/');
        std::error_code ignored;
        fs::remove(path, ignored); // a folder goes only when empty, as RemoveDirectory
    }
    EXPECT_TRUE(fs::is_empty(Path("install")));

    // A missing staging folder is named with where it was looked for.
    WriteText(Path("m.json"), R"({"staging": [{"source": "build/stage"}]})");
    Result missing = Run({"check", Path("m.json")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find(Path("m.json") + ":1:15: /staging/0/source: no folder \"" + Path("build/stage") + "\""), std::string::npos)
        << missing.err;
}

// scan prints a skeleton that takes the staging folder whole, and that checks as it stands.
TEST_F(PackCli, ScanPrintsASkeletonThatChecks) {
    for (const char* file : {"stage/Demo.exe", "stage/fonts/Sans.ttf", "stage/lib/a.dll"}) {
        fs::create_directories(fs::path(Path(file)).parent_path());
        WriteText(Path(file), file);
    }
    Result scanned = Run({"scan", Path("stage")});
    ASSERT_EQ(scanned.code, 0) << scanned.err;
    json skeleton = json::parse(scanned.out);
    EXPECT_EQ(skeleton["staging"][0]["source"], Path("stage"));
    EXPECT_EQ(skeleton["staging"][0]["flags"], json::parse(R"({"*.ttf": ["font"], "*.exe": ["check_in_use"]})"));
    EXPECT_NE(scanned.err.find("3 files in 2 sub-folders"), std::string::npos) << scanned.err;
    WriteText(Path("skeleton.json"), scanned.out);
    Result checked = Run({"check", "--strict", Path("skeleton.json")});
    EXPECT_EQ(checked.code, 0) << checked.err;
    EXPECT_NE(checked.out.find("5 file entries"), std::string::npos) << checked.out;
    EXPECT_EQ(Run({"scan", Path("none")}).code, 1);
}

TEST_F(PackCli, StrictDefinesAndPlan) {
    WriteText(Path("m.json"), R"({"messages": {"confirm": "Remove ${APP}?"},
        "files": [{"folder": ".", "name": "${APP}.exe"}, {"folder": "#System#", "name": "x.dll"}]})");
    // Without the define: refused, with the name and place; with it, two warnings (the macro folder).
    Result undefined = Run({"check", Path("m.json")});
    EXPECT_EQ(undefined.code, 1);
    EXPECT_NE(undefined.err.find(":1:15: /messages/confirm: ${APP} is not defined"), std::string::npos) << undefined.err;
    Result warned = Run({"check", Path("m.json"), "--define", "APP=Demo"});
    EXPECT_EQ(warned.code, 0) << warned.err;
    EXPECT_NE(warned.err.find(":2:59: /files/1/folder: warning 1: macros are not expanded"), std::string::npos) << warned.err;
    Result strict = Run({"build", Path("m.json"), "--define=APP=Demo", "--strict", "-o", Path("u.exe"), "--stub", stub_});
    EXPECT_EQ(strict.code, 1);
    EXPECT_NE(strict.err.find(Path("m.json") + ": 2 warnings under --strict: refused"), std::string::npos) << strict.err;
    EXPECT_FALSE(fs::exists(Path("u.exe")));
    EXPECT_EQ(Run({"check", Path("m.json"), "--define", "1APP=x"}).code, EXIT_USAGE);
    EXPECT_EQ(Run({"dump", Path("m.json"), "--strict"}).code, EXIT_USAGE);

    // The plan: every action in the order the uninstaller takes, as written.
    WriteText(Path("plan.json"), R"({"messages": {"confirm": "?", "files_in_use": "Close it"},
        "files": [{"folder": ".", "name": "Demo.exe", "flags": ["check_in_use"]},
                  {"folder": "C:\\Windows\\Fonts", "name": "Demo.ttf", "flags": ["font", "shared_dll"]},
                  {"folder": ".\\bin", "name": "core.dll", "flags": ["com_server"]}, {"folder": ".\\bin"}],
        "patterns": ["logs\\*.log", "#LocalAppData#\\Demo\\"],
        "folder_groups": [{"folder": "C:\\Menu\\Demo", "file": "Demo.lnk", "parent_levels": 1}],
        "registry": [{"root": "HKLM", "key": "Software64\\Demo"},
                     {"root": "HKCU", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "value": "Demo"}],
        "settings": {"pre_command": "\"stop.exe\" /all", "wait_for_pre_command": true, "closing_document": "https://example.com/bye"}})");
    Result plan = Run({"check", "--plan", Path("plan.json")});
    ASSERT_EQ(plan.code, 0) << plan.err;
    EXPECT_EQ(plan.out,
              "The uninstaller, run from the install folder (\".\"):\n"
              "  checks that .\\Demo.exe is not in use, asking until it is free or the user cancels (not with /Q, /S or /X)\n"
              "  runs the pre-uninstall command \"stop.exe\" /all and waits for it to end\n"
              "Files, last entry first:\n"
              "  removes the folder .\\bin if it is empty\n"
              "  unregisters the COM server, deletes .\\bin\\core.dll\n"
              "  lowers the shared count of C:\\Windows\\Fonts\\Demo.ttf; when it runs out, removes the font, deletes "
              "C:\\Windows\\Fonts\\Demo.ttf\n"
              "  deletes .\\Demo.exe\n"
              "Patterns:\n"
              "  deletes the files *.log in .\\logs and every folder below it, then removes the folders of that tree left empty\n"
              "  deletes no file in #LocalAppData#\\Demo and every folder below it, then removes the folders of that tree left empty\n"
              "Folder groups:\n"
              "  deletes C:\\Menu\\Demo\\Demo.lnk, then removes the folder C:\\Menu\\Demo if empty, and up to 1 parent folders above when empty\n"
              "Emptied folders:\n"
              "  removes .\\bin if empty, then each parent while it is empty, up to a protected folder\n"
              "Registry:\n"
              "  deletes the key HKLM\\Software\\Demo in the 64-bit view with everything below it\n"
              "  deletes the value \"Demo\" of HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\n"
              "At the end (not with /S or /X):\n"
              "  opens https://example.com/bye\n" +
                  Path("plan.json") + ": ok: 2 messages, 4 file entries, 1 folder group, 2 registry entries, 2 patterns, code page 1252\n");
}
