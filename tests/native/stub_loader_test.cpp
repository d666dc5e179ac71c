// The stub's own loader, built natively over emulated Win32 calls, against the packer's reader on
// chains where the two once gave bytes different meanings: both must accept or both refuse, and
// what both accept must read the same.
#include <gtest/gtest.h>

#include "bytes_support.h"
#include "format_reader.h"
#include "format_writer.h"
#include "stub_loader.h"

using namespace quillon;

namespace {

using native_test::B;

const uint32_t kOffset = 16;

struct Readings {
    stub_loader::Load stub;
    ReadReport packer;
};

Readings ReadBoth(const Bytes& chain)
{
    Bytes file(kOffset, 'S');
    file.insert(file.end(), chain.begin(), chain.end());
    return {stub_loader::LoadFile(file.data(), file.size(), kOffset), ReadChain(file, kOffset)};
}

Bytes Text16(const std::string& text)
{
    Bytes out;
    PutText16(out, text);
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const std::string kNulFolder("C:\\victim\\\0important.dll", 24);

TEST(StubAgainstPacker, BothReadersGiveEveryChainOneMeaning)
{
    Bytes settings = EncodeSettingsBody(Settings());
    Bytes count1 = B({1, 0, 0, 0});
    struct Case {
        const char* name;
        Bytes chain;
        bool accepted;
    } cases[] = {
        {"end block whose length reaches past 4 GiB", B({0x7F, 0x7F, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), true},
        {"file folder holding a NUL",
         BlockWriter().Block(BLOCK_FILES, Cat({count1, Text16(kNulFolder), Text16("harmless.txt"), B({0})})).End().bytes(),
         false},
        {"message holding a NUL",
         BlockWriter().Block(BLOCK_MESSAGES, Cat({B({1, 0, 1, 0}), Text16(std::string("Ti\0tle", 6))})).End().bytes(),
         false},
        {"folder group file holding a NUL",
         BlockWriter().Block(BLOCK_FOLDER_GROUPS, Cat({count1, B({0}), Text16("C:\\g"), Text16(""), Text16(std::string("a\0b", 3))}))
             .End().bytes(),
         false},
        {"registry key holding a NUL",
         BlockWriter().Block(BLOCK_REGISTRY, Cat({count1, B({1, 0, 0, 0x80}), Text16(std::string("Software\\\0X", 11))}))
             .End().bytes(),
         false},
        {"entry running past its block while the file goes on",
         BlockWriter().Block(BLOCK_FILES, Cat({count1, Text16("C:\\x")}), 0, 9).Raw(B({0, 0, 0})).Block(BLOCK_SETTINGS, settings)
             .End().bytes(),
         false},
        {"list count cut by its block", BlockWriter().Block(BLOCK_REGISTRY, B({1, 0})).End().bytes(), false},
        {"message count cut by its block", BlockWriter().Block(BLOCK_MESSAGES, B({1})).End().bytes(), false},
        {"pattern list without its closing empty string",
         BlockWriter().Block(BLOCK_PATTERNS, B({'a', 0, 'b'})).Block(BLOCK_SETTINGS, settings).End().bytes(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Readings read = ReadBoth(c.chain);
        EXPECT_EQ(c.accepted, read.stub.loaded);
        EXPECT_EQ(c.accepted, read.packer.complete) << read.packer.stopReason;
        EXPECT_EQ(0, read.stub.leakedBlocks);
        if (c.accepted && read.packer.complete) {
            EXPECT_EQ(read.stub.data.patterns, read.packer.data.patterns);
            EXPECT_EQ(read.stub.data.files.size(), read.packer.data.files.size());
        }
    }
    // The unclosed pattern list ends before its unterminated last string, in both.
    Readings patterns = ReadBoth(cases[8].chain);
    EXPECT_EQ(std::vector<std::string>{"a"}, patterns.stub.data.patterns);
}

// A 4-byte message body that claims 65,535 strings is refused before anything is allocated for them.
TEST(StubAgainstPacker, AStringCountTheBodyCannotHoldCostsNoAllocations)
{
    Readings read = ReadBoth(BlockWriter().Block(BLOCK_MESSAGES, B({1, 0, 0xFF, 0xFF})).End().bytes());
    EXPECT_FALSE(read.stub.loaded);
    EXPECT_FALSE(read.packer.complete);
    EXPECT_LT(read.stub.requests, 4u);
}

} // namespace
