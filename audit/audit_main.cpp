// quillon-audit: what an uninstaller's data names on this machine, before or after its run.
//
//   quillon-audit UNINSTALLER.exe [--before | --after] [--json] [--install-dir DIR]
//
// It loads the data with the stub's own loader, from the offset the uninstaller's marker record
// holds, so a damaged or cut uninstaller gets the loader's own error (the box's text, printed) and
// exit status 126, and the report says nothing about it. The installation folder is the
// uninstaller's own folder unless --install-dir names it (after a run that removed the
// uninstaller, the audit reads a copy kept elsewhere). The scan (audit_scan.cpp) changes nothing.
//
// Exit status: 0 before the run; after it, the number of leftovers, at most 125; 126 when the
// uninstaller cannot be read or the command line is wrong. docs/audit.md describes both outputs.
#include <windows.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "audit.h"
#include "data/format.h"
#include "data/loader.h"
#include "data/memory.h"
#include "data/messages.h"
#include "data/run_context.h"
#include "data/text.h"
#include "file_bytes.h"
#include "format_reader.h"
#include "pe_image.h"
#include "run/driver.h"

namespace {

constexpr int EXIT_FAILED = 126;
constexpr size_t EXIT_LEFTOVERS_MAX = 125;

constexpr quillon::Architecture OwnArchitecture =
    sizeof(void*) == 8 ? quillon::Architecture::X64 : quillon::Architecture::X86;

int Fail(const std::string& text)
{
    std::fprintf(stderr, "quillon-audit: %s\n", text.c_str());
    return EXIT_FAILED;
}

int Usage()
{
    std::fprintf(stderr, "usage: quillon-audit UNINSTALLER.exe [--before | --after] [--json] [--install-dir DIR]\n");
    return EXIT_FAILED;
}

std::string FullPath(const std::string& path)
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length != 0 && length < MAX_PATH ? std::string(full) : std::string();
}

} // namespace

// The stub shows its texts in boxes; the audit prints them. Only the loader's error comes here.
int ShowMessage(const char* text, UINT)
{
    std::fprintf(stderr, "%s\n", text);
    return IDOK;
}

