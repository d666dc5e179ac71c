// Reading, checking and writing manifests.
//
// The checks follow what the stub does with each text: file entries go through a 520-byte
// working buffer and a 260-byte path, folder groups through 780 bytes, registry key paths
// through 520, every composed path holds at most 259 characters, and the messages that carry
// a path are formatted by wsprintfA with exactly one string argument. A relative text is
// measured with the shortest install folder there is, a drive root such as "C:\" (3
// characters), so a relative entry that passes here can still be too long for a deep install
// folder; the stub skips such an entry at run time.
//
// Every refusal of an entry is collected, so that an author sees all mistakes in one run; the
// check of one entry stops at its first. Refusals that guard against an entry that would remove
// what other programs share, or that would silently do nothing, yield to the entry's "allow".
#include "manifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
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

// Thrown when the bound of errors is reached: past that, more lines would bury the first ones.
struct TooManyErrors {};

enum { kErrorBound = 20 };

// Where each value of the manifest's text begins, by JSON pointer; for an object's member, where
// its key begins. Built from text that has parsed, so it needs no error handling of its own.
class TextLocations {
public:
    explicit TextLocations(const std::string& text) : text_(text) {
        size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        Scan(at, "", at);
    }

    // ":line:column" of path, or of its nearest parent that the text holds; column in characters.
    // A path may carry a note in brackets ("/staging/0 (bin\\a.dll)"); the note is ignored.
    std::string Of(std::string path) const {
        path = path.substr(0, path.find(" ("));
        if (path == "/") path.clear();
        for (;;) {
            auto found = starts_.find(path);
            if (found != starts_.end()) return LineColumn(text_, found->second);
            if (path.empty()) return std::string();
            path = path.substr(0, path.rfind('/'));
        }
    }

    static std::string LineColumn(const std::string& text, size_t offset) {
        size_t line = 1, column = 1;
        for (size_t at = 0; at < offset && at < text.size(); ++at) {
            if (text[at] == '\n') line += 1, column = 1;
            else if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) ++column;
        }
        return ":" + std::to_string(line) + ":" + std::to_string(column);
    }

private:
    void SkipBlanks(size_t& at) const {
        while (at < text_.size() && std::string(" \t\r\n").find(text_[at]) != std::string::npos) ++at;
    }
    void SkipString(size_t& at) const {
        for (++at; at < text_.size() && text_[at] != '"'; ++at)
            if (text_[at] == '\\') ++at;
        ++at;
    }
    void Scan(size_t& at, const std::string& pointer, size_t start) {
        SkipBlanks(at);
        starts_[pointer] = start == std::string::npos ? at : start; // a repeated key: its last place
        if (at >= text_.size()) return;
        char open = text_[at];
        if (open == '"') return SkipString(at);
        if (open != '{' && open != '[') {
            while (at < text_.size() && std::string(",]} \t\r\n").find(text_[at]) == std::string::npos) ++at;
            return;
        }
        ++at;
        for (size_t index = 0;; ++index) {
            SkipBlanks(at);
            if (at >= text_.size()) return;
            if (text_[at] == '}' || text_[at] == ']') return void(++at);
            if (open == '{') {
                size_t keyStart = at;
                SkipString(at);
                std::string key = json::parse(text_.substr(keyStart, at - keyStart)).get<std::string>();
                SkipBlanks(at);
                ++at; // the colon
                Scan(at, pointer + "/" + EscapePointer(key), keyStart);
            } else {
                Scan(at, pointer + "/" + std::to_string(index), std::string::npos);
            }
            SkipBlanks(at);
            if (at < text_.size() && text_[at] == ',') ++at;
        }
    }

    const std::string& text_;
    std::map<std::string, size_t> starts_;
};

class Checker {
public:
    Checker(const CodePage& page, std::vector<std::string>& warnings, const std::string& name, const TextLocations& where)
        : page_(page), warnings_(warnings), name_(name), where_(where) {}

    [[noreturn]] void Fail(const std::string& path, const std::string& what) { throw ManifestError(path, what); }
    // Numbered once all are in, in the order of their places, as errors are.
    void Warn(const std::string& path, const std::string& what) { pendingWarnings_.push_back({Line(path, ""), what}); }
    // Every error is kept, up to the bound; then the check stops.
    void Record(const std::string& path, const std::string& what) {
        errors_.push_back(Line(path, what));
        if (errors_.size() >= kErrorBound) throw TooManyErrors{};
    }
    // Errors and warnings in the order of their places in the file (a section's checks run one
    // after another, not in the file's order); the warnings numbered in that order.
    void SortByPlace() {
        auto place = [this](const std::string& line) {
            size_t at = name_.size();
            unsigned long row = 0, column = 0;
            if (line.compare(at, 1, ":") == 0) std::sscanf(line.c_str() + at, ":%lu:%lu", &row, &column);
            return std::make_pair(row, column);
        };
        std::stable_sort(errors_.begin(), errors_.end(),
                         [&](const std::string& a, const std::string& b) { return place(a) < place(b); });
        std::stable_sort(pendingWarnings_.begin(), pendingWarnings_.end(),
                         [&](const Pending& a, const Pending& b) { return place(a.first) < place(b.first); });
        for (const Pending& warning : pendingWarnings_)
            warnings_.push_back(warning.first + "warning " + std::to_string(warnings_.size() + 1) + ": " + warning.second);
        pendingWarnings_.clear();
    }
    // Runs one step of the check (an entry, a section); a refusal in it is recorded and the check
    // goes on with the next step.
    template <class Step> void Guard(Step step) {
        try {
            step();
        } catch (const ManifestError& failure) {
            Record(failure.path, failure.what());
        }
    }
    const std::vector<std::string>& errors() const { return errors_; }
    void AddLine(const std::string& line) { errors_.push_back(line); }
    const CodePage& page() const { return page_; }

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
    std::string Line(const std::string& path, const std::string& what) const {
        return name_ + where_.Of(path) + ": " + (path.empty() ? "/" : path) + ": " + what;
    }

