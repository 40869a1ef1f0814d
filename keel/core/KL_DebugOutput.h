// KL_DebugOutput: the platform's debug output channel; this system has none, so it writes nothing.
#pragma once

void KL_DebugOutput(const char* text);
