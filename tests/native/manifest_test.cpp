// Tests of manifest loading: every refusal with the exact JSON path it names, the limits at
// their boundaries (one byte inside passes, one byte over is refused), the warnings, and the
// texts as they end up in the code page.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>

#include "manifest.h"

using namespace quillon;
using nlohmann::json;

namespace {

struct Outcome {
    bool ok = false;
    std::string error; // without the line and column, as "m.json: /files/0: ..."
    std::vector<std::string> warnings; // likewise, and "warning: " without its number
    std::string rawError;
    std::vector<std::string> rawWarnings;
    Manifest manifest;
};

// Takes out what the tables below do not spell: ":line:column" and the warning's number.
std::string WithoutLocation(const std::string& lines) {
    std::string text = std::regex_replace(lines, std::regex("m\\.json:[0-9]+:[0-9]+: "), "m.json: ");
    return std::regex_replace(text, std::regex(": warning [0-9]+: "), ": warning: ");
}

Outcome Load(const std::string& text, const LoadOptions& options) {
    Outcome outcome;
    outcome.ok = LoadManifest(text, "m.json", options, &outcome.manifest, &outcome.rawWarnings, &outcome.rawError);
    outcome.error = WithoutLocation(outcome.rawError);
    for (const std::string& warning : outcome.rawWarnings) outcome.warnings.push_back(WithoutLocation(warning));
    return outcome;
}
Outcome Load(const std::string& text, std::optional<int> codePage = std::nullopt) {
    LoadOptions options;
    options.codePage = codePage;
    return Load(text, options);
}
Outcome Load(const json& manifest) { return Load(manifest.dump()); }

std::string S(size_t count, char c = 'x') { return std::string(count, c); }

json File(const std::string& folder, const std::string& name) { return json{{"folder", folder}, {"name", name}}; }

struct BadCase {
    const char* name;
    json manifest;
    const char* error; // the whole line after "m.json: ", or its beginning
};

} // namespace

