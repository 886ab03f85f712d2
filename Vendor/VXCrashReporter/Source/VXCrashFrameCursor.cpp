#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"

#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadParking.h"
#include "Vendor/VXCrashReporter/Source/VXCrashCompactUnwind.h"
#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwind.h"

const char *vxcrash_frame_strerror(int error) {
    switch (error) {
        case VXCRASH_FRAME_ESUCCESS:
            return "No error";
        case VXCRASH_FRAME_EUNKNOWN:
            return "Unknown error";
        case VXCRASH_FRAME_ENOFRAME:
            return "No frames are available";
        case VXCRASH_FRAME_EBADFRAME:
            return "Corrupted frame";
        case VXCRASH_FRAME_ENOTSUP:
            return "Operation not supported";
        case VXCRASH_FRAME_EINVAL:
            return "Invalid argument";
        case VXCRASH_FRAME_EINTERNAL:
            return "Internal error";
        case VXCRASH_FRAME_EBADREG:
            return "Invalid register";
    }
    return "Unhandled error code";
}

vxcrash_error_t vxcrash_async_frame_cursor_init(vxcrash_async_frame_cursor_t *cursor, vxcrash_async_task_t *task,
                                                const vxcrash_async_thread_state_t *thread_state,
                                                vxcrash_async_image_list_t *image_list) {
    cursor->task = task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    // Without an image that carries compact unwind data (none on this
    // system) that reader passes every frame on: a pc with a kept row is the
    // DWARF reader's.
    cursor->kept_rows_first =
        image_list == nullptr || __atomic_load_n(&image_list->unwind_info_count, __ATOMIC_RELAXED) == 0;
    vxcrash_async_memset(&cursor->prev_frame, 0, sizeof(cursor->prev_frame));
    cursor->prev_frame.stack_direction = thread_state->stack_direction;
    cursor->prev_frame.cpu_type = thread_state->cpu_type;
    cursor->prev_frame.greg_width = thread_state->greg_width;
    vxcrash_async_thread_state_copy(&cursor->frame, thread_state);
    return VXCRASH_ESUCCESS;
}

vxcrash_error_t vxcrash_async_frame_cursor_thread_init(vxcrash_async_frame_cursor_t *cursor, vxcrash_async_task_t *task,
                                                       pid_t thread, vxcrash_async_image_list_t *image_list) {
    vxcrash_async_thread_state_t state;
    if (!vxcrash_async_thread_parking_get_state(thread, &state)) return VXCRASH_EINTERNAL;
    return vxcrash_async_frame_cursor_init(cursor, task, &state, image_list);
}

namespace {

// 1: pc lies in an executable segment of a loaded image; 0: it does not;
// -1: unknown (no list, or the list could not be taken).
int pc_in_code(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list, uint64_t pc) {
    // The walk's images do not change while it runs: ranges found once stay.
    if (vxcrash_async_task_code_contains(task, pc)) return 1;
    if (image_list == nullptr || !vxcrash_async_image_list_try_set_reading(image_list)) return -1;
    uintptr_t start, end;
    int result = vxcrash_async_image_list_code_contains(image_list, (uintptr_t)pc, &start, &end) ? 1 : 0;
    vxcrash_async_image_list_set_reading(image_list, false);
    if (result == 1) {
        auto &range = task->code_ranges[task->next_code_range];
        task->next_code_range =
            (task->next_code_range + 1) % (sizeof(task->code_ranges) / sizeof(task->code_ranges[0]));
        range.start = start;
        range.end = end;
    }
    return result;
}

// A call through a null or garbage pointer leaves the pc outside every
// image, with the return address the call pushed on top of the stack
// (x86-64): the caller's frame is that address, one word up.
vxcrash_async_frame_cursor_error_t return_from_top_of_stack(vxcrash_async_task_t *task,
                                                            const vxcrash_async_thread_state_t *current,
                                                            vxcrash_async_thread_state_t *next) {
    if (vxcrash_async_thread_state_get_greg_size(current) != 8 ||
        !vxcrash_async_thread_state_has_reg(current, VXCRASH_REG_SP))
        return VXCRASH_FRAME_ENOFRAME;
    uint64_t sp = vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_SP);
    uint64_t ip;
    if (vxcrash_async_task_memcpy(task, sp, 0, &ip, sizeof(ip)) != VXCRASH_ESUCCESS) return VXCRASH_FRAME_ENOFRAME;
    vxcrash_async_thread_state_copy(next, current);
    vxcrash_async_thread_state_clear_volatile_regs(next);
    next->flags = 0;
    vxcrash_async_thread_state_set_reg(next, VXCRASH_REG_SP, sp + 8);
    vxcrash_async_thread_state_set_reg(next, VXCRASH_REG_IP, ip);
    return VXCRASH_FRAME_ESUCCESS;
}

}  // namespace

