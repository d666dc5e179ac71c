// The packer's reader on any chain, and the writer behind it: what the reader takes in, written
// again, reads back canonical and the same; a canonical chain is exactly what the writer writes.
#include "format_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quillon::Bytes file = fuzz::FileWithChain(data, size);
    quillon::ReadReport report = quillon::ReadChain(file, fuzz::CHAIN_OFFSET);
    if (!report.complete)
        return 0;
    quillon::Bytes chain;
    try {
        chain = quillon::EncodeUninstallData(report.data);
    } catch (const std::exception&) {
        return 0; // data the writer refuses (a text beyond the stub's limits) is not rewritten
    }
    if (report.canonical != (chain == quillon::Bytes(data, data + size)))
        fuzz::Finding("the reader's canonical verdict disagrees with the writer's bytes");
    quillon::Bytes again = fuzz::FileWithChain(chain.data(), chain.size());
    quillon::ReadReport reread = quillon::ReadChain(again, fuzz::CHAIN_OFFSET);
    if (!reread.complete || !reread.canonical)
        fuzz::Finding("written data does not read back canonical: " + reread.stopReason + reread.difference);
    std::string difference = fuzz::Difference(report.data, reread.data);
    if (!difference.empty())
        fuzz::Finding("written data reads back different: " + difference);
    return 0;
}
