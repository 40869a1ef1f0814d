// KL_TlsServerSessionImpl: a session that runs the server side of the handshake.
#pragma once

#include "KL_TlsSessionImpl.h"

class KL_TlsServerSessionImpl : public KL_TlsSessionImpl {
public:
    using KL_TlsSessionImpl::KL_TlsSessionImpl;
    [[nodiscard]] KL_Result Handshake() override { return RunHandshake(false); }
};
