// The pre-uninstall command from the settings: expanded, composed, split and started.
#pragma once

void RunPreUninstallCommand();