TEST(ManifestRefusals, EachNamesItsPathAndReason) {
    json fourFiles = {{"files", json::array({File(".", "a"), File(".", "b"), File(".", "c"),
                                             json{{"folder", "."}, {"name", "d.ttf"}, {"flags", {"font", "fnt"}}}})}};
    fourFiles["files"][3]["flags"] = {"fnt"};
    const BadCase cases[] = {
        {"not an object", json::array(), "/: must be an object, not an array"},
        {"unknown top key", {{"file", json::array()}}, "/file: unknown key \"file\""},
        {"codepage as text", {{"codepage", "1252"}}, "/codepage: must be a code page number, not a string"},
        {"codepage unsupported", {{"codepage", 437}}, "/codepage: code page 437 is not supported"},
        {"messages as array", {{"messages", json::array()}}, "/messages: must be an object of message texts by name, not an array"},
        {"unknown message", {{"messages", {{"titel", "x"}}}}, "/messages/titel: unknown message \"titel\""},
        {"message not text", {{"messages", {{"title", 5}}}}, "/messages/title: must be a string, not a number"},
        {"message too long", {{"messages", {{"confirm", S(65536)}}}}, "/messages/confirm: the message is 65536 bytes long"},
        {"message two %s", {{"messages", {{"shared_file", "%s and %s"}}}}, "/messages/shared_file: holds 2 \"%s\""},
        {"character not in page", {{"messages", {{"title", "Łódź"}}}}, "/messages/title: U+0141 'Ł' (character 1) is not in code page 1252"},
        {"NUL in text", {{"messages", {{"title", std::string("a\0b", 3)}}}}, "/messages/title: a NUL character (character 2)"},
        {"files not array", {{"files", json::object()}}, "/files: must be an array, not an object"},
        {"file not object", {{"files", {"a.exe"}}}, "/files/0: must be an object, not a string"},
        {"file without folder", {{"files", {{{"name", "a.exe"}}}}}, "/files/0: missing key \"folder\""},
        {"file unknown key", {{"files", {{{"folder", "."}, {"size", 3}}}}}, "/files/0/size: unknown key \"size\""},
        {"unknown flag", fourFiles, "/files/3/flags/0: unknown flag \"fnt\""},
        {"flag not text", {{"files", {{{"folder", "."}, {"flags", {1}}}}}}, "/files/0/flags/0: must be a string, not a number"},
        {"flags not array", {{"files", {{{"folder", "."}, {"flags", "font"}}}}}, "/files/0/flags: must be an array, not a string"},
        {"empty folder", {{"files", {File("", "a.exe")}}}, "/files/0/folder: is empty"},
        {"dot-dot folder", {{"files", {File("..\\x", "a.exe")}}}, "/files/0/folder: a folder that begins with \".\""},
        {"dot-name folder", {{"files", {File(".config", "a")}}}, "/files/0/folder: a folder that begins with \".\""},
        {"file texts over 520", {{"files", {File("C:\\" + S(300), S(218))}}}, "/files/0: folder and name take 523 bytes with their NULs"},
        {"absolute path 260", {{"files", {File("C:\\" + S(200), S(56))}}}, "/files/0: the path is 260 characters long"},
        {"relative path 260", {{"files", {File(".\\" + S(200), S(56))}}},
         "/files/0: with the shortest install folder (C:\\) the path is 260 characters long"},
        {"folder group without folder", {{"folder_groups", {{{"file", "x.lnk"}}}}}, "/folder_groups/0: missing key \"folder\""},
        {"parent levels 256", {{"folder_groups", {{{"folder", "C:\\A"}, {"parent_levels", 256}}}}},
         "/folder_groups/0/parent_levels: is 256; parent levels run from 0 to 255"},
        {"parent levels -1", {{"folder_groups", {{{"folder", "C:\\A"}, {"parent_levels", -1}}}}},
         "/folder_groups/0/parent_levels: is -1"},
        {"parent levels fraction", {{"folder_groups", {{{"folder", "C:\\A"}, {"parent_levels", 1.5}}}}},
         "/folder_groups/0/parent_levels: must be a whole number from 0 to 255, not a number with a fraction"},
        {"parent levels text", {{"folder_groups", {{{"folder", "C:\\A"}, {"parent_levels", "2"}}}}},
         "/folder_groups/0/parent_levels: must be a whole number from 0 to 255, not a string"},
        {"folder group texts over 780", {{"folder_groups", {{{"folder", "C:\\" + S(297)}, {"second_folder", "C:\\" + S(297)}, {"file", S(178)}}}}},
         "/folder_groups/0: the three texts take 781 bytes with their NULs"},
        {"folder group folder 260", {{"folder_groups", {{{"folder", "C:\\" + S(257)}}}}}, "/folder_groups/0/folder: is 260 characters long"},
        {"folder group second 260", {{"folder_groups", {{{"folder", "C:\\A"}, {"second_folder", "C:\\" + S(257)}}}}},
         "/folder_groups/0/second_folder: is 260 characters long"},
        {"folder group file path 260", {{"folder_groups", {{{"folder", "C:\\" + S(200)}, {"file", S(56)}}}}},
         "/folder_groups/0/file: folder and file make a path of 260 characters"},
        {"folder group empty folder", {{"folder_groups", {{{"folder", ""}}}}}, "/folder_groups/0/folder: is empty"},
        {"unknown root", {{"registry", {{{"root", "HKLN"}, {"key", "Software\\A"}}}}}, "/registry/0/root: unknown root \"HKLN\""},
        {"root not text", {{"registry", {{{"root", 2}, {"key", "Software\\A"}}}}}, "/registry/0/root: must be a string, not a number"},
        {"registry without key", {{"registry", {{{"root", "HKCU"}}}}}, "/registry/0: missing key \"key\""},
        {"registry key 520", {{"registry", {{{"root", "HKCU"}, {"key", "Software\\" + S(511)}}}}},
         "/registry/0/key: is 520 bytes long; a key text holds at most 519"},
        {"patterns not array", {{"patterns", "*.log"}}, "/patterns: must be an array, not a string"},
        {"pattern not text", {{"patterns", {true}}}, "/patterns/0: must be a string, not a boolean"},
        {"empty pattern", {{"patterns", {"a\\*.log", ""}}}, "/patterns/1: is empty"},
        {"absolute pattern", {{"patterns", {"C:\\Temp\\*.log"}}}, "/patterns/0: a pattern without a macro is taken relative"},
        {"relative pattern 260", {{"patterns", {S(251) + "\\*.log"}}},
         "/patterns/0: with the shortest install folder (C:\\) the path is 260 characters long"},
        {"macro pattern 260", {{"patterns", {"#TempDir#\\" + S(250)}}}, "/patterns/0: is 260 characters long"},
        {"settings unknown key", {{"settings", {{"wait", true}}}}, "/settings/wait: unknown key \"wait\""},
        {"settings flag not bool", {{"settings", {{"themed_controls", 1}}}}, "/settings/themed_controls: must be true or false, not a number"},
        {"empty pre_command", {{"settings", {{"pre_command", ""}}}}, "/settings/pre_command: is empty"},
        {"blank pre_command", {{"settings", {{"pre_command", "   "}}}}, "/settings/pre_command: is empty"},
        {"quote only", {{"settings", {{"pre_command", "\" "}}}}, "/settings/pre_command: names no program"},
        {"unclosed quote", {{"settings", {{"pre_command", "\"tool.exe /q"}}}}, "/settings/pre_command: the opening quote has no closing quote"},
        {"absolute pre_command", {{"settings", {{"pre_command", "C:\\Tools\\x.exe"}}}},
         "/settings/pre_command: a command without a leading macro is taken relative"},
        {"relative pre_command 257", {{"settings", {{"pre_command", S(253) + ".exe"}}}},
         "/settings/pre_command: with the shortest install folder (C:\\) the command line is 260 characters long"},
        {"macro pre_command 260", {{"settings", {{"pre_command", "#System#\\" + S(251)}}}}, "/settings/pre_command: is 260 characters long"},
        {"closing document 260", {{"settings", {{"closing_document", "https://" + S(252)}}}},
         "/settings/closing_document: is 260 characters long"},
        {"closing document number", {{"settings", {{"closing_document", 5}}}}, "/settings/closing_document: must be a string, not a number"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome outcome = Load(c.manifest);
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.error.rfind(std::string("m.json: ") + c.error, 0), 0u) << outcome.error;
        EXPECT_EQ(outcome.error.find('\n'), std::string::npos) << "one line";
    }
}

TEST(ManifestRefusals, WholeRootRegistryKeys) {
    const char* keys[] = {"", "Software", "software", "SOFTWARE\\", "Software\\\\", "System", "system\\\\\\",
                          "Software64", "software64\\", "\\Software", "\\\\"};
    for (const char* root : {"HKLM", "HKCU", "HKCR", "HKU", "HKCC"}) {
        for (const char* key : keys) {
            SCOPED_TRACE(std::string(root) + " " + key);
            Outcome outcome = Load(json{{"registry", {{{"root", root}, {"key", key}}}}});
            EXPECT_FALSE(outcome.ok);
            EXPECT_NE(outcome.error.find("/registry/0/key: "), std::string::npos) << outcome.error;
            EXPECT_NE(outcome.error.find("would remove a whole root key"), std::string::npos) << outcome.error;
        }
    }
    for (const char* key : {"Software\\A", "Software\\\\Value", "SystemTools", "Software64\\Vendor", "Softwares"}) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(Load(json{{"registry", {{{"root", "HKLM"}, {"key", key}}}}}).ok);
    }
}

