// KL_BsdSocketInputStream: recv with the read time-out and cancellation.
#include "KL_BsdSocketInputStream.h"

#include "KL_Log.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

KL_Result KL_BsdSocketInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    KL_BsdSocketFd& fd = Fd();
    if (fd.GetReadTimeout() != 0) {
        KL_Result result = fd.Wait(true, false, false, fd.GetReadTimeout());
        if (KL_FAILED(result)) {
            return result;
        }
    }
    KL_LOG_FINEST("reading %d from socket", static_cast<int>(bytes_to_read));
    ssize_t count = recv(fd.GetFd(), buffer, bytes_to_read, 0);
    int e = errno;
    KL_LOG_FINEST("recv returned %d", static_cast<int>(count));
    if (count > 0) {
        if (bytes_read != nullptr) {
            *bytes_read = static_cast<KL_Size>(count);
        }
        fd.AddToPosition(static_cast<uint64_t>(count));
        fd.ReadDone();
        return KL_SUCCESS;
    }
    if (fd.IsCancelled()) {
        return KL_ERROR_CANCELLED;
    }
    if (count == 0) {
        KL_LOG_FINEST("socket end of stream");
        return KL_ERROR_EOS;
    }
    KL_Result result = KL_BsdSocketFd::MapError(e);
    KL_LOG_FINE("socket result = %d", static_cast<int>(result));
    return result;
}

KL_Result KL_BsdSocketInputStream::Seek(KL_Position) {
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_BsdSocketInputStream::Tell(KL_Position& offset) {
    offset = 0;
    return KL_SUCCESS;
}

KL_Result KL_BsdSocketInputStream::GetSize(KL_LargeSize& size) {
    size = 0;
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_BsdSocketInputStream::GetAvailable(KL_LargeSize& available) {
    available = 0;
    int pending = 0;
    if (ioctl(Fd().GetFd(), FIONREAD, &pending) != 0) {
        return KL_ERROR_SOCKET_CONTROL_FAILED;
    }
    if (pending > 0) {
        available = static_cast<KL_LargeSize>(pending);
    } else {
        // Nothing to read: 1 when the end of stream or an error is pending, so that a reader
        // comes to see it.
        available = Fd().Wait(true, false, false, 0) == KL_ERROR_WOULD_BLOCK ? 0 : 1;
    }
    return KL_SUCCESS;
}
