// The pool: eviction of the oldest, clean-up of idle connections, tracking and abort.
#include "KL_HttpConnectionManager.h"
#include "KL_System.h"

#include <gtest/gtest.h>

namespace {

class CountedConnection : public KL_HttpConnectionManager::Connection {
public:
    CountedConnection(KL_HttpConnectionManager* manager, int& deleted)
        : Connection(manager, KL_SocketReference()), m_Deleted(deleted) {}
    ~CountedConnection() override { ++m_Deleted; }

private:
    int& m_Deleted;
};

void Pause(int64_t millis) {
    (void)KL_System::Sleep(KL_TimeStamp::FromMillis(millis));
}

TEST(HttpConnectionManager, EvictsTheOldestBeyondFive) {
    KL_HttpConnectionManager manager(false);
    int deleted[6] = {};
    for (int& count : deleted) {
        ASSERT_EQ(manager.Recycle(new CountedConnection(&manager, count)), KL_SUCCESS);
    }
    EXPECT_EQ(manager.GetConnectionCount(), 5u);
    EXPECT_EQ(deleted[0], 1);
    EXPECT_EQ(deleted[1], 0);
}

TEST(HttpConnectionManager, CleansUpOnlyWhenTheNewestIsOld) {
    KL_HttpConnectionManager manager(false);
    KL_HttpConnectionManager::Config config;
    config.m_MaxConnectionAge = KL_TimeStamp::FromMillis(3000);
    manager.SetConfig(config);
    int deleted[2] = {};
    ASSERT_EQ(manager.Recycle(new CountedConnection(&manager, deleted[0])), KL_SUCCESS);
    Pause(1500);
    ASSERT_EQ(manager.Recycle(new CountedConnection(&manager, deleted[1])), KL_SUCCESS);
    Pause(1700); // the first is past the age, the second is not
    (void)manager.Cleanup();
    EXPECT_EQ(manager.GetConnectionCount(), 2u);
    Pause(1500);
    (void)manager.Cleanup();
    EXPECT_EQ(manager.GetConnectionCount(), 0u);
    EXPECT_EQ(deleted[0] + deleted[1], 2);
}

TEST(HttpConnectionManager, TracksConnectionsPerClient) {
    KL_HttpConnectionManager manager(false);
    int deleted = 0;
    auto* connection = new CountedConnection(&manager, deleted);
    auto* client = reinterpret_cast<KL_HttpClient*>(&deleted);
    EXPECT_EQ(manager.Track(client, connection), KL_SUCCESS);
    EXPECT_EQ(manager.Track(client, connection), KL_SUCCESS);
    EXPECT_EQ(manager.UntrackConnection(connection), KL_SUCCESS);
    EXPECT_EQ(manager.UntrackConnection(connection), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(manager.Track(client, connection), KL_SUCCESS);
    EXPECT_EQ(manager.AbortConnections(client), KL_SUCCESS);
    delete connection; // leaves the table on its way out
    // Still tracked, it would be aborted here after being freed (AddressSanitizer reports it).
    EXPECT_EQ(manager.AbortConnections(client), KL_SUCCESS);
}

TEST(HttpConnectionManager, StartsAndStopsItsThreadRepeatedly) {
    for (int i = 0; i < 20; ++i) {
        KL_HttpConnectionManager manager(true);
        int deleted = 0;
        ASSERT_EQ(manager.Recycle(new CountedConnection(&manager, deleted)), KL_SUCCESS);
    }
}

TEST(HttpConnectionManager, OutlivedConnectionsDoNotCallBack) {
    int deleted = 0;
    CountedConnection* connection = nullptr;
    {
        KL_HttpConnectionManager manager(true);
        connection = new CountedConnection(&manager, deleted);
        (void)manager.Track(reinterpret_cast<KL_HttpClient*>(&deleted), connection);
    }
    delete connection;
    EXPECT_EQ(deleted, 1);
}

} // namespace
