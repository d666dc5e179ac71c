// The leftover audit: what an uninstaller's data names on this machine, before or after its run.
//
// The scan works on the data as the stub's own loader left it in TheRun, and answers every
// question with the stub's own procedures (entry paths, macros, protected folders, folder pins,
// the in-use test, registry views and refused keys), so that its answers are the stub's. It only
// looks: it opens files and keys for reading, never for a change.
#pragma once

#include <string>
#include <vector>

enum class Mode { Before, After };

// What the uninstall does with an item: removes it, asks the user first, or leaves it.
enum class Status { Removed, Asks, Stays };

struct AuditItem {
    std::string kind;  // "file", "folder", "key", "value"
    std::string path;  // full path; for registry items the key, from its root's full name
    std::string value; // the value's name (kind "value"); empty for the default value
    std::string view;  // registry items: "32-bit" or "64-bit"
    Status status = Status::Removed;
    std::string reason; // empty when removed; else a reason code (docs/audit.md)
    std::string detail; // the reason in words
    std::vector<std::string> unlisted; // names that keep a folder or key, when the reason says so
    long sharedCount = -1;             // a shared DLL's count under SharedDLLs; -1 when none
};

// Scans the loaded data. Before: every item that exists now, with what the run would do to it.
// After: every named item that still exists, each with why it stays.
std::vector<AuditItem> ScanLoadedData(Mode mode);

const char* StatusName(Status status); // "removed", "asks", "stays"
