// The stub's loader on any chain: no memory fault, no leak, the file closed, at most one box,
// and a box only when the load failed.
#include "fuzz_support.h"
#include "stub_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quillon::Bytes file = fuzz::FileWithChain(data, size);
    stub_loader::Load load = stub_loader::LoadFile(file.data(), file.size(), fuzz::CHAIN_OFFSET);
    if (load.leakedBlocks != 0)
        fuzz::Finding(std::to_string(load.leakedBlocks) + " heap blocks leaked");
    if (load.fileLeftOpen)
        fuzz::Finding("the file was left open");
    if (load.boxes.size() != (load.loaded ? 0u : 1u))
        fuzz::Finding(std::to_string(load.boxes.size()) + " boxes after a load that " +
                      (load.loaded ? "succeeded" : "failed"));
    return 0;
}