    const CodePage& page_;
    using Pending = std::pair<std::string, std::string>; // the line up to the warning, its text

    std::vector<std::string>& warnings_;
    const std::string& name_;
    const TextLocations& where_;
    std::vector<std::string> errors_;
    std::vector<Pending> pendingWarnings_;
};

// The uninstaller formats messages 7 to 10 itself, and only when "%s" occurs in them: the first
// "%s" takes the path and "%%" becomes "%"; every other '%' (a further "%s" too) stays as it is.
// Every other message, and a formatted one without "%s", is shown exactly as written.
void CheckMessage(Checker& checker, int number, const std::string& text, const std::string& path) {
    if (text.size() > MESSAGE_LENGTH_MAX)
        checker.Fail(path, "the message is " + std::to_string(text.size()) + " bytes long; a message holds at most 65,535");
    bool formatted = IsFormattedMessage(number) && text.find("%s") != std::string::npos;
    int conversions = 0;
    bool doubled = false;
    for (size_t at = 0; at + 1 < text.size(); ++at) {
        if (text[at] != '%') continue;
        if (text[at + 1] == 's') ++conversions;
        else if (text[at + 1] == '%') doubled = true;
        else continue;
        ++at;
    }
    if (formatted) {
        if (conversions > 1)
            checker.Fail(path, "holds " + std::to_string(conversions) + " \"%s\"; the uninstaller fills the first with the path "
                               "and shows the others as \"%s\"; write \"%%s\" for a literal \"%s\"");
        if (text.size() - 2 + kPathMax > MESSAGE_TEXT_SIZE - 1)
            checker.Warn(path, "with a long path the formatted message may be cut at 1,023 bytes");
    } else if (doubled) {
        checker.Warn(path, std::string(IsFormattedMessage(number) ? "without a \"%s\" this" : "this") +
                               " message is shown as written, so \"%%\" appears as two percent signs; a single '%' is "
                               "shown as it stands");
    } else if (conversions > 0) {
        checker.Warn(path, "this message is shown as written, without formatting: \"%s\" appears as it stands");
    }
}

void LoadMessages(Checker& checker, const json& messages, std::vector<std::string>& out) {
    const std::string base = "/messages";
    if (!messages.is_object()) checker.Fail(base, "must be an object of message texts by name, not " + Checker::TypeName(messages));
    out.assign(MSG_COUNT, std::string());
    for (auto item = messages.begin(); item != messages.end(); ++item) {
        checker.Guard([&] {
            int number = -1;
            for (int i = 0; i < MSG_COUNT; ++i)
                if (item.key() == kMessageNames[i]) number = i;
            std::string path = base + "/" + EscapePointer(item.key());
            if (number < 0) checker.Fail(path, "unknown message " + Quote(item.key()));
            out[number] = checker.Text(item.value(), path);
            CheckMessage(checker, number, out[number], path);
        });
    }
}

// The overrides an entry may give in "allow", each for one refusal it knows to be right here.
const char* const kAllowNames[] = {"shared_key", "root_name", "slash", "duplicate"};

// Reads an entry's "allow" list; refuses names that override nothing.
std::set<std::string> ReadAllow(Checker& checker, const json& entry, const std::string& path) {
    std::set<std::string> allowed;
    if (!entry.contains("allow")) return allowed;
    const json& list = entry["allow"];
    checker.ExpectArray(list, path + "/allow");
    for (size_t i = 0; i < list.size(); ++i) {
        std::string itemPath = path + "/allow/" + std::to_string(i);
        if (!list[i].is_string()) checker.Fail(itemPath, "must be a string, not " + Checker::TypeName(list[i]));
        bool known = false;
        for (const char* name : kAllowNames) known = known || list[i] == name;
        if (!known) checker.Fail(itemPath, "unknown override " + Quote(list[i].get<std::string>()) + " (known: shared_key, root_name, slash, duplicate)");
        allowed.insert(list[i].get<std::string>());
    }
    return allowed;
}

// True when a full path lies in the Windows folder or below it ("C:\\Windows\\System32\\x").
bool InWindowsFolder(const std::string& folder) {
    std::string lower = FoldCase(folder) + "\\";
    return IsAbsolutePath(folder) && (lower.compare(1, 10, ":\\windows\\") == 0 || lower.compare(1, 8, ":\\winnt\\") == 0);
}

