#include "KL_HttpConnectionManager.h"

#include "KL_Check.h"
#include "KL_Log.h"
#include "KL_System.h"

KL_SET_LOCAL_LOGGER("keel.http.connections");

namespace {

constexpr KL_Timeout kCleanupInterval = 5000;

KL_TimeStamp Now() {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    return now;
}

} // namespace

std::atomic<KL_HttpConnectionManager*> KL_HttpConnectionManager::s_Instance{nullptr};

// ---------------------------------------------------------------------------------------------
// Connection

KL_HttpConnectionManager::Connection::Connection(KL_HttpConnectionManager* manager,
                                                 const KL_SocketReference& socket, const char* key)
    : m_Manager(manager), m_Socket(socket), m_Key(key != nullptr ? key : "") {}

KL_HttpConnectionManager::Connection::~Connection() {
    if (m_Manager != nullptr) {
        (void)m_Manager->UntrackConnection(this);
    }
    m_InputStream.Release();
    m_OutputStream.Release();
    m_Socket.Release();
}

void KL_HttpConnectionManager::Connection::SetStreams(const KL_InputStreamReference& input,
                                                      const KL_OutputStreamReference& output) {
    m_InputStream = input;
    m_OutputStream = output;
}

KL_Result KL_HttpConnectionManager::Connection::GetInfo(KL_SocketInfo& info) {
    if (m_Socket.IsNull()) {
        return KL_ERROR_INVALID_STATE;
    }
    return m_Socket->GetInfo(info);
}

KL_Result KL_HttpConnectionManager::Connection::Recycle() {
    if (m_Manager == nullptr) {
        delete this;
        return KL_SUCCESS;
    }
    return m_Manager->Recycle(this);
}

KL_Result KL_HttpConnectionManager::Connection::Abort() {
    if (m_Socket.IsNull()) {
        return KL_SUCCESS;
    }
    return m_Socket->Cancel(true);
}

// ---------------------------------------------------------------------------------------------
// Manager

KL_HttpConnectionManager* KL_HttpConnectionManager::GetInstance() {
    if (s_Instance.load() == nullptr) {
        KL_AutoLock lock(KL_GetSingletonLock());
        if (s_Instance.load() == nullptr) {
            KL_HttpConnectionManager* manager = new KL_HttpConnectionManager(true);
            s_Instance.store(manager);
            KL_AutomaticCleaner::GetInstance()->RegisterHttpConnectionManager(manager);
        }
    }
    return s_Instance.load();
}

KL_HttpConnectionManager* KL_HttpConnectionManager::GetExistingInstance() {
    return s_Instance.load();
}

KL_String KL_HttpConnectionManager::MakeKey(const char* scheme, const char* host, uint16_t port) {
    KL_String key = KL_String::Format("%s://%s:%u", scheme != nullptr ? scheme : "",
                                      host != nullptr ? host : "", static_cast<unsigned>(port));
    key.MakeLowercase();
    return key;
}

KL_HttpConnectionManager::KL_HttpConnectionManager(bool start_thread) : m_Aborted(0) {
    if (start_thread) {
        m_ThreadStarted = KL_SUCCEEDED(Start());
    }
}

KL_HttpConnectionManager::~KL_HttpConnectionManager() {
    m_Aborted.SetValue(1);
    if (m_ThreadStarted) {
        (void)Wait();
    }
    KL_AutoLock lock(m_Lock);
    KL_HttpConnectionManager* self = this;
    s_Instance.compare_exchange_strong(self, nullptr);
    // Connections still in clients' hands outlive the manager: they must not call back.
    for (auto* entry : m_Clients.GetEntries()) {
        for (KL_HttpClient::Connection* tracked : entry->GetValue()) {
            if (auto* connection = dynamic_cast<Connection*>(tracked)) {
                connection->m_Manager = nullptr;
            }
        }
    }
    m_Clients.Clear();
    Connection* connection = nullptr;
    while (KL_SUCCEEDED(m_Connections.PopHead(connection))) {
        connection->m_Manager = nullptr;
        delete connection;
    }
}

void KL_HttpConnectionManager::SetConfig(const Config& config) {
    KL_AutoLock lock(m_Lock);
    m_Config = config;
}

