#include "AvahiDnsSdService.h"

#include "AvahiRuntime.h"
#include "dispatch/MainQueue.h"

#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <atomic>

namespace platform {

// One registration or resolution. The event thread reaches it through the Avahi objects' user
// data; it lives until those objects are freed (with the event loop locked) by cancelLocked.
struct AvahiDnsSdService::Operation {
    Results* results = nullptr;
    std::string type;
    std::string domain; // empty for the default domain
    int port = 0;
    Callback callback;
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    bool reported = false;
    std::uint64_t generation = 0;
    const AvahiPoll* poll = nullptr;
    AvahiEntryGroup* group = nullptr;
    AvahiServiceResolver* resolver = nullptr;
    AvahiTimeout* timeout = nullptr;

    const char* domainOrNull() const { return domain.empty() ? nullptr : domain.c_str(); }

    std::string currentName() const {
        std::lock_guard<std::mutex> guard(results->mutex);
        return results->name;
    }

    // Hands the outcome to the main queue, once; a cancel before it runs silences it.
    void report(int errorCode) {
        if (reported) {
            return;
        }
        reported = true;
        dispatch::MainQueue::async([cancelledFlag = cancelled, block = callback, errorCode] {
            if (!cancelledFlag->load() && block) {
                block(errorCode);
            }
        });
    }
};

namespace {

using Operation = AvahiDnsSdService::Operation;

int clientError(AvahiClient* client) {
    const int error = client != nullptr ? avahi_client_errno(client) : AVAHI_ERR_FAILURE;
    return error != AVAHI_OK ? error : AVAHI_ERR_FAILURE;
}

// Takes the next alternative name ("Name #2", "Name #3"…).
bool rename(Operation& op) {
    char* alternative = avahi_alternative_service_name(op.currentName().c_str());
    if (alternative == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(op.results->mutex);
        op.results->name = alternative;
    }
    avahi_free(alternative);
    return true;
}

// Adds the service under the operation's current name and commits; an Avahi error code or 0. A
// name already taken on this host is reported at once, and the next alternative is tried.
int addService(Operation& op, AvahiEntryGroup* group) {
    constexpr int kMaxRenames = 100;
    for (int attempt = 0;; ++attempt) {
        const std::string name = op.currentName();
        const int error = avahi_entry_group_add_service(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0), name.c_str(),
            op.type.c_str(), op.domainOrNull(), nullptr, static_cast<uint16_t>(op.port), nullptr);
        if (error == AVAHI_OK) {
            return avahi_entry_group_commit(group);
        }
        if (error != AVAHI_ERR_COLLISION || attempt == kMaxRenames || !rename(op)) {
            return error;
        }
        avahi_entry_group_reset(group);
    }
}

// A name taken on the network: publish again under the next alternative.
void renameAndRetry(Operation& op, AvahiEntryGroup* group) {
    if (!rename(op)) {
        op.report(AVAHI_ERR_NO_MEMORY);
        return;
    }
    avahi_entry_group_reset(group);
    const int error = addService(op, group);
    if (error != AVAHI_OK) {
        op.report(error);
    }
}

// Runs on the event thread (or inside an Avahi call of ours), the event loop locked.
void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
    auto& op = *static_cast<Operation*>(userdata);
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        op.report(0);
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        renameAndRetry(op, group);
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        op.report(clientError(avahi_entry_group_get_client(group)));
        break;
    default:
        break;
    }
}

void stopResolving(Operation& op) {
    if (op.resolver != nullptr && op.generation == AvahiRuntime::shared().generation()) {
        avahi_service_resolver_free(op.resolver);
    }
    op.resolver = nullptr;
    if (op.timeout != nullptr) {
        op.poll->timeout_free(op.timeout);
        op.timeout = nullptr;
    }
}

void onResolved(AvahiServiceResolver* resolver, AvahiIfIndex /*interface*/, AvahiProtocol /*protocol*/,
                AvahiResolverEvent event, const char* /*name*/, const char* /*type*/, const char* /*domain*/,
                const char* hostName, const AvahiAddress* /*address*/, uint16_t port,
                AvahiStringList* /*txt*/, AvahiLookupResultFlags /*flags*/, void* userdata) {
    auto& op = *static_cast<Operation*>(userdata);
    if (event == AVAHI_RESOLVER_FOUND) {
        {
            std::lock_guard<std::mutex> guard(op.results->mutex);
            op.results->targetHost =
                hostName != nullptr ? std::optional<std::string>(hostName) : std::nullopt;
            op.results->port = port;
        }
        stopResolving(op);
        op.report(0);
        return;
    }
    const int error = clientError(avahi_service_resolver_get_client(resolver));
    stopResolving(op);
    op.report(error);
}

