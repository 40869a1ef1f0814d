#pragma once

#include "DnsSdService.h"

#include <memory>
#include <mutex>

namespace platform {

// A DNS-SD service published or resolved through the process's Avahi client (AvahiRuntime).
// One operation at a time: registering or resolving again replaces the previous operation.
class AvahiDnsSdService final : public DnsSdService {
public:
    AvahiDnsSdService(const std::string& domain, const std::string& type, const std::string& name, int port);
    ~AvahiDnsSdService() override;

    bool registerService(Callback callback) override;
    std::shared_ptr<DnsSdService> copy() const override;
    bool resolve(double timeout, Callback callback) override;
    void cancel() override;

    std::string name() const override;
    std::string type() const override { return _type; }
    std::string domain() const override { return _domain; }
    std::optional<std::string> targetHost() const override;
    int port() const override;

    // What the event thread updates: the name after a rename, the resolved host and port.
    struct Results {
        std::mutex mutex;
        std::string name;
        std::optional<std::string> targetHost;
        int port = 0;
    };
    struct Operation;

private:
    std::unique_ptr<Operation> newOperation(Callback callback);
    void cancelLocked();

    const std::string _domain;
    const std::string _type;
    mutable Results _results;
    std::mutex _operationMutex;
    std::unique_ptr<Operation> _operation;
};

} // namespace platform
