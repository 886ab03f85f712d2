#include "Vendor/VXCrashReporter/Source/VXCrashSharedImageList.h"

#include <cstdio>
#include <mutex>

namespace {
// Static storage: the list is large and must exist before any crash.
vxcrash_async_image_list_t g_imageList;
std::once_flag g_imageListOnce;
}  // namespace

vxcrash_async_image_list_t *vxcrash_shared_image_list() {
    std::call_once(g_imageListOnce, [] {
        if (vxcrash_async_image_list_init(&g_imageList) != VXCRASH_ESUCCESS)
            fprintf(stderr, "[VXCrashReporter] Warning -- the loaded images could not be listed\n");
    });
    return &g_imageList;
}
