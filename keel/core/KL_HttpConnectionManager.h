// KL_HttpConnectionManager: the process-wide pool of idle kept-alive HTTP connections, with a
// clean-up thread that closes connections idle for too long, and the table of connections
// handed to each client (so that a client's Abort reaches them).
//
// A pooled connection is matched by the server's socket address and by its key (scheme, host
// name and port of the URL it was opened for): a connection verified for one host name never
// serves another name that happens to share its address.
#pragma once

#include "KL_AutomaticCleaner.h"
#include "KL_HttpClient.h"
#include "KL_List.h"
#include "KL_Map.h"
#include "KL_Mutex.h"
#include "KL_SharedVariable.h"
#include "KL_Socket.h"
#include "KL_Thread.h"
#include "KL_TimeStamp.h"

#include <atomic>

class KL_HttpConnectionManager : public KL_Thread, public KL_AutomaticCleaner::Singleton {
public:
    class Connection : public KL_HttpClient::Connection {
    public:
        // key: what the connection serves (see MakeKey); empty never matches a lookup.
        Connection(KL_HttpConnectionManager* manager, const KL_SocketReference& socket, const char* key = "");
        ~Connection() override;

        KL_InputStreamReference& GetInputStream() override { return m_InputStream; }
        KL_OutputStreamReference& GetOutputStream() override { return m_OutputStream; }
        void SetStreams(const KL_InputStreamReference& input, const KL_OutputStreamReference& output);
        [[nodiscard]] KL_Result GetInfo(KL_SocketInfo& info) override;
        bool SupportsPersistence() override { return true; }
        bool IsRecycled() override { return m_IsRecycled; }
        KL_Result Recycle() override;
        KL_Result Abort() override;

        const KL_SocketReference& GetSocket() const { return m_Socket; }
        const KL_String& GetKey() const { return m_Key; }
        const KL_TimeStamp& GetTimeStamp() const { return m_TimeStamp; }

    private:
        friend class KL_HttpConnectionManager;

        KL_HttpConnectionManager* m_Manager;
        bool m_IsRecycled = false;
        KL_TimeStamp m_TimeStamp;
        KL_SocketReference m_Socket;
        KL_InputStreamReference m_InputStream;
        KL_OutputStreamReference m_OutputStream;
        KL_String m_Key;
    };

    struct Config {
        KL_Size m_MaxConnections = 5;
        KL_TimeStamp m_MaxConnectionAge = KL_TimeStamp::FromSeconds(50);
    };

    // The process-wide manager, made (and its thread started) on first use.
    static KL_HttpConnectionManager* GetInstance();
    // The process-wide manager when it exists, else null (never makes it).
    static KL_HttpConnectionManager* GetExistingInstance();
    // "scheme://host:port" in lower case: the key of a connection to that server.
    static KL_String MakeKey(const char* scheme, const char* host, uint16_t port);

    // A manager of one's own (tests); the clean-up thread starts with start_thread.
    explicit KL_HttpConnectionManager(bool start_thread = true);
    ~KL_HttpConnectionManager() override;

    void SetConfig(const Config& config);
    const Config& GetConfig() const { return m_Config; }
    KL_Size GetConnectionCount();

    // Takes a pooled connection to the address with that key out of the pool (the caller owns
    // it); null when none.
    Connection* FindConnection(const KL_SocketAddress& address, const char* key);
    // Pools the connection (taking ownership), evicting the oldest when the pool is full.
    KL_Result Recycle(Connection* connection);
    KL_Result Track(KL_HttpClient* client, KL_HttpClient::Connection* connection);
    // KL_ERROR_NO_SUCH_ITEM when the connection is not tracked.
    KL_Result UntrackConnection(KL_HttpClient::Connection* connection);
    KL_Result AbortConnections(KL_HttpClient* client);
    // Forgets a client that goes away (its connections stay where they are). 0.
    KL_Result UntrackClient(KL_HttpClient* client);
    // Deletes the connections pooled at least the maximum age ago, from the newest backwards,
    // stopping at the first younger one. Takes the lock.
    KL_Result Cleanup();

    void Run() override;

private:
    KL_Mutex m_Lock;
    Config m_Config;
    KL_SharedVariable m_Aborted;
    bool m_ThreadStarted = false;
    KL_List<Connection*> m_Connections; // oldest first
    KL_Map<KL_HttpClient*, KL_List<KL_HttpClient::Connection*>> m_Clients;

    static std::atomic<KL_HttpConnectionManager*> s_Instance;
};
