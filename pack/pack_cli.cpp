// The commands of quillon-pack: build, dump, check (with its plan) and scan.
//
// build refuses before it writes: the manifest is checked whole, the stub is checked, and the
// finished uninstaller is read back and compared with the data before the output file is put
// in place (under a temporary name first, so a failure leaves no file behind). dump prints
// what it could read even when the chain is damaged, and says on stderr where it stopped.
#include "pack_cli.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include <nlohmann/json.hpp>

#include "codepages.h"
#include "format_reader.h"
#include "file_bytes.h"
#include "format_writer.h"
#include "manifest.h"
#include "plan.h"

namespace quillon {

namespace {

const char kUsage[] =
    "usage: quillon-pack COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  build MANIFEST.json -o UNINSTALLER.exe [--stub STUB.exe] [--codepage N] [--define NAME=VALUE] [--strict]\n"
    "        Pack a manifest into an uninstaller: a copy of the stub with the uninstall data appended.\n"
    "  dump UNINSTALLER.exe [--codepage N]\n"
    "        Print the uninstall data of an uninstaller as a manifest (UTF-8 JSON) on stdout.\n"
    "  check MANIFEST.json [--codepage N] [--define NAME=VALUE] [--strict] [--plan]\n"
    "        Check a manifest without writing anything; --plan says what the uninstaller will do.\n"
    "  scan STAGING_FOLDER\n"
    "        Print a manifest skeleton whose \"staging\" section takes every file of the folder.\n"
    "\n"
    "Run \"quillon-pack COMMAND --help\" for details. Exit status: 0 done, 1 input refused, 2 usage error.\n";

const char kBuildHelp[] =
    "usage: quillon-pack build MANIFEST.json -o UNINSTALLER.exe [--stub STUB.exe] [--codepage N]\n"
    "                          [--define NAME=VALUE]... [--strict]\n"
    "\n"
    "Copies the stub and appends the uninstall data described by the manifest.\n"
    "\n"
    "  -o, --output FILE   the uninstaller to write (replaced if it exists; never the stub itself)\n"
    "  --stub FILE         the stub to copy; default: quillon-stub.exe, or quillon-stub64.exe for a\n"
    "                      manifest whose \"architecture\" is \"x64\", found beside quillon-pack, in\n"
    "                      ../share/quillon from it (an installed layout), or in the build tree\n"
    "  --codepage N        the Windows ANSI code page of the target system; overrides the manifest's\n"
    "                      \"codepage\" (default 1252). Supported: 874, 932, 936, 949, 950, 1250-1258\n"
    "\n"
    "  --define NAME=VALUE ${NAME} in any text of the manifest stands for VALUE (repeatable)\n"
    "  --strict            refuse the manifest when it draws any warning\n"
    "\n"
    "Nothing is written when the manifest or the stub is refused. Errors and warnings go to stderr,\n"
    "each with its file:line:column and JSON path; every error is reported, up to 20.\n";

const char kDumpHelp[] =
    "usage: quillon-pack dump UNINSTALLER.exe [--codepage N]\n"
    "\n"
    "Prints the uninstall data appended to an uninstaller as a manifest (UTF-8 JSON) on stdout.\n"
    "Building from that manifest with the same stub gives a byte-identical uninstaller, unless a note\n"
    "on stderr says that it cannot.\n"
    "\n"
    "  --codepage N        the code page the uninstaller's texts are in (default 1252)\n"
    "\n"
    "On damaged data, dump prints what it could read, says on stderr at which byte it stopped\n"
    "and why, and exits with 1. It also exits with 1 when a text is not valid in the code page.\n";

const char kCheckHelp[] =
    "usage: quillon-pack check MANIFEST.json [--codepage N] [--define NAME=VALUE]... [--strict] [--plan]\n"
    "\n"
    "Checks a manifest as build does, without a stub and without writing anything.\n"
    "\n"
    "  --codepage N, --define NAME=VALUE, --strict   as for build\n"
    "  --plan              print what the uninstaller will do, in the order it does it\n";

const char kScanHelp[] =
    "usage: quillon-pack scan STAGING_FOLDER\n"
    "\n"
    "Prints a manifest skeleton (UTF-8 JSON) on stdout: messages to fill in, and a \"staging\" section\n"
    "that makes one file entry for every file below the folder, with flags for the kinds of file it\n"
    "holds. Save it beside the staging folder (the source is written as given) and fill it in.\n";

struct Options {
    std::vector<std::string> positional;
    std::optional<std::string> output;
    std::optional<std::string> stub;
    std::optional<int> codePage;
    std::map<std::string, std::string> defines;
    bool strict = false;
    bool plan = false;
    bool help = false;
};

struct UsageError {
    std::string what;
};

// Parses the options a command takes; any other option is a usage error.
Options ParseOptions(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    const bool takesOutput = command == "build", takesStub = command == "build", takesPlan = command == "check";
    const bool takesManifestOptions = command == "build" || command == "check", takesCodePage = command != "scan";
    Options options;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.compare(0, 2, "--") == 0 && arg.find('=') != std::string::npos) {
            inlineValue = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (takesOutput && (arg == "-o" || arg == "--output")) {
            if (options.output) throw UsageError{"the output is given twice"};
            options.output = value();
        } else if (takesStub && arg == "--stub") {
            if (options.stub) throw UsageError{"--stub is given twice"};
            options.stub = value();
        } else if (takesManifestOptions && arg == "--define") {
            std::string definition = value();
            size_t equals = definition.find('=');
            std::string name = definition.substr(0, equals);
            bool valid = equals != std::string::npos && !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
            for (char c : name) valid = valid && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
            if (!valid) throw UsageError{"--define takes NAME=VALUE with a name of letters, digits and _, not \"" + definition + "\""};
            if (options.defines.count(name)) throw UsageError{"--define " + name + " is given twice"};
            options.defines[name] = definition.substr(equals + 1);
        } else if (takesManifestOptions && arg == "--strict") {
            options.strict = true;
        } else if (takesPlan && arg == "--plan") {
            options.plan = true;
        } else if (takesCodePage && arg == "--codepage") {
            std::string text = value();
            size_t used = 0;
            int number = 0;
            try {
                number = std::stoi(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size()) throw UsageError{"--codepage takes a number, not \"" + text + "\""};
            if (!FindCodePage(number))
                throw UsageError{"code page " + text + " is not supported (supported: 874, 932, 936, 949, 950, 1250 to 1258)"};
            options.codePage = number;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else {
            options.positional.push_back(args[i]);
        }
    }
    return options;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error))
        return std::filesystem::equivalent(a, b, error);
    return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

std::string Plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Summary(const Manifest& manifest) {
    const UninstallData& data = manifest.data;
    size_t messages = 0;
    for (const std::string& message : data.messages) messages += message.empty() ? 0 : 1;
    return Plural(messages, "message", "messages") + ", " + Plural(data.files.size(), "file entry", "file entries") + ", " +
           Plural(data.folderGroups.size(), "folder group", "folder groups") + ", " +
           Plural(data.registry.size(), "registry entry", "registry entries") + ", " +
           Plural(data.patterns.size(), "pattern", "patterns") + ", code page " + std::to_string(manifest.codePage);
}

// Reads and checks a manifest; prints its errors and warnings. False after printing the refusal,
// also for warnings under --strict.
bool LoadManifestFile(const std::string& path, const Options& options, Manifest* manifest, std::ostream& err) {
    Bytes bytes;
    std::string error;
    if (!ReadFileBytes(path, &bytes, &error)) {
        err << "quillon-pack: " << path << ": " << error << "\n";
        return false;
    }
    LoadOptions load;
    load.codePage = options.codePage;
    load.defines = options.defines;
    // UTF-8, as the manifest's own texts: the command line's narrow text may be another code page.
    load.baseFolder = std::filesystem::path(path).parent_path().u8string();
    if (load.baseFolder.empty()) load.baseFolder = ".";
    std::vector<std::string> warnings;
    bool ok = LoadManifest(std::string(bytes.begin(), bytes.end()), path, load, manifest, &warnings, &error);
    for (const std::string& warning : warnings) err << warning << "\n";
    if (!ok) {
        err << error << "\n";
        return false;
    }
    if (options.strict && !warnings.empty()) {
        err << "quillon-pack: " << path << ": " << Plural(warnings.size(), "warning", "warnings")
            << " under --strict: refused\n";
        return false;
    }
    return true;
}

// Where build looks for the stub when no --stub is given: beside quillon-pack (a Windows build
// tree, or an installation that keeps them together), in ../share/quillon from it (an installed
// layout), and in the flavour's folder of a build tree (build/native/pack -> build/win32 or win64,
// and build/win64 -> build/win32).
std::vector<std::string> StubCandidates(const std::string& toolFolder, Architecture architecture) {
    namespace fs = std::filesystem;
    const bool x64 = architecture == Architecture::X64;
    const char* name = x64 ? "quillon-stub64.exe" : "quillon-stub.exe";
    const char* flavour = x64 ? "win64" : "win32";
    fs::path tool(toolFolder);
    std::vector<std::string> candidates;
    for (fs::path folder : {tool, tool / ".." / "share" / "quillon", tool / ".." / ".." / flavour, tool / ".." / flavour}) {
        std::string candidate = (folder / name).lexically_normal().string();
        if (std::find(candidates.begin(), candidates.end(), candidate) == candidates.end()) candidates.push_back(candidate);
    }
    return candidates;
}

int Build(const Options& options, std::ostream& out, std::ostream& err, const std::string& toolFolder) {
    if (options.positional.size() != 1) throw UsageError{"build takes one manifest"};
    if (!options.output) throw UsageError{"build needs the output: -o UNINSTALLER.exe"};
    const std::string& manifestPath = options.positional[0];
    const std::string& outputPath = *options.output;
    Manifest manifest;
    if (!LoadManifestFile(manifestPath, options, &manifest, err)) return EXIT_REFUSED;
    // Without --stub, the flavour the manifest asks for decides which stub is looked for.
    std::string stubPath;
    if (options.stub) {
        stubPath = *options.stub;
    } else {
        std::vector<std::string> candidates = StubCandidates(toolFolder, manifest.architecture);
        for (const std::string& candidate : candidates) {
            std::error_code error;
            if (stubPath.empty() && std::filesystem::is_regular_file(candidate, error)) stubPath = candidate;
        }
        if (stubPath.empty()) {
            err << "quillon-pack: no stub found; looked for";
            for (size_t i = 0; i < candidates.size(); ++i) err << (i ? ", " : " ") << candidates[i];
            err << " (give the stub with --stub)\n";
            return EXIT_REFUSED;
        }
    }

    if (SameFile(outputPath, stubPath)) {
        err << "quillon-pack: " << outputPath << ": the output is the stub itself; write the uninstaller elsewhere\n";
        return EXIT_REFUSED;
    }
    if (SameFile(outputPath, manifestPath)) {
        err << "quillon-pack: " << outputPath << ": the output is the manifest itself\n";
        return EXIT_REFUSED;
    }

    Bytes stub, uninstaller;
    std::string error;
    if (!ReadFileBytes(stubPath, &stub, &error)) {
        err << "quillon-pack: " << stubPath << ": " << error << (options.stub ? "" : " (give the stub with --stub)") << "\n";
        return EXIT_REFUSED;
    }
    Architecture stubArchitecture = ReadArchitecture(stub);
    if (manifest.architecture != Architecture::Unknown && stubArchitecture != Architecture::Unknown &&
        stubArchitecture != manifest.architecture) {
        err << "quillon-pack: " << stubPath << ": the stub is " << ArchitectureName(stubArchitecture)
            << ", but the manifest asks for " << ArchitectureName(manifest.architecture)
            << " (\"architecture\"): give the " << ArchitectureName(manifest.architecture) << " stub with --stub\n";
        return EXIT_REFUSED;
    }
    Bytes chain = EncodeUninstallData(manifest.data);
    if (!BuildUninstaller(stub, chain, &uninstaller, &error)) {
        err << "quillon-pack: " << stubPath << ": " << error << "\n";
        return EXIT_REFUSED;
    }
    // Read the result back as the stub will, before anything is written.
    ReadReport check = ReadUninstaller(uninstaller);
    if (!check.complete || !check.canonical || check.dataOffset != stub.size()) {
        err << "quillon-pack: " << outputPath << ": the written data does not read back ("
            << (check.complete ? check.difference : check.stopReason) << "); nothing written\n";
        return EXIT_REFUSED;
    }
    if (!WriteFileBytes(outputPath, uninstaller, &error)) {
        err << "quillon-pack: " << outputPath << ": " << error << "\n";
        return EXIT_REFUSED;
    }
    out << outputPath << ": " << Summary(manifest) << "\n";
    return EXIT_OK;
}

int Check(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 1) throw UsageError{"check takes one manifest"};
    Manifest manifest;
    if (!LoadManifestFile(options.positional[0], options, &manifest, err)) return EXIT_REFUSED;
    EncodeUninstallData(manifest.data);
    if (options.plan) out << DescribePlan(manifest.data, *FindCodePage(manifest.codePage));
    out << options.positional[0] << ": ok: " << Summary(manifest) << "\n";
    return EXIT_OK;
}

// The dump of canonical data promises a byte-identical rebuild. Where the manifest cannot carry
// every byte (a message table of other than 16 strings, byte pairs that the code page reads but
// writes back in another form), the rebuild is made here and the difference noted instead.
void NoteRebuildDifference(const Bytes& file, const ReadReport& report, const UninstallData& rebuilt,
                           const std::string& path, std::ostream& err) {
    Bytes chain = EncodeUninstallData(rebuilt);
    size_t start = report.dataOffset, length = file.size() - start;
    size_t at = 0;
    while (at < chain.size() && at < length && chain[at] == file[start + at]) ++at;
    if (at == chain.size() && at == length) return;
    size_t messages = report.data.messages.size();
    err << "quillon-pack: " << path << ": note: a build from this dump is not byte-identical (from byte " << start + at
        << " on): "
        << (messages != rebuilt.messages.size()
                ? "the message table holds " + std::to_string(messages) + " strings, a manifest always " +
                      std::to_string(MSG_COUNT)
                : std::string("texts hold byte pairs that the code page writes back in another form"))
        << "; the meaning is the same\n";
}

int Dump(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 1) throw UsageError{"dump takes one uninstaller"};
    const std::string& path = options.positional[0];
    Bytes file;
    std::string error;
    if (!ReadFileBytes(path, &file, &error)) {
        err << "quillon-pack: " << path << ": " << error << "\n";
        return EXIT_REFUSED;
    }
    ReadReport report = ReadUninstaller(file);
    bool started = report.dataOffset != 0 && report.dataOffset < file.size();
    if (!started) {
        err << "quillon-pack: " << path << ": " << report.stopReason << "\n";
        return EXIT_REFUSED;
    }
    const CodePage* page = FindCodePage(options.codePage.value_or(DEFAULT_CODE_PAGE));
    std::vector<std::string> problems, notes;
    // The flavour of the uninstaller's stub is written into the dump, so that a build from it asks
    // for the same one.
    std::string manifestText = DumpManifest(report.data, *page, &problems, &notes, ReadArchitecture(file));
    out << manifestText;
    out.flush();
    for (const std::string& problem : problems) err << "quillon-pack: " << path << ": " << problem << "\n";
    for (const std::string& note : notes) err << "quillon-pack: " << path << ": note: " << note << "\n";
    if (!report.complete) {
        err << "quillon-pack: " << path << ": stopped at byte " << report.stopOffset << ": " << report.stopReason
            << "; the manifest above holds what was read before\n";
        return EXIT_REFUSED;
    }
    if (!report.canonical)
        err << "quillon-pack: " << path << ": note: the data is not laid out as quillon-pack writes it ("
            << report.difference << "); a build from this dump gives other bytes with the same meaning\n";
    if (problems.empty()) {
        Manifest rebuilt;
        if (!LoadManifest(manifestText, "the dump", page->number(), &rebuilt, nullptr, &error))
            err << "quillon-pack: " << path << ": note: build would refuse this dump: " << error << "\n";
        else if (report.canonical)
            NoteRebuildDifference(file, report, rebuilt.data, path, err);
    }
    return problems.empty() ? EXIT_OK : EXIT_REFUSED;
}

