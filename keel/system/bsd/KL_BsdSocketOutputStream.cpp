// KL_BsdSocketOutputStream: send with the write time-out, cancellation and MSG_NOSIGNAL; Flush
// through TCP_NODELAY (nothing to do on a socket that keeps it on).
#include "KL_BsdSocketOutputStream.h"

#include "KL_Log.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

namespace {

// sendfile has no MSG_NOSIGNAL: while one lives, SIGPIPE is blocked for the calling thread, and
// one raised meanwhile is taken off again (unless one was already pending before).
class SigPipeBlocker {
public:
    SigPipeBlocker() {
        sigemptyset(&m_Set);
        sigaddset(&m_Set, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        m_WasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        m_Blocked = pthread_sigmask(SIG_BLOCK, &m_Set, &m_Old) == 0;
    }
    ~SigPipeBlocker() {
        if (!m_Blocked) {
            return;
        }
        if (!m_WasPending) {
            const timespec zero{0, 0};
            while (sigtimedwait(&m_Set, nullptr, &zero) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_Old, nullptr);
    }
    SigPipeBlocker(const SigPipeBlocker&) = delete;
    SigPipeBlocker& operator=(const SigPipeBlocker&) = delete;

private:
    sigset_t m_Set;
    sigset_t m_Old;
    bool m_WasPending = false;
    bool m_Blocked = false;
};

} // namespace

KL_Result KL_BsdSocketOutputStream::Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    KL_BsdSocketFd& fd = Fd();
    if (fd.GetWriteTimeout() != 0) {
        KL_Result result = fd.Wait(false, true, false, fd.GetWriteTimeout());
        if (KL_FAILED(result)) {
            return result;
        }
    }
    KL_LOG_FINEST("writing %d to socket", static_cast<int>(bytes_to_write));
    ssize_t count = send(fd.GetFd(), data, bytes_to_write, MSG_NOSIGNAL);
    int e = errno;
    KL_LOG_FINEST("send returned %d", static_cast<int>(count));
    if (count > 0) {
        if (bytes_written != nullptr) {
            *bytes_written = static_cast<KL_Size>(count);
        }
        fd.AddToPosition(static_cast<uint64_t>(count));
        return KL_SUCCESS;
    }
    if (fd.IsCancelled()) {
        return KL_ERROR_CANCELLED;
    }
    if (count == 0) {
        KL_LOG_FINE("connection reset");
        return KL_ERROR_CONNECTION_RESET;
    }
    return KL_BsdSocketFd::MapError(e);
}

KL_Result KL_BsdSocketOutputStream::Seek(KL_Position) {
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_BsdSocketOutputStream::Tell(KL_Position& offset) {
    offset = 0;
    return KL_SUCCESS;
}

KL_Result KL_BsdSocketOutputStream::Flush() {
    KL_LOG_FINEST("flushing socket");
    if (Fd().IsNoDelay()) {
        return KL_SUCCESS; // nothing is held back
    }
    int socket_fd = Fd().GetFd();
    int no_delay = 0;
    socklen_t length = sizeof no_delay;
    if (getsockopt(socket_fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, &length) != 0) {
        return KL_ERROR_GETSOCKOPT_FAILED;
    }
    if (no_delay == 1) {
        return KL_SUCCESS;
    }
    no_delay = 1;
    if (setsockopt(socket_fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay) != 0) {
        return KL_ERROR_SETSOCKOPT_FAILED;
    }
    if (send(socket_fd, "", 0, MSG_NOSIGNAL) < 0) {
        KL_LOG_FINE("send failed during flush (%d)", errno);
    }
    no_delay = 0;
    if (setsockopt(socket_fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay) != 0) {
        return KL_ERROR_SETSOCKOPT_FAILED;
    }
    return KL_SUCCESS;
}

KL_Result KL_BsdSocketOutputStream::SendFile(int file_fd, KL_Position offset, KL_LargeSize count,
                                             KL_LargeSize* sent) {
    constexpr KL_LargeSize kSlice = 1024 * 1024;
    if (sent != nullptr) {
        *sent = 0;
    }
    KL_BsdSocketFd& fd = Fd();
    const SigPipeBlocker no_sigpipe;
    off_t position = static_cast<off_t>(offset);
    KL_LargeSize done = 0;
    while (done < count) {
        if (fd.GetWriteTimeout() != 0) {
            KL_Result result = fd.Wait(false, true, false, fd.GetWriteTimeout());
            if (KL_FAILED(result)) {
                return result;
            }
        }
        const size_t slice = static_cast<size_t>(count - done < kSlice ? count - done : kSlice);
        ssize_t written = ::sendfile(fd.GetFd(), file_fd, &position, slice);
        int e = errno;
        if (written > 0) {
            done += static_cast<KL_LargeSize>(written);
            if (sent != nullptr) {
                *sent = done;
            }
            fd.AddToPosition(static_cast<uint64_t>(written));
            continue;
        }
        if (fd.IsCancelled()) {
            return KL_ERROR_CANCELLED;
        }
        if (written == 0) {
            return KL_ERROR_EOS; // the file is shorter than announced
        }
        if (e == EINTR || ((e == EAGAIN || e == EWOULDBLOCK) && fd.GetWriteTimeout() != 0)) {
            continue; // the wait above decides how long
        }
        return KL_BsdSocketFd::MapError(e);
    }
    return KL_SUCCESS;
}
