// KL_BsdSocketFd: the shared descriptor record, the wait on poll() with its cancel pair, and the
// errno table of the socket calls.
#include "KL_BsdSocketFd.h"

#include "KL_Log.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

KL_BsdSocketFd::KL_BsdSocketFd(int fd, bool cancellable) : m_SocketFd(fd), m_Cancellable(cancellable) {
    int flags = fcntl(m_SocketFd, F_GETFL);
    if (flags < 0 || fcntl(m_SocketFd, F_SETFL, flags | O_NONBLOCK) < 0) {
        KL_LOG_WARNING("cannot make socket %d non-blocking (%d)", m_SocketFd, errno);
    }
    if (m_Cancellable && socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, m_CancelFds) != 0) {
        KL_LOG_WARNING("socketpair failed (%d)", errno);
        m_Cancellable = false;
        m_CancelFds[0] = m_CancelFds[1] = -1;
    }
}

KL_BsdSocketFd::~KL_BsdSocketFd() {
    if (m_Cancellable) {
        close(m_CancelFds[0]);
        close(m_CancelFds[1]);
    }
    if (m_SocketFd >= 0) {
        close(m_SocketFd);
    }
}

void KL_BsdSocketFd::ReadDone() {
#ifdef TCP_QUICKACK
    if (IsQuickAck()) {
        int on = 1;
        (void)setsockopt(m_SocketFd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
#endif
}

KL_Result KL_BsdSocketFd::MapError(int e) {
    switch (e) {
    case EINTR:
        return KL_ERROR_INTERRUPTED;
    case EACCES:
        return KL_ERROR_PERMISSION_DENIED;
    case EPIPE:
    case ENETRESET:
    case ECONNRESET:
        return KL_ERROR_CONNECTION_RESET;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
        return KL_ERROR_WOULD_BLOCK;
    case EADDRINUSE:
        return KL_ERROR_ADDRESS_IN_USE;
    case ENETDOWN:
        return KL_ERROR_NETWORK_DOWN;
    case ENETUNREACH:
        return KL_ERROR_NETWORK_UNREACHABLE;
    case ECONNABORTED:
        return KL_ERROR_CONNECTION_ABORTED;
    case ENOTCONN:
        return KL_ERROR_BASE_SOCKET - 15; // the socket family's "not connected"; it has no name
    case ETIMEDOUT:
        return KL_ERROR_TIMEOUT;
    case ECONNREFUSED:
        return KL_ERROR_CONNECTION_REFUSED;
    default:
        return KL_ResultFromErrno(e);
    }
}

namespace {
int64_t MonotonicMillis() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
} // namespace

// Polls the descriptor (and the cancel end when the wait may block) until something is ready,
// the time-out has passed or poll fails; the poll's count, or -1 with errno. A signal that
// interrupts the poll does not end the wait: it goes on for the time left (on the monotonic
// clock), so a stray signal handler cannot end a server's accept loop.
int KL_BsdSocketFd::Poll(bool readable, bool writable, KL_Timeout timeout, short& events) {
    struct pollfd fds[2] = {
        {m_SocketFd, static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0},
        {m_CancelFds[1], POLLIN, 0},
    };
    nfds_t count = (timeout != 0 && m_Cancellable) ? 2 : 1;
    const bool forever = timeout == KL_TIMEOUT_INFINITE;
    const int64_t deadline = MonotonicMillis() + (forever ? 0 : timeout);
    int rc;
    for (;;) {
        int ms = -1;
        if (!forever) {
            int64_t left = deadline - MonotonicMillis();
            ms = left <= 0 ? 0 : static_cast<int>(left > INT_MAX ? INT_MAX : left);
        }
        rc = poll(fds, count, ms);
        if (rc > 0 || (rc < 0 && (errno != EINTR || IsCancelled())) ||
            (rc == 0 && MonotonicMillis() >= deadline)) {
            break;
        }
    }
    events = fds[0].revents;
    return rc;
}

// The pending socket error as a result: if_none when there is none.
KL_Result KL_BsdSocketFd::SocketError(KL_Result if_none) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(m_SocketFd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return MapError(errno);
    }
    return error != 0 ? MapError(error) : if_none;
}

KL_Result KL_BsdSocketFd::Wait(bool readable, bool writable, bool connect_check, KL_Timeout timeout) {
    if (m_SocketFd < 0) {
        return MapError(EBADF);
    }
    KL_LOG_FINER("waiting for condition (%s %s)", readable ? "read" : "", writable ? "write" : "");
    short events = 0;
    int rc = Poll(readable, writable, timeout, events);
    int poll_errno = errno;
    KL_LOG_FINER("select returned %d", rc);
    KL_Result result;
    if (IsCancelled()) {
        result = KL_ERROR_CANCELLED;
    } else if (rc == 0) {
        result = timeout != 0 ? KL_ERROR_TIMEOUT : KL_ERROR_WOULD_BLOCK;
    } else if (rc < 0) {
        result = MapError(poll_errno);
    } else if ((readable && (events & (POLLIN | POLLHUP | POLLERR))) ||
               (writable && (events & (POLLOUT | POLLERR)))) {
        result = connect_check ? SocketError(KL_SUCCESS) : KL_SUCCESS;
    } else if (events & (POLLERR | POLLHUP | POLLPRI | POLLNVAL)) {
        KL_LOG_FINER("select socket exception is set");
        result = SocketError(KL_FAILURE);
    } else {
        KL_LOG_WARNING("unexected select state");
        result = KL_ERROR_INTERNAL;
    }
    if (result != KL_SUCCESS) {
        KL_LOG_FINER("select result = %d", static_cast<int>(result));
    }
    return result;
}

KL_Result KL_BsdSocketFd::Cancel(bool shutdown) {
    m_Cancelled.store(true, std::memory_order_release);
    if (shutdown && ::shutdown(m_SocketFd, SHUT_RDWR) != 0) {
        KL_LOG_FINE("shutdown failed (%d)", errno);
    }
    if (m_Cancellable) {
        const char zero = 0;
        if (send(m_CancelFds[0], &zero, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
            KL_LOG_WARNING("send failed during cancel (%d)", errno);
        }
    }
    return KL_SUCCESS;
}
