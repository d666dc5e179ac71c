// Reading, checking and writing manifests.
//
// The checks follow what the stub does with each text: file entries go through a 520-byte
// working buffer and a 260-byte path, folder groups through 780 bytes, registry key paths
// through 520, every composed path holds at most 259 characters, and the messages that carry
// a path are formatted by wsprintfA with exactly one string argument. A relative text is
// measured with the shortest install folder there is, a drive root such as "C:\" (3
// characters), so a relative entry that passes here can still be too long for a deep install
// folder; the stub skips such an entry at run time.
#include "manifest.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <set>
#include <stdexcept>

namespace quillon {

using nlohmann::json;
using nlohmann::ordered_json;

const char* const kMessageNames[MSG_COUNT] = {
    "title",     "confirm",     "finished",      "yes",           "yes_to_all",       "no",
    "no_to_all", "no_memory",   "read_error",    "read_only",     "shared_file",      "status_files",
    "status_groups", "status_folders", "status_registry", "files_in_use",
};

namespace {

enum { kPathMax = PATH_SIZE - 1, kShortestInstallDir = 3 };

const char* const kMacroNames[] = {
    "Windows", "System", "TempDir", "CommonFiles", "Program Files", "MyDocuments", "Desktop", "AppData",
    "LocalAppData", "AllUsersAppData", "AllUsersDocuments", "AllUsersDesktop", "UserDir", "AllUsersDir",
    "InstallDir",
};

struct FlagName {
    const char* name;
    uint8_t bit;
};
const FlagName kFlagNames[] = {
    {"shared_dll", FILE_SHARED_DLL},
    {"font", FILE_FONT},
    {"com_server", FILE_COM_SERVER},
    {"check_in_use", FILE_CHECK_IN_USE},
};

struct RootNameEntry {
    const char* shortName;
    const char* longName;
    uint32_t value;
};
const RootNameEntry kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", ROOT_LOCAL_MACHINE}, {"HKCU", "HKEY_CURRENT_USER", ROOT_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", ROOT_CLASSES_ROOT},   {"HKU", "HKEY_USERS", ROOT_USERS},
    {"HKCC", "HKEY_CURRENT_CONFIG", ROOT_CURRENT_CONFIG},
};

// The messages that the stub formats with a path ("%s"); all others are shown as they stand.
bool IsFormattedMessage(int number) {
    return number == MSG_NO_MEMORY || number == MSG_READ_ERROR || number == MSG_READ_ONLY || number == MSG_SHARED_FILE;
}

// Folding only A to Z, as the stub compares names.
std::string FoldCase(const std::string& text) {
    std::string folded = text;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool IsAbsolutePath(const std::string& path) {
    bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && path[2] == '\\';
    return drive || path.compare(0, 2, "\\\\") == 0;
}

bool IsKnownMacro(const std::string& token) {
    for (const char* name : kMacroNames)
        if (FoldCase(token) == FoldCase(std::string("#") + name + "#")) return true;
    return false;
}

// The macro tokens of a text as the stub splits them: a '#', a name, the next '#'.
struct MacroScan {
    std::vector<std::string> tokens;
    std::string outside; // the text with every token taken out
};
MacroScan ScanMacros(const std::string& text) {
    MacroScan scan;
    size_t at = 0;
    while (at < text.size()) {
        size_t open = text.find('#', at);
        if (open == std::string::npos) break;
        size_t close = text.find('#', open + 1);
        if (close == std::string::npos) break;
        scan.outside += text.substr(at, open - at);
        scan.tokens.push_back(text.substr(open, close - open + 1));
        at = close + 1;
    }
    scan.outside += text.substr(at);
    return scan;
}

// A JSON Pointer to the key, with control characters written as JSON escapes (\n, \u0001) so
// that an error naming it stays on one line.
std::string EscapePointer(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '~') out += "~0";
        else if (c == '/') out += "~1";
        else if (static_cast<unsigned char>(c) < 0x20) {
            std::string quoted = json(std::string(1, c)).dump();
            out += quoted.substr(1, quoted.size() - 2);
        } else out += c;
    }
    return out;
}

std::string Quote(const std::string& text) { return json(text).dump(-1, ' ', false, json::error_handler_t::replace); }

struct ManifestError : std::runtime_error {
    ManifestError(const std::string& path, const std::string& what) : std::runtime_error(what), path(path) {}
    std::string path;
};

