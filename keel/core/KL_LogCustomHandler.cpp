#include "KL_LogCustomHandler.h"

#include "KL_LogManager.h"

void KL_LogCustomHandler::Log(const KL_LogRecord& record) {
    if (KL_LogCustomHandlerFunction function = KL_LogManager::GetCustomHandlerFunction()) {
        function(record);
    }
}