namespace {

void PrintText(const std::vector<AuditItem>& items, Mode mode)
{
    std::printf("%s: %s, installation folder %s (%s)\n", TheRun.ModulePath,
                mode == Mode::Before ? "before the uninstall" : "after the uninstall", TheRun.InstallDir,
                quillon::ArchitectureName(OwnArchitecture));
    size_t counts[3] = {0, 0, 0};
    for (const AuditItem& item : items) {
        ++counts[static_cast<int>(item.status)];
        std::string path = item.path;
        if (item.kind == "value")
            path += "\\\\" + item.value;
        if (!item.view.empty())
            path += " (" + item.view + ")";
        std::printf("%-7s %-6s %s", StatusName(item.status), item.kind.c_str(), path.c_str());
        if (!item.detail.empty())
            std::printf(" -- %s", item.detail.c_str());
        std::printf("\n");
    }
    if (mode == Mode::After)
        std::printf("%lu leftover%s\n", static_cast<unsigned long>(items.size()), items.size() == 1 ? "" : "s");
    else
        std::printf("%lu removed, %lu asks, %lu stay\n", static_cast<unsigned long>(counts[0]),
                    static_cast<unsigned long>(counts[1]), static_cast<unsigned long>(counts[2]));
}

void PrintJson(const std::vector<AuditItem>& items, Mode mode)
{
    nlohmann::ordered_json report;
    report["uninstaller"] = TheRun.ModulePath;
    report["install_dir"] = TheRun.InstallDir;
    report["mode"] = mode == Mode::Before ? "before" : "after";
    report["flavour"] = quillon::ArchitectureName(OwnArchitecture);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    size_t counts[3] = {0, 0, 0};
    for (const AuditItem& item : items) {
        ++counts[static_cast<int>(item.status)];
        nlohmann::ordered_json entry;
        entry["kind"] = item.kind;
        entry["path"] = item.path;
        if (item.kind == "value")
            entry["value"] = item.value;
        if (!item.view.empty())
            entry["view"] = item.view;
        entry["status"] = StatusName(item.status);
        entry["reason"] = item.reason.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(item.reason);
        if (!item.detail.empty())
            entry["detail"] = item.detail;
        if (item.reason == "not_empty" || item.reason == "unlisted_contents")
            entry["unlisted"] = item.unlisted;
        if (item.sharedCount >= 0)
            entry["shared_count"] = item.sharedCount;
        list.push_back(entry);
    }
    report["items"] = list;
    report["summary"] = {{"removed", counts[0]}, {"asks", counts[1]}, {"stays", counts[2]}};
    if (mode == Mode::After)
        report["leftovers"] = items.size();
    // Paths are bytes of the ANSI code page: what is no UTF-8 is replaced, never an error.
    std::printf("%s\n", report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

// Fills the run's buffers as the stub's start-up does: InstallDir ends in a backslash.
bool PrepareRun(const std::string& uninstaller, const std::string& installDir)
{
    DetectPlatform();
    TheRun.ReadOnlyPolicy = -1;
    if (!MemAllocZeroed(PATH_SIZE, &TheRun.ModulePath) || !MemAllocZeroed(PATH_SIZE, &TheRun.TargetPath) ||
        !MemAllocZeroed(PATH_SIZE, &TheRun.InstallDir))
        return false;
    std::string folder = installDir;
    if (folder.empty())
        folder = uninstaller.substr(0, uninstaller.find_last_of('\\') + 1);
    if (folder.back() != '\\')
        folder += '\\';
    if (uninstaller.size() >= PATH_SIZE || folder.size() >= PATH_SIZE)
        return false;
    CopyBytes(TheRun.ModulePath, uninstaller.c_str(), static_cast<DWORD>(uninstaller.size() + 1));
    CopyBytes(TheRun.InstallDir, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string uninstaller;
    std::string installDir;
    Mode mode = Mode::Before;
    bool json = false;
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument == "--before") {
            mode = Mode::Before;
        } else if (argument == "--after") {
            mode = Mode::After;
        } else if (argument == "--json") {
            json = true;
        } else if (argument == "--install-dir" && index + 1 < argc) {
            installDir = FullPath(argv[++index]);
            if (installDir.empty())
                return Fail("the installation folder's path is too long");
        } else if (!argument.empty() && argument[0] != '-' && uninstaller.empty()) {
            uninstaller = argument;
        } else {
            return Usage();
        }
    }
    if (uninstaller.empty())
        return Usage();
    uninstaller = FullPath(uninstaller);
    if (uninstaller.empty())
        return Fail("the uninstaller's path is too long");

    quillon::Bytes bytes;
    std::string error;
    if (!quillon::ReadFileBytes(uninstaller, &bytes, &error))
        return Fail(error);
    quillon::Architecture architecture = quillon::ReadArchitecture(bytes);
    if (architecture != OwnArchitecture) {
        // Its paths and keys are those its own flavour reaches (folder redirection, registry view).
        return Fail(uninstaller + " is " + (architecture == quillon::Architecture::Unknown
                                                ? std::string("no Windows program")
                                                : std::string("an ") + quillon::ArchitectureName(architecture) +
                                                      " uninstaller: audit it with the " +
                                                      quillon::ArchitectureName(architecture) + " quillon-audit"));
    }
    // The marker record tells where the data begins; the stub's own loader reads it from there.
    quillon::ReadReport located = quillon::ReadUninstaller(bytes);
    if (located.dataOffset == 0)
        return Fail(uninstaller + " holds no uninstall data");
    if (!PrepareRun(uninstaller, installDir))
        return Fail("out of memory, or a path longer than 259 characters");
    if (!LoadUninstallDataFrom(TheRun.ModulePath, static_cast<DWORD>(located.dataOffset)))
        return Fail(uninstaller + ": the uninstaller's data cannot be loaded");

    std::vector<AuditItem> items = ScanLoadedData(mode);
    if (json)
        PrintJson(items, mode);
    else
        PrintText(items, mode);
    std::fflush(stdout);
    FreeUninstallData();
    if (mode == Mode::After)
        return static_cast<int>(items.size() < EXIT_LEFTOVERS_MAX ? items.size() : EXIT_LEFTOVERS_MAX);
    return 0;
}