class Checker {
public:
    Checker(const CodePage& page, std::vector<std::string>& warnings, const std::string& name)
        : page_(page), warnings_(warnings), name_(name) {}

    [[noreturn]] void Fail(const std::string& path, const std::string& what) { throw ManifestError(path, what); }
    void Warn(const std::string& path, const std::string& what) {
        warnings_.push_back(name_ + ": " + (path.empty() ? "/" : path) + ": warning: " + what);
    }

    void ExpectObject(const json& value, const std::string& path, std::initializer_list<const char*> keys) {
        if (!value.is_object()) Fail(path.empty() ? "/" : path, "must be an object, not " + TypeName(value));
        for (auto item = value.begin(); item != value.end(); ++item) {
            bool known = false;
            for (const char* key : keys) known = known || item.key() == key;
            if (!known) {
                std::string list;
                for (const char* key : keys) list += std::string(list.empty() ? "" : ", ") + key;
                Fail(path + "/" + EscapePointer(item.key()), "unknown key " + Quote(item.key()) + " (known: " + list + ")");
            }
        }
    }
    void ExpectArray(const json& value, const std::string& path) {
        if (!value.is_array()) Fail(path, "must be an array, not " + TypeName(value));
    }
    static std::string TypeName(const json& value) {
        if (value.is_number_float()) return "a number with a fraction";
        if (value.is_number()) return "a number";
        if (value.is_null()) return "null";
        std::string name = value.type_name();
        return (name == "object" || name == "array") ? "an " + name : "a " + name;
    }

    // A text converted to the code page; every text of the format is NUL-terminated in the stub.
    std::string Text(const json& value, const std::string& path) {
        if (!value.is_string()) Fail(path, "must be a string, not " + TypeName(value));
        std::string converted, error;
        if (!page_.FromUtf8(value.get<std::string>(), &converted, &error)) Fail(path, error);
        return converted;
    }

    // Path texts are split at backslashes byte by byte in the stub; a double-byte character
    // whose second byte is 0x5C would be split in two.
    void CheckPathBytes(const std::string& text, const std::string& path) {
        for (size_t at = 0; at < text.size(); ++at) {
            if (text[at] == '\\' && page_.IsTrailByte(text, at)) {
                std::string character;
                page_.ToUtf8(text.substr(at - 1, 2), &character, nullptr, true);
                Fail(path, "the character " + Quote(character) + " ends in the byte of a backslash in code page " +
                               std::to_string(page_.number()) + "; the uninstaller would split the path there");
            }
        }
    }

    void WarnMacrosNotExpanded(const std::string& text, const std::string& path, const char* where) {
        for (const std::string& token : ScanMacros(text).tokens) {
            if (IsKnownMacro(token)) {
                Warn(path, std::string("macros are not expanded in ") + where + ": " + Quote(token) +
                               " stays as written; give the full path");
                return;
            }
        }
    }

    void WarnForwardSlash(const std::string& text, const std::string& path) {
        if (text.find('/') != std::string::npos)
            Warn(path, "the uninstaller splits paths at backslashes only; '/' is taken as part of a name");
    }

private:
    const CodePage& page_;
    std::vector<std::string>& warnings_;
    const std::string& name_;
};

void CheckMessage(Checker& checker, int number, const std::string& text, const std::string& path) {
    if (text.size() > MESSAGE_LENGTH_MAX)
        checker.Fail(path, "the message is " + std::to_string(text.size()) + " bytes long; a message holds at most 65,535");
    int conversions = 0;
    bool doubled = false;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') continue;
        char next = at + 1 < text.size() ? text[at + 1] : '\0';
        if (next == 's') ++conversions;
        else if (next == '%') doubled = true;
        else if (IsFormattedMessage(number)) {
            std::string shown = next ? std::string("%") + next : std::string("%");
            checker.Fail(path, Quote(shown) + " at byte " + std::to_string(at) +
                                   " is a conversion the uninstaller cannot fill: the path goes into one \"%s\", "
                                   "and \"%%\" writes a percent sign");
        }
        ++at;
    }
    if (IsFormattedMessage(number)) {
        if (conversions > 1)
            checker.Fail(path, "holds " + std::to_string(conversions) + " \"%s\"; the uninstaller fills exactly one, with the path");
        // The uninstaller formats a text only when "%s" occurs in it anywhere (even as in "%%s").
        if (doubled && text.find("%s") == std::string::npos)
            checker.Warn(path, "without a \"%s\" the message is shown unformatted, so \"%%\" appears as two percent signs");
        if (conversions == 1 && text.size() - 2 + kPathMax > MESSAGE_TEXT_SIZE - 1)
            checker.Warn(path, "with a long path the formatted message may be cut at 1,023 bytes");
    } else if (conversions > 0 || doubled) {
        checker.Warn(path, "this message is shown as written, without formatting: \"%s\" and \"%%\" appear as they stand");
    }
}

