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

// The row kept across walks for pc, when the cache holds one of this
// generation of the image list.
bool lookup_kept(vxcrash_async_unwind_cache_t *cache, uint64_t generation, uint64_t pc,
                 vxcrash_async_unwind_row_t *out) {
    if (cache == nullptr || !vxcrash_async_spinlock_trylock(&cache->lock, kUnwindCacheSpins)) return false;
    bool found = false;
    if (cache->generation == generation) {
        const vxcrash_async_unwind_row_t &slot = cache->rows[cache_slot(pc)];
        if (slot.pc == pc) {
            *out = slot;
            found = true;
        }
    }
    vxcrash_async_spinlock_unlock(&cache->lock);
    return found;
}

void keep(vxcrash_async_unwind_cache_t *cache, uint64_t generation, const vxcrash_async_unwind_row_t &row) {
    if (cache == nullptr || !vxcrash_async_spinlock_trylock(&cache->lock, kUnwindCacheSpins)) return;
    if (cache->generation != generation) {
        for (auto &slot : cache->rows) slot.pc = 0;
        cache->generation = generation;
    }
    cache->rows[cache_slot(row.pc)] = row;
    vxcrash_async_spinlock_unlock(&cache->lock);
}

void keep_in_walk(vxcrash_async_task_t *task, const vxcrash_async_unwind_row_t &row) {
    task->rows[task->next_row] = row;
    task->next_row = (task->next_row + 1) % VXCRASH_UNWIND_ROW_CACHE;
}

// The row for pc decoded from the image's .eh_frame (then kept, by the walk
// and across walks, when it needs no expression). mobj is set for a decoded
// row.
vxcrash_async_frame_cursor_error_t find_row(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
                                            uint64_t pc, DecodedRow *out, vxcrash_async_mobject_t *mobj,
                                            bool *haveMobj) {
    *haveMobj = false;
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

    const Row &row = out->row;
    bool cacheable = !row.cfa_is_expression && row.cfa_register < 256 && out->return_column < 256;
    for (uint32_t i = 0; i < kRuleCount && cacheable; ++i) {
        const Rule &rule = row.rules[i];
        cacheable = rule.type != kRuleExpression && rule.type != kRuleValExpression && rule.value >= INT32_MIN &&
                    rule.value <= INT32_MAX;
    }
    if (cacheable) {
        vxcrash_async_unwind_row_t slot;
        slot.pc = pc;
        slot.cfa_register = (uint8_t)row.cfa_register;
        slot.cfa_offset = row.cfa_offset;
        slot.return_column = (uint8_t)out->return_column;
        slot.signal_frame = out->signal_frame;
        for (uint32_t i = 0; i < kRuleCount; ++i) {
            slot.rule_types[i] = row.rules[i].type;
            slot.rule_values[i] = (int32_t)row.rules[i].value;
        }
        keep_in_walk(task, slot);
        keep(task->unwind_cache, generation, slot);
    }
    return VXCRASH_FRAME_ESUCCESS;
}

// The row for pc without decoding: from the walk's rows or those kept
// across walks.
bool find_kept_row(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list, uint64_t pc,
                   vxcrash_async_unwind_row_t *out) {
    for (const vxcrash_async_unwind_row_t &cached : task->rows) {
        if (cached.pc == pc) {
            *out = cached;
            return true;
        }
    }
    if (image_list == nullptr || task->unwind_cache == nullptr) return false;
    uint64_t generation = __atomic_load_n(&image_list->generation, __ATOMIC_ACQUIRE);
    if (!lookup_kept(task->unwind_cache, generation, pc, out)) return false;
    keep_in_walk(task, *out);
    return true;
}

// Applies a kept row (no expressions in it) to current_frame.
vxcrash_async_frame_cursor_error_t apply_kept_row(vxcrash_async_task_t *task, const vxcrash_async_unwind_row_t &kept,
                                                  const vxcrash_async_thread_state_t *current_frame,
                                                  vxcrash_async_thread_state_t *next_frame) {
    uint64_t base;
    if (!dwarf_register_value(current_frame, kept.cfa_register, &base)) return VXCRASH_FRAME_EBADFRAME;
    uint64_t cfa = base + (uint64_t)kept.cfa_offset;

    vxcrash_async_thread_state_copy(next_frame, current_frame);
    vxcrash_async_thread_state_clear_volatile_regs(next_frame);
    next_frame->flags = kept.signal_frame ? VXCRASH_THREAD_STATE_EXACT_PC : 0;

    bool haveIp = false;
    uint64_t ip = 0;
    for (uint32_t dwarfReg = 0; dwarfReg < kRuleCount; ++dwarfReg) {
        auto type = (RuleType)kept.rule_types[dwarfReg];
        bool isReturn = dwarfReg == kept.return_column;
        if (type == kRuleUnspecified && !isReturn) continue;
        vxcrash_regnum_t reg = 0;
        bool mapped = vxcrash_async_thread_state_map_dwarf_to_reg(current_frame, dwarfReg, &reg);
        if (!mapped && !isReturn) continue;
        uint64_t value = 0;
        bool have = false;
        switch (type) {
            case kRuleSame:
                if (mapped && vxcrash_async_thread_state_has_reg(current_frame, reg)) {
                    value = vxcrash_async_thread_state_get_reg(current_frame, reg);
                    have = true;
                }
                break;
            case kRuleOffset:
                if (!read_word(task, current_frame, cfa + (uint64_t)(int64_t)kept.rule_values[dwarfReg], &value))
                    return VXCRASH_FRAME_EBADFRAME;
                have = true;
                break;
            case kRuleValOffset:
                value = cfa + (uint64_t)(int64_t)kept.rule_values[dwarfReg];
                have = true;
                break;
            case kRuleRegister:
                have = dwarf_register_value(current_frame, (uint64_t)kept.rule_values[dwarfReg], &value);
                break;
            default:
                break;
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
    if (haveIp)
        vxcrash_async_thread_state_set_reg(next_frame, VXCRASH_REG_IP, ip);
    else
        vxcrash_async_thread_state_clear_reg(next_frame, VXCRASH_REG_IP);
    return VXCRASH_FRAME_ESUCCESS;
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

    vxcrash_async_unwind_row_t kept;
    if (find_kept_row(task, image_list, pc, &kept)) return apply_kept_row(task, kept, current_frame, next_frame);

    DecodedRow decoded;
    vxcrash_async_mobject_t mobj;
    bool haveMobj;
    vxcrash_async_frame_cursor_error_t found = find_row(task, image_list, pc, &decoded, &mobj, &haveMobj);
    if (found != VXCRASH_FRAME_ESUCCESS) return found;
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
