// UP_FrameworkDefaults: the process-wide values the framework uses when a caller gives none:
// device lease, subscription lease, user agent (and SSDP Server text), announcement TTL.
//
// Instance() is made on first use (thread-safe) and lives until process exit. The setters are
// meant for start-up; readers on any thread take a copy.
#pragma once

#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "KL_Types.h"

#include <cstdint>

#define UP_DEFAULT_USER_AGENT "UPnP/1.0 DLNADOC/1.50 Lanyard/1.0.0"

class UP_FrameworkDefaults {
public:
    static UP_FrameworkDefaults& Instance();

    void SetDefaultDeviceLease(const KL_TimeStamp& lease);
    void SetDefaultSubscribeLease(const KL_TimeStamp& lease);
    void SetDefaultUserAgent(const char* user_agent);

    // 1800 s unless set.
    KL_TimeStamp GetDefaultDeviceLease();
    // In whole seconds; 1800 unless set.
    KL_Cardinal GetDefaultSubscribeLease();
    // "UPnP/1.0 DLNADOC/1.50 Lanyard/1.0.0" unless set.
    KL_String GetDefaultUserAgent();
    // 2.
    uint32_t GetAnnounceMulticastTTL() const { return m_AnnounceMulticastTTL; }

    UP_FrameworkDefaults(const UP_FrameworkDefaults&) = delete;
    UP_FrameworkDefaults& operator=(const UP_FrameworkDefaults&) = delete;

private:
    UP_FrameworkDefaults();
    ~UP_FrameworkDefaults();

    KL_Reference<KL_TimeStamp> m_DefaultDeviceLease;
    KL_Reference<KL_TimeStamp> m_DefaultSubscribeLease;
    KL_Reference<KL_String> m_DefaultUserAgent;
    uint32_t m_AnnounceMulticastTTL = 2;
    // Guards the three references against a setter racing a reader.
    KL_Mutex m_Lock;
};