void LoadMessages(Checker& checker, const json& messages, std::vector<std::string>& out) {
    const std::string base = "/messages";
    if (!messages.is_object()) checker.Fail(base, "must be an object of message texts by name, not " + Checker::TypeName(messages));
    out.assign(MSG_COUNT, std::string());
    for (auto item = messages.begin(); item != messages.end(); ++item) {
        int number = -1;
        for (int i = 0; i < MSG_COUNT; ++i)
            if (item.key() == kMessageNames[i]) number = i;
        std::string path = base + "/" + EscapePointer(item.key());
        if (number < 0) checker.Fail(path, "unknown message " + Quote(item.key()));
        out[number] = checker.Text(item.value(), path);
        CheckMessage(checker, number, out[number], path);
    }
}

void LoadFiles(Checker& checker, const json& files, std::vector<FileItem>& out) {
    checker.ExpectArray(files, "/files");
    for (size_t i = 0; i < files.size(); ++i) {
        const json& entry = files[i];
        const std::string path = "/files/" + std::to_string(i);
        checker.ExpectObject(entry, path, {"folder", "name", "flags"});
        if (!entry.contains("folder")) checker.Fail(path, "missing key \"folder\" (\".\" is the install folder)");
        FileItem item;
        item.folder = checker.Text(entry["folder"], path + "/folder");
        if (entry.contains("name")) item.name = checker.Text(entry["name"], path + "/name");
        if (entry.contains("flags")) {
            const json& flags = entry["flags"];
            checker.ExpectArray(flags, path + "/flags");
            for (size_t f = 0; f < flags.size(); ++f) {
                std::string flagPath = path + "/flags/" + std::to_string(f);
                if (!flags[f].is_string()) checker.Fail(flagPath, "must be a string, not " + Checker::TypeName(flags[f]));
                std::string flag = flags[f].get<std::string>();
                uint8_t bit = 0;
                for (const FlagName& known : kFlagNames)
                    if (flag == known.name) bit = known.bit;
                if (!bit) checker.Fail(flagPath, "unknown flag " + Quote(flag) + " (known: shared_dll, font, com_server, check_in_use)");
                item.flags |= bit;
            }
        }

        const std::string folderPath = path + "/folder";
        if (item.folder.empty()) checker.Fail(folderPath, "is empty: use \".\" for the install folder or a full path");
        bool relative = item.folder[0] == '.';
        if (relative && item.folder != "." && item.folder.compare(0, 2, ".\\") != 0)
            checker.Fail(folderPath, "a folder that begins with \".\" stands for the install folder only as \".\" or \".\\\\sub\"; " +
                                         Quote(entry["folder"].get<std::string>()) + " would be read as the install folder itself");
        checker.CheckPathBytes(item.folder, folderPath);
        checker.CheckPathBytes(item.name, path + "/name");
        size_t texts = item.folder.size() + item.name.size() + 2;
        if (texts > FILE_ENTRY_TEXT_SIZE)
            checker.Fail(path, "folder and name take " + std::to_string(texts) +
                                   " bytes with their NULs; the uninstaller holds 520");
        // A relative entry is the install folder (always ending in a backslash) and what follows ".\".
        std::string composed = relative ? std::string(kShortestInstallDir - 1, 'x') + "\\" +
                                              (item.folder.size() > 2 ? item.folder.substr(2) : "")
                                        : item.folder;
        if (!item.name.empty()) {
            if (!composed.empty() && composed.back() != '\\') composed += '\\';
            composed += item.name;
        }
        if (composed.size() > kPathMax)
            checker.Fail(path, std::string(relative ? "with the shortest install folder (C:\\) the" : "the") + " path is " +
                                   std::to_string(composed.size()) + " characters long; a path holds at most 259");
        if (!relative) {
            checker.WarnMacrosNotExpanded(item.folder, folderPath, "file entries");
            if (!IsAbsolutePath(item.folder))
                checker.Warn(folderPath, "neither \".\" nor a full path: the uninstaller takes it relative to its current folder");
        }
        checker.WarnForwardSlash(item.folder + item.name, path);
        if ((item.flags & FILE_FONT) && !item.name.empty()) {
            std::string lower = FoldCase(item.name);
            bool fontName = false;
            for (const char* extension : {".ttf", ".otf", ".ttc", ".fon"})
                fontName = fontName || (lower.size() > 4 && lower.compare(lower.size() - 4, 4, extension) == 0);
            if (!fontName) checker.Warn(path + "/name", "flagged \"font\" but not named .ttf, .otf, .ttc or .fon");
        }
        out.push_back(std::move(item));
    }
}