TEST(ManifestRefusals, MalformedJsonWithItsLocationAndAHint) {
    struct Case {
        std::string text;
        const char* error; // the beginning of the whole refusal
        const char* hint;  // what it goes on to say, or ""
    };
    const Case cases[] = {
        {"{\"messages\": {", "m.json:1:15: syntax error while parsing object key", ""},
        {"", "m.json:1:1: syntax error while parsing value", ""},
        {"{\"files\": [1,]}", "m.json:1:14: syntax error", "; JSON allows no comma after the last member or element"},
        {"{\"files\": [],\n  \"patterns\": []\n  ,\n}", "m.json:4:1: syntax error", "; JSON allows no comma after the last member"},
        {"{\n  // the files\n  \"files\": []\n}", "m.json:2:3: syntax error", "; JSON has no comments"},
        {"{ \"files\": [] /* none */ }", "m.json:1:15: syntax error", "; JSON has no comments"},
        {"{\"files\": [{\"folder\": \"C:\\Tools\"}]}", "m.json:1:27: syntax error", "; JSON doubles every backslash: write C:\\Tools as \"C:\\\\Tools\""},
        {std::string("\xFF\xFE{\0", 4), "m.json: the file is UTF-16", "save it as UTF-8"},
        {std::string("{\0\"\0", 4), "m.json: the file is UTF-16", ""},
        {"{\"messages\":\n {\"title\": \"Gr\xFC\xDF\"}}", "m.json:2:15: byte 0xFC is not UTF-8", "Latin-1 or Windows-1252"},
        {"{\"patterns\": [], \"patterns\": []}", "m.json:1:18: /patterns: the key is given twice", ""},
        {"{\"files\": [{\"folder\": \".\"}, {\"folder\": \".\", \"name\": \"a\", \"name\": \"b\"}]}",
         "m.json:1:58: /files/1/name: the key is given twice", ""},
        {"{\"messages\": {\"title\": \"\xC3\"}}", "m.json:1:", "not UTF-8"}, // invalid UTF-8
        // A control character in a key is escaped where the error names it.
        {"{\"\\n\": 9}", "m.json:1:2: /\\n: unknown key \"\\n\"", ""},
        {"{\"\\t\": 1, \"\\t\": 2}", "m.json:1:11: /\\t: the key is given twice", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Outcome outcome = Load(c.text);
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.rawError.rfind(c.error, 0), 0u) << outcome.rawError;
        EXPECT_NE(outcome.rawError.find(c.hint), std::string::npos) << outcome.rawError;
        EXPECT_EQ(outcome.rawError.find('\n'), std::string::npos);
    }
}

TEST(ManifestRefusals, TrailByteBackslashInPathTexts) {
    // In code page 932, 表 is 0x95 0x5C: the stub would split a path at its second byte.
    json manifest = {{"codepage", 932}, {"files", {File(".", "表.txt")}}};
    Outcome outcome = Load(manifest);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("/files/0/name: the character \"表\" ends in the byte of a backslash in code page 932"),
              std::string::npos)
        << outcome.error;
    for (const char* field : {"pattern", "registry", "group"}) {
        json m = {{"codepage", 932}};
        if (field == std::string("pattern")) m["patterns"] = {"ソフト\\*.log"};
        if (field == std::string("registry")) m["registry"] = {{{"root", "HKCU"}, {"key", "Software\\ソフト"}}};
        if (field == std::string("group")) m["folder_groups"] = {{{"folder", "C:\\ソフト"}}};
        EXPECT_FALSE(Load(m).ok) << field;
    }
    // Messages are not split at backslashes; there the character is fine.
    EXPECT_TRUE(Load(json{{"codepage", 932}, {"messages", {{"title", "表"}, {"confirm", "?"}}}}).ok);
}

TEST(ManifestLimits, BoundariesPass) {
    json manifest = {
        {"messages", {{"confirm", S(65535)}, {"read_only", "%s %% done"}}},
        {"files", {File("C:\\" + S(200), S(55)), File(".\\" + S(200), S(55)), File(".", S(256))}},
        {"folder_groups", {{{"folder", "C:\\" + S(256)}, {"second_folder", "C:\\" + S(256)}, {"parent_levels", 255}},
                           {{"folder", "C:\\" + S(200)}, {"file", S(55)}, {"parent_levels", 0}}}},
        {"registry", {{{"root", "HKCU"}, {"key", "Software\\" + S(510)}}}},
        {"patterns", {S(250) + "\\*.log", "#TempDir#\\" + S(249)}},
        {"settings", {{"pre_command", S(252) + ".exe"}, {"closing_document", "https://" + S(251)}}},
    };
    Outcome outcome = Load(manifest);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    const UninstallData& data = outcome.manifest.data;
    EXPECT_EQ(data.messages.size(), 16u);
    EXPECT_EQ(data.messages[MSG_CONFIRM].size(), 65535u);
    EXPECT_EQ(data.folderGroups[0].parentLevels, 255);
    EXPECT_EQ(data.registry[0].keyPath.size(), 519u);
    EXPECT_EQ(data.settings.preCommand->size(), 256u);
}

