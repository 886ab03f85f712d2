// The DWARF frame reader: the row for a pc (decoded from .eh_frame, or kept
// by the walk and across walks) applied to the current frame to recover the
// caller's. CIE/FDE parsing, the call-frame program and the expression
// evaluator are in VXCrashDwarfEhFrame.cpp, VXCrashDwarfCfaProgram.cpp and
// VXCrashDwarfExpression.cpp. Crash-time code.
#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwind.h"

#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwindInternal.h"

using namespace vxcrash::dwarf_internal;

namespace {

struct DecodedRow {
    Row row;
    uint64_t return_column;
    bool signal_frame;
};

constexpr uint32_t kUnwindCacheSpins = 64;

size_t cache_slot(uint64_t pc) {
    return (size_t)((pc * 0x9E3779B97F4A7C15ull) >> 54) & (VXCRASH_UNWIND_CACHE_ROWS - 1);
}

constexpr size_t kRowWords = sizeof(vxcrash_async_unwind_row_t) / 8;

// Rows are copied a word at a time with atomic accesses: a reader may meet a
// writer, and then drops what it read (the sequence word tells). Acquire
// loads keep the reader's second look at the sequence word after the row;
// release stores keep the writer's odd sequence word before it (plain moves
// on x86-64).
void load_row(const vxcrash_async_unwind_row_t &from, vxcrash_async_unwind_row_t *to) {
    uint64_t words[kRowWords];
    const auto *source = reinterpret_cast<const uint64_t *>(&from);
    for (size_t i = 0; i < kRowWords; ++i) words[i] = __atomic_load_n(&source[i], __ATOMIC_ACQUIRE);
    vxcrash_async_memcpy(to, words, sizeof(words));
}

void store_row(vxcrash_async_unwind_row_t *to, const vxcrash_async_unwind_row_t &from) {
    uint64_t words[kRowWords];
    vxcrash_async_memcpy(words, &from, sizeof(words));
    auto *target = reinterpret_cast<uint64_t *>(to);
    for (size_t i = 0; i < kRowWords; ++i) __atomic_store_n(&target[i], words[i], __ATOMIC_RELEASE);
}

// The row kept across walks for pc, when the cache holds one of this
// generation of the image list. Takes no lock.
bool lookup_kept(vxcrash_async_unwind_cache_t *cache, uint64_t generation, uint64_t pc,
                 vxcrash_async_unwind_row_t *out) {
    if (cache == nullptr) return false;
    uint64_t before = __atomic_load_n(&cache->sequence, __ATOMIC_ACQUIRE);
    if ((before & 1) != 0 || __atomic_load_n(&cache->generation, __ATOMIC_ACQUIRE) != generation) return false;
    load_row(cache->rows[cache_slot(pc)], out);
    return __atomic_load_n(&cache->sequence, __ATOMIC_RELAXED) == before && out->pc == pc;
}

void keep(vxcrash_async_unwind_cache_t *cache, uint64_t generation, const vxcrash_async_unwind_row_t &row) {
    if (cache == nullptr || !vxcrash_async_spinlock_trylock(&cache->lock, kUnwindCacheSpins)) return;
    __atomic_store_n(&cache->sequence, cache->sequence + 1, __ATOMIC_RELAXED);
    if (cache->generation != generation) {
        for (auto &slot : cache->rows) __atomic_store_n(&slot.pc, 0, __ATOMIC_RELEASE);
        __atomic_store_n(&cache->generation, generation, __ATOMIC_RELEASE);
    }
    store_row(&cache->rows[cache_slot(row.pc)], row);
    __atomic_store_n(&cache->sequence, cache->sequence + 1, __ATOMIC_RELEASE);
    vxcrash_async_spinlock_unlock(&cache->lock);
}

const vxcrash_async_unwind_row_t *keep_in_walk(vxcrash_async_task_t *task, const vxcrash_async_unwind_row_t &row) {
    vxcrash_async_unwind_row_t *slot = &task->rows[task->next_row];
    *slot = row;
    task->last_row = task->next_row;
    task->next_row = (task->next_row + 1) % VXCRASH_UNWIND_ROW_CACHE;
    return slot;
}

// The registers a callee keeps (a bit per generic number).
uint64_t callee_saved_registers(const vxcrash_async_thread_state_t *state) {
    vxcrash_async_thread_state_t probe;
    probe.cpu_type = state->cpu_type;
    probe.valid_regs = ~0ull;
    vxcrash_async_thread_state_clear_volatile_regs(&probe);
    return probe.valid_regs;
}

bool fits_int32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// The decoded row in compact form, when it has one: the same caller comes
// out of either.
bool compact_row(const vxcrash_async_thread_state_t *state, uint64_t pc, const DecodedRow &decoded,
                 vxcrash_async_unwind_row_t *out) {
    const Row &row = decoded.row;
    vxcrash_regnum_t cfaRegister;
    if (row.cfa_is_expression || !vxcrash_async_thread_state_map_dwarf_to_reg(state, row.cfa_register, &cfaRegister) ||
        !fits_int32(row.cfa_offset))
        return false;
    vxcrash_async_memset(out, 0, sizeof(*out));
    out->pc = pc;
    out->cfa_register = (uint8_t)cfaRegister;
    out->cfa_offset = (int32_t)row.cfa_offset;
    out->flags = decoded.signal_frame ? VXCRASH_UNWIND_ROW_SIGNAL_FRAME : 0;
    const uint64_t calleeSaved = callee_saved_registers(state);
    bool haveReturn = false;
    for (uint32_t dwarfReg = 0; dwarfReg < kRuleCount; ++dwarfReg) {
        const Rule &rule = row.rules[dwarfReg];
        if (dwarfReg == decoded.return_column) {
            if (rule.type == kRuleOffset && fits_int32(rule.value)) {
                out->return_offset = (int32_t)rule.value;
                haveReturn = true;
            } else if (rule.type != kRuleUndefined && rule.type != kRuleUnspecified) {
                return false;
            }
            continue;
        }
        if (rule.type == kRuleUnspecified) continue;
        vxcrash_regnum_t reg;
        if (!vxcrash_async_thread_state_map_dwarf_to_reg(state, dwarfReg, &reg)) continue;
        if (reg == VXCRASH_REG_SP) {
            // The stack pointer becomes the CFA whatever its rule says.
            if (rule.type != kRuleSame && rule.type != kRuleUndefined && rule.type != kRuleOffset) return false;
            continue;
        }
        switch (rule.type) {
            case kRuleSame:
                // Only a callee-saved register keeps its value by itself.
                if (((calleeSaved >> reg) & 1) == 0) return false;
                break;
            case kRuleUndefined:
                out->undefined_registers |= 1u << reg;
                break;
            case kRuleOffset:
                if (out->saved_count == VXCRASH_UNWIND_ROW_SAVED || !fits_int32(rule.value)) return false;
                out->saved_registers[out->saved_count] = (uint8_t)reg;
                out->saved_offsets[out->saved_count] = (int32_t)rule.value;
                ++out->saved_count;
                break;
            default:
                return false;
        }
    }
    if (!haveReturn) out->flags |= VXCRASH_UNWIND_ROW_NO_RETURN;
    int32_t low = haveReturn ? out->return_offset : INT32_MAX;
    int32_t high = haveReturn ? out->return_offset : INT32_MIN;
    for (uint32_t i = 0; i < out->saved_count; ++i) {
        low = out->saved_offsets[i] < low ? out->saved_offsets[i] : low;
        high = out->saved_offsets[i] > high ? out->saved_offsets[i] : high;
    }
    out->low_offset = low <= high ? low : 0;
    out->high_offset = low <= high ? high : 0;
    return true;
}

// Reads a stack word: in place when the walk knows the memory readable.
__attribute__((no_sanitize("address", "thread"))) inline bool load_word(vxcrash_async_task_t *task,
                                                                        const vxcrash_async_thread_state_t *state,
                                                                        uint64_t address, uint64_t *out) {
    if (state->greg_width == 8 && address >= task->readable_start && task->readable_end >= 8 &&
        address <= task->readable_end - 8) {
        __builtin_memcpy(out, reinterpret_cast<const void *>((uintptr_t)address), 8);
        return true;
    }
    return read_word(task, state, address, out);
}

bool fill_step(vxcrash_async_task_t *task, const vxcrash_async_thread_state_t *state,
               const vxcrash_async_unwind_row_t &row, vxcrash_async_dwarf_step_t *step) {
    if (!vxcrash_async_thread_state_has_reg(state, row.cfa_register)) return false;
    const uint64_t cfa =
        vxcrash_async_thread_state_get_reg(state, row.cfa_register) + (uint64_t)(int64_t)row.cfa_offset;
    step->cfa = cfa;
    step->signal_frame = (row.flags & VXCRASH_UNWIND_ROW_SIGNAL_FRAME) != 0;
    step->undefined_registers = row.undefined_registers;
    step->has_ip = (row.flags & VXCRASH_UNWIND_ROW_NO_RETURN) == 0;
    step->ip = 0;
    if (step->has_ip && !load_word(task, state, cfa + (uint64_t)(int64_t)row.return_offset, &step->ip)) return false;
    step->saved_count = row.saved_count;
    for (uint32_t i = 0; i < row.saved_count; ++i) {
        step->saved_registers[i] = row.saved_registers[i];
        if (!load_word(task, state, cfa + (uint64_t)(int64_t)row.saved_offsets[i], &step->saved_values[i]))
            return false;
    }
    return true;
}

// The row for pc decoded from the image's .eh_frame (then kept, by the walk
// and across walks, when it has a compact form: *kept). mobj is set for a
// decoded row.
vxcrash_async_frame_cursor_error_t find_row(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
                                            const vxcrash_async_thread_state_t *state, uint64_t pc, DecodedRow *out,
                                            vxcrash_async_mobject_t *mobj, bool *haveMobj,
                                            const vxcrash_async_unwind_row_t **kept) {
    *haveMobj = false;
    *kept = nullptr;
    if (image_list == nullptr || !vxcrash_async_image_list_try_set_reading(image_list)) return VXCRASH_FRAME_ENOTSUP;
    uint64_t generation = image_list->generation;
    vxcrash_async_frame_cursor_error_t result = VXCRASH_FRAME_ENOTSUP;
    do {
        const vxcrash_async_image_t *image = vxcrash_async_image_list_image_for_address(image_list, pc);
        if (image == nullptr) break;
        Fde fde;
        if (!find_fde(image, pc, task, &fde, mobj)) break;
        *haveMobj = true;
        result = VXCRASH_FRAME_EBADFRAME;
        Program prog{mobj, &fde.cie, task, fde.pc_begin};
        vxcrash_async_memset(&out->row, 0, sizeof(out->row));
        if (!run_program(prog, fde.cie.instructions, fde.cie.instructions_end, 0, UINT64_MAX, &out->row, nullptr))
            break;
        Row initial = out->row;
        if (!run_program(prog, fde.instructions, fde.instructions_end, fde.pc_begin, pc, &out->row, &initial)) break;
        out->return_column = fde.cie.return_column;
        out->signal_frame = fde.cie.signal_frame;
        result = VXCRASH_FRAME_ESUCCESS;
    } while (false);
    vxcrash_async_image_list_set_reading(image_list, false);
    if (result != VXCRASH_FRAME_ESUCCESS) return result;

    vxcrash_async_unwind_row_t compact;
    if (compact_row(state, pc, *out, &compact)) {
        *kept = keep_in_walk(task, compact);
        keep(task->unwind_cache, generation, compact);
    }
    return VXCRASH_FRAME_ESUCCESS;
}

// The row for pc without decoding: from the walk's rows or those kept
// across walks (then kept by the walk too).
inline const vxcrash_async_unwind_row_t *find_kept_row(vxcrash_async_task_t *task,
                                                       vxcrash_async_image_list_t *image_list, uint64_t pc) {
    if (task->rows[task->last_row].pc == pc) return &task->rows[task->last_row];
    for (uint32_t i = 0; i < VXCRASH_UNWIND_ROW_CACHE; ++i) {
        if (task->rows[i].pc == pc) {
            task->last_row = i;
            return &task->rows[i];
        }
    }
    if (image_list == nullptr || task->unwind_cache == nullptr) return nullptr;
    uint64_t generation = __atomic_load_n(&image_list->generation, __ATOMIC_ACQUIRE);
    vxcrash_async_unwind_row_t found;
    if (!lookup_kept(task->unwind_cache, generation, pc, &found)) return nullptr;
    return keep_in_walk(task, found);
}

}  // namespace

