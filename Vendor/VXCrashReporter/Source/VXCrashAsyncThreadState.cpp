#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadState.h"

#include <array>
#include <cstdlib>

namespace {

const char *const kX86_64Names[VXCRASH_X86_64_REG_COUNT] = {
    "rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx",    "rdi", "rsi", "r8", "r9",
    "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs",
};

const char *const kX86Names[VXCRASH_X86_REG_COUNT] = {
    "eip", "ebp", "esp", "eax", "edx", "ecx", "ebx", "esi", "edi", "eflags", "trapno", "cs", "ds", "es", "fs", "gs",
};

const vxcrash_regnum_t kX86_64CalleeSaved[] = {
    VXCRASH_X86_64_RBX, VXCRASH_X86_64_RSP, VXCRASH_X86_64_RBP, VXCRASH_X86_64_R12,
    VXCRASH_X86_64_R13, VXCRASH_X86_64_R14, VXCRASH_X86_64_R15,
};

const vxcrash_regnum_t kX86CalleeSaved[] = {
    VXCRASH_X86_EBX, VXCRASH_X86_EBP, VXCRASH_X86_ESI, VXCRASH_X86_EDI, VXCRASH_X86_ESP,
};

struct DwarfPair {
    vxcrash_regnum_t generic;
    uint64_t dwarf;
};

constexpr DwarfPair kX86_64Dwarf[] = {
    {VXCRASH_X86_64_RAX, 0},     {VXCRASH_X86_64_RDX, 1},  {VXCRASH_X86_64_RCX, 2},  {VXCRASH_X86_64_RBX, 3},
    {VXCRASH_X86_64_RSI, 4},     {VXCRASH_X86_64_RDI, 5},  {VXCRASH_X86_64_RBP, 6},  {VXCRASH_X86_64_RSP, 7},
    {VXCRASH_X86_64_R8, 8},      {VXCRASH_X86_64_R9, 9},   {VXCRASH_X86_64_R10, 10}, {VXCRASH_X86_64_R11, 11},
    {VXCRASH_X86_64_R12, 12},    {VXCRASH_X86_64_R13, 13}, {VXCRASH_X86_64_R14, 14}, {VXCRASH_X86_64_R15, 15},
    {VXCRASH_X86_64_RFLAGS, 49}, {VXCRASH_X86_64_CS, 51},  {VXCRASH_X86_64_FS, 54},  {VXCRASH_X86_64_GS, 55},
};

constexpr DwarfPair kX86Dwarf[] = {
    {VXCRASH_X86_EAX, 0}, {VXCRASH_X86_ECX, 1}, {VXCRASH_X86_EDX, 2}, {VXCRASH_X86_EBX, 3}, {VXCRASH_X86_EBP, 4},
    {VXCRASH_X86_ESP, 5}, {VXCRASH_X86_ESI, 6}, {VXCRASH_X86_EDI, 7}, {VXCRASH_X86_EIP, 8},
};

template <size_t N>
constexpr std::array<uint8_t, 64> dwarf_table(const DwarfPair (&pairs)[N]) {
    std::array<uint8_t, 64> table{};
    for (const DwarfPair &pair : pairs) table[pair.dwarf] = (uint8_t)(pair.generic + 1);
    return table;
}

bool is64(const vxcrash_async_thread_state_t *state) { return state->cpu_type == VXCRASH_CPU_TYPE_X86_64; }

}  // namespace

void vxcrash_async_thread_state_bad_register(const char *what) {
    vxcrash_async_log("[VXCrashReporter] register number out of range in ");
    vxcrash_async_log(what);
    vxcrash_async_log("\n");
    abort();
}