TEST(ManifestValues, TextsFlagsRootsAndSettings) {
    json manifest = {
        {"codepage", 1250},
        {"messages", {{"title", "Odinstalace Žluťoučký kůň"}, {"confirm", "Pokračovat?"}, {"files_in_use", "x"}}},
        {"files", {{{"folder", "."}, {"name", "a.dll"}, {"flags", {"shared_dll", "com_server", "check_in_use"}}},
                   {{"folder", ".\\fonts"}, {"name", "Kůň.TTF"}, {"flags", {"font"}}},
                   {{"folder", ".\\empty"}}}},
        {"folder_groups", {{{"folder", "C:\\Menu\\Kůň"}, {"second_folder", "C:\\Desk"}, {"file", "k.lnk"}, {"parent_levels", 1}}}},
        {"registry", {{{"root", "HKLM"}, {"key", "Software\\K"}},       {{"root", "hkey_current_user"}, {"key", "Software\\K"}},
                      {{"root", "HKCR"}, {"key", ".k"}},               {{"root", "HKU"}, {"key", ".DEFAULT\\Software\\K"}},
                      {{"root", "HKEY_CURRENT_CONFIG"}, {"key", "Software\\K"}}}},
        {"patterns", {"logs\\*.log"}},
        {"settings", {{"wait_for_pre_command", true}, {"themed_controls", true}, {"pre_command", "\"clean.exe\" /q"},
                      {"closing_document", nullptr}}},
    };
    Outcome outcome = Load(manifest);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_TRUE(outcome.warnings.empty()) << outcome.warnings[0];
    const UninstallData& data = outcome.manifest.data;
    EXPECT_EQ(outcome.manifest.codePage, 1250);
    EXPECT_EQ(data.messages[MSG_TITLE], "Odinstalace \x8Elu\x9Dou\xE8k\xFD k\xF9\xF2");
    EXPECT_EQ(data.messages[MSG_FINISHED], "");
    ASSERT_EQ(data.files.size(), 3u);
    EXPECT_EQ(data.files[0].flags, FILE_SHARED_DLL | FILE_COM_SERVER | FILE_CHECK_IN_USE);
    EXPECT_EQ(data.files[1].flags, FILE_FONT);
    EXPECT_EQ(data.files[2].name, "");
    EXPECT_EQ(data.files[2].flags, 0);
    EXPECT_EQ(data.folderGroups[0].parentLevels, 1);
    std::vector<uint32_t> roots;
    for (const RegistryItem& item : data.registry) roots.push_back(item.root);
    EXPECT_EQ(roots, (std::vector<uint32_t>{ROOT_LOCAL_MACHINE, ROOT_CURRENT_USER, ROOT_CLASSES_ROOT, ROOT_USERS, ROOT_CURRENT_CONFIG}));
    EXPECT_EQ(data.settings.flags, SETTINGS_WAIT_PRE_COMMAND | SETTINGS_THEMED_CONTROLS);
    EXPECT_EQ(data.settings.preCommand, std::optional<std::string>("\"clean.exe\" /q"));
    EXPECT_FALSE(data.settings.closingDocument.has_value());
}

TEST(ManifestValues, CodePageOverrideAndDefault) {
    json manifest = {{"codepage", 1251}, {"messages", {{"title", "é"}, {"confirm", "?"}}}};
    EXPECT_FALSE(Load(manifest.dump()).ok); // é is not in 1251
    Outcome overridden = Load(manifest.dump(), 1252);
    ASSERT_TRUE(overridden.ok) << overridden.error;
    EXPECT_EQ(overridden.manifest.codePage, 1252);
    EXPECT_EQ(overridden.manifest.data.messages[0], "\xE9");
    Outcome plain = Load(json{{"messages", {{"title", "é"}, {"confirm", "?"}}}});
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.manifest.codePage, 1252);
    EXPECT_EQ(plain.manifest.data.settings.flags, 0u);
}

