// The loaded images of the process, read from the dynamic linker's link map.
//
// The list is a fixed table: init (not async-safe) records what can only be
// learnt safely before a crash (the executable's path, its program headers,
// the linker's r_debug); refresh (async-safe) re-reads the link map with
// checked reads, so it may run at crash time. Readers hold the list for
// reading while they use an entry. The writer refreshes the list after it has
// parked the other threads; no thread can load or unload an image then.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"

constexpr size_t VXCRASH_IMAGE_LIST_CAPACITY = 512;
constexpr size_t VXCRASH_IMAGE_MAX_SEGMENTS = 8;
constexpr size_t VXCRASH_IMAGE_BUILD_ID_MAX = 64;
constexpr size_t VXCRASH_IMAGE_PATH_MAX = 4096;

struct vxcrash_async_image_segment_t {
    uintptr_t start;
    uintptr_t end;
    uint32_t flags;  // PF_R, PF_W, PF_X
};

struct vxcrash_async_image_t {
    uintptr_t header_address;  // the ELF header in memory
    uintptr_t bias;            // load bias: runtime address minus link-time address
    uintptr_t start;           // span of the loaded segments
    uintptr_t end;
    uintptr_t name_address;  // NUL-terminated name in the link map; 0 when none
    bool is_executable;      // named by the executable path recorded at init
    uint16_t machine;        // e_machine
    uint32_t build_id_length;
    uint8_t build_id[VXCRASH_IMAGE_BUILD_ID_MAX];
    uintptr_t eh_frame_hdr;  // PT_GNU_EH_FRAME, 0 when absent
    uint64_t eh_frame_hdr_size;
    uintptr_t unwind_info;  // a compact-unwind section, when the image carries one
    uint64_t unwind_info_size;
    uint32_t segment_count;
    vxcrash_async_image_segment_t segments[VXCRASH_IMAGE_MAX_SEGMENTS];
};

struct vxcrash_async_image_list_t {
    vxcrash_async_rwspinlock_t lock;
    uintptr_t r_debug;
    uintptr_t executable_phdr;
    uint64_t executable_phnum;
    size_t executable_path_length;
    char executable_path[VXCRASH_IMAGE_PATH_MAX];
    uint32_t count;
    // Images that carry a compact-unwind section (none, on ELF systems).
    uint32_t unwind_info_count;
    // Changes whenever the images change: rows decoded for one generation
    // are not used with another.
    uint64_t generation;
    uint64_t signature;
    vxcrash_async_image_t images[VXCRASH_IMAGE_LIST_CAPACITY];
};

// Records the process's fixed facts and reads the link map once. Not async-safe.
vxcrash_error_t vxcrash_async_image_list_init(vxcrash_async_image_list_t *list);

// Re-reads the link map. Async-safe. Leaves the list as it was when the list
// cannot be taken for writing within a bounded wait.
vxcrash_error_t vxcrash_async_image_list_refresh(vxcrash_async_image_list_t *list);

// Adds an image the link map does not hold (generated code, a fixture).
vxcrash_error_t vxcrash_async_image_list_append(vxcrash_async_image_list_t *list, const vxcrash_async_image_t *image);

void vxcrash_async_image_list_set_reading(vxcrash_async_image_list_t *list, bool enable);
// Bounded wait; false when the list could not be taken.
bool vxcrash_async_image_list_try_set_reading(vxcrash_async_image_list_t *list);

// The following require the list held for reading.
uint32_t vxcrash_async_image_list_count(const vxcrash_async_image_list_t *list);
const vxcrash_async_image_t *vxcrash_async_image_list_get(const vxcrash_async_image_list_t *list, uint32_t index);
const vxcrash_async_image_t *vxcrash_async_image_list_image_for_address(const vxcrash_async_image_list_t *list,
                                                                        uintptr_t address);

// Whether address lies in an executable segment of an image of the list;
// the segment's range goes to start/end when given.
bool vxcrash_async_image_list_code_contains(const vxcrash_async_image_list_t *list, uintptr_t address,
                                            uintptr_t *start = nullptr, uintptr_t *end = nullptr);
// Copies the image's name (NUL-terminated, cut to size - 1); returns its length.
size_t vxcrash_async_image_copy_name(const vxcrash_async_image_list_t *list, const vxcrash_async_image_t *image,
                                     vxcrash_async_task_t *task, char *buffer, size_t size);

// A memory object over the readable loaded segment that holds address.
vxcrash_error_t vxcrash_async_image_segment_mobject(const vxcrash_async_image_t *image, uintptr_t address,
                                                    vxcrash_async_mobject_t *mobj);

// Maps a named section of the image. ELF images keep no section table in
// memory; the only section known is the compact-unwind one ("__TEXT",
// "__unwind_info") of an image that carries it. VXCRASH_ENOTFOUND otherwise.
vxcrash_error_t vxcrash_async_image_map_section(const vxcrash_async_image_t *image, const char *segname,
                                                const char *sectname, vxcrash_async_mobject_t *mobj);
