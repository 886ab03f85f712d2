// Stack walking one frame at a time, without allocation.
//
// The cursor starts from a thread state and asks its frame readers in order
// (compact unwind, DWARF, frame pointer) for the caller's frame.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashAsyncImageList.h"
#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadState.h"

enum vxcrash_async_frame_cursor_error_t : int {
    VXCRASH_FRAME_ESUCCESS = 0,
    VXCRASH_FRAME_EUNKNOWN = 1,
    VXCRASH_FRAME_ENOFRAME = 2,
    VXCRASH_FRAME_EBADFRAME = 3,
    VXCRASH_FRAME_ENOTSUP = 4,
    VXCRASH_FRAME_EINVAL = 5,
    VXCRASH_FRAME_EINTERNAL = 6,
    VXCRASH_FRAME_EBADREG = 7,
};

const char *vxcrash_frame_strerror(int error);

struct vxcrash_async_frame_cursor_t {
    vxcrash_async_task_t *task;
    vxcrash_async_image_list_t *image_list;
    uint32_t depth;
    bool kept_rows_first;  // kept DWARF rows answer before the readers
    // The frame walked before this one: after a step with a kept row, only
    // its instruction, frame and stack pointers (all a reader looks at).
    vxcrash_async_thread_state_t prev_frame;
    vxcrash_async_thread_state_t frame;
};

// A frame reader: from the current frame (and the one walked before it, or
// nullptr at the first step) produce the caller's frame.
typedef vxcrash_async_frame_cursor_error_t (*vxcrash_async_frame_reader_t)(
    vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
    const vxcrash_async_thread_state_t *current_frame, const vxcrash_async_thread_state_t *previous_frame,
    vxcrash_async_thread_state_t *next_frame);

// The cursor keeps task and image_list by pointer; both must outlive it.
vxcrash_error_t vxcrash_async_frame_cursor_init(vxcrash_async_frame_cursor_t *cursor, vxcrash_async_task_t *task,
                                                const vxcrash_async_thread_state_t *thread_state,
                                                vxcrash_async_image_list_t *image_list);

// Starts from another thread's state as saved when it was parked (see
// VXCrashAsyncThreadParking.h); VXCRASH_EINTERNAL when it is not parked.
vxcrash_error_t vxcrash_async_frame_cursor_thread_init(vxcrash_async_frame_cursor_t *cursor, vxcrash_async_task_t *task,
                                                       pid_t thread, vxcrash_async_image_list_t *image_list);

vxcrash_async_frame_cursor_error_t vxcrash_async_frame_cursor_next(vxcrash_async_frame_cursor_t *cursor);
vxcrash_async_frame_cursor_error_t vxcrash_async_frame_cursor_next_with_readers(
    vxcrash_async_frame_cursor_t *cursor, const vxcrash_async_frame_reader_t *readers, size_t reader_count);

inline vxcrash_async_frame_cursor_error_t vxcrash_async_frame_cursor_get_reg(const vxcrash_async_frame_cursor_t *cursor,
                                                                             vxcrash_regnum_t regnum,
                                                                             vxcrash_greg_t *value) {
    if (!vxcrash_async_thread_state_has_reg(&cursor->frame, regnum)) return VXCRASH_FRAME_ENOTSUP;
    *value = vxcrash_async_thread_state_get_reg(&cursor->frame, regnum);
    return VXCRASH_FRAME_ESUCCESS;
}
const char *vxcrash_async_frame_cursor_get_regname(const vxcrash_async_frame_cursor_t *cursor, vxcrash_regnum_t regnum);
size_t vxcrash_async_frame_cursor_get_regcount(const vxcrash_async_frame_cursor_t *cursor);

void vxcrash_async_frame_cursor_free(vxcrash_async_frame_cursor_t *cursor);

// The frame-pointer reader.
vxcrash_async_frame_cursor_error_t vxcrash_async_fp_frame_reader(vxcrash_async_task_t *task,
                                                                 vxcrash_async_image_list_t *image_list,
                                                                 const vxcrash_async_thread_state_t *current_frame,
                                                                 const vxcrash_async_thread_state_t *previous_frame,
                                                                 vxcrash_async_thread_state_t *next_frame);
