#include "KL_AutoreleasePool.h"

#include "KL_LinuxAutoreleasePool.h"

KL_AutoreleasePool::KL_AutoreleasePool() : m_Delegate(new KL_LinuxAutoreleasePool()) {}

KL_AutoreleasePool::~KL_AutoreleasePool() {
    delete m_Delegate;
}
