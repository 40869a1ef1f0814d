// KL_TlsClientSessionImpl: a session that runs the client side of the handshake.
#pragma once

#include "KL_TlsSessionImpl.h"

class KL_TlsClientSessionImpl : public KL_TlsSessionImpl {
public:
    using KL_TlsSessionImpl::KL_TlsSessionImpl;
    [[nodiscard]] KL_Result Handshake() override { return RunHandshake(true); }
};
