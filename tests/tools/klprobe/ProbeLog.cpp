// klprobe log: one line through the log manager (configured from KEEL_LOG_CONFIG), then an
// optional wait so that the configurator page can be asked meanwhile.
#include "KL_LogManager.h"
#include "KL_Logger.h"
#include "KL_System.h"
#include "KL_TimeStamp.h"
#include "KL_Utils.h"
#include "Probe.h"

#include <cstdint>

namespace {

constexpr const char* kUsage = "log [--wait SECONDS] LOGGER LEVEL MESSAGE";

} // namespace

KLPROBE_COMMAND(log, "log [--wait SECONDS] LOGGER LEVEL MESSAGE") {
    size_t first = 0;
    uint32_t wait_seconds = 0;
    if (args.size() >= 2 && args[0] == "--wait") {
        if (KL_FAILED(KL_ParseInteger32U(args[1].c_str(), wait_seconds, false))) {
            return klprobe::Usage(kUsage);
        }
        first = 2;
    }
    if (args.size() != first + 3) {
        return klprobe::Usage(kUsage);
    }
    const int level = KL_LogManager::ParseLevel(args[first + 1].c_str());
    if (level < 0) {
        return klprobe::Usage(kUsage);
    }
    KL_Logger* logger = KL_LogManager::GetDefault().GetLogger(args[first].c_str());
    if (logger != nullptr && logger->GetLevel() <= level) {
        logger->Log(level, __FILE__, __LINE__, __func__, "%s", args[first + 2].c_str());
    }
    if (wait_seconds > 0) {
        (void)KL_System::Sleep(KL_TimeStamp::FromSeconds(wait_seconds));
    }
    return 0;
}
