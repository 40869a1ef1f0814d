// KL_BsdSocketOutputStream: send with the write time-out, cancellation and MSG_NOSIGNAL; Flush
// through TCP_NODELAY.
#include "KL_BsdSocketOutputStream.h"

#include "KL_Log.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

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
