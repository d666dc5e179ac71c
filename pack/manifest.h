// The manifest: what an installer author writes (UTF-8 JSON) and what the packer turns into
// uninstall data, and back.
//
// LoadManifest reads and checks a manifest, expands its defines and staging sections, and
// converts its texts into the target code page. It refuses anything the stub could not carry out
// as written (texts beyond its buffers, a registry entry that names a whole root) and entries
// that would destroy what is not the application's or do nothing (a shared registry key, a
// repeated shared DLL), each with a line naming the file, the line and column and the JSON path;
// it warns about things that work but are likely mistakes.
// DumpManifest writes uninstall data back as a manifest that LoadManifest turns into the very
// same data. The docs/manifest.md reference describes every key.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codepages.h"
#include "format_writer.h"
#include "pe_image.h"

namespace quillon {

enum { DEFAULT_CODE_PAGE = 1252 };

// The manifest's names of messages 0 to 15, in message number order.
extern const char* const kMessageNames[MSG_COUNT];

struct Manifest {
    UninstallData data; // texts in the code page
    int codePage = DEFAULT_CODE_PAGE;
    // The stub's flavour that "architecture" asks for; Unknown when the manifest leaves it to the
    // stub given (x86 by default).
    Architecture architecture = Architecture::Unknown;
};

struct LoadOptions {
    std::optional<int> codePage;                 // replaces the manifest's own "codepage"
    std::map<std::string, std::string> defines;  // ${NAME} in any text of the manifest
    std::string baseFolder = ".";                // where relative staging folders are found
};

// name is how the manifest is called in messages (usually its path). codePageOverride, when
// given, replaces the manifest's own "codepage". On failure error holds one line, such as
// "app.json: /files/3/flags/0: unknown flag \"fnt\"". Warnings are lines of the same form.
bool LoadManifest(const std::string& jsonText, const std::string& name, std::optional<int> codePageOverride,
                  Manifest* out, std::vector<std::string>* warnings, std::string* error);
// The same with every option. Errors are all reported, up to a bound: error then holds one line
// each, "app.json:12:5: /files/3/flags/0: unknown flag ...", joined by newlines. Warnings are
// lines of the same form, numbered: "app.json:4:9: /files/0: warning 1: ...".
bool LoadManifest(const std::string& jsonText, const std::string& name, const LoadOptions& options, Manifest* out,
                  std::vector<std::string>* warnings, std::string* error);

// The manifest for data whose texts are in page, as UTF-8 JSON text ending in a newline. Every
// text that page cannot show (a byte it does not define) is written with U+FFFD in its place,
// and problems gets a line naming it; so does a value the manifest cannot name (an unknown
// registry root). notes gets a line for each detail without meaning to the uninstaller that
// the manifest leaves out (flag bits that mean nothing, strings beyond message 15).
// architecture, unless Unknown, is written as the manifest's "architecture".
std::string DumpManifest(const UninstallData& data, const CodePage& page, std::vector<std::string>* problems,
                         std::vector<std::string>* notes, Architecture architecture = Architecture::Unknown);

// Registry roots: the manifest's short name of a root value, or empty for an unknown value.
std::string RootName(uint32_t root);

} // namespace quillon
