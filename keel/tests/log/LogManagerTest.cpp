// The log manager: configuration text and keys, the logger tree, forwarding, message lengths,
// the recursion guard and logging from several threads at once.
#include "KL_Environment.h"
#include "KL_File.h"
#include "KL_LogCustomHandler.h"
#include "KL_LogHandler.h"
#include "KL_LogManager.h"
#include "KL_Logger.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries EntriesOf(const KL_LogManager& manager) {
    Entries entries;
    for (const KL_LogManager::ConfigEntry& entry : manager.GetConfigEntries()) {
        entries.emplace_back(entry.m_Key.GetChars(), entry.m_Value.GetChars());
    }
    return entries;
}

} // namespace

TEST(LogManagerTest, ConfigurationText) {
    const struct {
        const char* text;
        Entries entries;
    } cases[] = {
        {"a=1;b = 2 \n c\t=\t3\r d=4", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}},
        {"#a=1;b=2", {{"b", "2"}}},
        {" #a=1", {{"#a", "1"}}},
        {"no equals sign;;=;e=", {{"", ""}, {"e", ""}}},
        {"a=1;b=2;a=3", {{"a", "3"}, {"b", "2"}}},
        {"k=v=w", {{"k", "v=w"}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        KL_LogManager manager(nullptr);
        manager.ParseConfiguration(c.text);
        EXPECT_EQ(EntriesOf(manager), c.entries) << c.text;
    }
}

TEST(LogManagerTest, BooleanAndLevelValues) {
    const struct {
        const char* text;
        int boolean;
        int level;
    } cases[] = {
        {"true", 1, -1},  {"YES", 1, -1},      {"On", 1, -1},      {"1", 1, 1},          {"false", 0, -1},
        {"no", 0, -1},    {"OFF", 0, 32767},   {"0", 0, 0},        {"maybe", -1, -1},    {"INFO", -1, 400},
        {"info", -1, -1}, {"debug", -1, -1},   {"250", -1, 250},   {"-5", -1, -1},       {"ALL", -1, 0},
        {" 250", -1, -1}, {"FINEST", -1, 100}, {"FATAL", -1, 700}, {"32768", -1, 32768}, {"", -1, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KL_LogManager::ParseBoolean(c.text), c.boolean) << c.text;
        EXPECT_EQ(KL_LogManager::ParseLevel(c.text), c.level) << c.text;
    }
}

TEST(LogManagerTest, SourcesAndDefaults) {
    logtest::TemporaryFolder folder;
    const std::string file = folder.GetPath() + "/log.properties";
    ASSERT_TRUE(KL_SUCCEEDED(KL_File::Save(file.c_str(), KL_String("# from a file\nx.level = FINE\n"))));
    const std::string sources =
        " file:" + file + " | | plist:y.level=250|bogus:z.level=INFO|file:/nonexistent/x";
    KL_LogManager manager(sources.c_str());
    KL_Logger* root = manager.GetLogger("");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetLevel(), KL_LOG_LEVEL_OFF);
    EXPECT_EQ(root->GetHandlers().GetItemCount(), 1u); // the default ConsoleHandler
    EXPECT_EQ(EntriesOf(manager),
              (Entries{{".handlers", "ConsoleHandler"}, {"x.level", "FINE"}, {"y.level", "250"}}));
    EXPECT_EQ(manager.GetLogger("x")->GetLevel(), KL_LOG_LEVEL_FINE);
    EXPECT_EQ(manager.GetLogger("y")->GetLevel(), 250);
    EXPECT_EQ(manager.GetLogger("z")->GetLevel(), KL_LOG_LEVEL_OFF);
}

TEST(LogManagerTest, UnconfiguredLoggersAreOff) {
    KL_LogManager manager(nullptr);
    for (const char* name : {"keel.http", "a.b.c", "x"}) {
        KL_Logger* logger = manager.GetLogger(name);
        ASSERT_NE(logger, nullptr);
        EXPECT_EQ(logger->GetLevel(), KL_LOG_LEVEL_OFF);
        EXPECT_EQ(logger->GetParent(), manager.GetLogger(""));
    }
}