// Where each loaded file and registry entry came from, and whether it may repeat another.
struct Origins {
    std::vector<std::string> filePaths, registryPaths;
    std::vector<bool> fileMayRepeat, registryMayRepeat;
};

void LoadFiles(Checker& checker, const std::vector<std::pair<json, std::string>>& files, std::vector<FileItem>& out,
               Origins& origins) {
    for (size_t i = 0; i < files.size(); ++i) {
        checker.Guard([&] {
            const json& entry = files[i].first;
            const std::string& path = files[i].second;
            checker.ExpectObject(entry, path, {"folder", "name", "flags", "allow"});
            bool mayRepeat = ReadAllow(checker, entry, path).count("duplicate") > 0;
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
            if (!relative && InWindowsFolder(item.folder) && !item.name.empty() && !(item.flags & FILE_SHARED_DLL))
                checker.Warn(path, "a file in the Windows folder without \"shared_dll\" is deleted even when other programs "
                                   "still use it; flag it \"shared_dll\" so that its shared count decides");
            if ((item.flags & FILE_FONT) && !item.name.empty()) {
                std::string lower = FoldCase(item.name);
                bool fontName = false;
                for (const char* extension : {".ttf", ".otf", ".ttc", ".fon"})
                    fontName = fontName || (lower.size() > 4 && lower.compare(lower.size() - 4, 4, extension) == 0);
                if (!fontName) checker.Warn(path + "/name", "flagged \"font\" but not named .ttf, .otf, .ttc or .fon");
            }
            origins.filePaths.push_back(path);
            origins.fileMayRepeat.push_back(mayRepeat);
            out.push_back(std::move(item));
        });
    }
}

void LoadFolderGroups(Checker& checker, const json& groups, std::vector<FolderGroupItem>& out) {
    checker.ExpectArray(groups, "/folder_groups");
    for (size_t i = 0; i < groups.size(); ++i) {
        checker.Guard([&] {
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
        });
    }
}

// Keys that hold other programs' keys or the system's: an entry that removes one of them, or a key
// above one, destroys what is not the application's. "HKCR\"
// lines hold for HKEY_CLASSES_ROOT and Software\Classes under every other root, the rest for every
// root but HKEY_CLASSES_ROOT. Compared letter case aside.
const char* const kSharedKeys[] = {
    "Software\\Microsoft", "Software\\Policies", "Software\\Classes", "Software\\Wow6432Node",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", "System\\CurrentControlSet",
    "System\\CurrentControlSet\\Services", "HKCR\\CLSID", "HKCR\\Interface", "HKCR\\TypeLib", "HKCR\\AppID", "HKCR\\*",
    "HKCR\\Directory", "HKCR\\Folder",
};

// The keys the uninstaller itself refuses to remove under any root, so an entry naming one does nothing.
const char* const kKeysTheUninstallerKeeps[] = {"software\\wow6432node", "software\\classes", "software\\microsoft",
                                                 "system\\currentcontrolset"};

std::vector<std::string> SplitKey(const std::string& key) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < key.size()) {
        size_t end = key.find('\\', at);
        if (end == std::string::npos) end = key.size();
        if (end > at) parts.push_back(FoldCase(key.substr(at, end - at)));
        at = end + 1;
    }
    return parts;
}

std::string JoinKey(const std::vector<std::string>& parts, size_t from = 0) {
    std::string joined;
    for (size_t i = from; i < parts.size(); ++i) joined += (joined.empty() ? "" : "\\") + parts[i];
    return joined;
}

// The first name of a key text as written, without the backslashes before it.
std::string FirstKeyName(const std::string& key) {
    size_t start = key.find_first_not_of('\\');
    if (start == std::string::npos) return std::string();
    return key.substr(start, key.find('\\', start) - start);
}

// Why an entry's key text would destroy what is not the application's or do nothing, and which
// override of "allow" lifts that ("" when none does). refused is false for a sound key.
struct KeyRefusal {
    bool refused = false;
    std::string override;
    std::string why;
};

