// Linux has no autorelease pools: the pool's place around thread bodies and platform queries
// stays, and it does nothing.
#pragma once

#include "KL_AutoreleasePool.h"

class KL_LinuxAutoreleasePool : public KL_AutoreleasePoolInterface {
public:
    KL_LinuxAutoreleasePool() = default;
    ~KL_LinuxAutoreleasePool() override = default;
};
