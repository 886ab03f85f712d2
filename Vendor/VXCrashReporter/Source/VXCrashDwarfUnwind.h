// DWARF call-frame reader over an image's .eh_frame, found through its
// PT_GNU_EH_FRAME header (the sorted search table when the image has one,
// a linear scan otherwise). Async-safe: image bytes are read through memory
// objects bounded by the image's loaded segments, stack words through checked
// reads.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"

vxcrash_async_frame_cursor_error_t vxcrash_async_dwarf_frame_reader(vxcrash_async_task_t *task,
                                                                    vxcrash_async_image_list_t *image_list,
                                                                    const vxcrash_async_thread_state_t *current_frame,
                                                                    const vxcrash_async_thread_state_t *previous_frame,
                                                                    vxcrash_async_thread_state_t *next_frame);

// Evaluates a DWARF expression of length bytes at address (inside mobj)
// against state's registers; initial, when given, is pushed first (the CFA
// for register rules). The result is the top of the stack.
vxcrash_error_t vxcrash_async_dwarf_expression_eval(vxcrash_async_task_t *task, const vxcrash_async_mobject_t *mobj,
                                                    uintptr_t address, uint64_t length,
                                                    const vxcrash_async_thread_state_t *state, const uint64_t *initial,
                                                    uint64_t *result);
