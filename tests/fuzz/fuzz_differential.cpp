// The stub's loader against the packer's reader: for any chain both accept or both refuse, and
// when both accept they hold the same entries, texts and settings.
#include "format_reader.h"
#include "fuzz_support.h"
#include "stub_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quillon::Bytes file = fuzz::FileWithChain(data, size);
    stub_loader::Load load = stub_loader::LoadFile(file.data(), file.size(), fuzz::CHAIN_OFFSET);
    quillon::ReadReport report = quillon::ReadChain(file, fuzz::CHAIN_OFFSET);
    if (load.loaded != report.complete)
        fuzz::Finding(std::string("the stub ") + (load.loaded ? "loads" : "refuses") + " what the packer's reader " +
                      (report.complete ? "reads whole" : "stops at: " + report.stopReason));
    if (!load.loaded)
        return 0;
    if (load.hasSettings != report.hasSettings)
        fuzz::Finding("only one reader has a settings block");
    std::string difference = fuzz::Difference(load.data, report.data);
    if (!difference.empty())
        fuzz::Finding("stub against packer: " + difference);
    return 0;
}
