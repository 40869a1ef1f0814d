#include "KL_HttpProxySelector.h"

#include "KL_AutomaticCleaner.h"
#include "KL_Environment.h"
#include "KL_HttpEnvProxySelector.h"
#include "KL_Log.h"

#include <atomic>

KL_SET_LOCAL_LOGGER("keel.http.proxy");

namespace {

enum Choice : int { CHOICE_UNKNOWN = 0, CHOICE_NONE = 1, CHOICE_ENV = 2 };

std::atomic<int> s_Choice{CHOICE_UNKNOWN};

int ReadChoice() {
    KL_String value;
    if (KL_FAILED(KL_Environment::Get("KEEL_NET_CONFIG_PROXY_SELECTOR", value))) {
        return CHOICE_NONE;
    }
    if (value.Compare("env", true) == 0) {
        return CHOICE_ENV;
    }
    // "noproxy", and "system" too: there is no system selector here.
    KL_LOG_FINE("proxy selector '%s': no proxy", value.GetChars());
    return CHOICE_NONE;
}

} // namespace

KL_HttpProxySelector* KL_HttpProxySelector::GetSystemSelector() {
    return nullptr;
}

KL_HttpProxySelector* KL_HttpProxySelector::GetDefault() {
    if (s_Choice.load() == CHOICE_UNKNOWN) {
        KL_AutoLock lock(KL_GetSingletonLock());
        if (s_Choice.load() == CHOICE_UNKNOWN) {
            s_Choice.store(ReadChoice());
        }
    }
    if (s_Choice.load() == CHOICE_ENV) {
        return KL_HttpEnvProxySelector::GetInstance();
    }
    return nullptr;
}
