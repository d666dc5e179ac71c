// A shell folder lookup for test builds that answers what the test chose: each CSIDL either fails
// (the default) or gives a path of the test's choosing. Link the object library
// stub_seam_fake_shell_folders instead of stub_seam_shell_folders to use it.
#pragma once

#include <string>
#include <vector>

namespace qt {

// The answer for one CSIDL from now on; without a path the lookup fails.
void SetFakeShellFolder(int csidl, const std::string& path);
void FailFakeShellFolder(int csidl);
// Every lookup fails again, and the record of lookups is emptied.
void ResetFakeShellFolders();
// The CSIDL numbers asked for since the last reset, in order.
std::vector<int> FakeShellFolderLookups();

} // namespace qt
