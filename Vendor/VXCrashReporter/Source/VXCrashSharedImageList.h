// The process's one image list, shared by the crash-time code of the front
// end, live reports and the capture of uncaught exceptions' stacks.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashAsyncImageList.h"

// Made and read once on first use (not async-safe then); crash-time code only
// refreshes it.
vxcrash_async_image_list_t *vxcrash_shared_image_list();
