// Shared helpers of the fuzz targets; see fuzz_support.h.
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

quillon::Bytes FileWithChain(const uint8_t* chain, size_t size)
{
    quillon::Bytes file(CHAIN_OFFSET, 'S');
    file.insert(file.end(), chain, chain + size);
    return file;
}

namespace {

std::string Shown(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        char piece[8];
        std::snprintf(piece, sizeof piece, c < 0x20 || c >= 0x7F || c == '"' ? "\\x%02X" : "%c", c);
        out += piece;
    }
    return out + "\"";
}

std::string Texts(const std::string& what, const std::string& a, const std::string& b)
{
    return a == b ? std::string() : what + ": " + Shown(a) + " against " + Shown(b);
}

} // namespace

std::string Difference(const quillon::UninstallData& a, const quillon::UninstallData& b)
{
    auto sizes = [](const char* what, size_t x, size_t y) {
        return x == y ? std::string() : std::string(what) + ": " + std::to_string(x) + " against " + std::to_string(y);
    };
    std::string d;
    if (!(d = sizes("messages", a.messages.size(), b.messages.size())).empty()) return d;
    for (size_t i = 0; i < a.messages.size(); ++i)
        if (!(d = Texts("message " + std::to_string(i), a.messages[i], b.messages[i])).empty()) return d;
    if (!(d = sizes("file entries", a.files.size(), b.files.size())).empty()) return d;
    for (size_t i = 0; i < a.files.size(); ++i) {
        const quillon::FileItem &x = a.files[i], &y = b.files[i];
        std::string at = "file entry " + std::to_string(i);
        if (!(d = Texts(at + " folder", x.folder, y.folder)).empty()) return d;
        if (!(d = Texts(at + " name", x.name, y.name)).empty()) return d;
        if (x.flags != y.flags) return at + " flags differ";
    }
    if (!(d = sizes("folder groups", a.folderGroups.size(), b.folderGroups.size())).empty()) return d;
    for (size_t i = 0; i < a.folderGroups.size(); ++i) {
        const quillon::FolderGroupItem &x = a.folderGroups[i], &y = b.folderGroups[i];
        std::string at = "folder group " + std::to_string(i);
        if (x.parentLevels != y.parentLevels) return at + " parent levels differ";
        if (!(d = Texts(at + " folder", x.folder, y.folder)).empty()) return d;
        if (!(d = Texts(at + " second folder", x.secondFolder, y.secondFolder)).empty()) return d;
        if (!(d = Texts(at + " file", x.fileName, y.fileName)).empty()) return d;
    }
    if (!(d = sizes("registry entries", a.registry.size(), b.registry.size())).empty()) return d;
    for (size_t i = 0; i < a.registry.size(); ++i) {
        if (a.registry[i].root != b.registry[i].root) return "registry entry " + std::to_string(i) + " root differs";
        if (!(d = Texts("registry entry " + std::to_string(i), a.registry[i].keyPath, b.registry[i].keyPath)).empty())
            return d;
    }
    if (!(d = sizes("patterns", a.patterns.size(), b.patterns.size())).empty()) return d;
    for (size_t i = 0; i < a.patterns.size(); ++i)
        if (!(d = Texts("pattern " + std::to_string(i), a.patterns[i], b.patterns[i])).empty()) return d;
    const quillon::Settings &x = a.settings, &y = b.settings;
    if (x.flags != y.flags) return "settings flags differ";
    if (x.preCommand.has_value() != y.preCommand.has_value()) return "one has a pre-uninstall command";
    if (x.preCommand && !(d = Texts("pre-uninstall command", *x.preCommand, *y.preCommand)).empty()) return d;
    if (x.closingDocument.has_value() != y.closingDocument.has_value()) return "one has a closing document";
    if (x.closingDocument && !(d = Texts("closing document", *x.closingDocument, *y.closingDocument)).empty()) return d;
    return std::string();
}

void Finding(const std::string& what)
{
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::abort();
}

} // namespace fuzz