// A skeleton for a staging folder: messages to fill in and one "staging" section, with flags for
// the kinds of file found (fonts, programs); a summary goes to stderr.
int Scan(const Options& options, std::ostream& out, std::ostream& err) {
    namespace fs = std::filesystem;
    if (options.positional.size() != 1) throw UsageError{"scan takes one staging folder"};
    const std::string& stage = options.positional[0];
    std::error_code error;
    if (!fs::is_directory(fs::path(stage), error)) {
        err << "quillon-pack: " << stage << ": no such folder\n";
        return EXIT_REFUSED;
    }
    size_t files = 0, folders = 0;
    std::set<std::string> extensions;
    for (fs::recursive_directory_iterator it(fs::path(stage), error), end; !error && it != end; it.increment(error)) {
        if (it->is_directory(error)) ++folders;
        else if (it->is_regular_file(error)) {
            ++files;
            std::string extension = it->path().extension().u8string();
            for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            extensions.insert(extension);
        }
    }
    if (error) {
        err << "quillon-pack: " << stage << ": " << error.message() << "\n";
        return EXIT_REFUSED;
    }
    nlohmann::ordered_json skeleton;
    skeleton["messages"] = {{"title", "APPLICATION Setup"},
                            {"confirm", "APPLICATION and all of its components will be removed. Continue?"},
                            {"finished", "APPLICATION was removed."},
                            {"read_error", "%s is damaged and cannot be read."}};
    nlohmann::ordered_json section;
    section["source"] = fs::path(stage).u8string(); // JSON is UTF-8, the command line may not be
    section["target"] = ".";
    section["exclude"] = nlohmann::ordered_json::array();
    nlohmann::ordered_json flags = nlohmann::ordered_json::object();
    for (const char* font : {".ttf", ".otf", ".ttc", ".fon"})
        if (extensions.count(font)) flags[std::string("*") + font] = {"font"};
    if (extensions.count(".exe")) {
        flags["*.exe"] = {"check_in_use"};
        skeleton["messages"]["files_in_use"] = "APPLICATION is still running. Close it, then click Retry.";
    }
    section["flags"] = flags;
    skeleton["staging"] = nlohmann::ordered_json::array({section});
    skeleton["registry"] = nlohmann::ordered_json::array();
    out << skeleton.dump(2) << "\n";
    err << "quillon-pack: " << stage << ": " << Plural(files, "file", "files") << " in " << Plural(folders, "sub-folder", "sub-folders")
        << "; \"source\" is written as given: save the manifest where that path leads to the folder\n";
    return EXIT_OK;
}

} // namespace