vxcrash_async_frame_cursor_error_t vxcrash_async_dwarf_frame_reader(vxcrash_async_task_t *task,
                                                                    vxcrash_async_image_list_t *image_list,
                                                                    const vxcrash_async_thread_state_t *current_frame,
                                                                    const vxcrash_async_thread_state_t *previous_frame,
                                                                    vxcrash_async_thread_state_t *next_frame) {
    if (!vxcrash_async_thread_state_has_reg(current_frame, VXCRASH_REG_IP)) return VXCRASH_FRAME_EBADFRAME;
    uint64_t pc = vxcrash_async_thread_state_get_reg(current_frame, VXCRASH_REG_IP);
    if (pc == 0) return VXCRASH_FRAME_ENOTSUP;
    // A caller's pc is a return address: the call may be its function's last
    // instruction, so look up the byte before it.
    if (previous_frame != nullptr && (current_frame->flags & VXCRASH_THREAD_STATE_EXACT_PC) == 0) pc -= 1;

    vxcrash_async_dwarf_step_t step;
    if (vxcrash_async_dwarf_kept_step(task, image_list, current_frame, pc, &step)) {
        vxcrash_async_thread_state_copy(next_frame, current_frame);
        vxcrash_async_dwarf_apply_step(next_frame, &step);
        return VXCRASH_FRAME_ESUCCESS;
    }

    DecodedRow decoded;
    vxcrash_async_mobject_t mobj;
    bool haveMobj;
    const vxcrash_async_unwind_row_t *kept;
    vxcrash_async_frame_cursor_error_t found =
        find_row(task, image_list, current_frame, pc, &decoded, &mobj, &haveMobj, &kept);
    if (found != VXCRASH_FRAME_ESUCCESS) return found;
    if (kept != nullptr) {
        if (!fill_step(task, current_frame, *kept, &step)) return VXCRASH_FRAME_EBADFRAME;
        vxcrash_async_thread_state_copy(next_frame, current_frame);
        vxcrash_async_dwarf_apply_step(next_frame, &step);
        return VXCRASH_FRAME_ESUCCESS;
    }
    const Row &row = decoded.row;

    uint64_t cfa;
    if (row.cfa_is_expression) {
        if (!haveMobj || vxcrash_async_dwarf_expression_eval(task, &mobj, row.cfa_expression, row.cfa_expression_length,
                                                             current_frame, nullptr, &cfa) != VXCRASH_ESUCCESS)
            return VXCRASH_FRAME_EBADFRAME;
    } else {
        uint64_t base;
        if (!dwarf_register_value(current_frame, row.cfa_register, &base)) return VXCRASH_FRAME_EBADFRAME;
        cfa = base + (uint64_t)row.cfa_offset;
    }

    vxcrash_async_thread_state_copy(next_frame, current_frame);
    vxcrash_async_thread_state_clear_volatile_regs(next_frame);
    next_frame->flags = decoded.signal_frame ? VXCRASH_THREAD_STATE_EXACT_PC : 0;

    bool haveIp = false;
    uint64_t ip = 0;
    for (uint32_t dwarfReg = 0; dwarfReg < kRuleCount; ++dwarfReg) {
        const Rule &rule = row.rules[dwarfReg];
        bool isReturn = dwarfReg == decoded.return_column;
        if (rule.type == kRuleUnspecified && !isReturn)
            continue;  // callee-saved registers keep their values; the rest are already cleared
        vxcrash_regnum_t reg = 0;
        bool mapped = vxcrash_async_thread_state_map_dwarf_to_reg(current_frame, dwarfReg, &reg);
        if (!mapped && !isReturn) continue;
        uint64_t value = 0;
        bool have = false;
        switch (rule.type) {
            case kRuleUnspecified:
            case kRuleUndefined:
                break;
            case kRuleSame:
                if (mapped && vxcrash_async_thread_state_has_reg(current_frame, reg)) {
                    value = vxcrash_async_thread_state_get_reg(current_frame, reg);
                    have = true;
                }
                break;
            case kRuleOffset:
                if (!read_word(task, current_frame, cfa + (uint64_t)rule.value, &value)) return VXCRASH_FRAME_EBADFRAME;
                have = true;
                break;
            case kRuleValOffset:
                value = cfa + (uint64_t)rule.value;
                have = true;
                break;
            case kRuleRegister:
                have = dwarf_register_value(current_frame, (uint64_t)rule.value, &value);
                break;
            case kRuleExpression:
            case kRuleValExpression: {
                uint64_t v;
                if (!haveMobj ||
                    vxcrash_async_dwarf_expression_eval(task, &mobj, rule.expression, rule.expression_length,
                                                        current_frame, &cfa, &v) != VXCRASH_ESUCCESS)
                    return VXCRASH_FRAME_EBADFRAME;
                if (rule.type == kRuleExpression) {
                    if (!read_word(task, current_frame, v, &value)) return VXCRASH_FRAME_EBADFRAME;
                } else {
                    value = v;
                }
                have = true;
                break;
            }
        }
        if (isReturn) {
            haveIp = have;
            ip = value;
        } else if (have) {
            vxcrash_async_thread_state_set_reg(next_frame, reg, value);
        } else {
            vxcrash_async_thread_state_clear_reg(next_frame, reg);
        }
    }

    vxcrash_async_thread_state_set_reg(next_frame, VXCRASH_REG_SP, cfa);
    // An undefined return address marks the outermost frame: the frame comes
    // back without an instruction pointer and the walk ends there.
    if (haveIp)
        vxcrash_async_thread_state_set_reg(next_frame, VXCRASH_REG_IP, ip);
    else
        vxcrash_async_thread_state_clear_reg(next_frame, VXCRASH_REG_IP);
    return VXCRASH_FRAME_ESUCCESS;
}