// keyText is the entry's whole text; allowed the overrides it gives.
KeyRefusal CheckKeyText(uint32_t root, const std::string& keyText, const std::set<std::string>& allowed) {
    std::string keyPart = keyText;
    size_t last = keyText.rfind('\\');
    bool valueEntry = last != std::string::npos && last > 0 && keyText[last - 1] == '\\';
    if (valueEntry) keyPart = keyText.substr(0, last - 1);
    std::vector<std::string> parts = SplitKey(keyPart);
    if (!allowed.count("root_name") && !parts.empty())
        for (const RootNameEntry& candidate : kRoots)
            if (parts[0] == FoldCase(candidate.shortName) || parts[0] == FoldCase(candidate.longName))
                return {true, "root_name",
                        "begins with the root name " + Quote(FirstKeyName(keyPart)) + ", which \"root\" "
                        "already gives: the entry names a key of that name below the root and removes nothing; leave "
                        "the root out of the key (or give \"allow\": [\"root_name\"] if the key is really called so)"};
    if (!allowed.count("slash") && keyPart.find('/') != std::string::npos)
        return {true, "slash",
                "holds '/', which the registry takes as part of a key's name, not as a separator: the entry removes "
                "nothing; write backslashes (or give \"allow\": [\"slash\"] if the name really holds it)"};
    if (valueEntry) return {};
    if (root == ROOT_LOCAL_MACHINE && !parts.empty() && parts[0] == "software64") parts[0] = "software";
    std::string spelled = JoinKey(parts);
    for (const char* kept : kKeysTheUninstallerKeeps)
        if (spelled == kept)
            return {true, "", "the uninstaller never removes this key, which holds other programs' keys: the entry does "
                              "nothing; name the application's own key below it"};
    if (root == ROOT_USERS) {
        if (parts.size() <= 1)
            return {true, "", "names a whole user's registry, which the uninstaller never removes; name a key below it"};
        parts.erase(parts.begin());
    }
    if (allowed.count("shared_key")) return {};
    bool classes = root == ROOT_CLASSES_ROOT;
    if (parts.size() >= 2 && parts[0] == "software" && parts[1] == "wow6432node") parts.erase(parts.begin() + 1);
    if (!classes && parts.size() >= 2 && parts[0] == "software" && parts[1] == "classes") {
        parts.erase(parts.begin(), parts.begin() + 2);
        classes = true;
    }
    if (classes && !parts.empty() && parts[0] == "wow6432node") parts.erase(parts.begin());
    if (classes) parts.insert(parts.begin(), "hkcr");
    std::string key = JoinKey(parts);
    if (key.empty() || key == "hkcr") return {};
    for (const char* shared : kSharedKeys) {
        std::string sharedKey = FoldCase(shared);
        bool above = sharedKey.compare(0, key.size(), key) == 0 && (sharedKey.size() == key.size() || sharedKey[key.size()] == '\\');
        if (above)
            return {true, "shared_key",
                    std::string(sharedKey.size() == key.size() ? "is" : "lies above") + " a key other programs share (" + shared +
                        "), which the entry would remove whole; name the application's own key or value below it (a "
                        "value: \"value\" beside \"key\"), or give \"allow\": [\"shared_key\"] if it is meant"};
    }
    return {};
}

void LoadRegistry(Checker& checker, const json& entries, std::vector<RegistryItem>& out, Origins& origins) {
    checker.ExpectArray(entries, "/registry");
    for (size_t i = 0; i < entries.size(); ++i) {
        checker.Guard([&] {
            const json& entry = entries[i];
            const std::string path = "/registry/" + std::to_string(i);
            checker.ExpectObject(entry, path, {"root", "key", "value", "allow"});
            std::set<std::string> allowed = ReadAllow(checker, entry, path);
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
            if (entry.contains("value")) {
                std::string value = checker.Text(entry["value"], path + "/value");
                if (value.find('\\') != std::string::npos)
                    checker.Fail(path + "/value", "a value name cannot hold a backslash in an uninstaller's entry");
                if (item.keyPath.empty() || item.keyPath.back() == '\\')
                    checker.Fail(keyPath, "with \"value\" the key is the value's key, without a backslash at its end");
                item.keyPath += "\\\\" + value;
            }
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
            KeyRefusal refusal = CheckKeyText(item.root, item.keyPath, allowed);
            if (refusal.refused) checker.Fail(keyPath, refusal.why);
            bool software64 = FoldCase(item.keyPath.substr(0, 10)) == "software64";
            if (software64 && item.root == ROOT_LOCAL_MACHINE && item.keyPath.size() > 10 && item.keyPath[10] != '\\')
                checker.Warn(keyPath, "begins with \"Software64\", which selects the 64-bit view and is read as \"Software" +
                                          entry["key"].get<std::string>().substr(10) + "\"");
            if (software64 && item.root != ROOT_LOCAL_MACHINE)
                checker.Warn(keyPath, "\"Software64\" selects the 64-bit view under HKLM only; here it names a key called Software64");
            origins.registryPaths.push_back(path);
            origins.registryMayRepeat.push_back(allowed.count("duplicate") > 0);
            out.push_back(std::move(item));
        });
    }
}