void LoadFolderGroups(Checker& checker, const json& groups, std::vector<FolderGroupItem>& out) {
    checker.ExpectArray(groups, "/folder_groups");
    for (size_t i = 0; i < groups.size(); ++i) {
        const json& entry = groups[i];
        const std::string path = "/folder_groups/" + std::to_string(i);
        checker.ExpectObject(entry, path, {"folder", "second_folder", "file", "parent_levels"});
        if (!entry.contains("folder")) checker.Fail(path, "missing key \"folder\"");
        FolderGroupItem item;
        item.folder = checker.Text(entry["folder"], path + "/folder");
        if (entry.contains("second_folder")) item.secondFolder = checker.Text(entry["second_folder"], path + "/second_folder");
        if (entry.contains("file")) item.fileName = checker.Text(entry["file"], path + "/file");
        if (entry.contains("parent_levels")) {
            const json& levels = entry["parent_levels"];
            const std::string levelsPath = path + "/parent_levels";
            if (!levels.is_number_integer()) checker.Fail(levelsPath, "must be a whole number from 0 to 255, not " + Checker::TypeName(levels));
            if (levels.is_number_unsigned() ? levels.get<uint64_t>() > 255 : (levels.get<int64_t>() < 0 || levels.get<int64_t>() > 255))
                checker.Fail(levelsPath, "is " + levels.dump() + "; parent levels run from 0 to 255");
            item.parentLevels = static_cast<uint8_t>(levels.get<int64_t>());
        }
        if (item.folder.empty()) checker.Fail(path + "/folder", "is empty: a folder group needs its folder's full path");
        const struct {
            const std::string& text;
            const char* key;
        } texts[] = {{item.folder, "folder"}, {item.secondFolder, "second_folder"}, {item.fileName, "file"}};
        for (const auto& text : texts) checker.CheckPathBytes(text.text, path + "/" + text.key);
        size_t size = item.folder.size() + item.secondFolder.size() + item.fileName.size() + 3;
        if (size > FOLDER_GROUP_TEXT_SIZE)
            checker.Fail(path, "the three texts take " + std::to_string(size) + " bytes with their NULs; the uninstaller holds 780");
        for (const auto& text : texts) {
            if (text.key == std::string("file")) continue;
            if (text.text.size() > kPathMax)
                checker.Fail(path + "/" + text.key, "is " + std::to_string(text.text.size()) + " characters long; a path holds at most 259");
            if (!text.text.empty()) {
                checker.WarnMacrosNotExpanded(text.text, path + "/" + text.key, "folder groups");
                if (!IsAbsolutePath(text.text))
                    checker.Warn(path + "/" + text.key, "not a full path: folder groups take their folders as they stand");
                checker.WarnForwardSlash(text.text, path + "/" + text.key);
            }
        }
        if (!item.fileName.empty()) {
            size_t length = item.folder.size() + (item.folder.back() == '\\' ? 0 : 1) + item.fileName.size();
            if (length > kPathMax)
                checker.Fail(path + "/file", "folder and file make a path of " + std::to_string(length) +
                                                 " characters; a path holds at most 259");
        }
        out.push_back(std::move(item));
    }
}