vxcrash_async_frame_cursor_error_t vxcrash_async_frame_cursor_next_with_readers(
    vxcrash_async_frame_cursor_t *cursor, const vxcrash_async_frame_reader_t *readers, size_t reader_count) {
    if (cursor->depth == 0) {
        cursor->depth = 1;
        return VXCRASH_FRAME_ESUCCESS;
    }
    const vxcrash_async_thread_state_t *previous = cursor->depth == 1 ? nullptr : &cursor->prev_frame;

    vxcrash_async_thread_state_t next;
    vxcrash_async_frame_cursor_error_t err = VXCRASH_FRAME_ENOTSUP;
    bool found = false;
    if (cursor->depth == 1 && vxcrash_async_thread_state_has_reg(&cursor->frame, VXCRASH_REG_IP) &&
        pc_in_code(cursor->task, cursor->image_list,
                   vxcrash_async_thread_state_get_reg(&cursor->frame, VXCRASH_REG_IP)) == 0) {
        err = return_from_top_of_stack(cursor->task, &cursor->frame, &next);
        found = err == VXCRASH_FRAME_ESUCCESS;
    } else {
        for (size_t i = 0; i < reader_count; ++i) {
            err = readers[i](cursor->task, cursor->image_list, &cursor->frame, previous, &next);
            if (err == VXCRASH_FRAME_ESUCCESS) {
                found = true;
                break;
            }
        }
    }
    if (!found) return err;

    // An instruction pointer in the first page is the end of the stack; one
    // outside every image's code is garbage, not a caller to follow.
    if (!vxcrash_async_thread_state_has_reg(&next, VXCRASH_REG_IP)) return VXCRASH_FRAME_ENOFRAME;
    uint64_t ip = vxcrash_async_thread_state_get_reg(&next, VXCRASH_REG_IP);
    if (ip <= 0x1000 || pc_in_code(cursor->task, cursor->image_list, ip) == 0) return VXCRASH_FRAME_ENOFRAME;
    // The same pc and stack pointer again: the walk would only repeat itself.
    if (ip == vxcrash_async_thread_state_get_reg(&cursor->frame, VXCRASH_REG_IP) &&
        vxcrash_async_thread_state_has_reg(&next, VXCRASH_REG_SP) &&
        vxcrash_async_thread_state_has_reg(&cursor->frame, VXCRASH_REG_SP) &&
        vxcrash_async_thread_state_get_reg(&next, VXCRASH_REG_SP) ==
            vxcrash_async_thread_state_get_reg(&cursor->frame, VXCRASH_REG_SP))
        return VXCRASH_FRAME_ENOFRAME;

    vxcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
    vxcrash_async_thread_state_copy(&cursor->frame, &next);
    cursor->depth++;
    return VXCRASH_FRAME_ESUCCESS;
}

vxcrash_async_frame_cursor_error_t vxcrash_async_frame_cursor_next(vxcrash_async_frame_cursor_t *cursor) {
    // A step with a row the walk keeps changes the frame in place (the
    // readers would copy it twice); the readers take every other step.
    vxcrash_async_thread_state_t *frame = &cursor->frame;
    if (cursor->depth >= 2 && cursor->kept_rows_first && frame->cpu_type == VXCRASH_CPU_TYPE_X86_64 &&
        vxcrash_async_thread_state_has_reg(frame, VXCRASH_REG_IP) && frame->regs[VXCRASH_REG_IP] != 0) {
        // A return address may be its function's last byte plus one.
        uint64_t pc = frame->regs[VXCRASH_REG_IP] - ((frame->flags & VXCRASH_THREAD_STATE_EXACT_PC) != 0 ? 0 : 1);
        vxcrash_async_frame_cursor_error_t result;
        if (vxcrash_async_dwarf_kept_step_in_place(cursor->task, cursor->image_list, frame, &cursor->prev_frame, pc,
                                                   &result)) {
            if (result == VXCRASH_FRAME_ESUCCESS) cursor->depth++;
            return result;
        }
    }
    static const vxcrash_async_frame_reader_t readers[] = {
        vxcrash_async_cfe_frame_reader,
        vxcrash_async_dwarf_frame_reader,
        vxcrash_async_fp_frame_reader,
    };
    return vxcrash_async_frame_cursor_next_with_readers(cursor, readers, sizeof(readers) / sizeof(readers[0]));
}

