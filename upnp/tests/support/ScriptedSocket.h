// ScriptedSocket: a connection without a network, for driving a server's connection task on the
// test's own thread (Serve). The client's bytes come from a script, at most `read_piece` bytes per read,
// then the end of the stream; what the server writes is recorded, at most `write_piece` bytes per
// write. With fail_at = n the n-th write (from 1) and every later one fail as a reset connection
// would. The state outlives the socket (the connection task deletes its socket).
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_Socket.h"
#include "KL_SocketInterface.h"
#include "UP_HttpServerTask.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace upnp_test {

struct ScriptedConnection {
    std::string input;
    size_t read_piece = SIZE_MAX;
    size_t write_piece = SIZE_MAX;
    int fail_at = 0; // 0: no write fails
    // Recorded:
    size_t offset = 0;
    std::string output;
    int writes = 0;
};

class ScriptedInput : public KL_InputStream {
public:
    explicit ScriptedInput(std::shared_ptr<ScriptedConnection> state) : m_State(std::move(state)) {}
    KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) override {
        if (bytes_read != nullptr) {
            *bytes_read = 0;
        }
        if (bytes_to_read == 0) {
            return KL_SUCCESS;
        }
        ScriptedConnection& state = *m_State;
        if (state.offset >= state.input.size()) {
            return KL_ERROR_EOS;
        }
        const size_t count =
            std::min<size_t>({bytes_to_read, state.read_piece, state.input.size() - state.offset});
        std::memcpy(buffer, state.input.data() + state.offset, count);
        state.offset += count;
        if (bytes_read != nullptr) {
            *bytes_read = static_cast<KL_Size>(count);
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_State->offset;
        return KL_SUCCESS;
    }
    KL_Result GetSize(KL_LargeSize&) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result GetAvailable(KL_LargeSize& available) override {
        available = m_State->input.size() - m_State->offset;
        return KL_SUCCESS;
    }

private:
    std::shared_ptr<ScriptedConnection> m_State;
};

class RecordingOutput : public KL_OutputStream {
public:
    explicit RecordingOutput(std::shared_ptr<ScriptedConnection> state) : m_State(std::move(state)) {}
    KL_Result Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) override {
        if (bytes_written != nullptr) {
            *bytes_written = 0;
        }
        if (bytes_to_write == 0) {
            return KL_SUCCESS;
        }
        ScriptedConnection& state = *m_State;
        if (++state.writes >= state.fail_at && state.fail_at > 0) {
            return KL_ERROR_CONNECTION_RESET;
        }
        const size_t count = std::min<size_t>(bytes_to_write, state.write_piece);
        state.output.append(static_cast<const char*>(data), count);
        if (bytes_written != nullptr) {
            *bytes_written = static_cast<KL_Size>(count);
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_State->output.size();
        return KL_SUCCESS;
    }

private:
    std::shared_ptr<ScriptedConnection> m_State;
};

// A connection from 127.0.0.1:50000 to 127.0.0.1:4321.
class ScriptedSocketDelegate : public KL_SocketInterface {
public:
    explicit ScriptedSocketDelegate(const std::shared_ptr<ScriptedConnection>& state)
        : m_Input(new ScriptedInput(state)), m_Output(new RecordingOutput(state)) {}
    KL_Result Bind(const KL_SocketAddress&, bool) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Connect(const KL_SocketAddress&, KL_Timeout) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result WaitForConnection(KL_Timeout) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result GetInputStream(KL_InputStreamReference& stream) override {
        stream = m_Input;
        return KL_SUCCESS;
    }
    KL_Result GetOutputStream(KL_OutputStreamReference& stream) override {
        stream = m_Output;
        return KL_SUCCESS;
    }
    KL_Result GetInfo(KL_SocketInfo& info) override {
        info.local_address = KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), 4321);
        info.remote_address = KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), 50000);
        return KL_SUCCESS;
    }
    KL_Result SetReadTimeout(KL_Timeout) override { return KL_SUCCESS; }
    KL_Result SetWriteTimeout(KL_Timeout) override { return KL_SUCCESS; }
    KL_Result Cancel(bool) override { return KL_SUCCESS; }

private:
    KL_InputStreamReference m_Input;
    KL_OutputStreamReference m_Output;
};

// Runs a connection task of the handler over the scripted connection on this thread until the
// connection ends; the result of each answer's Write, in order.
inline std::vector<KL_Result> Serve(KL_HttpRequestHandler& handler,
                                    const std::shared_ptr<ScriptedConnection>& state) {
    class RecordingTask : public UP_HttpServerTask {
    public:
        RecordingTask(KL_HttpRequestHandler& handler, KL_Socket* socket, std::vector<KL_Result>& results)
            : UP_HttpServerTask(&handler, socket), m_Results(results) {}
        KL_Result Write(KL_HttpResponse& response, bool& keep_alive, bool headers_only) override {
            const KL_Result result = UP_HttpServerTask::Write(response, keep_alive, headers_only);
            m_Results.push_back(result);
            return result;
        }

    private:
        std::vector<KL_Result>& m_Results;
    };
    std::vector<KL_Result> results;
    RecordingTask task(handler, new KL_Socket(new ScriptedSocketDelegate(state)), results);
    task.DoRun();
    return results;
}

} // namespace upnp_test
