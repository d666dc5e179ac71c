// The benchmark's workloads and their three renderings.
//
// W(n) is one uninstall job: n small files spread over n/100 folders of the installation folder,
// a separate tree of n/2 files cleaned by one wildcard pattern, a folder group of shortcuts with
// one parent level, 100 registry keys with values and 100 single values under HKEY_CURRENT_USER.
// L(n) is a description of n file entries that name nothing on disk, for timing the load alone.
//
// The same entry list is rendered three ways: as Quillon uninstall data, as the raw program's
// list of Win32 calls (in the order in which the stub's passes make them), and as an NSIS script.
// The tree is created before each timed run and checked afterwards.
#pragma once

#include <string>
#include <vector>

#include "format_writer.h"

namespace bench {

enum { FILES_PER_FOLDER = 100, SHORTCUT_COUNT = 10, REGISTRY_KEY_COUNT = 100, REGISTRY_VALUE_COUNT = 100 };

// Everything lives below root (a Windows path such as C:\quillon-bench): the installation folder
// root\app, which also holds the uninstaller as uninstall.exe, and the shortcut folders root\menu.
struct Workload {
    std::string root;
    int n = 0;

    std::string InstallDir() const { return root + "\\app"; }
    std::string UninstallerPath() const { return InstallDir() + "\\uninstall.exe"; }
    int FileFolderCount() const { return (n + FILES_PER_FOLDER - 1) / FILES_PER_FOLDER; }
    int PatternFileCount() const { return n / 2; }
    int PatternFolderCount() const { return (PatternFileCount() + FILES_PER_FOLDER - 1) / FILES_PER_FOLDER; }
    // Files, folders, keys and values that a complete run removes.
    long RemovedItemCount() const;
};

// One call of the raw program.
struct RawOp {
    enum Kind { DELETE_FILE = 'F', REMOVE_FOLDER = 'D', DELETE_KEY = 'K', DELETE_VALUE = 'V' } kind;
    std::string path;  // file or folder; for keys and values the key path below HKEY_CURRENT_USER
    std::string value; // value name (DELETE_VALUE)
};

quillon::UninstallData QuillonData(const Workload& w);
// n file entries below root\app\gone, which does not exist.
quillon::UninstallData LoadOnlyData(int n);
std::vector<RawOp> RawOps(const Workload& w);
std::string RawOpsText(const std::vector<RawOp>& ops); // one op a line: kind, tab, path[, tab, value]
// The script of an installer whose only work is to write uninstallerPath; its uninstall section
// does the job of W(n) in the order of the raw program.
std::string NsisScript(const Workload& w, const std::string& setupName, const std::string& uninstallerPath);
// Every path the stub's file pass tests for being in use, in list order.
std::vector<std::string> FileEntryPaths(const Workload& w);

// Removes whatever a run left below root and the benchmark's registry key.
bool CleanTree(const std::string& root, std::string* error);
void CleanRegistry();
// Creates the files, folders, keys and values of W(n) (the uninstaller is placed by the caller).
bool CreateTree(const Workload& w, std::string* error);
bool CreateRegistry(std::string* error);
// The files and folders of W(n) relative to root, parents first, one a line: "D folder" or
// "F file". run-bench.sh's tree helper creates the tree natively from it, which takes a fraction
// of the time that Wine needs.
std::string TreeListing(const Workload& w);
// What W(n)'s run should have removed and did not: empty when everything is gone. The
// installation folder must still hold the uninstaller and nothing else.
std::string Leftovers(const Workload& w);

} // namespace bench
