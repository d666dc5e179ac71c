// The modal question before a read-only file is deleted: Yes, Yes to all, No, No to all.
#pragma once

enum { IDC_YES_TO_ALL_ANSWER = 1001, IDC_NO_TO_ALL_ANSWER = 1002 };

int ShowReadOnlyPrompt(const char* path);
