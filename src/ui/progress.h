// The modeless progress dialog, its status line and bar, and the message pump that keeps it alive
// while the removal passes run on the only thread.
#pragma once

bool OpenProgressDialog();
void SetStatusText(int message);
void SetProgress(unsigned percent);
void CloseProgressDialog();
void PumpPendingMessages();
