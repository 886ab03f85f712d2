// Register state of one stack frame, by generic register number.
//
// Generic numbers: 0 is always the instruction pointer, 1 the frame pointer,
// 2 the stack pointer. x86-64 has 21 registers, x86 16 (names below). States
// come from a ucontext_t (a signal's context, a parked thread's saved
// context, or getcontext for the current thread).
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"

#include <ucontext.h>

constexpr uint32_t VXCRASH_CPU_TYPE_X86 = 7;
constexpr uint32_t VXCRASH_CPU_TYPE_X86_64 = 0x1000007;
constexpr uint32_t VXCRASH_CPU_TYPE_ARM64 = 0x100000c;
constexpr uint32_t VXCRASH_CPU_SUBTYPE_X86_ALL = 3;

constexpr uint32_t VXCRASH_STACK_DIRECTION_UP = 1;
constexpr uint32_t VXCRASH_STACK_DIRECTION_DOWN = 2;

typedef uint32_t vxcrash_regnum_t;
typedef uint64_t vxcrash_greg_t;

constexpr vxcrash_regnum_t VXCRASH_REG_IP = 0;
constexpr vxcrash_regnum_t VXCRASH_REG_FP = 1;
constexpr vxcrash_regnum_t VXCRASH_REG_SP = 2;

enum : vxcrash_regnum_t {
    VXCRASH_X86_64_RIP = 0,
    VXCRASH_X86_64_RBP,
    VXCRASH_X86_64_RSP,
    VXCRASH_X86_64_RAX,
    VXCRASH_X86_64_RBX,
    VXCRASH_X86_64_RCX,
    VXCRASH_X86_64_RDX,
    VXCRASH_X86_64_RDI,
    VXCRASH_X86_64_RSI,
    VXCRASH_X86_64_R8,
    VXCRASH_X86_64_R9,
    VXCRASH_X86_64_R10,
    VXCRASH_X86_64_R11,
    VXCRASH_X86_64_R12,
    VXCRASH_X86_64_R13,
    VXCRASH_X86_64_R14,
    VXCRASH_X86_64_R15,
    VXCRASH_X86_64_RFLAGS,
    VXCRASH_X86_64_CS,
    VXCRASH_X86_64_FS,
    VXCRASH_X86_64_GS,
    VXCRASH_X86_64_REG_COUNT
};

enum : vxcrash_regnum_t {
    VXCRASH_X86_EIP = 0,
    VXCRASH_X86_EBP,
    VXCRASH_X86_ESP,
    VXCRASH_X86_EAX,
    VXCRASH_X86_EDX,
    VXCRASH_X86_ECX,
    VXCRASH_X86_EBX,
    VXCRASH_X86_ESI,
    VXCRASH_X86_EDI,
    VXCRASH_X86_EFLAGS,
    VXCRASH_X86_TRAPNO,
    VXCRASH_X86_CS,
    VXCRASH_X86_DS,
    VXCRASH_X86_ES,
    VXCRASH_X86_FS,
    VXCRASH_X86_GS,
    VXCRASH_X86_REG_COUNT
};

// Set on a frame whose instruction pointer is the interrupted instruction itself
// (a signal frame), not a return address: unwinders look it up as it stands
// rather than one byte back.
constexpr uint32_t VXCRASH_THREAD_STATE_EXACT_PC = 1u << 0;

// A plain record, copied by value.
struct vxcrash_async_thread_state_t {
    uint32_t stack_direction;
    uint32_t cpu_type;
    uint64_t greg_width;
    uint64_t valid_regs;
    uint32_t flags;
    vxcrash_greg_t regs[VXCRASH_X86_64_REG_COUNT];
    // The exception block of the context: trap number, error code, fault address.
    struct {
        uint64_t trapno;
        uint64_t err;
        uint64_t faultvaddr;
    } exception;
};

// From a signal's or a parked thread's context: every register valid.
void vxcrash_async_thread_state_mcontext_init(vxcrash_async_thread_state_t *state, const mcontext_t *mctx);
void vxcrash_async_thread_state_ucontext_init(vxcrash_async_thread_state_t *state, const ucontext_t *uctx);

// Empty state for a CPU type (x86 or x86-64); VXCRASH_ENOTSUP for others.
vxcrash_error_t vxcrash_async_thread_state_init(vxcrash_async_thread_state_t *state, uint32_t cpu_type);

// Captures the calling thread and calls body with its state while the frame that
// captured it is still live, so the state's stack can be walked. Returns body's result.
typedef vxcrash_error_t (*vxcrash_async_thread_state_current_callback)(vxcrash_async_thread_state_t *state,
                                                                       void *context);
vxcrash_error_t vxcrash_async_thread_state_current(vxcrash_async_thread_state_current_callback body, void *context);

void vxcrash_async_thread_state_copy(vxcrash_async_thread_state_t *dest, const vxcrash_async_thread_state_t *source);

inline bool vxcrash_async_thread_state_has_reg(const vxcrash_async_thread_state_t *state, vxcrash_regnum_t regnum) {
    return regnum < 64 && (state->valid_regs & (1ull << regnum)) != 0;
}

inline size_t vxcrash_async_thread_state_get_reg_count(const vxcrash_async_thread_state_t *state) {
    return state->cpu_type == VXCRASH_CPU_TYPE_X86_64 ? (size_t)VXCRASH_X86_64_REG_COUNT
                                                      : (size_t)VXCRASH_X86_REG_COUNT;
}

void vxcrash_async_thread_state_clear_reg(vxcrash_async_thread_state_t *state, vxcrash_regnum_t regnum);
void vxcrash_async_thread_state_clear_all_regs(vxcrash_async_thread_state_t *state);
void vxcrash_async_thread_state_clear_volatile_regs(vxcrash_async_thread_state_t *state);

uint32_t vxcrash_async_thread_state_get_stack_direction(const vxcrash_async_thread_state_t *state);
size_t vxcrash_async_thread_state_get_greg_size(const vxcrash_async_thread_state_t *state);

[[noreturn]] void vxcrash_async_thread_state_bad_register(const char *what);

// Register access; a number at or above the register count aborts.
inline vxcrash_greg_t vxcrash_async_thread_state_get_reg(const vxcrash_async_thread_state_t *state,
                                                         vxcrash_regnum_t regnum) {
    if (regnum >= vxcrash_async_thread_state_get_reg_count(state)) vxcrash_async_thread_state_bad_register("get_reg");
    if (state->cpu_type != VXCRASH_CPU_TYPE_X86_64) return state->regs[regnum] & 0xffffffffull;
    return state->regs[regnum];
}

inline void vxcrash_async_thread_state_set_reg(vxcrash_async_thread_state_t *state, vxcrash_regnum_t regnum,
                                               vxcrash_greg_t value) {
    if (regnum >= vxcrash_async_thread_state_get_reg_count(state)) vxcrash_async_thread_state_bad_register("set_reg");
    state->regs[regnum] = state->cpu_type == VXCRASH_CPU_TYPE_X86_64 ? value : (value & 0xffffffffull);
    state->valid_regs |= 1ull << regnum;
}

const char *vxcrash_async_thread_state_get_reg_name(const vxcrash_async_thread_state_t *state, vxcrash_regnum_t regnum);

bool vxcrash_async_thread_state_map_dwarf_to_reg(const vxcrash_async_thread_state_t *state, uint64_t dwarf_reg,
                                                 vxcrash_regnum_t *regnum);
bool vxcrash_async_thread_state_map_reg_to_dwarf(const vxcrash_async_thread_state_t *state, vxcrash_regnum_t regnum,
                                                 uint64_t *dwarf_reg);
