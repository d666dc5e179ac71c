// Wildcard pattern removal: files an application made after installation, and the folders they
// leave empty. Works through the process's current folder.
#pragma once

void RemovePatterns();
// The full path of a pattern into path (PATH_SIZE bytes): macros expanded, or else relative to
// InstallDir. False when it does not fit; a cut path would name another folder.
bool ComposePatternPath(char* path, const char* pattern);
void RemovePatternInCwd(const char* filePattern);
void RemoveCwdAndStepUp();
