// Drives LoadUninstallDataFrom over the emulated file and translates what it kept into the
// packer's data types, so that both readers can be compared field by field.
#include "stub_loader.h"

#include "data/format.h"
#include "data/lists.h"
#include "data/loader.h"
#include "data/messages.h"
#include "data/run_context.h"
#include "emulated_windows.h"
#include "paths/path_helpers.h"

RunContext TheRun;

// The loader's caller finds the path with GetModuleFileNameA; here it is the emulated file's.
bool GetUninstallerPath(char* path)
{
    std::string name = emulated::FILE_NAME;
    name.copy(path, name.size());
    path[name.size()] = '\0';
    return true;
}

namespace stub_loader {

namespace {

char modulePath[PATH_SIZE];

// The strings of the pattern list up to the empty one, as the pattern pass walks them.
std::vector<std::string> PatternsKept()
{
    std::vector<std::string> patterns;
    const char* list = TheRun.PatternList;
    if (list == nullptr)
        return patterns;
    const char* end = list + TheRun.PatternListLength;
    for (const char* at = list; at < end && *at != '\0';) {
        const char* stop = at;
        while (stop < end && *stop != '\0')
            ++stop;
        if (stop == end)
            break;
        patterns.emplace_back(at, stop);
        at = stop + 1;
    }
    return patterns;
}

void CopyKept(Load& load)
{
    quillon::UninstallData& data = load.data;
    for (char** entry = TheRun.MessageTable; entry != nullptr && *entry != nullptr; ++entry)
        data.messages.emplace_back(*entry);
    for (DWORD i = 0; i < TheRun.FileCount; ++i)
        data.files.push_back({TheRun.FileList[i]->Folder, TheRun.FileList[i]->FileName, TheRun.FileList[i]->Flags});
    for (DWORD i = 0; i < TheRun.FolderGroupCount; ++i) {
        const FolderGroupEntry* group = TheRun.FolderGroupList[i];
        data.folderGroups.push_back({static_cast<uint8_t>(group->ParentLevels), group->Folder, group->SecondFolder,
                                     group->FileName});
    }
    for (DWORD i = 0; i < TheRun.RegistryCount; ++i)
        data.registry.push_back({TheRun.RegistryList[i]->Root, TheRun.RegistryList[i]->KeyPath});
    data.patterns = PatternsKept();
    load.hasSettings = TheRun.SettingsBlock != nullptr;
    data.settings.flags = GetSettingsFlags();
    if (const char* command = GetPreUninstallCommand())
        data.settings.preCommand = command;
    if (const char* document = GetClosingDocument())
        data.settings.closingDocument = document;
}

} // namespace

const char* ModulePath() { return emulated::FILE_NAME; }

Load LoadFile(const uint8_t* file, size_t size, uint32_t offset, size_t failFrom, size_t failCount)
{
    emulated::Reset(file, size);
    TheRun = RunContext();
    GetUninstallerPath(modulePath);
    TheRun.ModulePath = modulePath;
    long liveBefore = emulated::state.liveBlocks;
    emulated::state.failFrom = failFrom;
    emulated::state.failCount = failCount;

    Load load;
    load.loaded = LoadUninstallDataFrom(modulePath, offset);
    load.requests = emulated::state.requests;
    emulated::state.failFrom = 0;
    for (const emulated::Box& box : emulated::state.boxes)
        load.boxes.push_back({box.text, box.caption});
    if (TheRun.FileList != nullptr || TheRun.FileCount == 0) // a failed load may leave partial lists
        CopyKept(load);
    if (load.loaded) {
        char text[MESSAGE_TEXT_SIZE] = {};
        FormatMessageText(text, MSG_NO_MEMORY, modulePath);
        load.noMemoryText = text;
        FormatMessageText(text, MSG_READ_ERROR, modulePath);
        load.readErrorText = text;
    }
    FreeUninstallData();
    load.leakedBlocks = emulated::state.liveBlocks - liveBefore;
    load.fileLeftOpen = emulated::state.openHandles != 0;
    TheRun = RunContext();
    return load;
}

} // namespace stub_loader
