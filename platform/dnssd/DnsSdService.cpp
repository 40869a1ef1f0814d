#include "DnsSdService.h"

#include "AvahiDnsSdService.h"

#include <avahi-common/domain.h>

namespace platform {

std::shared_ptr<DnsSdService> DnsSdService::create(const std::string& domain, const std::string& type,
                                                   const std::string& name, int port) {
    const std::string effectiveDomain = domain.empty() ? "local." : domain;
    if (port < 0 || port > 65535 || !avahi_is_valid_service_name(name.c_str()) ||
        !avahi_is_valid_service_type_generic(type.c_str()) ||
        !avahi_is_valid_domain_name(effectiveDomain.c_str())) {
        return nullptr;
    }
    return std::make_shared<AvahiDnsSdService>(effectiveDomain, type, name, port);
}

} // namespace platform
