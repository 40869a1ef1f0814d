#include "KL_DebugOutput.h"

void KL_DebugOutput(const char* /*text*/) {}