TEST(ManifestWarnings, LikelyMistakesAreNamed) {
    struct Case {
        const char* name;
        json manifest;
        const char* warning;
    };
    const Case cases[] = {
        {"macro pattern without backslash", {{"patterns", {"#TempDir#*.tmp"}}}, "/patterns/0: warning: no backslash outside its macros"},
        {"backslash only inside a macro", {{"patterns", {"#Program Files#"}}}, "/patterns/0: warning: no backslash outside its macros"},
        {"unknown macro", {{"patterns", {"#Temp#\\*.tmp"}}}, "/patterns/0: warning: unknown macro \"#Temp#\""},
        {"climbing pattern", {{"patterns", {"..\\*.log"}}}, "/patterns/0: warning: climbs out"},
        {"wildcard folder", {{"patterns", {"log*\\a.log"}}}, "/patterns/0: warning: wildcards work in the file part only"},
        {"font not a font", {{"files", {{{"folder", "."}, {"name", "a.dll"}, {"flags", {"font"}}}}}},
         "/files/0/name: warning: flagged \"font\" but not named .ttf, .otf, .ttc or .fon"},
        {"macro in file folder", {{"files", {File("#AppData#\\X", "a")}}}, "/files/0/folder: warning: macros are not expanded in file entries"},
        {"relative file folder", {{"files", {File("sub", "a")}}}, "/files/0/folder: warning: neither \".\" nor a full path"},
        {"macro in folder group", {{"folder_groups", {{{"folder", "#AllUsersDocuments#\\X"}}}}},
         "/folder_groups/0/folder: warning: macros are not expanded in folder groups"},
        {"relative folder group", {{"folder_groups", {{{"folder", "C:\\A"}, {"second_folder", "B"}}}}},
         "/folder_groups/0/second_folder: warning: not a full path"},
        {"forward slash", {{"files", {File("C:/App", "a")}}}, "/files/0: warning: the uninstaller splits paths at backslashes only"},
        {"Software64 under HKCU", {{"registry", {{{"root", "HKCU"}, {"key", "Software64\\X"}}}}},
         "/registry/0/key: warning: \"Software64\" selects the 64-bit view under HKLM only"},
        {"Software64 glued", {{"registry", {{{"root", "HKLM"}, {"key", "Software64Tools"}}}}},
         "/registry/0/key: warning: begins with \"Software64\", which selects the 64-bit view and is read as \"SoftwareTools\""},
        {"doubled percent without %s", {{"messages", {{"read_only", "100%% sure?"}}}},
         "/messages/read_only: warning: without a \"%s\" this message is shown as written, so \"%%\" appears as two"},
        {"%s in an unformatted message", {{"messages", {{"finished", "Removed %s"}}}},
         "/messages/finished: warning: this message is shown as written"},
        {"long formatted message", {{"messages", {{"read_only", "%s" + S(800)}}}}, "/messages/read_only: warning: with a long path"},
        {"no confirm", json::object(), "/messages: warning: no \"confirm\" message"},
        {"in use without message", {{"files", {{{"folder", "."}, {"name", "a"}, {"flags", {"check_in_use"}}}}}},
         "/messages: warning: files are checked for being in use"},
        {"unquoted arguments", {{"settings", {{"pre_command", "tool.exe /s"}}}}, "/settings/pre_command: warning: holds a blank but no quotes"},
        {"unknown macro in command", {{"settings", {{"pre_command", "#Sys#\\a.exe"}}}}, "/settings/pre_command: warning: unknown macro"},
        {"wait without command", {{"settings", {{"wait_for_pre_command", true}}}}, "/settings/wait_for_pre_command: warning: has no effect"},
        {"relative document", {{"settings", {{"closing_document", "readme.htm"}}}}, "/settings/closing_document: warning: neither a web address"},
        {"macro in document", {{"settings", {{"closing_document", "#InstallDir#\\a.htm"}}}},
         "/settings/closing_document: warning: macros are not expanded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json manifest = c.manifest;
        if (std::string(c.name) != "no confirm") manifest["messages"]["confirm"] = "Remove?";
        if (std::string(c.name) != "in use without message") manifest["messages"]["files_in_use"] = "Close it";
        Outcome outcome = Load(manifest);
        ASSERT_TRUE(outcome.ok) << outcome.error;
        bool found = false;
        for (const std::string& warning : outcome.warnings) found = found || warning.rfind(std::string("m.json: ") + c.warning, 0) == 0;
        EXPECT_TRUE(found) << (outcome.warnings.empty() ? "no warnings" : outcome.warnings[0]);
    }
    // "%%s" makes the uninstaller format the text, so "%%" shows as one percent sign there.
    Outcome formatted = Load(json{{"messages", {{"confirm", "Remove?"}, {"read_only", "100%%s"}}}});
    ASSERT_TRUE(formatted.ok) << formatted.error;
    EXPECT_TRUE(formatted.warnings.empty()) << formatted.warnings[0];
    // A well-formed manifest draws none.
    Outcome quiet = Load(json{{"messages", {{"confirm", "Remove?"}, {"read_only", "%s is read-only (100%%)"}}},
                              {"files", {File(".", "a.ttf")}},
                              {"patterns", {"#TempDir#\\App\\*.tmp", "*.bak", "logs\\"}},
                              {"settings", {{"pre_command", "\"tool.exe\" /s"}, {"closing_document", "https://example.com/"}}}});
    ASSERT_TRUE(quiet.ok) << quiet.error;
    EXPECT_TRUE(quiet.warnings.empty()) << quiet.warnings[0];
}

TEST(ManifestDump, WritesEveryKeyAndReadsBackTheSameData) {
    UninstallData data;
    data.messages.assign(16, "");
    data.messages[MSG_TITLE] = "Caf\xE9";
    data.messages[MSG_FINISHED] = "${NAME} and $${x} stay as they are"; // no defines in uninstall data
    data.files = {{".", "a.exe", FILE_FONT | FILE_CHECK_IN_USE}};
    data.folderGroups = {{3, "C:\\M", "", "m.lnk"}};
    data.registry = {{ROOT_CLASSES_ROOT, ".q"}};
    data.patterns = {"*.bak"};
    data.settings.closingDocument = "https://example.com/";
    std::vector<std::string> problems, notes;
    std::string text = DumpManifest(data, *FindCodePage(1252), &problems, &notes);
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(notes.empty());
    json dumped = json::parse(text);
    EXPECT_EQ(dumped["codepage"], 1252);
    EXPECT_EQ(dumped["messages"].size(), 16u);
    EXPECT_EQ(dumped["messages"]["title"], "Café");
    EXPECT_EQ(dumped["messages"]["finished"], "$${NAME} and $$${x} stay as they are");
    EXPECT_EQ(dumped["files"][0]["flags"], json({"font", "check_in_use"}));
    EXPECT_EQ(dumped["folder_groups"][0]["parent_levels"], 3);
    EXPECT_EQ(dumped["registry"][0]["root"], "HKCR");
    EXPECT_FALSE(dumped["settings"].contains("pre_command"));
    Outcome back = Load(text);
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(EncodeUninstallData(back.manifest.data), EncodeUninstallData(data));
}

TEST(ManifestDump, ReportsWhatItCannotShow) {
    UninstallData data;
    data.messages = std::vector<std::string>(18, "");
    data.messages[1] = "a\x81z";
    data.files = {{".", "a", 0x31}};
    data.registry = {{0x80000004u, "X"}};
    data.settings.flags = 0x10 | SETTINGS_THEMED_CONTROLS;
    std::vector<std::string> problems, notes;
    json dumped = json::parse(DumpManifest(data, *FindCodePage(1252), &problems, &notes));
    EXPECT_EQ(dumped["messages"]["confirm"], "a\xEF\xBF\xBDz");
    EXPECT_EQ(dumped["registry"][0]["root"], "0x80000004");
    EXPECT_EQ(dumped["files"][0]["flags"], json({"shared_dll"}));
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].rfind("/messages/confirm: byte 0x81 (byte 1) is not defined", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1].rfind("/registry/0/root: 0x80000004", 0), 0u) << problems[1];
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_NE(notes[0].find("2 strings beyond message 15"), std::string::npos);
    EXPECT_NE(notes[1].find("/files/0/flags: bits 0x30"), std::string::npos);
    EXPECT_NE(notes[2].find("/settings: flag bits 0x10"), std::string::npos);
}