void LoadRegistry(Checker& checker, const json& entries, std::vector<RegistryItem>& out) {
    checker.ExpectArray(entries, "/registry");
    for (size_t i = 0; i < entries.size(); ++i) {
        const json& entry = entries[i];
        const std::string path = "/registry/" + std::to_string(i);
        checker.ExpectObject(entry, path, {"root", "key"});
        if (!entry.contains("root")) checker.Fail(path, "missing key \"root\"");
        if (!entry.contains("key")) checker.Fail(path, "missing key \"key\"");
        const json& root = entry["root"];
        if (!root.is_string()) checker.Fail(path + "/root", "must be a string, not " + Checker::TypeName(root));
        RegistryItem item;
        bool known = false;
        std::string rootName = FoldCase(root.get<std::string>());
        for (const RootNameEntry& candidate : kRoots) {
            if (rootName == FoldCase(candidate.shortName) || rootName == FoldCase(candidate.longName)) {
                item.root = candidate.value;
                known = true;
            }
        }
        if (!known) checker.Fail(path + "/root", "unknown root " + Quote(root.get<std::string>()) + " (known: HKLM, HKCU, HKCR, HKU, HKCC and their HKEY_ names)");
        item.keyPath = checker.Text(entry["key"], path + "/key");
        const std::string keyPath = path + "/key";
        checker.CheckPathBytes(item.keyPath, keyPath);
        if (item.keyPath.size() + 1 > REGISTRY_ENTRY_TEXT_SIZE)
            checker.Fail(keyPath, "is " + std::to_string(item.keyPath.size()) + " bytes long; a key text holds at most 519");
        std::string trimmed = item.keyPath;
        while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
        size_t lead = trimmed.find_first_not_of('\\');
        trimmed = lead == std::string::npos ? std::string() : trimmed.substr(lead);
        std::string folded = FoldCase(trimmed);
        if (folded.empty() || folded == "software" || folded == "system" || folded == "software64")
            checker.Fail(keyPath, Quote(entry["key"].get<std::string>()) + " would remove a whole root key; name the application's own key");
        bool software64 = FoldCase(item.keyPath.substr(0, 10)) == "software64";
        if (software64 && item.root == ROOT_LOCAL_MACHINE && item.keyPath.size() > 10 && item.keyPath[10] != '\\')
            checker.Warn(keyPath, "begins with \"Software64\", which selects the 64-bit view and is read as \"Software" +
                                      entry["key"].get<std::string>().substr(10) + "\"");
        if (software64 && item.root != ROOT_LOCAL_MACHINE)
            checker.Warn(keyPath, "\"Software64\" selects the 64-bit view under HKLM only; here it names a key called Software64");
        out.push_back(std::move(item));
    }
}

void LoadPatterns(Checker& checker, const json& patterns, std::vector<std::string>& out) {
    checker.ExpectArray(patterns, "/patterns");
    for (size_t i = 0; i < patterns.size(); ++i) {
        const std::string path = "/patterns/" + std::to_string(i);
        std::string pattern = checker.Text(patterns[i], path);
        if (pattern.empty()) checker.Fail(path, "is empty; an empty string would end the pattern list");
        checker.CheckPathBytes(pattern, path);
        bool macro = pattern.find('#') != std::string::npos;
        if (macro) {
            if (pattern.size() > kPathMax)
                checker.Fail(path, "is " + std::to_string(pattern.size()) + " characters long; a path holds at most 259");
            MacroScan scan = ScanMacros(pattern);
            for (const std::string& token : scan.tokens)
                if (!IsKnownMacro(token)) checker.Warn(path, "unknown macro " + Quote(token) + " expands to nothing");
            if (scan.outside.find('\\') == std::string::npos)
                checker.Warn(path, "no backslash outside its macros: the folder and the file pattern cannot be told apart "
                                   "(write e.g. \"#TempDir#\\\\*.tmp\")");
        } else {
            if (IsAbsolutePath(pattern))
                checker.Fail(path, "a pattern without a macro is taken relative to the install folder; use a macro "
                                   "such as #TempDir# for another folder");
            if (pattern.size() + kShortestInstallDir > kPathMax)
                checker.Fail(path, "with the shortest install folder (C:\\) the path is " +
                                       std::to_string(pattern.size() + kShortestInstallDir) +
                                       " characters long; a path holds at most 259");
        }
        size_t lastBackslash = pattern.rfind('\\');
        if (lastBackslash != std::string::npos && pattern.find_first_of("*?") < lastBackslash)
            checker.Warn(path, "wildcards work in the file part only; a folder with '*' or '?' is never found");
        std::string withSeparators = "\\" + pattern + "\\";
        if (withSeparators.find("\\..\\") != std::string::npos)
            checker.Warn(path, "climbs out with \"..\": every matching file in that whole folder tree is removed");
        checker.WarnForwardSlash(pattern, path);
        out.push_back(std::move(pattern));
    }
}

