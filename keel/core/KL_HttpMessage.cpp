#include "KL_HttpMessage.h"

#include "KL_HttpEntity.h"

KL_HttpMessage::KL_HttpMessage(const char* protocol) : m_Protocol(protocol) {}

KL_HttpMessage::~KL_HttpMessage() {
    delete m_Entity;
}

KL_Result KL_HttpMessage::SetProtocol(const char* protocol) {
    m_Protocol = protocol;
    return KL_SUCCESS;
}

KL_Result KL_HttpMessage::SetEntity(KL_HttpEntity* entity) {
    if (entity != m_Entity) {
        delete m_Entity;
        m_Entity = entity;
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpMessage::ParseHeaders(KL_BufferedInputStream& stream) {
    return m_Headers.Parse(stream);
}