void LoadPatterns(Checker& checker, const json& patterns, std::vector<std::string>& out) {
    checker.ExpectArray(patterns, "/patterns");
    for (size_t i = 0; i < patterns.size(); ++i) {
        checker.Guard([&] {
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
        });
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
    // The program's name, as the uninstaller takes it: up to the closing quote, or the whole line.
    std::string program = command[0] == '"' ? command.substr(1, command.find('"', 1) - 1) : command;
    std::string folded = FoldCase(program);
    for (const char* system : {"cmd.exe", "regsvr32.exe", "msiexec.exe", "rundll32.exe", "cmd", "regsvr32", "msiexec", "rundll32"}) {
        if (folded == system) {
            std::string name = program.find('.') == std::string::npos ? program + ".exe" : program;
            checker.Warn(path, Quote(program) + " runs from the install folder, where there is no " + name +
                                   ", so nothing runs; write \"#System#\\" + name + "\" to run the system's");
        }
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

// Matches a glob ('*' any run of characters within one name, '?' one character) letter case
// aside, as Windows matches names.
bool GlobMatches(const std::string& glob, const std::string& text) {
    size_t g = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (g < glob.size() && (glob[g] == '?' || FoldCase(glob.substr(g, 1)) == FoldCase(text.substr(t, 1)))) {
            ++g, ++t;
        } else if (g < glob.size() && glob[g] == '*') {
            star = g++;
            resume = t;
        } else if (star != std::string::npos && text[resume] != '\\') {
            g = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == '*') ++g;
    return g == glob.size();
}

// A glob with a backslash or '/' is matched against the path below the staging folder
// ("docs\\*.pdf"), any other against the name alone ("*.ttf").
bool StagedPathMatches(const std::string& glob, const std::string& relative, const std::string& name) {
    std::string normal = glob;
    for (char& c : normal)
        if (c == '/') c = '\\';
    return GlobMatches(normal, normal.find('\\') != std::string::npos ? relative : name);
}

std::vector<std::string> ReadTexts(Checker& checker, const json& section, const char* key, const std::string& path) {
    std::vector<std::string> texts;
    if (!section.contains(key)) return texts;
    checker.ExpectArray(section[key], path + "/" + key);
    for (size_t i = 0; i < section[key].size(); ++i) {
        const json& item = section[key][i];
        if (!item.is_string()) checker.Fail(path + "/" + key + "/" + std::to_string(i), "must be a string, not " + Checker::TypeName(item));
        texts.push_back(item.get<std::string>());
    }
    return texts;
}

// One staging section: a folder of the build machine whose files the installer copies below the
// install folder. Each file becomes a file entry and each folder a folder entry, in the order
// folder, its files, its sub-folders: the uninstaller removes entries last first, so every folder
// is empty by the time its own entry comes, and goes, staged folders without files included.
void AddStagedFiles(Checker& checker, const json& sections, const std::string& baseFolder,
                    std::vector<std::pair<json, std::string>>& entries) {
    namespace fs = std::filesystem;
    checker.ExpectArray(sections, "/staging");
    for (size_t i = 0; i < sections.size(); ++i) {
        checker.Guard([&] {
            const json& section = sections[i];
            const std::string path = "/staging/" + std::to_string(i);
            checker.ExpectObject(section, path, {"source", "target", "exclude", "flags"});
            if (!section.contains("source")) checker.Fail(path, "missing key \"source\" (the staging folder, relative to the manifest)");
            if (!section["source"].is_string()) checker.Fail(path + "/source", "must be a string, not " + Checker::TypeName(section["source"]));
            std::string target = ".";
            if (section.contains("target")) {
                if (!section["target"].is_string()) checker.Fail(path + "/target", "must be a string, not " + Checker::TypeName(section["target"]));
                target = section["target"].get<std::string>();
                while (target.size() > 1 && target.back() == '\\') target.pop_back();
                if (target != "." && target.compare(0, 2, ".\\") != 0)
                    checker.Fail(path + "/target", "must be \".\" (the install folder) or a folder below it such as \".\\\\bin\"");
                if ((target + "\\").find("\\..\\") != std::string::npos)
                    checker.Fail(path + "/target", "must stay below the install folder; \"..\" climbs out");
            }
            std::vector<std::string> excludes = ReadTexts(checker, section, "exclude", path);
            std::vector<std::pair<std::string, json>> flagGlobs;
            if (section.contains("flags")) {
                const json& flags = section["flags"];
                if (!flags.is_object()) checker.Fail(path + "/flags", "must be an object of flag lists by glob, such as {\"*.ttf\": [\"font\"]}");
                for (auto item = flags.begin(); item != flags.end(); ++item) {
                    std::string flagsPath = path + "/flags/" + EscapePointer(item.key());
                    checker.ExpectArray(item.value(), flagsPath);
                    flagGlobs.emplace_back(item.key(), item.value());
                }
            }
            fs::path source = fs::u8path(section["source"].get<std::string>());
            if (source.is_relative()) source = fs::u8path(baseFolder) / source;
            std::error_code error;
            if (!fs::is_directory(source, error))
                checker.Fail(path + "/source", "no folder " + Quote(source.u8string()) + " (a relative source is taken from the manifest's folder)");
            size_t before = entries.size();
            // Walks one folder: its entry, its files, then its sub-folders, each list by name.
            std::function<void(const fs::path&, const std::string&)> walk = [&](const fs::path& folder, const std::string& relative) {
                std::string entryFolder = relative.empty() ? target : (target == "." ? ".\\" : target + "\\") + relative;
                if (entryFolder != ".")
                    entries.emplace_back(json{{"folder", entryFolder}}, path + " (" + (relative.empty() ? "." : relative) + "\\)");
                std::vector<fs::directory_entry> files, folders;
                for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
                    std::string name = it->path().filename().u8string();
                    std::string below = relative.empty() ? name : relative + "\\" + name;
                    bool excluded = false;
                    for (const std::string& glob : excludes) excluded = excluded || StagedPathMatches(glob, below, name);
                    if (excluded) continue;
                    bool link = it->is_symlink(error);
                    if (it->is_directory(error) && !link) folders.push_back(*it);
                    else if (it->is_regular_file(error)) files.push_back(*it);
                }
                if (error) checker.Fail(path + "/source", folder.u8string() + ": " + error.message());
                auto byName = [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path().filename() < b.path().filename(); };
                std::sort(files.begin(), files.end(), byName);
                std::sort(folders.begin(), folders.end(), byName);
                for (const fs::directory_entry& file : files) {
                    std::string name = file.path().filename().u8string();
                    std::string below = relative.empty() ? name : relative + "\\" + name;
                    json flags = json::array();
                    for (const auto& glob : flagGlobs)
                        if (StagedPathMatches(glob.first, below, name))
                            for (const json& flag : glob.second)
                                if (std::find(flags.begin(), flags.end(), flag) == flags.end()) flags.push_back(flag);
                    json entry{{"folder", entryFolder}, {"name", name}};
                    if (!flags.empty()) entry["flags"] = flags;
                    entries.emplace_back(entry, path + " (" + below + ")");
                }
                for (const fs::directory_entry& sub : folders)
                    walk(sub.path(), relative.empty() ? sub.path().filename().u8string() : relative + "\\" + sub.path().filename().u8string());
            };
            walk(source, "");
            bool anyFile = false;
            for (size_t e = before; e < entries.size(); ++e) anyFile = anyFile || entries[e].first.contains("name");
            if (!anyFile) checker.Warn(path + "/source", "the staging folder holds no file (after the excludes)");
        });
    }
}

// What makes two file entries the same file for the uninstaller: the path, letter case aside.
std::string FileKey(const FileItem& file) {
    std::string folder = file.folder;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return FoldCase(folder + "\\" + file.name);
}

// An entry that repeats an earlier one, compared as the uninstaller compares names (letter case
// aside). A shared DLL's count would be lowered twice, so that a DLL another program still counts
// on could be deleted: refused. Other repeats do no harm beyond the second try: a warning.
void CheckDuplicates(Checker& checker, const Origins& origins, const UninstallData& data) {
    std::map<std::string, size_t> files;
    for (size_t i = 0; i < data.files.size(); ++i) {
        const FileItem& file = data.files[i];
        auto earlier = files.emplace(FileKey(file), i);
        if (earlier.second) continue;
        const std::string& path = origins.filePaths[i];
        std::string what = "repeats " + origins.filePaths[earlier.first->second] + " (letter case aside)";
        bool shared = !file.name.empty() && ((file.flags | data.files[earlier.first->second].flags) & FILE_SHARED_DLL);
        if (shared && !origins.fileMayRepeat[i])
            checker.Guard([&] {
                checker.Fail(path, what + ": the shared DLL's count would be lowered twice and the DLL deleted while another "
                                          "program still counts on it; give it once (or \"allow\": [\"duplicate\"] if it is "
                                          "meant)");
            });
        else if (!origins.fileMayRepeat[i])
            checker.Warn(path, what);
    }
    std::map<std::string, size_t> keys;
    for (size_t i = 0; i < data.registry.size(); ++i) {
        auto earlier = keys.emplace(std::to_string(data.registry[i].root) + FoldCase(data.registry[i].keyPath), i);
        if (!earlier.second && !origins.registryMayRepeat[i])
            checker.Warn(origins.registryPaths[i], "repeats " + origins.registryPaths[earlier.first->second] + " (letter case aside)");
    }
    std::map<std::string, size_t> patterns;
    for (size_t i = 0; i < data.patterns.size(); ++i) {
        auto earlier = patterns.emplace(FoldCase(data.patterns[i]), i);
        if (!earlier.second)
            checker.Warn("/patterns/" + std::to_string(i), "repeats /patterns/" + std::to_string(earlier.first->second) + " (letter case aside)");
    }
}

} // namespace

std::string RootName(uint32_t root) {
    for (const RootNameEntry& entry : kRoots)
        if (entry.value == root) return entry.shortName;
    return std::string();
}

namespace {

// The first byte at which text stops being UTF-8, or npos.
size_t FirstNonUtf8Byte(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || (length == 2 && lead < 0xC2) || at + length > text.size()) return at;
        for (size_t next = 1; next < length; ++next)
            if ((static_cast<unsigned char>(text[at + next]) & 0xC0) != 0x80) return at;
        at += length;
    }
    return std::string::npos;
}