const char *vxcrash_async_frame_cursor_get_regname(const vxcrash_async_frame_cursor_t *cursor,
                                                   vxcrash_regnum_t regnum) {
    return vxcrash_async_thread_state_get_reg_name(&cursor->frame, regnum);
}

size_t vxcrash_async_frame_cursor_get_regcount(const vxcrash_async_frame_cursor_t *cursor) {
    return vxcrash_async_thread_state_get_reg_count(&cursor->frame);
}

void vxcrash_async_frame_cursor_free(vxcrash_async_frame_cursor_t *cursor) {
    // Nothing is held: the task record belongs to the caller.
    cursor->task = nullptr;
}

vxcrash_async_frame_cursor_error_t vxcrash_async_fp_frame_reader(vxcrash_async_task_t *task,
                                                                 vxcrash_async_image_list_t *,
                                                                 const vxcrash_async_thread_state_t *current_frame,
                                                                 const vxcrash_async_thread_state_t *previous_frame,
                                                                 vxcrash_async_thread_state_t *next_frame) {
    if (!vxcrash_async_thread_state_has_reg(current_frame, VXCRASH_REG_FP)) return VXCRASH_FRAME_EBADFRAME;
    vxcrash_greg_t fp = vxcrash_async_thread_state_get_reg(current_frame, VXCRASH_REG_FP);
    if (fp == 0) return VXCRASH_FRAME_ENOFRAME;

    // Frames must move strictly toward the stack's base, or the chain loops.
    uint32_t direction = vxcrash_async_thread_state_get_stack_direction(current_frame);
    auto towards_base = [direction](vxcrash_greg_t from, vxcrash_greg_t to) {
        return direction == VXCRASH_STACK_DIRECTION_UP ? to < from : to > from;
    };
    if (previous_frame != nullptr && vxcrash_async_thread_state_has_reg(previous_frame, VXCRASH_REG_FP)) {
        vxcrash_greg_t prev = vxcrash_async_thread_state_get_reg(previous_frame, VXCRASH_REG_FP);
        if (prev != fp && !towards_base(prev, fp)) return VXCRASH_FRAME_EBADFRAME;
    }
    // The frame record lies at or above the stack pointer.
    if (vxcrash_async_thread_state_has_reg(current_frame, VXCRASH_REG_SP)) {
        vxcrash_greg_t sp = vxcrash_async_thread_state_get_reg(current_frame, VXCRASH_REG_SP);
        if (fp != sp && !towards_base(sp, fp)) return VXCRASH_FRAME_EBADFRAME;
    }

    size_t width = vxcrash_async_thread_state_get_greg_size(current_frame);
    vxcrash_greg_t newFp = 0;
    vxcrash_greg_t newIp = 0;
    if (width == 8) {
        uint64_t words[2];
        if (vxcrash_async_task_memcpy(task, fp, 0, words, sizeof(words)) != VXCRASH_ESUCCESS)
            return VXCRASH_FRAME_EBADFRAME;
        newFp = words[0];
        newIp = words[1];
    } else {
        uint32_t words[2];
        if (vxcrash_async_task_memcpy(task, fp, 0, words, sizeof(words)) != VXCRASH_ESUCCESS)
            return VXCRASH_FRAME_EBADFRAME;
        newFp = words[0];
        newIp = words[1];
    }
    // A caller's record lies beyond this one (0 ends the chain).
    if (newFp != 0 && !towards_base(fp, newFp)) return VXCRASH_FRAME_EBADFRAME;

    vxcrash_async_thread_state_copy(next_frame, current_frame);
    vxcrash_async_thread_state_clear_all_regs(next_frame);
    next_frame->flags = 0;
    vxcrash_async_thread_state_set_reg(next_frame, VXCRASH_REG_FP, newFp);
    vxcrash_async_thread_state_set_reg(next_frame, VXCRASH_REG_IP, newIp);
    // The caller's stack pointer is just past the record (saved fp, return
    // address), so the DWARF reader can take the next frame again.
    uint64_t record = 2 * (uint64_t)width;
    vxcrash_async_thread_state_set_reg(next_frame, VXCRASH_REG_SP,
                                       direction == VXCRASH_STACK_DIRECTION_UP ? fp - record : fp + record);
    return VXCRASH_FRAME_ESUCCESS;
}
