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

// One step to a caller with a row kept by the walk or across walks: what
// changes, gathered before anything is changed.
struct vxcrash_async_dwarf_step_t {
    uint64_t cfa;  // the caller's stack pointer
    uint64_t ip;
    bool has_ip;  // false: the outermost frame
    bool signal_frame;
    uint32_t saved_count;
    uint32_t undefined_registers;
    uint8_t saved_registers[VXCRASH_UNWIND_ROW_SAVED];
    uint64_t saved_values[VXCRASH_UNWIND_ROW_SAVED];
};

// The step from state for pc (already moved back a byte for a return
// address) when a compact row is kept for it; false otherwise, or when the
// row cannot be applied (the DWARF reader then decides).
bool vxcrash_async_dwarf_kept_step(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
                                   const vxcrash_async_thread_state_t *state, uint64_t pc,
                                   vxcrash_async_dwarf_step_t *step);

// Makes state its caller's: caller-saved registers cleared, the step's
// values set.
void vxcrash_async_dwarf_apply_step(vxcrash_async_thread_state_t *state, const vxcrash_async_dwarf_step_t *step);

// The frame cursor's own step on x86-64: state made its caller's in place
// with the row kept for pc, when every word the row reads lies in memory the
// walk knows readable and the caller's pc lies in code the walk has met.
// previous gets the instruction, frame and stack pointers state had. false,
// with nothing changed, leaves the step to the readers; true gives the
// step's result (VXCRASH_FRAME_ENOFRAME: the walk ends here).
bool vxcrash_async_dwarf_kept_step_in_place(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
                                            vxcrash_async_thread_state_t *state, vxcrash_async_thread_state_t *previous,
                                            uint64_t pc, vxcrash_async_frame_cursor_error_t *result);
