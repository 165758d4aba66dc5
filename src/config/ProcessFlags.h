#pragma once

// Process-wide switches shared by the tray shell, the check cycle and the
// windows.

// The next check cycle loads the configuration before it checks.
extern bool LoadPending;
// The next check cycle empties the message list before it checks.
extern bool ClearListPending;
// Exit was confirmed: closing the settings window takes its normal course.
extern bool ExitConfirmed;
