#include "DispatchQueue.h"

#include "GlobalQueue.h"
#include "SerialQueue.h"

namespace platform::dispatch {

DispatchQueue& DispatchQueue::global() {
    return GlobalQueue::instance();
}

std::shared_ptr<DispatchQueue> DispatchQueue::createSerial(std::string label) {
    return std::make_shared<SerialQueue>(std::move(label));
}

} // namespace platform::dispatch