int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::string& toolFolder) {
    if (args.empty()) {
        err << kUsage;
        return EXIT_USAGE;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        if (command == "help" && args.size() == 2) return RunPackCommand({args[1], "--help"}, out, err, toolFolder);
        out << kUsage;
        return EXIT_OK;
    }
    const char* help = command == "build" ? kBuildHelp
                       : command == "dump" ? kDumpHelp
                       : command == "check" ? kCheckHelp
                       : command == "scan" ? kScanHelp
                                           : nullptr;
    if (!help) {
        err << "quillon-pack: unknown command \"" << command << "\"\n\n" << kUsage;
        return EXIT_USAGE;
    }
    try {
        Options options = ParseOptions(args);
        if (options.help) {
            out << help;
            return EXIT_OK;
        }
        if (command == "build") return Build(options, out, err, toolFolder);
        if (command == "dump") return Dump(options, out, err);
        if (command == "scan") return Scan(options, out, err);
        return Check(options, out, err);
    } catch (const UsageError& usage) {
        err << "quillon-pack " << command << ": " << usage.what << "\n\n" << help;
        return EXIT_USAGE;
    } catch (const std::exception& failure) {
        err << "quillon-pack " << command << ": " << failure.what() << "\n";
        return EXIT_REFUSED;
    }
}

} // namespace quillon
