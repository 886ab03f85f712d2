#pragma once
#include <functional>
#include <memory>

#include "Platform/Foundation/Dispatch.h"

class DAVDispatcherUtil {
public:
    // Hands the block to the main thread and returns at once.
    static void performBlockOnMainThread(std::function<void()> block);
    // Runs the block on the queue and waits at most `timeout` seconds for it.
    static void dispatchSyncWithTimeout(double timeout, const std::shared_ptr<Foundation::DispatchQueue>& queue,
                                        std::function<void()> block);
};
