#include "config/ProcessFlags.h"

bool LoadPending = true;
bool ClearListPending = false;
bool ExitConfirmed = false;