// Entries that would destroy what is not the application's, or do nothing: each refusal names its
// line, column and reason, and the entry's "allow" lifts it where an override exists.
TEST(ManifestSafety, RefusalsWithTheirLocationAndOverride) {
    struct Case {
        std::string entries; // the registry or files array, on line 2
        const char* error;   // the whole refusal's beginning
        const char* override; // "" when none lifts it
    };
    const Case cases[] = {
        {R"([{"root": "HKLM", "key": "Software/Demo"}])", "m.json:2:31: /registry/0/key: holds '/'", "slash"},
        {R"([{"root": "HKLM", "key": "HKEY_LOCAL_MACHINE\\Software\\Demo"}])",
         "m.json:2:31: /registry/0/key: begins with the root name \"HKEY_LOCAL_MACHINE\"", "root_name"},
        {R"([{"root": "HKCU", "key": "Software\\Demo"}, {"root": "HKCU", "key": "hkcu\\Software\\Demo"}])",
         "m.json:2:74: /registry/1/key: begins with the root name \"hkcu\"", "root_name"},
        {R"([{"root": "HKCU", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Run"}])",
         "m.json:2:31: /registry/0/key: is a key other programs share (Software\\Microsoft\\Windows\\CurrentVersion\\Run)", "shared_key"},
        {R"([{"root": "HKLM", "key": "Software\\Microsoft\\Windows"}])",
         "m.json:2:31: /registry/0/key: lies above a key other programs share (Software\\Microsoft\\Windows\\CurrentVersion\\Run)", "shared_key"},
        {R"([{"root": "HKLM", "key": "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"}])",
         "m.json:2:31: /registry/0/key: is a key other programs share (Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall)", "shared_key"},
        {R"([{"root": "HKLM", "key": "Software64\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"}])",
         "m.json:2:31: /registry/0/key: is a key other programs share (Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs)", "shared_key"},
        {R"([{"root": "HKLM", "key": "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"}])",
         "m.json:2:31: /registry/0/key: is a key other programs share (Software\\Microsoft\\Windows\\CurrentVersion\\Run)", "shared_key"},
        {R"([{"root": "HKLM", "key": "Software\\Policies"}])", "m.json:2:31: /registry/0/key: is a key other programs share (Software\\Policies)", "shared_key"},
        {R"([{"root": "HKCU", "key": "Software\\Classes\\CLSID"}])", "m.json:2:31: /registry/0/key: is a key other programs share (HKCR\\CLSID)", "shared_key"},
        {R"([{"root": "HKU", "key": ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"}])",
         "m.json:2:30: /registry/0/key: is a key other programs share (Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce)", "shared_key"},
        // Keys the uninstaller itself never removes: an override would not make the entry work.
        {R"([{"root": "HKCU", "key": "Software\\Microsoft"}])", "m.json:2:31: /registry/0/key: the uninstaller never removes this key", ""},
        {R"([{"root": "HKU", "key": ".DEFAULT"}])", "m.json:2:30: /registry/0/key: names a whole user's registry", ""},
        {R"([{"root": "HKCU", "key": "Software\\Demo", "value": "a\\b"}])", "m.json:2:56: /registry/0/value: a value name cannot hold a backslash", ""},
        {R"([{"root": "HKCU", "key": "Software\\Demo", "allow": ["shared"]}])", "m.json:2:66: /registry/0/allow/0: unknown override \"shared\"", ""},
        {R"([{"folder": ".", "name": "a.dll", "flags": ["shared_dll"]}, {"folder": ".\\", "name": "A.DLL"}])",
         "m.json:2:70: /files/1: repeats /files/0 (letter case aside): the shared DLL's count would be lowered twice", "duplicate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        std::string section = c.entries.find("\"root\"") != std::string::npos ? "registry" : "files";
        Outcome outcome = Load("{\"messages\": {\"confirm\": \"?\"},\n\"" + section + "\": " + c.entries + "}");
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.rawError.rfind(c.error, 0), 0u) << outcome.rawError;
        if (!*c.override) continue;
        json manifest = json::parse("{\"messages\": {\"confirm\": \"?\"}, \"" + section + "\": " + c.entries + "}");
        manifest[section].back()["allow"] = {c.override};
        Outcome allowed = Load(manifest);
        EXPECT_TRUE(allowed.ok) << allowed.error;
    }
    // Below a shared key, and a value in one, is the application's own.
    for (const char* key : {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", "Software\\Policies\\Demo",
                            "Software\\Classes\\CLSID\\{0D3E1F4A-1111-2222-3333-444455556666}", "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\\\Demo"}) {
        SCOPED_TRACE(key);
        Outcome outcome = Load(json{{"messages", {{"confirm", "?"}}}, {"registry", {{{"root", "HKLM"}, {"key", key}}}}});
        EXPECT_TRUE(outcome.ok) << outcome.error;
        EXPECT_TRUE(outcome.warnings.empty());
    }
    for (const char* key : {"CLSID", "Interface", "TypeLib", "AppID", "*", "Directory", "Folder"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(Load(json{{"registry", {{{"root", "HKCR"}, {"key", key}}}}}).ok);
        EXPECT_TRUE(Load(json{{"registry", {{{"root", "HKCR"}, {"key", std::string(key) + "\\shellex\\Demo"}}}}}).ok);
    }
}

