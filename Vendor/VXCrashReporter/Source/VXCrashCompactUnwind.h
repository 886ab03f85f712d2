// Compact unwind: the "__unwind_info" section format (a two-level index of
// 32-bit per-function encodings) and the frame reader over it. ELF images
// carry no such section, so on this system the reader mostly declines and
// passes the turn on; it serves images that do carry one.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"

enum vxcrash_async_cfe_entry_type_t : uint32_t {
    VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR = 1,
    VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD = 2,
    VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT = 3,
    VXCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF = 4,
    VXCRASH_ASYNC_CFE_ENTRY_TYPE_NONE = 5,
};

constexpr uint32_t VXCRASH_ASYNC_CFE_SAVED_REGISTER_MAX = 10;
// A register slot (or the return-address register) that holds no register.
constexpr uint32_t VXCRASH_ASYNC_CFE_NO_REGISTER = 0x7FFFFFFF;

struct vxcrash_async_cfe_reader_t {
    vxcrash_async_mobject_t mobj;  // the section
    uint32_t cpu_type;
    struct {
        uint32_t version;
        uint32_t common_encodings_offset;
        uint32_t common_encodings_count;
        uint32_t personality_offset;
        uint32_t personality_count;
        uint32_t index_offset;
        uint32_t index_count;
    } header;
};

struct vxcrash_async_cfe_entry_t {
    vxcrash_async_cfe_entry_type_t type;
    uint32_t cpu_type;
    // Frame-pointer offset of the saved registers, stack size, offset of the
    // stack-size immediate, or DWARF FDE offset, by type.
    int64_t stack_offset;
    uint32_t stack_adjust;
    uint32_t return_address_register;  // VXCRASH_ASYNC_CFE_NO_REGISTER: on the stack
    uint32_t register_count;
    uint32_t register_list[VXCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];  // stack order, lowest address first
};

vxcrash_error_t vxcrash_async_cfe_reader_init(vxcrash_async_cfe_reader_t *reader, const vxcrash_async_mobject_t *mobj,
                                              uint32_t cpu_type);
// pc is an offset from the image's header; function_base receives the
// function's offset, encoding its 32-bit compact encoding.
vxcrash_error_t vxcrash_async_cfe_reader_find_pc(const vxcrash_async_cfe_reader_t *reader, uint64_t pc,
                                                 uint64_t *function_base, uint32_t *encoding);
void vxcrash_async_cfe_reader_free(vxcrash_async_cfe_reader_t *reader);

vxcrash_error_t vxcrash_async_cfe_entry_init(vxcrash_async_cfe_entry_t *entry, uint32_t cpu_type, uint32_t encoding);
vxcrash_async_cfe_entry_type_t vxcrash_async_cfe_entry_type(const vxcrash_async_cfe_entry_t *entry);
void vxcrash_async_cfe_entry_free(vxcrash_async_cfe_entry_t *entry);

vxcrash_error_t vxcrash_async_cfe_entry_apply(vxcrash_async_task_t *task, uint64_t function_address,
                                              const vxcrash_async_thread_state_t *thread_state,
                                              const vxcrash_async_cfe_entry_t *entry,
                                              vxcrash_async_thread_state_t *new_thread_state);

// Permutation of up to six distinct register numbers 1..6.
uint32_t vxcrash_async_cfe_register_encode_permutation(const uint32_t *registers, uint32_t count);
vxcrash_error_t vxcrash_async_cfe_register_decode_permutation(uint32_t permutation, uint32_t count,
                                                              uint32_t *registers);

vxcrash_async_frame_cursor_error_t vxcrash_async_cfe_frame_reader(vxcrash_async_task_t *task,
                                                                  vxcrash_async_image_list_t *image_list,
                                                                  const vxcrash_async_thread_state_t *current_frame,
                                                                  const vxcrash_async_thread_state_t *previous_frame,
                                                                  vxcrash_async_thread_state_t *next_frame);
