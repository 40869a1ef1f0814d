// UP_HttpSocketProbe: what UP_HttpConnectionSlots looks at and does on a listed socket: its peer's
// address, whether bytes of a request wait unread (FIONREAD), how much of what it sent its peer has
// acknowledged (TCP_INFO), and cancelling it. UP_HttpSocketProbe::System() works on the sockets'
// descriptors; tests give the slots a fake, so that what the slots decide and carry out is seen
// without a network.
#pragma once

#include <cstdint>

class KL_Socket;

class UP_HttpSocketProbe {
public:
    virtual ~UP_HttpSocketProbe() = default;

    // The peer's IPv4 address (0 when unknown).
    virtual uint32_t PeerOf(KL_Socket* socket) = 0;
    // Whether bytes have arrived that the connection has not read yet.
    virtual bool HasUnread(KL_Socket* socket) = 0;
    // The bytes of what the connection sent that its peer has acknowledged, and whether anything
    // it sent waits for that; false when unknown.
    virtual bool GetAcknowledged(KL_Socket* socket, uint64_t& bytes, bool& waiting) = 0;
    // Cancels the socket: its task's blocked read or write returns, and the connection ends.
    virtual void Cancel(KL_Socket* socket) = 0;

    // The probe of real sockets (one for the process, without state).
    static UP_HttpSocketProbe& System();
};
