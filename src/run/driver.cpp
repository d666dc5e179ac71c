// The run driver: the one place that decides what happens in which order.
//
// One run goes straight through: platform, start-up, switches, the uninstall data, the theme
// choice, the hidden main window, confirmation and the files-in-use test, the pre-uninstall
// command, the progress dialog, the removal passes, the closing message and document, tear-down
// and the self-removal. A cancel jumps to tear-down with nothing changed on the machine.
#include "driver.h"

#include "pre_command.h"
#include "self_removal.h"
#include "../data/format.h"
#include "../data/lists.h"
#include "../data/loader.h"
#include "../data/messages.h"
#include "../data/run_context.h"
#include "../remove/files.h"
#include "../remove/folder_groups.h"
#include "../remove/patterns.h"
#include "../remove/registry.h"
#include "../shell/document.h"
#include "../ui/main_window.h"
#include "../ui/progress.h"

// Confirmation and the files-in-use test; returns the answer: 1 goes on, anything else cancels.
static int Confirm()
{
    int answer = ShowMessage(GetMessageText(0, MSG_CONFIRM), MB_OKCANCEL | MB_ICONINFORMATION);
    if (answer != IDOK)
        return answer;
    while (AnyFileInUse()) {
        // A box that cannot be shown (0) ends like Cancel: testing again would never end.
        int pressed = ShowMessage(GetMessageText(0, MSG_FILES_IN_USE), MB_RETRYCANCEL | MB_ICONINFORMATION);
        if (pressed == IDCANCEL || pressed == 0)
            return IDCANCEL;
    }
    return IDOK;
}

static void RemoveEverything()
{
    RunPreUninstallCommand(); // does nothing without a command

    if (!TheRun.SwitchQ && OpenProgressDialog()) {
        TheRun.StepTotal = TheRun.RegistryCount + 2 * TheRun.FileCount + TheRun.FolderGroupCount;
        SetStatusText(MSG_STATUS_FILES);
    }
    RemoveFiles();
    RemovePatterns();
    SetStatusText(MSG_STATUS_GROUPS);
    RemoveFolderGroupFiles();
    RemoveFolderGroups();
    SetStatusText(MSG_STATUS_FOLDERS);
    PruneEmptyFolders();
    SetStatusText(MSG_STATUS_REGISTRY);
    RemoveRegistryEntries();
    CloseProgressDialog();

    const char* finished = GetMessageText(0, MSG_FINISHED);
    if (!TheRun.SwitchQ && finished[0] != '\0')
        ShowMessage(finished, MB_OK | MB_ICONINFORMATION);
    const char* document = GetClosingDocument();
    if (!TheRun.SwitchX && !TheRun.SwitchS && document != nullptr)
        OpenDocument(document, ".htm");
}

int RunUninstaller(HINSTANCE instance, const char* commandLine)
{
    RestrictDllSearch();
    DetectPlatform();
    if (!InitializeRun(instance))
        return 0;
    ParseSwitches(commandLine);
    if (!LoadUninstallData())
        return -1;
    if (!(GetSettingsFlags() & SETTINGS_THEMED_CONTROLS))
        UseClassicControls();
    if (!RegisterMainWindowClass())
        return 0;
    if (!CreateMainWindow())
        return -1;

    int answer = IDOK;
    if (!TheRun.SwitchQ)
        answer = Confirm();
    if (answer == IDOK)
        RemoveEverything();

    DrainMessages();
    FreeUninstallData();
    if (answer == IDOK && !TheRun.SwitchX && !TheRun.SwitchS)
        StartSelfRemoval();
    FinalizeRun();
    return 0;
}