// A sentence that says what an author most likely did, for the parser's error at offset.
std::string ParseHint(const std::string& text, size_t offset, const std::string& what) {
    if (what.find("after backslash") != std::string::npos || what.find("\\u") != std::string::npos)
        return "; JSON doubles every backslash: write C:\\Tools as \"C:\\\\Tools\"";
    size_t at = std::min(offset, text.size());
    while (at > 0 && std::string(" \t\r\n").find(text[at - 1]) != std::string::npos) --at;
    size_t here = text.find_first_not_of(" \t\r\n", std::min(offset, text.size()));
    if (here == std::string::npos) here = text.size();
    bool slash = (here < text.size() && text[here] == '/') || (at > 0 && text[at - 1] == '/');
    if (slash) return "; JSON has no comments: take out the // or /* */ text";
    if (here < text.size() && (text[here] == '}' || text[here] == ']') && at > 0 && text[at - 1] == ',')
        return "; JSON allows no comma after the last member or element";
    // The parser reads up to the offending character, so the comma may be just before it.
    size_t before = text.find_last_not_of(" \t\r\n", offset > 0 ? offset - 1 : 0);
    if (before != std::string::npos && (text[before] == '}' || text[before] == ']')) {
        size_t comma = text.find_last_not_of(" \t\r\n", before > 0 ? before - 1 : 0);
        if (comma != std::string::npos && text[comma] == ',') return "; JSON allows no comma after the last member or element";
    }
    return std::string();
}