std::optional<std::string> OptionalText(Checker& checker, const json& settings, const char* key) {
    if (!settings.contains(key) || settings[key].is_null()) return std::nullopt;
    std::string path = std::string("/settings/") + key;
    std::string text = checker.Text(settings[key], path);
    if (text.find_first_not_of(' ') == std::string::npos)
        checker.Fail(path, "is empty; leave the key out for none");
    checker.CheckPathBytes(text, path);
    return text;
}

void CheckPreCommand(Checker& checker, const std::string& command) {
    const std::string path = "/settings/pre_command";
    size_t body = command[0] == '"' ? 1 : 0;
    body = command.find_first_not_of(' ', body);
    if (body == std::string::npos) checker.Fail(path, "names no program");
    if (command[0] == '"' && command.find('"', 1) == std::string::npos)
        checker.Fail(path, "the opening quote has no closing quote; the uninstaller would take the quote as part of the name");
    std::string rest = command.substr(body);
    if (rest[0] == '#') {
        if (command.size() > kPathMax)
            checker.Fail(path, "is " + std::to_string(command.size()) + " characters long; the command line holds at most 259");
        MacroScan scan = ScanMacros(rest);
        for (const std::string& token : scan.tokens)
            if (!IsKnownMacro(token)) checker.Warn(path, "unknown macro " + Quote(token) + " expands to nothing");
    } else {
        if (IsAbsolutePath(rest))
            checker.Fail(path, "a command without a leading macro is taken relative to the install folder; begin it "
                               "with a macro such as #System# to run a program elsewhere");
        if (command.size() + kShortestInstallDir > kPathMax)
            checker.Fail(path, "with the shortest install folder (C:\\) the command line is " +
                                   std::to_string(command.size() + kShortestInstallDir) +
                                   " characters long; it holds at most 259");
    }
    if (command[0] != '"' && command.find(' ', body) != std::string::npos)
        checker.Warn(path, "holds a blank but no quotes: the whole line is taken as one program name; put the program "
                           "in quotes to pass arguments");
}

void CheckClosingDocument(Checker& checker, const std::string& document) {
    const std::string path = "/settings/closing_document";
    if (document.size() > kPathMax)
        checker.Fail(path, "is " + std::to_string(document.size()) + " characters long; the uninstaller opens at most 259");
    std::string lower = FoldCase(document);
    size_t colon = lower.find(':');
    bool url = colon != std::string::npos && colon > 1 && lower.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789+-.") == colon;
    if (!url && !IsAbsolutePath(document))
        checker.Warn(path, "neither a web address nor a full path: it would be looked for beside the install folder");
    if (!url && ScanMacros(document).tokens.size() > 0)
        checker.Warn(path, "macros are not expanded in the closing document");
}

void LoadSettings(Checker& checker, const json& settings, Settings& out) {
    checker.ExpectObject(settings, "/settings", {"wait_for_pre_command", "themed_controls", "pre_command", "closing_document"});
    for (const char* key : {"wait_for_pre_command", "themed_controls"}) {
        if (!settings.contains(key)) continue;
        if (!settings[key].is_boolean())
            checker.Fail(std::string("/settings/") + key, "must be true or false, not " + Checker::TypeName(settings[key]));
    }
    if (settings.value("wait_for_pre_command", false)) out.flags |= SETTINGS_WAIT_PRE_COMMAND;
    if (settings.value("themed_controls", false)) out.flags |= SETTINGS_THEMED_CONTROLS;
    out.preCommand = OptionalText(checker, settings, "pre_command");
    out.closingDocument = OptionalText(checker, settings, "closing_document");
    if (out.preCommand) CheckPreCommand(checker, *out.preCommand);
    if (out.closingDocument) CheckClosingDocument(checker, *out.closingDocument);
    if ((out.flags & SETTINGS_WAIT_PRE_COMMAND) && !out.preCommand)
        checker.Warn("/settings/wait_for_pre_command", "has no effect without a pre_command");
}

