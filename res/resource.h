// Resource identifiers shared by the resource script and the user interface code.
#pragma once

#define IDI_MAIN 800
#define IDD_READONLY_PROMPT 109
#define IDD_PROGRESS 110
#define IDC_TEXT 1000
#define IDC_YES_TO_ALL 1001
#define IDC_NO_TO_ALL 1002
#define IDC_PROGRESS 1009
