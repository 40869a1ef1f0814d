// KL_Socket: forwards every operation to its delegate.
#include "KL_Socket.h"

KL_Socket::KL_Socket(KL_SocketInterface* delegate) : m_Delegate(delegate) {}

KL_Socket::~KL_Socket() {
    delete m_Delegate;
}

KL_Result KL_Socket::Bind(const KL_SocketAddress& address, bool reuse) {
    return m_Delegate->Bind(address, reuse);
}

KL_Result KL_Socket::Connect(const KL_SocketAddress& address, KL_Timeout timeout) {
    return m_Delegate->Connect(address, timeout);
}

KL_Result KL_Socket::WaitForConnection(KL_Timeout timeout) {
    return m_Delegate->WaitForConnection(timeout);
}

KL_Result KL_Socket::GetInputStream(KL_InputStreamReference& stream) {
    return m_Delegate->GetInputStream(stream);
}

KL_Result KL_Socket::GetOutputStream(KL_OutputStreamReference& stream) {
    return m_Delegate->GetOutputStream(stream);
}

KL_Result KL_Socket::GetInfo(KL_SocketInfo& info) {
    return m_Delegate->GetInfo(info);
}

KL_Result KL_Socket::SetReadTimeout(KL_Timeout timeout) {
    return m_Delegate->SetReadTimeout(timeout);
}

KL_Result KL_Socket::SetWriteTimeout(KL_Timeout timeout) {
    return m_Delegate->SetWriteTimeout(timeout);
}

KL_Result KL_Socket::Cancel(bool shutdown) {
    return m_Delegate->Cancel(shutdown);
}

KL_Result KL_Socket::SetNoDelay(bool on) {
    return m_Delegate->SetNoDelay(on);
}

KL_Result KL_Socket::SetQuickAck(bool on) {
    return m_Delegate->SetQuickAck(on);
}

int KL_Socket::GetDescriptor() {
    return m_Delegate->GetDescriptor();
}