// Parses JSON text and refuses keys given twice in one object, which the parser would
// otherwise resolve silently by keeping the last.
json ParseStrict(const std::string& text, std::string* duplicatePath) {
    struct Frame {
        explicit Frame(bool isArray) : array(isArray) {}
        bool array;
        size_t index = 0;
        std::set<std::string> keys;
        std::string key;
    };
    std::vector<Frame> frames;
    auto pathOf = [&frames](size_t depth) {
        std::string path;
        for (size_t i = 0; i < depth; ++i)
            path += "/" + (frames[i].array ? std::to_string(frames[i].index) : EscapePointer(frames[i].key));
        return path;
    };
    auto afterValue = [&frames]() {
        if (!frames.empty() && frames.back().array) ++frames.back().index;
    };
    json::parser_callback_t callback = [&](int, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start: frames.emplace_back(false); break;
        case json::parse_event_t::array_start: frames.emplace_back(true); break;
        case json::parse_event_t::key: {
            Frame& frame = frames.back();
            frame.key = parsed.get<std::string>();
            if (!frame.keys.insert(frame.key).second && duplicatePath->empty()) *duplicatePath = pathOf(frames.size());
            break;
        }
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            frames.pop_back();
            afterValue();
            break;
        case json::parse_event_t::value: afterValue(); break;
        }
        return true;
    };
    return json::parse(text, callback);
}

} // namespace

std::string RootName(uint32_t root) {
    for (const RootNameEntry& entry : kRoots)
        if (entry.value == root) return entry.shortName;
    return std::string();
}

bool LoadManifest(const std::string& jsonText, const std::string& name, std::optional<int> codePageOverride,
                  Manifest* out, std::vector<std::string>* warnings, std::string* error) {
    std::vector<std::string> localWarnings;
    std::vector<std::string>& warningList = warnings ? *warnings : localWarnings;
    json root;
    std::string duplicate;
    try {
        root = ParseStrict(jsonText, &duplicate);
    } catch (const json::exception& failure) {
        std::string what = failure.what();
        size_t cut = what.find("] ");
        *error = name + ": " + (cut == std::string::npos ? what : what.substr(cut + 2));
        return false;
    }
    if (!duplicate.empty()) {
        *error = name + ": " + duplicate + ": the key is given twice";
        return false;
    }
    try {
        int codePage = DEFAULT_CODE_PAGE;
        if (root.is_object() && root.contains("codepage")) {
            const json& value = root["codepage"];
            if (!value.is_number_integer()) throw ManifestError("/codepage", "must be a code page number, not " + Checker::TypeName(value));
            if (!FindCodePage(value.get<int>()))
                throw ManifestError("/codepage", "code page " + value.dump() + " is not supported (supported: 874, 932, 936, 949, 950, 1250 to 1258)");
            codePage = value.get<int>();
        }
        if (codePageOverride) codePage = *codePageOverride;
        const CodePage* page = FindCodePage(codePage);
        if (!page) throw ManifestError("", "code page " + std::to_string(codePage) + " is not supported");
        Checker checker(*page, warningList, name);
        checker.ExpectObject(root, "", {"codepage", "architecture", "messages", "files", "folder_groups", "registry",
                                        "patterns", "settings"});
        Manifest manifest;
        manifest.codePage = codePage;
        if (root.contains("architecture")) {
            const json& value = root["architecture"];
            if (value == "x86") manifest.architecture = Architecture::X86;
            else if (value == "x64") manifest.architecture = Architecture::X64;
            else throw ManifestError("/architecture", "must be \"x86\" or \"x64\", not " + value.dump());
        }
        UninstallData& data = manifest.data;
        data.messages.assign(MSG_COUNT, std::string());
        if (root.contains("messages")) LoadMessages(checker, root["messages"], data.messages);
        if (root.contains("files")) LoadFiles(checker, root["files"], data.files);
        if (root.contains("folder_groups")) LoadFolderGroups(checker, root["folder_groups"], data.folderGroups);
        if (root.contains("registry")) LoadRegistry(checker, root["registry"], data.registry);
        if (root.contains("patterns")) LoadPatterns(checker, root["patterns"], data.patterns);
        if (root.contains("settings")) LoadSettings(checker, root["settings"], data.settings);
        if (data.messages[MSG_CONFIRM].empty())
            checker.Warn("/messages", "no \"confirm\" message: the confirmation box shows an empty text");
        bool checksInUse = false;
        for (const FileItem& file : data.files) checksInUse = checksInUse || (file.flags & FILE_CHECK_IN_USE);
        if (checksInUse && data.messages[MSG_FILES_IN_USE].empty())
            checker.Warn("/messages", "files are checked for being in use but there is no \"files_in_use\" message: "
                                      "the Retry/Cancel box shows an empty text");
        *out = std::move(manifest);
        return true;
    } catch (const ManifestError& failure) {
        *error = name + ": " + (failure.path.empty() ? "/" : failure.path) + ": " + failure.what();
        return false;
    }
}

