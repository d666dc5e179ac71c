// Wildcard pattern removal: files an application made after installation, and the folders they
// leave empty. Works through the process's current folder.
#pragma once

void RemovePatterns();
// Calls visit with each pattern of the list, in order; a last one without its NUL is not read.
void ForEachPattern(void (*visit)(const char* pattern));
// Splits a pattern into its folder, written into path (PATH_SIZE bytes: macros expanded, or else
// relative to InstallDir), and its file pattern, returned as a pointer into path. Null when the
// path does not fit (a cut path would name another folder) or the file pattern is no bare name.
const char* ComposePatternFolder(char* path, const char* pattern);
void RemovePatternInCwd(const char* filePattern);
void RemoveCwdAndStepUp();
