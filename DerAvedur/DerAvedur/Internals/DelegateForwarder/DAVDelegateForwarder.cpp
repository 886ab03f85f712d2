#include "DerAvedur/DerAvedur/Internals/DelegateForwarder/DAVDelegateForwarder.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/SharedInstance.h"

namespace {

struct TraceBuffer {
    std::mutex lock;
    std::vector<std::function<void()>> blocks;
    bool flushed = false;
};

TraceBuffer& traceBuffer() {
    static auto* buffer = new TraceBuffer;
    return *buffer;
}

}  // namespace

void DAVDelegateForwarder::addTraceBlock(std::function<void()> block) {
    TraceBuffer& buffer = traceBuffer();
    {
        std::lock_guard<std::mutex> guard(buffer.lock);
        if (!buffer.flushed) {
            buffer.blocks.push_back(std::move(block));
            return;
        }
    }
    if (block) block();
}

void DAVDelegateForwarder::flushTraceBuffer() {
    std::vector<std::function<void()>> blocks;
    {
        TraceBuffer& buffer = traceBuffer();
        std::lock_guard<std::mutex> guard(buffer.lock);
        if (buffer.flushed) return;
        buffer.flushed = true;
        blocks.swap(buffer.blocks);
    }
    for (auto& block : blocks)
        if (block) block();
}

DAVAppDelegateForwarder& DAVAppDelegateForwarder::sharedInstance() {
    return *Foundation::SharedInstance<DAVAppDelegateForwarder>::process().get();
}

bool DAVAppDelegateForwarder::isEnabled() const {
    Foundation::Value value = Foundation::Bundle::main().objectForInfoDictionaryKey(kEnabledInfoKey);
    if (value.isBool()) return value.asBool();
    if (auto number = value.integerValue()) return *number != 0;
    return true;
}
