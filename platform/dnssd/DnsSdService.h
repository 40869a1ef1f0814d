#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Publication of one service over DNS-SD (multicast DNS in the "local." domain) through the Avahi
// daemon. Every callback runs on the main queue. Without a reachable daemon nothing is published
// and no callback runs.
class DnsSdService {
public:
    // Completion of a registration or resolution: 0 on success, else a non-zero error code.
    using Callback = std::function<void(int errorCode)>;

    virtual ~DnsSdService() = default;

    // A service to publish (domain "local." when empty), or nullptr when it cannot be made.
    static std::shared_ptr<DnsSdService> create(const std::string& domain, const std::string& type,
                                                const std::string& name, int port);

    // Registers the service; on a name collision it picks the next alternative name and retries.
    // The callback reports the outcome once registered (or failed). False when it cannot start.
    virtual bool registerService(Callback callback) = 0;
    // A copy of this service (same name, type, domain) to resolve once it is registered.
    virtual std::shared_ptr<DnsSdService> copy() const = 0;
    // Resolves the service on the network (its target host and port); gives up after `timeout`
    // seconds. False when it cannot start.
    virtual bool resolve(double timeout, Callback callback) = 0;
    // Stops registration or resolution; no callback runs afterwards.
    virtual void cancel() = 0;

    // The name (after any collision renaming), the type and the domain.
    virtual std::string name() const = 0;
    virtual std::string type() const = 0;
    virtual std::string domain() const = 0;
    // The resolved target host name as the resolver reported it ("host.local" or "host.local."),
    // none before resolution or when unknown.
    virtual std::optional<std::string> targetHost() const = 0;
    virtual int port() const = 0;
};

} // namespace platform
