// Describing uninstall data as the run that carries it out: the pre-uninstall command, the file
// pass (last entry first), the patterns, the folder groups, the emptied folders, the registry and
// the closing document. It follows the stub's run driver; a change of order there belongs here.
#include "plan.h"

#include "manifest.h"

namespace quillon {

namespace {

// A file entry's path as written: the folder, a backslash, the name.
std::string EntryPath(const FileItem& file) {
    std::string path = file.folder;
    if (!file.name.empty()) path += (path.empty() || path.back() == '\\' ? "" : "\\") + file.name;
    return path;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

std::string DescribePlan(const UninstallData& data, const CodePage& page) {
    auto text = [&page](const std::string& bytes) {
        std::string utf8;
        page.ToUtf8(bytes, &utf8, nullptr, true);
        return utf8;
    };
    std::string plan = "The uninstaller, run from the install folder (\".\"):\n";
    for (const FileItem& file : data.files)
        if ((file.flags & FILE_CHECK_IN_USE) && !file.name.empty())
            plan += "  checks that " + text(EntryPath(file)) +
                    " is not in use, asking until it is free or the user cancels (not with /Q, /S or /X)\n";
    if (data.settings.preCommand)
        plan += "  runs the pre-uninstall command " + text(*data.settings.preCommand) +
                ((data.settings.flags & SETTINGS_WAIT_PRE_COMMAND) ? " and waits for it to end\n" : " without waiting for it\n");

    plan += "Files, last entry first:\n";
    for (size_t i = data.files.size(); i-- > 0;) {
        const FileItem& file = data.files[i];
        if (file.name.empty()) {
            plan += "  removes the folder " + text(file.folder) + " if it is empty\n";
            continue;
        }
        plan += "  ";
        if (file.flags & FILE_SHARED_DLL)
            plan += "lowers the shared count of " + text(EntryPath(file)) + "; when it runs out, ";
        if (file.flags & FILE_FONT) plan += "removes the font, ";
        if (file.flags & FILE_COM_SERVER) plan += "unregisters the COM server, ";
        plan += "deletes " + text(EntryPath(file)) + "\n";
    }
    if (!data.patterns.empty()) plan += "Patterns:\n";
    for (const std::string& pattern : data.patterns) {
        size_t cut = pattern.rfind('\\');
        std::string folder = cut == std::string::npos ? "." : pattern.substr(0, cut);
        std::string files = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
        if (pattern.find('#') == std::string::npos && cut != std::string::npos) folder = ".\\" + folder;
        plan += "  deletes " + (files.empty() ? std::string("no file") : "the files " + text(files)) + " in " + text(folder) +
                " and every folder below it, then removes the folders of that tree left empty\n";
    }
    if (!data.folderGroups.empty()) plan += "Folder groups:\n";
    for (const FolderGroupItem& group : data.folderGroups) {
        plan += "  ";
        if (!group.fileName.empty()) plan += "deletes " + text(group.folder) + "\\" + text(group.fileName) + ", then ";
        plan += "removes the folder " + text(group.folder);
        if (!group.secondFolder.empty()) plan += " and the folder " + text(group.secondFolder);
        plan += " if empty";
        if (group.parentLevels) plan += ", and up to " + std::to_string(group.parentLevels) + " parent folders above when empty";
        plan += "\n";
    }
    std::string emptied, last;
    for (const FileItem& file : data.files) {
        if (file.flags & FILE_FONT) continue;
        std::string path = EntryPath(file);
        std::string folder = file.name.empty() ? file.folder : path.substr(0, path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\'));
        if (folder.empty() || folder == "." || folder == last) continue;
        last = folder;
        emptied += "  removes " + text(folder) + " if empty, then each parent while it is empty, up to a protected folder\n";
    }
    if (!emptied.empty()) plan += "Emptied folders:\n" + emptied;
    if (!data.registry.empty()) plan += "Registry:\n";
    for (const RegistryItem& item : data.registry) {
        std::string key = item.keyPath;
        std::string view;
        if (item.root == ROOT_LOCAL_MACHINE && key.size() >= 10 && Lower(key.substr(0, 10)) == "software64") {
            key.erase(8, 2);
            view = " in the 64-bit view";
        }
        std::string root = RootName(item.root);
        size_t last = key.rfind('\\');
        if (last != std::string::npos && last > 0 && key[last - 1] == '\\') {
            std::string value = key.substr(last + 1);
            plan += "  deletes " + (value.empty() ? std::string("the default value") : "the value \"" + text(value) + "\"") +
                    " of " + root + "\\" + text(key.substr(0, last - 1)) + view + "\n";
        } else {
            plan += "  deletes the key " + root + "\\" + text(key) + view + " with everything below it\n";
        }
    }
    if (data.settings.closingDocument)
        plan += "At the end (not with /S or /X):\n  opens " + text(*data.settings.closingDocument) + "\n";
    return plan;
}

} // namespace quillon