bool vxcrash_async_dwarf_kept_step(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
                                   const vxcrash_async_thread_state_t *state, uint64_t pc,
                                   vxcrash_async_dwarf_step_t *step) {
    const vxcrash_async_unwind_row_t *row = find_kept_row(task, image_list, pc);
    return row != nullptr && fill_step(task, state, *row, step);
}

void vxcrash_async_dwarf_apply_step(vxcrash_async_thread_state_t *state, const vxcrash_async_dwarf_step_t *step) {
    vxcrash_async_thread_state_clear_volatile_regs(state);
    state->flags = step->signal_frame ? VXCRASH_THREAD_STATE_EXACT_PC : 0;
    for (uint32_t i = 0; i < step->saved_count; ++i)
        vxcrash_async_thread_state_set_reg(state, step->saved_registers[i], step->saved_values[i]);
    state->valid_regs &= ~(uint64_t)step->undefined_registers;
    vxcrash_async_thread_state_set_reg(state, VXCRASH_REG_SP, step->cfa);
    // An undefined return address marks the outermost frame: the frame comes
    // back without an instruction pointer and the walk ends there.
    if (step->has_ip)
        vxcrash_async_thread_state_set_reg(state, VXCRASH_REG_IP, step->ip);
    else
        vxcrash_async_thread_state_clear_reg(state, VXCRASH_REG_IP);
}