std::string DumpManifest(const UninstallData& data, const CodePage& page, std::vector<std::string>* problems,
                         std::vector<std::string>* notes, Architecture architecture) {
    auto text = [&](const std::string& bytes, const std::string& path) {
        std::string utf8, error;
        if (!page.ToUtf8(bytes, &utf8, &error, true) && problems) problems->push_back(path + ": " + error);
        return utf8;
    };
    ordered_json root;
    root["codepage"] = page.number();
    if (architecture != Architecture::Unknown) root["architecture"] = ArchitectureName(architecture);
    ordered_json messages = ordered_json::object();
    for (int i = 0; i < MSG_COUNT; ++i) {
        std::string value = i < static_cast<int>(data.messages.size()) ? data.messages[i] : std::string();
        messages[kMessageNames[i]] = text(value, std::string("/messages/") + kMessageNames[i]);
    }
    if (data.messages.size() > MSG_COUNT && notes)
        notes->push_back("/messages: " + std::to_string(data.messages.size() - MSG_COUNT) +
                            " strings beyond message 15 are not read by the uninstaller and are left out");
    root["messages"] = messages;

    ordered_json files = ordered_json::array();
    for (size_t i = 0; i < data.files.size(); ++i) {
        const FileItem& file = data.files[i];
        std::string path = "/files/" + std::to_string(i);
        ordered_json entry;
        entry["folder"] = text(file.folder, path + "/folder");
        entry["name"] = text(file.name, path + "/name");
        ordered_json flags = ordered_json::array();
        for (const FlagName& flag : kFlagNames)
            if (file.flags & flag.bit) flags.push_back(flag.name);
        entry["flags"] = flags;
        if ((file.flags & 0xF0) && notes)
            notes->push_back(path + "/flags: bits 0x" + "0123456789ABCDEF"[file.flags >> 4] + std::string("0 mean nothing and are left out"));
        files.push_back(entry);
    }
    root["files"] = files;

    ordered_json groups = ordered_json::array();
    for (size_t i = 0; i < data.folderGroups.size(); ++i) {
        const FolderGroupItem& group = data.folderGroups[i];
        std::string path = "/folder_groups/" + std::to_string(i);
        ordered_json entry;
        entry["folder"] = text(group.folder, path + "/folder");
        entry["second_folder"] = text(group.secondFolder, path + "/second_folder");
        entry["file"] = text(group.fileName, path + "/file");
        entry["parent_levels"] = group.parentLevels;
        groups.push_back(entry);
    }
    root["folder_groups"] = groups;

    ordered_json registry = ordered_json::array();
    for (size_t i = 0; i < data.registry.size(); ++i) {
        const RegistryItem& item = data.registry[i];
        std::string path = "/registry/" + std::to_string(i);
        ordered_json entry;
        std::string rootName = RootName(item.root);
        if (rootName.empty()) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(item.root));
            rootName = hex;
            if (problems) problems->push_back(path + "/root: " + rootName + " is no root key a manifest can name");
        }
        entry["root"] = rootName;
        entry["key"] = text(item.keyPath, path + "/key");
        registry.push_back(entry);
    }
    root["registry"] = registry;

    ordered_json patterns = ordered_json::array();
    for (size_t i = 0; i < data.patterns.size(); ++i)
        patterns.push_back(text(data.patterns[i], "/patterns/" + std::to_string(i)));
    root["patterns"] = patterns;

    ordered_json settings;
    settings["wait_for_pre_command"] = (data.settings.flags & SETTINGS_WAIT_PRE_COMMAND) != 0;
    settings["themed_controls"] = (data.settings.flags & SETTINGS_THEMED_CONTROLS) != 0;
    if (data.settings.preCommand) settings["pre_command"] = text(*data.settings.preCommand, "/settings/pre_command");
    if (data.settings.closingDocument)
        settings["closing_document"] = text(*data.settings.closingDocument, "/settings/closing_document");
    uint32_t otherFlags = data.settings.flags & ~uint32_t(SETTINGS_WAIT_PRE_COMMAND | SETTINGS_THEMED_CONTROLS);
    if (otherFlags && notes) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(otherFlags));
        notes->push_back(std::string("/settings: flag bits ") + hex + " mean nothing and are left out");
    }
    root["settings"] = settings;
    return root.dump(2) + "\n";
}

} // namespace quillon
