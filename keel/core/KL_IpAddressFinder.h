// KL_IpAddressFinder: the finder (for KL_ContainerFind) that matches an IPv4 address, an interface
// address entry by its primary address, or an interface record holding that primary address.
#pragma once

#include "KL_IpAddress.h"
#include "KL_NetworkInterface.h"
#include "KL_NetworkInterfaceAddress.h"

class KL_IpAddressFinder {
public:
    explicit KL_IpAddressFinder(const KL_IpAddress& address) : m_Address(address) {}

    bool operator()(const KL_IpAddress& address) const { return address == m_Address; }
    bool operator()(const KL_NetworkInterfaceAddress& address) const {
        return address.m_PrimaryAddress == m_Address;
    }
    bool operator()(const KL_NetworkInterface* record) const {
        if (record == nullptr) {
            return false;
        }
        for (const KL_NetworkInterfaceAddress& address : record->GetAddresses()) {
            if (address.m_PrimaryAddress == m_Address) {
                return true;
            }
        }
        return false;
    }

private:
    KL_IpAddress m_Address;
};