// Replaces each ${NAME} in every text of value with its definition; "$${" stands for "${".
void ExpandDefines(Checker& checker, json& value, const std::string& path, const std::map<std::string, std::string>& defines) {
    if (value.is_object()) {
        for (auto item = value.begin(); item != value.end(); ++item)
            ExpandDefines(checker, item.value(), path + "/" + EscapePointer(item.key()), defines);
    } else if (value.is_array()) {
        for (size_t i = 0; i < value.size(); ++i) ExpandDefines(checker, value[i], path + "/" + std::to_string(i), defines);
    } else if (value.is_string()) {
        checker.Guard([&] {
            const std::string text = value.get<std::string>();
            if (text.find("${") == std::string::npos) return;
            std::string expanded;
            for (size_t at = 0; at < text.size(); ++at) {
                if (text.compare(at, 3, "$${") == 0) {
                    expanded += "${";
                    at += 2;
                } else if (text.compare(at, 2, "${") == 0) {
                    size_t close = text.find('}', at);
                    if (close == std::string::npos) checker.Fail(path, "\"${\" without its closing \"}\" (write \"$${\" for the text ${)");
                    std::string name = text.substr(at + 2, close - at - 2);
                    auto found = defines.find(name);
                    if (found == defines.end()) {
                        // A name that --define could not give, one holding a line break or another
                        // control character, is shown escaped, so that the error stays one line.
                        bool givable = std::none_of(name.begin(), name.end(),
                                                    [](char c) { return static_cast<unsigned char>(c) < 0x20; });
                        checker.Fail(path, givable ? "${" + name + "} is not defined; give it with --define " + name + "=VALUE"
                                                   : Quote("${" + name + "}") + " is not defined; a define's name holds no control characters");
                    }
                    expanded += found->second;
                    at = close;
                } else {
                    expanded += text[at];
                }
            }
            value = expanded;
        });
    }
}

} // namespace

bool LoadManifest(const std::string& jsonText, const std::string& name, std::optional<int> codePageOverride,
                  Manifest* out, std::vector<std::string>* warnings, std::string* error) {
    LoadOptions options;
    options.codePage = codePageOverride;
    return LoadManifest(jsonText, name, options, out, warnings, error);
}

