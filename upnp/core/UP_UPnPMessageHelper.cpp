#include "UP_UPnPMessageHelper.h"

#include "KL_Check.h"
#include "KL_String.h"
#include "KL_Utils.h"

KL_SET_LOCAL_LOGGER("upnp.core.messages");

namespace {

const char* const kLocalhost = "127.0.0.1";

KL_Result SetDecimalHeader(KL_HttpMessage& message, const char* name, uint64_t value) {
    return message.GetHeaders().SetHeader(name, KL_String::FromIntegerU(value).GetChars());
}

} // namespace

KL_Result UP_UPnPMessageHelper::GetNetworkInterfaces(KL_NetworkInterfaceList& interfaces,
                                                     bool with_localhost) {
    KL_CHECK_SEVERE(KL_GetUsableNetworkInterfaces(interfaces, with_localhost, false));
    if (interfaces.GetItemCount() == 0) {
        // A host without a usable network still serves on the loopback interface.
        KL_CHECK_SEVERE(KL_GetUsableNetworkInterfaces(interfaces, true, true));
    }
    return KL_SUCCESS;
}

KL_Result UP_UPnPMessageHelper::GetIPAddresses(KL_List<KL_IpAddress>& ips, bool with_localhost) {
    KL_NetworkInterfaceList interfaces;
    const KL_Result result = GetNetworkInterfaces(interfaces, with_localhost);
    if (KL_FAILED(result)) {
        KL_DeleteNetworkInterfaces(interfaces);
        return result;
    }
    for (KL_NetworkInterface* iface : interfaces) {
        auto first = iface->GetAddresses().GetFirstItem();
        if (!first) {
            continue;
        }
        const KL_String text = first->m_PrimaryAddress.ToString();
        if (text == "0.0.0.0" || (!with_localhost && text == kLocalhost)) {
            continue;
        }
        (void)ips.Add(first->m_PrimaryAddress);
    }
    KL_DeleteNetworkInterfaces(interfaces);

    if (with_localhost) {
        KL_IpAddress localhost;
        (void)localhost.Parse(kLocalhost);
        if (!ips.Contains(localhost)) {
            (void)ips.Add(localhost);
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_UPnPMessageHelper::SetCacheMaxAge(KL_HttpMessage& message, const KL_TimeStamp& lease) {
    const KL_String value = KL_String("max-age=") + KL_String::FromInteger(lease.ToSeconds());
    return message.GetHeaders().SetHeader("Cache-Control", value.GetChars());
}

KL_Result UP_UPnPMessageHelper::SetBootIdHeader(KL_HttpMessage& message, uint32_t boot_id) {
    return SetDecimalHeader(message, "BOOTID.UPNP.ORG", boot_id);
}

KL_Result UP_UPnPMessageHelper::SetNextBootIdHeader(KL_HttpMessage& message, uint32_t next_boot_id) {
    return SetDecimalHeader(message, "NEXTBOOTID.UPNP.ORG", next_boot_id);
}

KL_Result UP_UPnPMessageHelper::SetConfigIdHeader(KL_HttpMessage& message, uint32_t config_id) {
    return SetDecimalHeader(message, "CONFIGID.UPNP.ORG", config_id);
}

KL_Result UP_UPnPMessageHelper::GetMX(const KL_HttpMessage& message, uint32_t& mx) {
    mx = 0;
    const char* value = message.GetHeaders().GetHeaderValue("MX");
    if (value == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    uint32_t parsed = 0;
    const KL_Result result = KL_ParseInteger32U(value, parsed, false);
    if (KL_SUCCEEDED(result)) {
        mx = parsed;
    }
    return result;
}
