// quillon-stamp: the post-link step of the stub build.
//
// The stub finds its appended data through the 32-bit field behind the data marker. As linked,
// the field holds a placeholder; this tool writes the file's own size into it, which is where
// data appended to the unchanged file begins. It refuses a file whose marker is absent or occurs
// more than once, since then the field cannot be told. Before that it makes the file smaller
// without changing what the loader maps (pe_image.h): it drops the import lookup tables, which only
// binding reads, folds the small trailing tables into the section before them, and drops the DOS
// program from the headers when that saves a file-alignment unit.
#include <cstdio>
#include <cstring>
#include <string>

#include "file_bytes.h"
#include "format_writer.h"
#include "pe_image.h"

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: quillon-stamp STUB.exe\n"
                    "Compacts the stub's file (import lookup tables, trailing sections, headers) and writes its own file size into its data offset field, in place.\n");
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon-stamp STUB.exe\n");
        return 2;
    }
    const std::string path = argv[1];
    quillon::Bytes stub;
    std::string error;
    if (!quillon::ReadFileBytes(path, &stub, &error) || !quillon::DropImportLookupTables(stub, &error) ||
        !quillon::FoldTrailingSections(stub, &error) || !quillon::CompactHeaders(stub, &error) ||
        !quillon::StampStub(stub, &error) ||
        !quillon::WriteFileBytes(path, stub, &error)) {
        std::fprintf(stderr, "quillon-stamp: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    return 0;
}
