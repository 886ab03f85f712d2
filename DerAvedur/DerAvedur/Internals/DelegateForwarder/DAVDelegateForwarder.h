#pragma once
// What the SDK entry needs of the delegate forwarders: whether forwarding of
// the application delegate is on, and the buffer of traces written before
// the log level was known.

#include <functional>
#include <mutex>
#include <vector>

class DAVDelegateForwarder {
public:
    // Traces are kept until the log level is set, then replayed once.
    static void addTraceBlock(std::function<void()> block);
    static void flushTraceBuffer();
};

class DAVAppDelegateForwarder {
public:
    // Info dictionary key; forwarding is on unless it holds false.
    static constexpr const char* kEnabledInfoKey = "DerAvedurAppDelegateForwarderEnabled";

    static DAVAppDelegateForwarder& sharedInstance();
    bool isEnabled() const;
};
