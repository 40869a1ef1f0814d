// KL_BsdSocketStream: what the socket's input and output streams share: the descriptor record,
// kept open as long as a stream holds it (also after its socket object is gone).
#pragma once

#include "KL_BsdSocketFd.h"

class KL_BsdSocketStream {
public:
    explicit KL_BsdSocketStream(const KL_BsdSocketFdReference& fd) : m_SocketFdReference(fd) {}
    virtual ~KL_BsdSocketStream() = default;

protected:
    KL_BsdSocketFd& Fd() { return *m_SocketFdReference.AsPointer(); }

    KL_BsdSocketFdReference m_SocketFdReference;
};