TEST(LogManagerTest, TreeAndLevelInheritance) {
    KL_LogManager manager("plist:a.b.level=WARNING;a.b.c.d.forward=yes;.level=FINE");
    KL_Logger* abc = manager.GetLogger("a.b.c");
    ASSERT_NE(abc, nullptr);
    ASSERT_NE(abc->GetParent(), nullptr);
    EXPECT_EQ(abc->GetParent()->GetName(), "a.b");
    EXPECT_EQ(abc->GetLevel(), KL_LOG_LEVEL_WARNING);
    EXPECT_TRUE(abc->IsLevelInherited());
    EXPECT_EQ(abc->GetParent()->GetParent(), manager.GetLogger("")); // "a" has no keys
    // "a.b.c.d.e": the existing a.b.c.d is made as its parent (it has a key), and a.b.c is found.
    KL_Logger* abcde = manager.GetLogger("a.b.c.d.e");
    EXPECT_EQ(abcde->GetParent()->GetName(), "a.b.c.d");
    EXPECT_EQ(abcde->GetParent()->GetParent(), abc);
    EXPECT_EQ(abcde->GetLevel(), KL_LOG_LEVEL_WARNING);
    EXPECT_EQ(manager.GetLogger("other")->GetLevel(), KL_LOG_LEVEL_FINE);
    EXPECT_EQ(manager.GetLogger("a.b.c"), abc);
    std::vector<std::string> names;
    for (const KL_Logger* logger : manager.GetLoggers()) {
        names.emplace_back(logger->GetName().GetChars());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.b", "a.b.c", "a.b.c.d", "a.b.c.d.e", "other"}));
    // A name beginning with "." does not make a second root out of the root's keys.
    EXPECT_EQ(manager.GetLogger(".x")->GetParent(), manager.GetLogger(""));
    EXPECT_EQ(manager.GetLoggers().GetItemCount(), 6u);
    // SetParent applies the same rule.
    KL_Logger* other = manager.GetLogger("other");
    other->SetParent(abc);
    EXPECT_EQ(other->GetLevel(), KL_LOG_LEVEL_WARNING);
}

TEST(LogManagerTest, ForwardingAndHandlerKinds) {
    logtest::CaughtRecords caught;
    KL_LogManager manager("plist:.level=ALL;.handlers=CustomHandler;"
                          "a.handlers=CustomHandler, Bogus ,NullHandler;a.forward=no;"
                          "b.handlers=CustomHandler");
    EXPECT_EQ(manager.GetLogger("a")->GetHandlers().GetItemCount(), 2u);
    for (const char* name : {"a.x", "b.x", "c"}) {
        KL_Logger* logger = manager.GetLogger(name);
        logger->Log(KL_LOG_LEVEL_INFO, "f.cpp", 1, "f", "from %s", name);
    }
    const auto records = caught.Get();
    std::vector<std::string> messages;
    for (const auto& record : records) {
        messages.push_back(record.m_Message);
    }
    // a.x: a's handler only; b.x: b's and the root's; c: the root's.
    EXPECT_EQ(messages, (std::vector<std::string>{"from a.x", "from b.x", "from b.x", "from c"}));
    KL_LogHandler* handler = nullptr;
    EXPECT_EQ(KL_LogHandler::Create("a", "Bogus", handler, manager), KL_ERROR_NO_SUCH_CLASS);
    EXPECT_EQ(handler, nullptr);
    EXPECT_EQ(manager.GetLogger("a")->AddHandler(nullptr, true), KL_ERROR_INVALID_PARAMETERS);
}

TEST(LogManagerTest, LevelTestAndNotOwnedHandlers) {
    logtest::CaughtRecords caught;
    KL_LogManager manager("plist:.level=WARNING;.handlers=NullHandler");
    KL_Logger* logger = manager.GetLogger("x");
    KL_LogCustomHandler* custom = new KL_LogCustomHandler();
    ASSERT_EQ(logger->AddHandler(custom, false), KL_SUCCESS);
    logger->Log(KL_LOG_LEVEL_INFO, "f.cpp", 1, "f", "below");
    logger->Log(KL_LOG_LEVEL_WARNING, "f.cpp", 1, "f", "at");
    logger->DeleteHandlers(); // forgets the custom handler without deleting it
    logger->Log(KL_LOG_LEVEL_SEVERE, "f.cpp", 1, "f", "after");
    ASSERT_EQ(caught.Get().size(), 1u);
    EXPECT_EQ(caught.Get()[0].m_Message, "at");
    EXPECT_EQ(caught.Get()[0].m_Level, KL_LOG_LEVEL_WARNING);
    delete custom;
}

TEST(LogManagerTest, MessageLengths) {
    logtest::CaughtRecords caught;
    KL_LogManager manager("plist:.level=ALL;.handlers=CustomHandler");
    KL_Logger* logger = manager.GetLogger("x");
    const struct {
        size_t length;
        size_t kept;
    } cases[] = {{510, 510},   {511, 511},     {600, 600},    {9214, 9214},
                 {9215, 9215}, {61438, 61438}, {70000, 61438}};
    for (const auto& c : cases) {
        const std::string text(c.length, 'x');
        logger->Log(KL_LOG_LEVEL_INFO, "f.cpp", 1, "f", "%s", text.c_str());
        ASSERT_FALSE(caught.Get().empty());
        EXPECT_EQ(caught.Get().back().m_Message, text.substr(0, c.kept)) << c.length;
    }
}

TEST(LogManagerTest, EightThreadsAtOnce) {
    logtest::CaughtRecords caught;
    KL_LogManager manager("plist:.level=ALL;.handlers=CustomHandler,NullHandler;t.level=INFO");
    // Configured first: while the first GetLogger configures, the others answer null.
    ASSERT_NE(manager.GetLogger(""), nullptr);
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&manager, t] {
            for (int i = 0; i < kLines; ++i) {
                const std::string name = "t." + std::to_string(t) + "." + std::to_string(i % 5);
                KL_Logger* logger = manager.GetLogger(name.c_str());
                if (logger != nullptr && logger->GetLevel() <= KL_LOG_LEVEL_INFO) {
                    logger->Log(KL_LOG_LEVEL_INFO, "f.cpp", 1, "f", "%d %d", t, i);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(caught.Get().size(), static_cast<size_t>(kThreads * kLines));
    EXPECT_EQ(manager.GetLoggers().GetItemCount(), static_cast<KL_Size>(1 + kThreads * 5));
}

// Network handlers send through sockets that log each send: at ALL, every record would log
// again from inside the dispatch. The default manager is used (the sockets log through it), so
// this runs in a fresh process.
TEST(LogManagerDeathTest, NetworkHandlersAtAllDoNotRecurse) {
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    EXPECT_EXIT(
        {
            logtest::LoopbackSocket udp(SOCK_DGRAM);
            logtest::LoopbackSocket tcp(SOCK_STREAM);
            const std::string config =
                "plist:.level=ALL;.handlers=UdpHandler,TcpHandler,ConsoleHandler;.ConsoleHandler.outputs=0;"
                ".UdpHandler.hostname=127.0.0.1;.UdpHandler.port=" +
                std::to_string(udp.GetPort()) +
                ";.TcpHandler.hostname=127.0.0.1;.TcpHandler.port=" + std::to_string(tcp.GetPort()) +
                ";keel.socket.bsd.handlers=UdpHandler";
            (void)KL_Environment::Set("KEEL_LOG_CONFIG", config.c_str());
            KL_Logger* logger = KL_LogManager::GetDefault().GetLogger("keel.test");
            for (int i = 0; i < 20; ++i) {
                logger->Log(KL_LOG_LEVEL_INFO, "f.cpp", 1, "f", "line %d", i);
            }
            std::string datagram;
            const bool received = udp.Receive(datagram, 5000) > 0;
            std::exit(received && logger->GetLevel() == KL_LOG_LEVEL_ALL ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}
