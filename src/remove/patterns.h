// Wildcard pattern removal: files an application made after installation, and the folders they
// leave empty. Works through the process's current folder.
#pragma once

void RemovePatterns();
void RemovePatternInCwd(const char* filePattern);
void RemoveCwdAndStepUp();