// Warnings for what works but is likely not meant, with their location and number.
TEST(ManifestWarnings, SystemProgramsWindowsFolderAndRepeats) {
    struct Case {
        const char* manifest; // the text after the messages, on line 2
        const char* warning;
    };
    const Case cases[] = {
        {R"("settings": {"pre_command": "\"cmd.exe\" /c del x"}})",
         "m.json:2:14: /settings/pre_command: warning 1: \"cmd.exe\" runs from the install folder, where there is no cmd.exe, so "
         "nothing runs; write \"#System#\\cmd.exe\" to run the system's"},
        {R"("settings": {"pre_command": "\"MsiExec.exe\" /x {1}"}})", "m.json:2:14: /settings/pre_command: warning 1: \"MsiExec.exe\" runs from"},
        {R"("settings": {"pre_command": "rundll32.exe"}})", "m.json:2:14: /settings/pre_command: warning 1: \"rundll32.exe\" runs from"},
        {R"("settings": {"pre_command": "\"regsvr32\" /u /s x.dll"}})",
         "m.json:2:14: /settings/pre_command: warning 1: \"regsvr32\" runs from the install folder, where there is no regsvr32.exe"},
        {R"("files": [{"folder": "C:\\WINDOWS\\System32", "name": "demo.ocx"}]})",
         "m.json:2:11: /files/0: warning 1: a file in the Windows folder without \"shared_dll\""},
        {R"("files": [{"folder": ".", "name": "a.txt"}, {"folder": ".", "name": "A.txt"}]})",
         "m.json:2:45: /files/1: warning 1: repeats /files/0 (letter case aside)"},
        {R"("registry": [{"root": "HKCU", "key": "Software\\Demo"}, {"root": "hkcu", "key": "software\\demo"}]})",
         "m.json:2:57: /registry/1: warning 1: repeats /registry/0"},
        {R"("patterns": ["*.log", "*.LOG"]})", "m.json:2:23: /patterns/1: warning 1: repeats /patterns/0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.manifest);
        Outcome outcome = Load(std::string("{\"messages\": {\"confirm\": \"?\"},\n") + c.manifest);
        ASSERT_TRUE(outcome.ok) << outcome.rawError;
        ASSERT_EQ(outcome.rawWarnings.size(), 1u) << outcome.rawWarnings[0];
        EXPECT_EQ(outcome.rawWarnings[0].rfind(c.warning, 0), 0u) << outcome.rawWarnings[0];
    }
    // Through a folder macro, and with shared_dll, nothing is said.
    Outcome quiet = Load(json{{"messages", {{"confirm", "?"}}},
                              {"files", {{{"folder", "C:\\Windows\\System32"}, {"name", "demo.ocx"}, {"flags", {"shared_dll"}}}}},
                              {"settings", {{"pre_command", "\"#System#\\cmd.exe\" /c del x"}}}});
    ASSERT_TRUE(quiet.ok) << quiet.error;
    EXPECT_TRUE(quiet.warnings.empty()) << quiet.warnings[0];
}

// Percent signs as the uninstaller shows them: a message it never formats, or a formatted one
// without "%s", takes '%' as it stands; with "%s" a lone '%' stays too.
TEST(ManifestValues, PercentSignsAsTheUninstallerShowsThem) {
    Outcome outcome = Load(json{{"messages", {{"confirm", "Zu 100% sicher?"}, {"shared_file", "100% sicher?"},
                                              {"no_memory", "%s: 100% voll, 50%% frei"}, {"finished", "100%"}}}});
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_TRUE(outcome.warnings.empty()) << outcome.warnings[0];
    EXPECT_EQ(outcome.manifest.data.messages[MSG_SHARED_FILE], "100% sicher?");
}

TEST(ManifestFeedback, EveryErrorInOneRunUpToABound) {
    Outcome three = Load(std::string("{\n"
                                     "  \"messages\": {\"titel\": \"Demo\"},\n"
                                     "  \"files\": [\n"
                                     "    {\"folder\": \".\", \"name\": \"a.exe\", \"flags\": [\"fnt\"]},\n"
                                     "    {\"folder\": \"\", \"name\": \"b.exe\"}\n"
                                     "  ],\n"
                                     "  \"registry\": [{\"root\": \"HKLM\", \"key\": \"Software\"}]\n"
                                     "}\n"));
    EXPECT_FALSE(three.ok);
    EXPECT_EQ(three.rawError, "m.json:2:16: /messages/titel: unknown message \"titel\"\n"
                              "m.json:4:48: /files/0/flags/0: unknown flag \"fnt\" (known: shared_dll, font, com_server, check_in_use)\n"
                              "m.json:5:6: /files/1/folder: is empty: use \".\" for the install folder or a full path\n"
                              "m.json:7:33: /registry/0/key: \"Software\" would remove a whole root key; name the application's own key");
    json many = {{"patterns", json::array()}};
    for (int i = 0; i < 30; ++i) many["patterns"].push_back("");
    Outcome bounded = Load(many);
    EXPECT_EQ(std::count(bounded.error.begin(), bounded.error.end(), '\n'), 20) << bounded.error;
    EXPECT_NE(bounded.error.find("/patterns/19: is empty"), std::string::npos);
    EXPECT_EQ(bounded.error.substr(bounded.error.rfind('\n') + 1), "m.json: stopped after 20 errors");

    // Warnings too come in the file's order, numbered in it: the patterns are written first here,
    // though the files are checked first and repeats last of all.
    Outcome warned = Load(std::string("{\"messages\": {\"confirm\": \"?\"},\n"
                                      "  \"patterns\": [\"*.log\", \"*.LOG\"],\n"
                                      "  \"files\": [{\"folder\": \"C:\\\\WINDOWS\", \"name\": \"a.ocx\"}]}\n"));
    ASSERT_TRUE(warned.ok) << warned.rawError;
    ASSERT_EQ(warned.rawWarnings.size(), 2u);
    EXPECT_EQ(warned.rawWarnings[0].rfind("m.json:2:25: /patterns/1: warning 1: repeats /patterns/0", 0), 0u)
        << warned.rawWarnings[0];
    EXPECT_EQ(warned.rawWarnings[1].rfind("m.json:3:13: /files/0: warning 2: a file in the Windows folder", 0), 0u)
        << warned.rawWarnings[1];
}

