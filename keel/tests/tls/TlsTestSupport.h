// What the TLS tests share: certificates made with the openssl tool in a temporary folder, an
// `openssl s_server -www` on 127.0.0.1 (port 0), and an in-process TLS server of our own that
// answers kept-alive HTTP requests.
#pragma once

#include "KL_IpAddress.h"
#include "KL_Socket.h"
#include "KL_SocketAddress.h"
#include "KL_TcpServerSocket.h"
#include "KL_TlsClientSession.h"
#include "KL_TlsContext.h"
#include "KL_TlsServerSession.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tls_test {

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The test's certificates: ca (CN "Test CA", O, OU), and server certificates signed by it or
// self-signed, each NAME.pem with NAME.key (and NAME.der for the CA).
class Certificates {
public:
    Certificates() {
        char pattern[] = "/tmp/keel-tls-XXXXXX";
        m_Folder = mkdtemp(pattern);
        m_Ok = Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout " + Path("ca.key") + " -out " +
                   Path("ca.pem") + " -subj '/CN=Test CA/O=Lanyard Tests/OU=Keel'") &&
               Run("openssl x509 -in " + Path("ca.pem") + " -outform DER -out " + Path("ca.der")) &&
               SelfSigned("self", "localhost") &&
               Signed("leaf", "/CN=localhost/O=Leaf Org/OU=Leaf Unit", "DNS:localhost", 2) &&
               Signed("expired", "/CN=localhost", "DNS:localhost", -1) &&
               Signed("altname", "/CN=other.invalid", "DNS:elsewhere.invalid,DNS:localhost", 2) &&
               Signed("wildcard", "/CN=wild", "DNS:*.localhost", 2);
    }
    ~Certificates() { Run("rm -rf " + m_Folder); }
    bool Ok() const { return m_Ok; }
    std::string Path(const std::string& name) const { return m_Folder + "/" + name; }

private:
    bool SelfSigned(const std::string& name, const std::string& cn) {
        return Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout " + Path(name + ".key") +
                   " -out " + Path(name + ".pem") + " -subj /CN=" + cn);
    }
    bool Signed(const std::string& name, const std::string& subject, const std::string& alt_names, int days) {
        std::ofstream(Path(name + ".ext")) << "subjectAltName=" << alt_names << "\n";
        return Run("openssl req -newkey rsa:2048 -nodes -keyout " + Path(name + ".key") + " -out " +
                   Path(name + ".csr") + " -subj '" + subject + "'") &&
               Run("openssl x509 -req -in " + Path(name + ".csr") + " -CA " + Path("ca.pem") + " -CAkey " +
                   Path("ca.key") + " -CAcreateserial -days " + std::to_string(days) + " -extfile " +
                   Path(name + ".ext") + " -out " + Path(name + ".pem"));
    }

    std::string m_Folder;
    bool m_Ok = false;
};

// openssl s_server -www on 127.0.0.1 and an ephemeral port, with more options if given.
class OpenSslServer {
public:
    OpenSslServer(const Certificates& certificates, const std::string& name,
                  const std::vector<std::string>& options = {}) {
        const std::string log = certificates.Path(name + "-server.log");
        const std::string cert = certificates.Path(name + ".pem");
        const std::string key = certificates.Path(name + ".key");
        std::vector<std::string> args = {"openssl", "s_server", "-accept", "127.0.0.1:0", "-www", "-cert",
                                         cert,      "-key",     key};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawnp(&m_Pid, "openssl", &actions, nullptr, argv.data(), environ) != 0) {
            m_Pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 1000 && m_Pid > 0 && m_Port == 0; ++i) {
            const std::string text = ReadFile(log);
            const size_t at = text.find("ACCEPT 127.0.0.1:");
            if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
                m_Port = std::stoi(text.substr(at + 17));
            } else {
                usleep(10000);
            }
        }
    }
    ~OpenSslServer() {
        if (m_Pid > 0) {
            kill(m_Pid, SIGTERM);
            waitpid(m_Pid, nullptr, 0);
        }
    }
    int Port() const { return m_Port; }
    std::string Url(const char* host) const {
        return std::string("https://") + host + ":" + std::to_string(m_Port) + "/";
    }