KL_Size KL_HttpConnectionManager::GetConnectionCount() {
    KL_AutoLock lock(m_Lock);
    return m_Connections.GetItemCount();
}

KL_HttpConnectionManager::Connection*
KL_HttpConnectionManager::FindConnection(const KL_SocketAddress& address, const char* key) {
    KL_AutoLock lock(m_Lock);
    (void)Cleanup();
    for (auto it = m_Connections.GetFirstItem(); it; ++it) {
        Connection* connection = *it;
        KL_SocketInfo info;
        if (KL_FAILED(connection->GetInfo(info))) {
            continue;
        }
        if (info.remote_address == address && !connection->m_Key.IsEmpty() && key != nullptr &&
            connection->m_Key == key) {
            (void)m_Connections.Erase(it);
            return connection;
        }
    }
    return nullptr;
}

KL_Result KL_HttpConnectionManager::Recycle(Connection* connection) {
    KL_CHECK_POINTER(connection);
    KL_AutoLock lock(m_Lock);
    (void)Cleanup();
    while (!m_Connections.IsEmpty() && m_Connections.GetItemCount() >= m_Config.m_MaxConnections) {
        Connection* oldest = nullptr;
        (void)m_Connections.PopHead(oldest);
        KL_LOG_FINE("removing connection from pool to make some room");
        delete oldest;
    }
    (void)UntrackConnection(connection);
    connection->m_TimeStamp = Now();
    connection->m_IsRecycled = true;
    if (m_Config.m_MaxConnections == 0) {
        delete connection;
        return KL_SUCCESS;
    }
    return m_Connections.Add(connection);
}

KL_Result KL_HttpConnectionManager::Track(KL_HttpClient* client, KL_HttpClient::Connection* connection) {
    KL_CHECK_POINTER(connection);
    KL_AutoLock lock(m_Lock);
    KL_List<KL_HttpClient::Connection*>& list = m_Clients[client];
    if (!list.Contains(connection)) {
        return list.Add(connection);
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpConnectionManager::UntrackConnection(KL_HttpClient::Connection* connection) {
    KL_AutoLock lock(m_Lock);
    for (auto* entry : m_Clients.GetEntries()) {
        if (KL_SUCCEEDED(entry->UseValue().Remove(connection))) {
            if (entry->GetValue().IsEmpty()) {
                KL_HttpClient* client = entry->GetKey();
                (void)m_Clients.Erase(client);
            }
            return KL_SUCCESS;
        }
    }
    return KL_ERROR_NO_SUCH_ITEM;
}

KL_Result KL_HttpConnectionManager::AbortConnections(KL_HttpClient* client) {
    KL_AutoLock lock(m_Lock);
    KL_List<KL_HttpClient::Connection*>* list = nullptr;
    if (KL_SUCCEEDED(m_Clients.Get(client, list)) && list != nullptr) {
        for (KL_HttpClient::Connection* connection : *list) {
            (void)connection->Abort();
        }
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpConnectionManager::UntrackClient(KL_HttpClient* client) {
    KL_AutoLock lock(m_Lock);
    (void)m_Clients.Erase(client);
    return KL_SUCCESS;
}

KL_Result KL_HttpConnectionManager::Cleanup() {
    KL_AutoLock lock(m_Lock);
    const KL_TimeStamp now = Now();
    while (!m_Connections.IsEmpty()) {
        auto newest = m_Connections.GetLastItem();
        if (now - (*newest)->m_TimeStamp < m_Config.m_MaxConnectionAge) {
            break;
        }
        Connection* connection = *newest;
        (void)m_Connections.Erase(newest);
        KL_LOG_FINE("cleaning up connection (%d remain)", static_cast<int>(m_Connections.GetItemCount()));
        delete connection;
    }
    return KL_SUCCESS;
}

void KL_HttpConnectionManager::Run() {
    for (;;) {
        const KL_Result result = m_Aborted.WaitUntilEquals(1, kCleanupInterval);
        if (result != KL_ERROR_TIMEOUT) {
            break;
        }
        (void)Cleanup();
    }
}
