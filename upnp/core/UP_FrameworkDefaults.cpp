#include "UP_FrameworkDefaults.h"

namespace {

constexpr int64_t kDefaultLeaseSeconds = 1800;

} // namespace

UP_FrameworkDefaults& UP_FrameworkDefaults::Instance() {
    // Made on first use (thread-safe), so no static initialiser can read it too early.
    static UP_FrameworkDefaults instance;
    return instance;
}

UP_FrameworkDefaults::UP_FrameworkDefaults()
    : m_DefaultDeviceLease(new KL_TimeStamp(KL_TimeStamp::FromSeconds(kDefaultLeaseSeconds))),
      m_DefaultSubscribeLease(new KL_TimeStamp(KL_TimeStamp::FromSeconds(kDefaultLeaseSeconds))),
      m_DefaultUserAgent(new KL_String(UP_DEFAULT_USER_AGENT)) {}

UP_FrameworkDefaults::~UP_FrameworkDefaults() {
    m_DefaultUserAgent.Release();
    m_DefaultSubscribeLease.Release();
    m_DefaultDeviceLease.Release();
}

void UP_FrameworkDefaults::SetDefaultDeviceLease(const KL_TimeStamp& lease) {
    KL_Reference<KL_TimeStamp> value(new KL_TimeStamp(lease));
    KL_AutoLock lock(m_Lock);
    m_DefaultDeviceLease = value;
}

void UP_FrameworkDefaults::SetDefaultSubscribeLease(const KL_TimeStamp& lease) {
    KL_Reference<KL_TimeStamp> value(new KL_TimeStamp(lease));
    KL_AutoLock lock(m_Lock);
    m_DefaultSubscribeLease = value;
}

void UP_FrameworkDefaults::SetDefaultUserAgent(const char* user_agent) {
    KL_Reference<KL_String> value(new KL_String(user_agent != nullptr ? user_agent : ""));
    KL_AutoLock lock(m_Lock);
    m_DefaultUserAgent = value;
}

KL_TimeStamp UP_FrameworkDefaults::GetDefaultDeviceLease() {
    KL_Reference<KL_TimeStamp> value;
    {
        KL_AutoLock lock(m_Lock);
        value = m_DefaultDeviceLease;
    }
    return *value;
}

KL_Cardinal UP_FrameworkDefaults::GetDefaultSubscribeLease() {
    KL_Reference<KL_TimeStamp> value;
    {
        KL_AutoLock lock(m_Lock);
        value = m_DefaultSubscribeLease;
    }
    const int64_t seconds = value->ToSeconds();
    return seconds < 0 ? 0 : (seconds > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<KL_Cardinal>(seconds));
}

KL_String UP_FrameworkDefaults::GetDefaultUserAgent() {
    KL_Reference<KL_String> value;
    {
        KL_AutoLock lock(m_Lock);
        value = m_DefaultUserAgent;
    }
    return *value;
}
