// The manifest loader on any text: a refusal is one line per error, each naming the file; an
// accepted manifest packs into a chain
// that reads back canonical, and its dump loads back into the same data.
#include "codepages.h"
#include "format_reader.h"
#include "fuzz_support.h"
#include "manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    quillon::Manifest manifest;
    std::string error;
    if (!quillon::LoadManifest(text, "fuzz.json", std::nullopt, &manifest, nullptr, &error)) {
        // Each error is a line of its own that begins with the file's name: a text inside an error
        // that broke the line would start a line without it.
        if (error.empty() || error.find('\r') != std::string::npos)
            fuzz::Finding("an empty refusal, or one holding a carriage return: " + error);
        for (size_t at = 0; at < error.size(); at = error.find('\n', at) + 1) {
            if (error.compare(at, 9, "fuzz.json") != 0)
                fuzz::Finding("an error line that does not name the file: " + error);
            if (error.find('\n', at) == std::string::npos)
                break;
        }
        return 0;
    }
    quillon::Bytes chain = quillon::EncodeUninstallData(manifest.data);
    quillon::Bytes file = fuzz::FileWithChain(chain.data(), chain.size());
    quillon::ReadReport report = quillon::ReadChain(file, fuzz::CHAIN_OFFSET);
    if (!report.complete || !report.canonical)
        fuzz::Finding("a packed manifest does not read back canonical: " + report.stopReason + report.difference);
    std::vector<std::string> problems, notes;
    const quillon::CodePage& page = *quillon::FindCodePage(manifest.codePage);
    std::string dumped = quillon::DumpManifest(report.data, page, &problems, &notes);
    if (!problems.empty())
        fuzz::Finding("the dump of a packed manifest has a problem: " + problems[0]);
    quillon::Manifest rebuilt;
    if (!quillon::LoadManifest(dumped, "dump", manifest.codePage, &rebuilt, nullptr, &error))
        fuzz::Finding("the dump of a packed manifest is refused: " + error);
    std::string difference = fuzz::Difference(manifest.data, rebuilt.data);
    if (!difference.empty())
        fuzz::Finding("the dump loads back different: " + difference);
    return 0;
}
