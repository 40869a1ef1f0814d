// The line and network record forms, and the console, file, TCP and UDP handlers.
#include "KL_File.h"
#include "KL_Log.h"
#include "KL_LogConsoleHandler.h"
#include "KL_LogFileHandler.h"
#include "KL_LogFormat.h"
#include "KL_LogTcpHandler.h"
#include "KL_LogUdpHandler.h"
#include "LogTestSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

KL_LogRecord MakeRecord(int level = KL_LOG_LEVEL_INFO, const char* message = "hi") {
    KL_LogRecord record;
    record.m_LoggerName = "keel.http";
    record.m_Level = level;
    record.m_Message = message;
    record.m_TimeStamp = KL_TimeStamp::FromNanos(1700000000123456789LL);
    record.m_SourceFile = "/src/keel/KL_X.cpp";
    record.m_SourceLine = 42;
    record.m_SourceFunction = "Run";
    record.m_ThreadId = 7;
    return record;
}

std::string Line(const KL_LogRecord& record, uint32_t filter, bool colors) {
    KL_String line;
    KL_LogFormatLine(record, filter, colors, line);
    return line.GetChars();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace

TEST(LogFormatTest, LineWithEachFilterBit) {
    const KL_LogRecord record = MakeRecord();
    const std::string ts = KL_LogFormatTimeStamp(record.m_TimeStamp).GetChars();
    EXPECT_TRUE(std::regex_match(ts, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{9}(Z|[+-]\d\d:\d\d))")))
        << ts;
    const struct {
        uint32_t filter;
        std::string line;
    } cases[] = {
        {0, "/src/keel/KL_X.cpp(42): [keel.http] " + ts + " [Run] (7) INFO: hi\r\n"},
        {1, "[keel.http] " + ts + " [Run] (7) INFO: hi\r\n"},
        {2, "/src/keel/KL_X.cpp(42): [keel.http] [Run] (7) INFO: hi\r\n"},
        {4, "/src/keel/KL_X.cpp(42): [keel.http] " + ts + " (7) INFO: hi\r\n"},
        {8, "/src/keel/KL_X.cpp(42): " + ts + " [Run] (7) INFO: hi\r\n"},
        {16, "KL_X.cpp(42): [keel.http] " + ts + " [Run] (7) INFO: hi\r\n"},
        {32, "/src/keel/KL_X.cpp(42): [keel.http] " + ts + " [Run] INFO: hi\r\n"},
        {1 | 2 | 4 | 8 | 32, "INFO: hi\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Line(record, c.filter, false), c.line) << c.filter;
    }
    KL_LogRecord windows = MakeRecord();
    windows.m_SourceFile = "C:\\src\\a.cpp";
    EXPECT_EQ(Line(windows, 2 | 4 | 8 | 16 | 32, false), "a.cpp(42): INFO: hi\r\n");
}

TEST(LogFormatTest, LevelsAndColours) {
    const uint32_t bare = 1 | 2 | 4 | 8 | 32;
    const struct {
        int level;
        bool colors;
        const char* line;
    } cases[] = {
        {KL_LOG_LEVEL_FATAL, true, "\033[31;1mFATAL\033[0m: hi\r\n"},
        {KL_LOG_LEVEL_SEVERE, true, "\033[31;1mSEVERE\033[0m: hi\r\n"},
        {KL_LOG_LEVEL_WARNING, true, "\033[33;1mWARNING\033[0m: hi\r\n"},
        {KL_LOG_LEVEL_INFO, true, "\033[32;1mINFO\033[0m: hi\r\n"},
        {KL_LOG_LEVEL_FINE, true, "\033[34;1mFINE\033[0m: hi\r\n"},
        {KL_LOG_LEVEL_FINER, true, "\033[35;1mFINER\033[0m: hi\r\n"},
        {KL_LOG_LEVEL_FINEST, true, "\033[36;1mFINEST\033[0m: hi\r\n"},
        {KL_LOG_LEVEL_WARNING, false, "WARNING: hi\r\n"},
        {250, true, "250: hi\r\n"},
        {KL_LOG_LEVEL_ALL, true, "0: hi\r\n"},
        {KL_LOG_LEVEL_OFF, true, "OFF: hi\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Line(MakeRecord(c.level), bare, c.colors), c.line) << c.level;
    }
}

TEST(LogFormatTest, NetworkRecord) {
    const KL_LogRecord record = MakeRecord(KL_LOG_LEVEL_WARNING, "h\xc3\xa9");
    KL_String text;
    KL_LogFormatNetworkRecord(record, text);
    EXPECT_EQ(
        std::string(text.GetChars()),
        "Logger: keel.http\r\nLevel: WARNING\r\nSource-File: /src/keel/KL_X.cpp\r\nSource-Function: Run\r\n"
        "Source-Line: 42\r\nThread-Id: 7\r\nTimeStamp: " +
            std::string(KL_LogFormatTimeStamp(record.m_TimeStamp).GetChars()) +
            "\r\nContent-Length: 3\r\n\r\nh\xc3\xa9");
}

TEST(LogConsoleHandlerTest, Outputs) {
    const KL_LogRecord record = MakeRecord();
    const struct {
        uint32_t outputs;
        const char* out;
        const char* err;
    } cases[] = {
        {0, "", ""}, {1, "", "INFO: hi\n"}, {2, "INFO: hi\r\n", ""}, {3, "INFO: hi\r\n", "INFO: hi\n"}};
    for (const auto& c : cases) {
        KL_LogConsoleHandler handler(c.outputs, false, 1 | 2 | 4 | 8 | 32);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        handler.Log(record);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.outputs;
        EXPECT_EQ(err, c.err) << c.outputs;
    }
}

TEST(LogFileHandlerTest, AppendOrTruncate) {
    logtest::TemporaryFolder folder;
    const std::string path = folder.GetPath() + "/a.log";
    for (const bool append : {true, false}) {
        ASSERT_TRUE(KL_SUCCEEDED(KL_File::Save(path.c_str(), KL_String("old\n"))));
        {
            KL_LogFileHandler handler(path.c_str(), append, true, 1 | 2 | 4 | 8 | 32);
            ASSERT_EQ(handler.Open(), KL_SUCCESS);
            handler.Log(MakeRecord());
            EXPECT_EQ(ReadFile(path), append ? "old\nINFO: hi\r\n" : "INFO: hi\r\n");
        }
    }
    KL_LogFileHandler missing((folder.GetPath() + "/no/such/dir/a.log").c_str());
    EXPECT_TRUE(KL_FAILED(missing.Open()));
}

TEST(LogFileHandlerTest, RotatesTwiceWithoutLosingAFile) {
    logtest::TemporaryFolder folder;
    const std::string path = folder.GetPath() + "/app.log";
    const std::string message(992, 'm'); // 1000-byte lines
    {
        KL_LogFileHandler handler(path.c_str(), true, false, 1 | 2 | 4 | 8 | 32, 10);
        ASSERT_EQ(handler.Open(), KL_SUCCESS);
        for (int i = 0; i < 2100; ++i) {
            handler.Log(MakeRecord(KL_LOG_LEVEL_INFO, message.c_str()));
        }
    }
    std::map<std::string, uintmax_t> rotated; // name -> size
    uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.GetPath())) {
        const std::string name = entry.path().filename().string();
        total += entry.file_size();
        if (name != "app.log") {
            EXPECT_TRUE(std::regex_match(name, std::regex(R"(app-\d{4}-\d\d-\d\dT\d\d_\d\d_\d\d[^.]*\.log)")))
                << name;
            rotated[name] = entry.file_size();
        }
    }
    ASSERT_EQ(rotated.size(), 2u);
    EXPECT_EQ(rotated.begin()->second, 1001000u);
    EXPECT_EQ(rotated.rbegin()->second, 1001000u);
    EXPECT_EQ(total, 2100u * 1000u);
    // Within one second the second name is the first with "-1" before the extension.
    bool numbered = false;
    for (const auto& [name, size] : rotated) {
        numbered = numbered || rotated.count(name.substr(0, name.size() - 4) + "-1.log") == 1;
    }
    if (!numbered) {
        std::printf("the two rotations fell in different seconds: %s %s\n", rotated.begin()->first.c_str(),
                    rotated.rbegin()->first.c_str());
    }
}

TEST(LogUdpHandlerTest, OneDatagramWithItsNul) {
    logtest::LoopbackSocket receiver(SOCK_DGRAM);
    ASSERT_TRUE(receiver.IsOk());
    KL_LogUdpHandler handler;
    ASSERT_EQ(handler.SetTarget("127.0.0.1", receiver.GetPort()), KL_SUCCESS);
    const KL_LogRecord record = MakeRecord();
    handler.Log(record);
    KL_String text;
    KL_LogFormatNetworkRecord(record, text);
    std::string datagram;
    ASSERT_EQ(receiver.Receive(datagram, 5000), static_cast<ssize_t>(text.GetLength() + 1));
    EXPECT_EQ(datagram, std::string(text.GetChars(), text.GetLength() + 1));
}

TEST(LogTcpHandlerTest, ReconnectsAfterTheListenerRestarts) {
    KL_LogRecord record = MakeRecord();
    auto listener = std::make_unique<logtest::LoopbackSocket>(SOCK_STREAM);
    ASSERT_TRUE(listener->IsOk());
    const uint16_t port = listener->GetPort();
    KL_LogTcpHandler handler("127.0.0.1", port, 0); // retries at once
    handler.Log(record);
    int connection = listener->Accept(5000);
    ASSERT_GE(connection, 0);
    EXPECT_NE(logtest::ReadSome(connection, 1, 5000).find("Logger: keel.http\r\n"), std::string::npos);
    close(connection);
    listener.reset();
    listener = std::make_unique<logtest::LoopbackSocket>(SOCK_STREAM, port);
    ASSERT_TRUE(listener->IsOk());
    // The first writes after the peer went may still succeed; a failing one drops the stream,
    // and the next record connects again.
    connection = -1;
    for (int i = 0; i < 100 && connection < 0; ++i) {
        record.m_Message = "again";
        handler.Log(record);
        connection = listener->Accept(50);
    }
    ASSERT_GE(connection, 0);
    EXPECT_NE(logtest::ReadSome(connection, 1, 5000).find("Logger: keel.http\r\n"), std::string::npos);
    close(connection);
}

TEST(LogTcpHandlerTest, DropsRecordsUntilTheRetryInterval) {
    uint16_t port = 0;
    {
        logtest::LoopbackSocket gone(SOCK_STREAM);
        ASSERT_TRUE(gone.IsOk());
        port = gone.GetPort();
    }
    KL_LogTcpHandler handler("127.0.0.1", port, 60000);
    handler.Log(MakeRecord()); // refused
    logtest::LoopbackSocket listener(SOCK_STREAM, port);
    ASSERT_TRUE(listener.IsOk());
    for (int i = 0; i < 3; ++i) {
        handler.Log(MakeRecord());
        // A connect would have completed before Log returned.
        EXPECT_LT(listener.Accept(0), 0) << "record " << i << " tried to connect";
    }
}