TEST(ManifestDefines, NamesStandForTheirValuesInEveryText) {
    LoadOptions options;
    options.defines = {{"VENDOR", "Acme"}, {"FONTS", "D:\\Windows\\Fonts"}};
    Outcome outcome = Load(std::string(R"j({"messages": {"confirm": "Remove ${VENDOR}? ($${VENDOR} stays)"},
        "files": [{"folder": "${FONTS}", "name": "${VENDOR}.ttf", "flags": ["font", "shared_dll"]}],
        "registry": [{"root": "HKCU", "key": "Software\\${VENDOR}"}]})j"), options);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.manifest.data.messages[MSG_CONFIRM], "Remove Acme? (${VENDOR} stays)");
    EXPECT_EQ(outcome.manifest.data.files[0].folder, "D:\\Windows\\Fonts");
    EXPECT_EQ(outcome.manifest.data.files[0].name, "Acme.ttf");
    EXPECT_EQ(outcome.manifest.data.registry[0].keyPath, "Software\\Acme");
    Outcome undefined = Load(std::string("{\"messages\": {\"confirm\": \"?\"},\n \"patterns\": [\"${LOGS}\\\\*.log\", \"${VENDOR\"]}"), options);
    EXPECT_EQ(undefined.rawError, "m.json:2:15: /patterns/0: ${LOGS} is not defined; give it with --define LOGS=VALUE\n"
                                  "m.json:2:33: /patterns/1: \"${\" without its closing \"}\" (write \"$${\" for the text ${)");
    // A name across a line break stays on the error's one line.
    Outcome broken = Load(std::string("{\"messages\": {\"confirm\": \"${a\\n\\nb}\"}}"), options);
    EXPECT_EQ(broken.rawError, "m.json:1:15: /messages/confirm: \"${a\\n\\nb}\" is not defined; a define's name holds no "
                               "control characters");
}

TEST(ManifestDump, RegistryValuesInThePlainForm) {
    Outcome plain = Load(json{{"messages", {{"confirm", "?"}}},
                              {"registry", {{{"root", "HKCU"}, {"key", "Software\\Microsoft\\Windows\\CurrentVersion\\Run"}, {"value", "Demo"}},
                                            {{"root", "HKCU"}, {"key", "Software\\Demo"}, {"value", ""}},
                                            {{"root", "HKCU"}, {"key", "Software\\Demo\\\\Level"}},
                                            {{"root", "HKCU"}, {"key", "Software\\Demo"}}}}});
    ASSERT_TRUE(plain.ok) << plain.error;
    const std::vector<RegistryItem>& items = plain.manifest.data.registry;
    EXPECT_EQ(items[0].keyPath, "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\\\Demo");
    EXPECT_EQ(items[1].keyPath, "Software\\Demo\\\\");
    json dumped = json::parse(DumpManifest(plain.manifest.data, *FindCodePage(1252), nullptr, nullptr));
    EXPECT_EQ(dumped["registry"], json::parse(R"([
        {"root": "HKCU", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "value": "Demo"},
        {"root": "HKCU", "key": "Software\\Demo", "value": ""},
        {"root": "HKCU", "key": "Software\\Demo", "value": "Level"},
        {"root": "HKCU", "key": "Software\\Demo"}])"));
    Outcome back = Load(dumped.dump());
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(EncodeUninstallData(back.manifest.data), EncodeUninstallData(plain.manifest.data));
    // What an override lets through is dumped with it, so that the dump builds again.
    UninstallData data;
    data.messages.assign(MSG_COUNT, "");
    data.files = {{".", "a.dll", FILE_SHARED_DLL}, {".", "A.dll", FILE_SHARED_DLL}};
    data.registry = {{ROOT_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"}, {ROOT_LOCAL_MACHINE, "Software/Demo"}};
    dumped = json::parse(DumpManifest(data, *FindCodePage(1252), nullptr, nullptr));
    EXPECT_FALSE(dumped["files"][0].contains("allow"));
    EXPECT_EQ(dumped["files"][1]["allow"], json({"duplicate"}));
    EXPECT_EQ(dumped["registry"][0]["allow"], json({"shared_key"}));
    EXPECT_EQ(dumped["registry"][1]["allow"], json({"slash"}));
    Outcome rebuilt = Load(dumped.dump());
    ASSERT_TRUE(rebuilt.ok) << rebuilt.error;
    EXPECT_EQ(EncodeUninstallData(rebuilt.manifest.data), EncodeUninstallData(data));
}