bool LoadManifest(const std::string& jsonText, const std::string& name, const LoadOptions& options, Manifest* out,
                  std::vector<std::string>* warnings, std::string* error) {
    std::vector<std::string> localWarnings;
    std::vector<std::string>& warningList = warnings ? *warnings : localWarnings;
    if (jsonText.compare(0, 2, "\xFF\xFE") == 0 || jsonText.compare(0, 2, "\xFE\xFF") == 0 ||
        (jsonText.size() >= 2 && (jsonText[0] == '\0' || jsonText[1] == '\0'))) {
        *error = name + ": the file is UTF-16 (as PowerShell's Out-File and > write it); save it as UTF-8, for example "
                        "with Set-Content -Encoding UTF8";
        return false;
    }
    size_t stray = FirstNonUtf8Byte(jsonText);
    if (stray != std::string::npos) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(jsonText[stray]));
        *error = name + TextLocations::LineColumn(jsonText, stray) + ": byte " + hex +
                 " is not UTF-8; the file seems to be saved as Latin-1 or Windows-1252: save it as UTF-8";
        return false;
    }
    json root;
    std::string duplicate;
    try {
        root = ParseStrict(jsonText, &duplicate);
    } catch (const json::parse_error& failure) {
        std::string what = failure.what();
        size_t cut = what.find("] ");
        what = cut == std::string::npos ? what : what.substr(cut + 2);
        // The location goes in front, as for every other error: "parse error at line 1, column 12: " goes.
        if (what.compare(0, 20, "parse error at line ") == 0 && what.find(": ") != std::string::npos)
            what = what.substr(what.find(": ") + 2);
        size_t offset = failure.byte > 0 ? failure.byte - 1 : 0;
        *error = name + TextLocations::LineColumn(jsonText, offset) + ": " + what + ParseHint(jsonText, offset, what);
        return false;
    } catch (const json::exception& failure) {
        *error = name + ": " + failure.what();
        return false;
    }
    TextLocations where(jsonText);
    if (!duplicate.empty()) {
        *error = name + where.Of(duplicate) + ": " + duplicate + ": the key is given twice";
        return false;
    }
    int codePage = DEFAULT_CODE_PAGE;
    std::string codePageError;
    if (root.is_object() && root.contains("codepage")) {
        const json& value = root["codepage"];
        if (!value.is_number_integer()) codePageError = "must be a code page number, not " + Checker::TypeName(value);
        else if (!FindCodePage(value.get<int>()))
            codePageError = "code page " + value.dump() + " is not supported (supported: 874, 932, 936, 949, 950, 1250 to 1258)";
        else codePage = value.get<int>();
    }
    if (options.codePage) codePage = *options.codePage;
    const CodePage* page = FindCodePage(codePage);
    if (!page) {
        *error = name + ": /: code page " + std::to_string(codePage) + " is not supported";
        return false;
    }
    Checker checker(*page, warningList, name, where);
    Manifest manifest;
    manifest.codePage = codePage;
    UninstallData& data = manifest.data;
    data.messages.assign(MSG_COUNT, std::string());
    Origins origins;
    try {
        if (!codePageError.empty()) checker.Record("/codepage", codePageError);
        checker.Guard([&] {
            checker.ExpectObject(root, "", {"codepage", "architecture", "messages", "files", "staging", "folder_groups",
                                            "registry", "patterns", "settings"});
        });
        if (!root.is_object()) throw TooManyErrors{};
        ExpandDefines(checker, root, "", options.defines);
        checker.Guard([&] {
            if (!root.contains("architecture")) return;
            const json& value = root["architecture"];
            if (value == "x86") manifest.architecture = Architecture::X86;
            else if (value == "x64") manifest.architecture = Architecture::X64;
            else checker.Fail("/architecture", "must be \"x86\" or \"x64\", not " + value.dump());
        });
        if (root.contains("messages")) checker.Guard([&] { LoadMessages(checker, root["messages"], data.messages); });
        checker.Guard([&] {
            std::vector<std::pair<json, std::string>> fileEntries;
            if (root.contains("files")) {
                checker.ExpectArray(root["files"], "/files");
                for (size_t i = 0; i < root["files"].size(); ++i)
                    fileEntries.emplace_back(root["files"][i], "/files/" + std::to_string(i));
            }
            if (root.contains("staging")) AddStagedFiles(checker, root["staging"], options.baseFolder, fileEntries);
            LoadFiles(checker, fileEntries, data.files, origins);
        });
        if (root.contains("folder_groups")) checker.Guard([&] { LoadFolderGroups(checker, root["folder_groups"], data.folderGroups); });
        if (root.contains("registry")) checker.Guard([&] { LoadRegistry(checker, root["registry"], data.registry, origins); });
        if (root.contains("patterns")) checker.Guard([&] { LoadPatterns(checker, root["patterns"], data.patterns); });
        if (root.contains("settings")) checker.Guard([&] { LoadSettings(checker, root["settings"], data.settings); });
        CheckDuplicates(checker, origins, data);
        if (data.messages[MSG_CONFIRM].empty())
            checker.Warn("/messages", "no \"confirm\" message: the confirmation box shows an empty text");
        bool checksInUse = false;
        for (const FileItem& file : data.files) checksInUse = checksInUse || (file.flags & FILE_CHECK_IN_USE);
        if (checksInUse && data.messages[MSG_FILES_IN_USE].empty())
            checker.Warn("/messages", "files are checked for being in use but there is no \"files_in_use\" message: "
                                      "the Retry/Cancel box shows an empty text");
        checker.SortByPlace();
    } catch (const TooManyErrors&) {
        checker.SortByPlace();
        if (checker.errors().size() >= kErrorBound)
            checker.AddLine(name + ": stopped after " + std::to_string(kErrorBound) + " errors");
    }
    if (!checker.errors().empty()) {
        error->clear();
        for (const std::string& line : checker.errors()) *error += (error->empty() ? "" : "\n") + line;
        return false;
    }
    *out = std::move(manifest);
    return true;
}

std::string DumpManifest(const UninstallData& data, const CodePage& page, std::vector<std::string>* problems,
                         std::vector<std::string>* notes, Architecture architecture) {
    // "${" in a text is written "$${", so that reading the dump does not take it for a define.
    auto text = [&](const std::string& bytes, const std::string& path) {
        std::string utf8, error, escaped;
        if (!page.ToUtf8(bytes, &utf8, &error, true) && problems) problems->push_back(path + ": " + error);
        for (size_t at = 0; at < utf8.size(); ++at) escaped += utf8.compare(at, 2, "${") == 0 ? "$" + utf8.substr(at, 1) : utf8.substr(at, 1);
        return escaped;
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
    std::map<std::string, uint8_t> seenFiles; // the flags of the entries of each path so far
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
        auto seen = seenFiles.find(FileKey(file));
        if (seen != seenFiles.end() && !file.name.empty() && ((seen->second | file.flags) & FILE_SHARED_DLL))
            entry["allow"] = {"duplicate"};
        seenFiles[FileKey(file)] |= file.flags;
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
        // A value entry in the plain form, when the manifest's "value" gives back the very same text.
        size_t last = item.keyPath.rfind('\\');
        bool value = last != std::string::npos && last > 1 && item.keyPath[last - 1] == '\\' && item.keyPath[last - 2] != '\\';
        entry["key"] = text(value ? item.keyPath.substr(0, last - 1) : item.keyPath, path + "/key");
        if (value) entry["value"] = text(item.keyPath.substr(last + 1), path + "/value");
        // The overrides that let the entry build again as it is.
        std::set<std::string> allowed;
        for (KeyRefusal refusal; (refusal = CheckKeyText(item.root, item.keyPath, allowed)).refused && !refusal.override.empty();)
            allowed.insert(refusal.override);
        if (!allowed.empty()) entry["allow"] = allowed;
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