void onResolveTimeout(AvahiTimeout* /*timeout*/, void* userdata) {
    auto& op = *static_cast<Operation*>(userdata);
    stopResolving(op);
    op.report(AVAHI_ERR_TIMEOUT);
}

unsigned timeoutMilliseconds(double seconds) {
    const double clamped = std::clamp(seconds, 0.0, 24.0 * 3600.0);
    return static_cast<unsigned>(clamped * 1000.0);
}

} // namespace

AvahiDnsSdService::AvahiDnsSdService(const std::string& domain, const std::string& type,
                                     const std::string& name, int port)
    : _domain(domain), _type(type) {
    _results.name = name;
    _results.port = port;
}

AvahiDnsSdService::~AvahiDnsSdService() {
    cancel();
}

std::unique_ptr<AvahiDnsSdService::Operation> AvahiDnsSdService::newOperation(Callback callback) {
    auto op = std::make_unique<Operation>();
    op->results = &_results;
    op->type = _type;
    // Avahi's default browse and publish domain is "local".
    op->domain = (_domain == "local." || _domain == "local") ? std::string() : _domain;
    op->port = port();
    op->callback = std::move(callback);
    return op;
}

bool AvahiDnsSdService::registerService(Callback callback) {
    std::lock_guard<std::mutex> guard(_operationMutex);
    cancelLocked();
    auto op = newOperation(std::move(callback));
    const bool started = AvahiRuntime::shared().run([&op](const AvahiRuntime::Context& context) {
        op->generation = context.generation;
        op->poll = context.poll;
        AvahiEntryGroup* group = avahi_entry_group_new(context.client, onGroupState, op.get());
        if (group == nullptr) {
            return false;
        }
        if (addService(*op, group) != AVAHI_OK) {
            avahi_entry_group_free(group);
            return false;
        }
        op->group = group;
        return true;
    });
    if (started) {
        _operation = std::move(op);
    }
    return started;
}

std::shared_ptr<DnsSdService> AvahiDnsSdService::copy() const {
    return std::make_shared<AvahiDnsSdService>(_domain, _type, name(), port());
}

bool AvahiDnsSdService::resolve(double timeout, Callback callback) {
    std::lock_guard<std::mutex> guard(_operationMutex);
    cancelLocked();
    auto op = newOperation(std::move(callback));
    const std::string serviceName = name();
    const bool started = AvahiRuntime::shared().run([&](const AvahiRuntime::Context& context) {
        op->generation = context.generation;
        op->poll = context.poll;
        op->resolver = avahi_service_resolver_new(
            context.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, serviceName.c_str(), op->type.c_str(),
            op->domainOrNull(), AVAHI_PROTO_UNSPEC, static_cast<AvahiLookupFlags>(0), onResolved, op.get());
        if (op->resolver == nullptr) {
            return false;
        }
        timeval deadline{};
        avahi_elapse_time(&deadline, timeoutMilliseconds(timeout), 0);
        op->timeout = context.poll->timeout_new(context.poll, &deadline, onResolveTimeout, op.get());
        return true;
    });
    if (started) {
        _operation = std::move(op);
    }
    return started;
}

void AvahiDnsSdService::cancel() {
    std::lock_guard<std::mutex> guard(_operationMutex);
    cancelLocked();
}

void AvahiDnsSdService::cancelLocked() {
    std::unique_ptr<Operation> op = std::move(_operation);
    if (!op) {
        return;
    }
    op->cancelled->store(true);
    AvahiRuntime::shared().runLocked([&op](const AvahiRuntime::Context& context) {
        // Objects of a replaced client went with it.
        if (op->group != nullptr && op->generation == context.generation) {
            avahi_entry_group_free(op->group);
        }
        op->group = nullptr;
        stopResolving(*op);
    });
}

std::string AvahiDnsSdService::name() const {
    std::lock_guard<std::mutex> guard(_results.mutex);
    return _results.name;
}

std::optional<std::string> AvahiDnsSdService::targetHost() const {
    std::lock_guard<std::mutex> guard(_results.mutex);
    return _results.targetHost;
}

int AvahiDnsSdService::port() const {
    std::lock_guard<std::mutex> guard(_results.mutex);
    return _results.port;
}

} // namespace platform