void vxcrash_async_thread_state_mcontext_init(vxcrash_async_thread_state_t *state, const mcontext_t *mctx) {
    vxcrash_async_memset(state, 0, sizeof(*state));
    state->stack_direction = VXCRASH_STACK_DIRECTION_DOWN;
    state->cpu_type = VXCRASH_CPU_TYPE_X86_64;
    state->greg_width = 8;

    const greg_t *g = mctx->gregs;
    uint64_t *r = state->regs;
    r[VXCRASH_X86_64_RIP] = (uint64_t)g[REG_RIP];
    r[VXCRASH_X86_64_RBP] = (uint64_t)g[REG_RBP];
    r[VXCRASH_X86_64_RSP] = (uint64_t)g[REG_RSP];
    r[VXCRASH_X86_64_RAX] = (uint64_t)g[REG_RAX];
    r[VXCRASH_X86_64_RBX] = (uint64_t)g[REG_RBX];
    r[VXCRASH_X86_64_RCX] = (uint64_t)g[REG_RCX];
    r[VXCRASH_X86_64_RDX] = (uint64_t)g[REG_RDX];
    r[VXCRASH_X86_64_RDI] = (uint64_t)g[REG_RDI];
    r[VXCRASH_X86_64_RSI] = (uint64_t)g[REG_RSI];
    r[VXCRASH_X86_64_R8] = (uint64_t)g[REG_R8];
    r[VXCRASH_X86_64_R9] = (uint64_t)g[REG_R9];
    r[VXCRASH_X86_64_R10] = (uint64_t)g[REG_R10];
    r[VXCRASH_X86_64_R11] = (uint64_t)g[REG_R11];
    r[VXCRASH_X86_64_R12] = (uint64_t)g[REG_R12];
    r[VXCRASH_X86_64_R13] = (uint64_t)g[REG_R13];
    r[VXCRASH_X86_64_R14] = (uint64_t)g[REG_R14];
    r[VXCRASH_X86_64_R15] = (uint64_t)g[REG_R15];
    r[VXCRASH_X86_64_RFLAGS] = (uint64_t)g[REG_EFL];
    // cs, gs, fs and a pad word, 16 bits each.
    uint64_t csgsfs = (uint64_t)g[REG_CSGSFS];
    r[VXCRASH_X86_64_CS] = csgsfs & 0xffff;
    r[VXCRASH_X86_64_GS] = (csgsfs >> 16) & 0xffff;
    r[VXCRASH_X86_64_FS] = (csgsfs >> 32) & 0xffff;
    state->exception.trapno = (uint64_t)g[REG_TRAPNO];
    state->exception.err = (uint64_t)g[REG_ERR];
    state->exception.faultvaddr = (uint64_t)g[REG_CR2];

    state->valid_regs = (1ull << VXCRASH_X86_64_REG_COUNT) - 1;
    // The interrupted instruction has not run yet; it is no return address.
    state->flags = VXCRASH_THREAD_STATE_EXACT_PC;
}

void vxcrash_async_thread_state_ucontext_init(vxcrash_async_thread_state_t *state, const ucontext_t *uctx) {
    vxcrash_async_thread_state_mcontext_init(state, &uctx->uc_mcontext);
}

vxcrash_error_t vxcrash_async_thread_state_init(vxcrash_async_thread_state_t *state, uint32_t cpu_type) {
    vxcrash_async_memset(state, 0, sizeof(*state));
    if (cpu_type == VXCRASH_CPU_TYPE_X86) {
        state->greg_width = 4;
    } else if (cpu_type == VXCRASH_CPU_TYPE_X86_64) {
        state->greg_width = 8;
    } else {
        return VXCRASH_ENOTSUP;
    }
    state->cpu_type = cpu_type;
    state->stack_direction = VXCRASH_STACK_DIRECTION_DOWN;
    return VXCRASH_ESUCCESS;
}

__attribute__((noinline)) vxcrash_error_t vxcrash_async_thread_state_current(
    vxcrash_async_thread_state_current_callback body, void *context) {
    vxcrash_async_thread_state_t state;
#if defined(__x86_64__)
    // The registers a callee keeps, and a pc inside this function at which
    // they (and the stack pointer) are what they are here. No system call,
    // unlike getcontext's saving of the signal mask.
    uint64_t saved[8];
    __asm__ __volatile__(
        "leaq 1f(%%rip), %%rax\n\t"
        "movq %%rax, 0(%0)\n\t"
        "movq %%rbp, 8(%0)\n\t"
        "movq %%rsp, 16(%0)\n\t"
        "movq %%rbx, 24(%0)\n\t"
        "movq %%r12, 32(%0)\n\t"
        "movq %%r13, 40(%0)\n\t"
        "movq %%r14, 48(%0)\n\t"
        "movq %%r15, 56(%0)\n\t"
        "1:\n\t"
        :
        : "r"(saved)
        : "rax", "memory");
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    const vxcrash_regnum_t order[8] = {VXCRASH_X86_64_RIP, VXCRASH_X86_64_RBP, VXCRASH_X86_64_RSP, VXCRASH_X86_64_RBX,
                                       VXCRASH_X86_64_R12, VXCRASH_X86_64_R13, VXCRASH_X86_64_R14, VXCRASH_X86_64_R15};
    for (size_t i = 0; i < 8; ++i) vxcrash_async_thread_state_set_reg(&state, order[i], saved[i]);
#else
    ucontext_t uctx;
    if (getcontext(&uctx) != 0) return VXCRASH_EINTERNAL;
    vxcrash_async_thread_state_mcontext_init(&state, &uctx.uc_mcontext);
    state.valid_regs = 0;
    for (vxcrash_regnum_t r : {VXCRASH_X86_64_RIP, VXCRASH_X86_64_RBP, VXCRASH_X86_64_RSP, VXCRASH_X86_64_RBX,
                               VXCRASH_X86_64_R12, VXCRASH_X86_64_R13, VXCRASH_X86_64_R14, VXCRASH_X86_64_R15})
        state.valid_regs |= 1ull << r;
#endif
    vxcrash_error_t result = body(&state, context);
    // Keeps this frame (and with it the captured stack) from being a tail call.
    __asm__ __volatile__("" ::: "memory");
    return result;
}

