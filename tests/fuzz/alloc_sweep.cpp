// The allocation-failure sweep: for each seed chain that loads, the stub's loader runs again with
// its Nth heap request failing, for every N the load makes, one N at a time: once (the retry after
// compacting must rescue it), twice (the request fails for good) and for good from N on. Each load
// must end loaded with the same data, or failed with the no-memory message (or no box when even
// the box's buffer could not be had); nothing may leak and the damaged-data message never shows.
//   alloc_sweep SEED_FOLDER...
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "stub_loader.h"

namespace {

std::vector<std::string> SeedFiles(const char* folder)
{
    std::vector<std::string> files;
    if (DIR* dir = opendir(folder)) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                files.push_back(std::string(folder) + "/" + entry->d_name);
        closedir(dir);
    }
    return files;
}

// What is wrong with one load under failing requests; empty when it is sound.
std::string Fault(const stub_loader::Load& load, const stub_loader::Load& reference, size_t count)
{
    if (load.leakedBlocks != 0)
        return std::to_string(load.leakedBlocks) + " blocks leaked";
    if (load.fileLeftOpen)
        return "the file was left open";
    if (load.loaded) {
        if (!load.boxes.empty())
            return "a box after a load that succeeded";
        std::string difference = fuzz::Difference(reference.data, load.data);
        return difference.empty() ? std::string() : "loaded other data: " + difference;
    }
    if (count == 1)
        return "one failed request failed the load: the retry should have rescued it";
    if (load.boxes.size() > 1)
        return std::to_string(load.boxes.size()) + " boxes";
    if (load.boxes.empty())
        return std::string(); // the box's own buffer could not be had: the load fails silently
    const std::string& text = load.boxes[0].text;
    if (text == reference.noMemoryText || text.empty())
        return std::string(); // empty while message 7 had not been read yet
    return "the box shows \"" + text + "\"" + (text == reference.readErrorText ? " (the damaged-data message)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    size_t seeds = 0, points = 0, loads = 0, findings = 0;
    for (int arg = 1; arg < argc; ++arg) {
        for (const std::string& path : SeedFiles(argv[arg])) {
            std::ifstream in(path, std::ios::binary);
            quillon::Bytes chain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            quillon::Bytes file = fuzz::FileWithChain(chain.data(), chain.size());
            stub_loader::Load reference = stub_loader::LoadFile(file.data(), file.size(), fuzz::CHAIN_OFFSET);
            if (!reference.loaded)
                continue; // a chain the stub refuses has nothing to lose to a failed request
            ++seeds;
            for (size_t failAt = 1; failAt <= reference.requests; ++failAt) {
                ++points;
                for (size_t count : {size_t(1), size_t(2), size_t(-1)}) {
                    ++loads;
                    stub_loader::Load load =
                        stub_loader::LoadFile(file.data(), file.size(), fuzz::CHAIN_OFFSET, failAt, count);
                    std::string fault = Fault(load, reference, count);
                    if (!fault.empty()) {
                        ++findings;
                        std::printf("FINDING: %s, request %zu failing %s: %s\n", path.c_str(), failAt,
                                    count == 1 ? "once" : count == 2 ? "twice" : "for good", fault.c_str());
                    }
                }
            }
        }
    }
    std::printf("alloc sweep: %zu seeds that load, %zu failure points, %zu loads, %zu findings\n", seeds, points,
                loads, findings);
    return seeds == 0 || findings != 0;
}