namespace {

// x86-64's callee-saved registers, as a mask of generic numbers.
constexpr uint64_t kX86_64CalleeSaved = (1ull << VXCRASH_X86_64_RBX) | (1ull << VXCRASH_X86_64_RSP) |
                                        (1ull << VXCRASH_X86_64_RBP) | (1ull << VXCRASH_X86_64_R12) |
                                        (1ull << VXCRASH_X86_64_R13) | (1ull << VXCRASH_X86_64_R14) |
                                        (1ull << VXCRASH_X86_64_R15);

__attribute__((no_sanitize("address", "thread"))) inline uint64_t word_at(uint64_t address) {
    uint64_t value;
    __builtin_memcpy(&value, reinterpret_cast<const void *>((uintptr_t)address), 8);
    return value;
}

}  // namespace

bool vxcrash_async_dwarf_kept_step_in_place(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
                                            vxcrash_async_thread_state_t *state, vxcrash_async_thread_state_t *previous,
                                            uint64_t pc, vxcrash_async_frame_cursor_error_t *result) {
    const vxcrash_async_unwind_row_t *found = find_kept_row(task, image_list, pc);
    if (found == nullptr || !vxcrash_async_thread_state_has_reg(state, found->cfa_register)) return false;
    const vxcrash_async_unwind_row_t &row = *found;
    const uint64_t cfa = state->regs[row.cfa_register] + (uint64_t)(int64_t)row.cfa_offset;
    uint64_t low, high;
    if (!vxcrash_async_address_apply_offset(cfa, row.low_offset, &low) ||
        !vxcrash_async_address_apply_offset(cfa, row.high_offset, &high) || high > UINT64_MAX - 8 ||
        low < task->readable_start || high + 8 > task->readable_end)
        return false;

    // The checks the cursor makes of a reader's answer.
    *result = VXCRASH_FRAME_ENOFRAME;
    if ((row.flags & VXCRASH_UNWIND_ROW_NO_RETURN) != 0) return true;
    const uint64_t ip = word_at(cfa + (uint64_t)(int64_t)row.return_offset);
    if (ip <= 0x1000) return true;
    if (!vxcrash_async_task_code_contains(task, ip)) return false;  // the cursor asks the image list
    const uint64_t oldIp = state->regs[VXCRASH_REG_IP];
    const uint64_t oldSp = state->regs[VXCRASH_REG_SP];
    if (ip == oldIp && vxcrash_async_thread_state_has_reg(state, VXCRASH_REG_SP) && oldSp == cfa) return true;

    constexpr uint64_t kPointers = (1ull << VXCRASH_REG_IP) | (1ull << VXCRASH_REG_FP) | (1ull << VXCRASH_REG_SP);
    // (Its CPU fields are the walk's, set when the cursor was made.)
    previous->valid_regs = state->valid_regs & kPointers;
    previous->regs[VXCRASH_REG_IP] = oldIp;
    previous->regs[VXCRASH_REG_FP] = state->regs[VXCRASH_REG_FP];
    previous->regs[VXCRASH_REG_SP] = oldSp;

    uint64_t valid = state->valid_regs & kX86_64CalleeSaved;
    for (uint32_t i = 0; i < row.saved_count; ++i) {
        state->regs[row.saved_registers[i]] = word_at(cfa + (uint64_t)(int64_t)row.saved_offsets[i]);
        valid |= 1ull << row.saved_registers[i];
    }
    valid &= ~(uint64_t)row.undefined_registers;
    state->regs[VXCRASH_REG_SP] = cfa;
    state->regs[VXCRASH_REG_IP] = ip;
    state->valid_regs = valid | (1ull << VXCRASH_REG_SP) | (1ull << VXCRASH_REG_IP);
    state->flags = (row.flags & VXCRASH_UNWIND_ROW_SIGNAL_FRAME) != 0 ? VXCRASH_THREAD_STATE_EXACT_PC : 0;
    *result = VXCRASH_FRAME_ESUCCESS;
    return true;
}