private:
    pid_t m_Pid = -1;
    int m_Port = 0;
};

// A TLS server of our own on 127.0.0.1 (port 0) with a self-signed certificate for "localhost":
// it answers every request head with "ok", keeping the connection; with close_after_handshake it
// drops the TCP connection right after the handshake instead.
class KeelTlsServer {
public:
    explicit KeelTlsServer(bool close_after_handshake = false)
        : m_Context(0), m_Listener(KL_SOCKET_FLAG_CANCELLABLE), m_CloseAfterHandshake(close_after_handshake) {
        m_ContextOk = KL_SUCCEEDED(m_Context.SelfSignCertificate("localhost", "Keel", "Tests"));
        KL_SocketInfo info;
        if (KL_SUCCEEDED(m_Listener.Bind(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), 0))) &&
            KL_SUCCEEDED(m_Listener.Listen(8)) && KL_SUCCEEDED(m_Listener.GetInfo(info))) {
            m_Port = static_cast<int>(info.local_address.m_Port);
            m_Acceptor = std::thread([this] { AcceptLoop(); });
        }
    }
    ~KeelTlsServer() {
        m_Stop = true;
        (void)m_Listener.Cancel(true);
        if (m_Acceptor.joinable()) {
            m_Acceptor.join();
        }
        for (KL_Socket* client : m_Clients) {
            (void)client->Cancel(true);
        }
        for (std::thread& thread : m_Threads) {
            thread.join();
        }
        for (KL_Socket* client : m_Clients) {
            delete client;
        }
    }
    bool Ok() const { return m_ContextOk && m_Port != 0; }
    int Accepts() const { return static_cast<int>(m_Accepts); }
    std::string Url(const char* host) const {
        return std::string("https://") + host + ":" + std::to_string(m_Port) + "/";
    }

private:
    void AcceptLoop() {
        while (!m_Stop) {
            KL_Socket* client = nullptr;
            if (KL_FAILED(m_Listener.WaitForNewClient(client, 100, KL_SOCKET_FLAG_CANCELLABLE)) ||
                client == nullptr) {
                continue;
            }
            ++m_Accepts;
            m_Clients.push_back(client);
            m_Threads.emplace_back([this, client] { Serve(*client); });
        }
    }
    void Serve(KL_Socket& socket) {
        KL_InputStreamReference input;
        KL_OutputStreamReference output;
        if (KL_FAILED(socket.GetInputStream(input)) || KL_FAILED(socket.GetOutputStream(output))) {
            return;
        }
        KL_TlsServerSession session(m_Context, input, output);
        if (KL_FAILED(session.Handshake())) {
            return;
        }
        if (m_CloseAfterHandshake) {
            (void)socket.Cancel(true);
            return;
        }
        KL_InputStreamReference tls_input;
        KL_OutputStreamReference tls_output;
        (void)session.GetInputStream(tls_input);
        (void)session.GetOutputStream(tls_output);
        std::string head;
        char buffer[512];
        for (;;) {
            KL_Size count = 0;
            if (KL_FAILED(tls_input->Read(buffer, sizeof buffer, &count))) {
                return;
            }
            head.append(buffer, count);
            if (head.find("\r\n\r\n") != std::string::npos) {
                head.clear();
                const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
                if (KL_FAILED(tls_output->WriteFully(answer, sizeof answer - 1))) {
                    return;
                }
            }
        }
    }

    KL_TlsContext m_Context;
    KL_TcpServerSocket m_Listener;
    bool m_CloseAfterHandshake;
    bool m_ContextOk = false;
    int m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::atomic<int> m_Accepts{0};
    std::thread m_Acceptor;
    std::vector<KL_Socket*> m_Clients;
    std::vector<std::thread> m_Threads;
};

} // namespace tls_test