void vxcrash_async_thread_state_copy(vxcrash_async_thread_state_t *dest, const vxcrash_async_thread_state_t *source) {
    vxcrash_async_memcpy(dest, source, sizeof(*dest));
}

void vxcrash_async_thread_state_clear_reg(vxcrash_async_thread_state_t *state, vxcrash_regnum_t regnum) {
    if (regnum < 64) state->valid_regs &= ~(1ull << regnum);
}

void vxcrash_async_thread_state_clear_all_regs(vxcrash_async_thread_state_t *state) { state->valid_regs = 0; }

void vxcrash_async_thread_state_clear_volatile_regs(vxcrash_async_thread_state_t *state) {
    const vxcrash_regnum_t *saved = is64(state) ? kX86_64CalleeSaved : kX86CalleeSaved;
    size_t count = is64(state) ? sizeof(kX86_64CalleeSaved) / sizeof(kX86_64CalleeSaved[0])
                               : sizeof(kX86CalleeSaved) / sizeof(kX86CalleeSaved[0]);
    uint64_t keep = 0;
    for (size_t i = 0; i < count; ++i) keep |= 1ull << saved[i];
    state->valid_regs &= keep;
}

uint32_t vxcrash_async_thread_state_get_stack_direction(const vxcrash_async_thread_state_t *state) {
    return state->stack_direction;
}

size_t vxcrash_async_thread_state_get_greg_size(const vxcrash_async_thread_state_t *state) {
    return (size_t)state->greg_width;
}

const char *vxcrash_async_thread_state_get_reg_name(const vxcrash_async_thread_state_t *state,
                                                    vxcrash_regnum_t regnum) {
    if (regnum >= vxcrash_async_thread_state_get_reg_count(state))
        vxcrash_async_thread_state_bad_register("get_reg_name");
    return is64(state) ? kX86_64Names[regnum] : kX86Names[regnum];
}

bool vxcrash_async_thread_state_map_dwarf_to_reg(const vxcrash_async_thread_state_t *state, uint64_t dwarf_reg,
                                                 vxcrash_regnum_t *regnum) {
    // Indexed by DWARF number: the generic number plus one, 0 for none. The
    // unwinder asks for every rule of every frame, so this is a direct lookup.
    static constexpr auto x86_64 = dwarf_table(kX86_64Dwarf);
    static constexpr auto x86 = dwarf_table(kX86Dwarf);
    if (dwarf_reg >= 64) return false;
    uint8_t entry = is64(state) ? x86_64[dwarf_reg] : x86[dwarf_reg];
    if (entry == 0) return false;
    *regnum = entry - 1u;
    return true;
}

bool vxcrash_async_thread_state_map_reg_to_dwarf(const vxcrash_async_thread_state_t *state, vxcrash_regnum_t regnum,
                                                 uint64_t *dwarf_reg) {
    const DwarfPair *pairs = is64(state) ? kX86_64Dwarf : kX86Dwarf;
    size_t count =
        is64(state) ? sizeof(kX86_64Dwarf) / sizeof(kX86_64Dwarf[0]) : sizeof(kX86Dwarf) / sizeof(kX86Dwarf[0]);
    for (size_t i = 0; i < count; ++i) {
        if (pairs[i].generic == regnum) {
            *dwarf_reg = pairs[i].dwarf;
            return true;
        }
    }
    return false;
}
