// The DWARF expression evaluator, and the register and stack-word access it
// shares with the frame reader. Crash-time code.
#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwindInternal.h"

namespace vxcrash::dwarf_internal {

bool dwarf_register_value(const vxcrash_async_thread_state_t *state, uint64_t dwarfReg, uint64_t *value) {
    vxcrash_regnum_t reg;
    if (!vxcrash_async_thread_state_map_dwarf_to_reg(state, dwarfReg, &reg) ||
        !vxcrash_async_thread_state_has_reg(state, reg))
        return false;
    *value = vxcrash_async_thread_state_get_reg(state, reg);
    return true;
}

bool read_word(vxcrash_async_task_t *task, const vxcrash_async_thread_state_t *state, uint64_t address, uint64_t *out) {
    if (vxcrash_async_thread_state_get_greg_size(state) == 4) {
        uint32_t v;
        if (vxcrash_async_task_read_uint32(task, address, 0, &v) != VXCRASH_ESUCCESS) return false;
        *out = v;
        return true;
    }
    return vxcrash_async_task_read_uint64(task, address, 0, out) == VXCRASH_ESUCCESS;
}

}  // namespace vxcrash::dwarf_internal

using namespace vxcrash::dwarf_internal;

vxcrash_error_t vxcrash_async_dwarf_expression_eval(vxcrash_async_task_t *task, const vxcrash_async_mobject_t *mobj,
                                                    uintptr_t address, uint64_t length,
                                                    const vxcrash_async_thread_state_t *state, const uint64_t *initial,
                                                    uint64_t *result) {
    uint64_t stack[kExpressionStack];
    uint32_t sp = 0;
    if (initial != nullptr) stack[sp++] = *initial;
    uintptr_t end;
    if (__builtin_add_overflow(address, length, &end) ||
        vxcrash_async_mobject_remap_address(mobj, address, 0, (size_t)length) == nullptr)
        return VXCRASH_EINVAL;

    Reader r{mobj, address};
#define NEED(n)                                     \
    do {                                            \
        if (sp < (n)) return VXCRASH_EINVALID_DATA; \
    } while (0)
#define PUSH(v)                                                   \
    do {                                                          \
        if (sp == kExpressionStack) return VXCRASH_EINVALID_DATA; \
        uint64_t pushed_ = (v);                                   \
        stack[sp++] = pushed_;                                    \
    } while (0)

    for (uint32_t steps = 0; r.at < end; ++steps) {
        if (steps == kExpressionSteps) return VXCRASH_EINVALID_DATA;
        uint8_t op;
        if (!r.get(&op)) return VXCRASH_EINVAL;
        if (op >= 0x30 && op <= 0x4f) {  // lit0..lit31
            PUSH((uint64_t)(op - 0x30));
            continue;
        }
        if (op >= 0x50 && op <= 0x6f) {  // reg0..reg31
            uint64_t v;
            if (!dwarf_register_value(state, op - 0x50, &v)) return VXCRASH_ENOTFOUND;
            PUSH(v);
            continue;
        }
        if (op >= 0x70 && op <= 0x8f) {  // breg0..breg31
            int64_t off;
            uint64_t v;
            if (!r.sleb(&off)) return VXCRASH_EINVAL;
            if (!dwarf_register_value(state, op - 0x70, &v)) return VXCRASH_ENOTFOUND;
            PUSH(v + (uint64_t)off);
            continue;
        }
        uint64_t a, b;
        switch (op) {
            case 0x03: {  // addr
                uint64_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH(v);
                break;
            }
            case 0x06:  // deref
                NEED(1);
                if (vxcrash_async_task_read_uint64(task, stack[sp - 1], 0, &stack[sp - 1]) != VXCRASH_ESUCCESS)
                    return VXCRASH_EACCESS;
                break;
            case 0x94: {  // deref_size
                uint8_t size;
                if (!r.get(&size) || size == 0 || size > 8) return VXCRASH_EINVAL;
                NEED(1);
                uint64_t v = 0;
                if (vxcrash_async_task_memcpy(task, stack[sp - 1], 0, &v, size) != VXCRASH_ESUCCESS)
                    return VXCRASH_EACCESS;
                stack[sp - 1] = v;
                break;
            }
            case 0x08: {
                uint8_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH(v);
                break;
            }
            case 0x09: {
                int8_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH((uint64_t)(int64_t)v);
                break;
            }
            case 0x0a: {
                uint16_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH(v);
                break;
            }
            case 0x0b: {
                int16_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH((uint64_t)(int64_t)v);
                break;
            }
            case 0x0c: {
                uint32_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH(v);
                break;
            }
            case 0x0d: {
                int32_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH((uint64_t)(int64_t)v);
                break;
            }
            case 0x0e: {
                uint64_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH(v);
                break;
            }
            case 0x0f: {
                int64_t v;
                if (!r.get(&v)) return VXCRASH_EINVAL;
                PUSH((uint64_t)v);
                break;
            }
            case 0x10: {
                uint64_t v;
                if (!r.uleb(&v)) return VXCRASH_EINVAL;
                PUSH(v);
                break;
            }
            case 0x11: {
                int64_t v;
                if (!r.sleb(&v)) return VXCRASH_EINVAL;
                PUSH((uint64_t)v);
                break;
            }
            case 0x12:
                NEED(1);
                PUSH(stack[sp - 1]);
                break;  // dup
            case 0x13:
                NEED(1);
                --sp;
                break;  // drop
            case 0x14:
                NEED(2);
                PUSH(stack[sp - 2]);
                break;    // over
            case 0x15: {  // pick
                uint8_t index;
                if (!r.get(&index)) return VXCRASH_EINVAL;
                NEED((uint32_t)index + 1);
                PUSH(stack[sp - 1 - index]);
                break;
            }
            case 0x16:
                NEED(2);
                a = stack[sp - 1];
                stack[sp - 1] = stack[sp - 2];
                stack[sp - 2] = a;
                break;  // swap
            case 0x17:  // rot
                NEED(3);
                a = stack[sp - 1];
                stack[sp - 1] = stack[sp - 2];
                stack[sp - 2] = stack[sp - 3];
                stack[sp - 3] = a;
                break;
            case 0x19:
                NEED(1);
                if ((int64_t)stack[sp - 1] < 0) stack[sp - 1] = (uint64_t)0 - stack[sp - 1];
                break;
            case 0x1f:
                NEED(1);
                stack[sp - 1] = (uint64_t)0 - stack[sp - 1];
                break;  // neg
            case 0x20:
                NEED(1);
                stack[sp - 1] = ~stack[sp - 1];
                break;    // not
            case 0x23: {  // plus_uconst
                uint64_t v;
                if (!r.uleb(&v)) return VXCRASH_EINVAL;
                NEED(1);
                stack[sp - 1] += v;
                break;
            }
            case 0x1a:
            case 0x1b:
            case 0x1c:
            case 0x1d:
            case 0x1e:
            case 0x21:
            case 0x22:
            case 0x24:
            case 0x25:
            case 0x26:
            case 0x27:
            case 0x29:
            case 0x2a:
            case 0x2b:
            case 0x2c:
            case 0x2d:
            case 0x2e: {
                NEED(2);
                b = stack[--sp];
                a = stack[sp - 1];
                uint64_t v = 0;
                switch (op) {
                    case 0x1a:
                        v = a & b;
                        break;
                    case 0x1b:
                        if (b == 0) return VXCRASH_EINVALID_DATA;
                        v = (uint64_t)((int64_t)a / (int64_t)b);
                        break;
                    case 0x1c:
                        v = a - b;
                        break;
                    case 0x1d:
                        if (b == 0) return VXCRASH_EINVALID_DATA;
                        v = a % b;
                        break;
                    case 0x1e:
                        v = a * b;
                        break;
                    case 0x21:
                        v = a | b;
                        break;
                    case 0x22:
                        v = a + b;
                        break;
                    case 0x24:
                        v = b < 64 ? a << b : 0;
                        break;
                    case 0x25:
                        v = b < 64 ? a >> b : 0;
                        break;
                    case 0x26:
                        v = (uint64_t)((int64_t)a >> (b < 64 ? b : 63));
                        break;
                    case 0x27:
                        v = a ^ b;
                        break;
                    case 0x29:
                        v = a == b;
                        break;
                    case 0x2a:
                        v = (int64_t)a >= (int64_t)b;
                        break;
                    case 0x2b:
                        v = (int64_t)a > (int64_t)b;
                        break;
                    case 0x2c:
                        v = (int64_t)a <= (int64_t)b;
                        break;
                    case 0x2d:
                        v = (int64_t)a < (int64_t)b;
                        break;
                    case 0x2e:
                        v = a != b;
                        break;
                }
                stack[sp - 1] = v;
                break;
            }
            case 0x2f:    // skip
            case 0x28: {  // bra
                int16_t delta;
                if (!r.get(&delta)) return VXCRASH_EINVAL;
                bool jump = true;
                if (op == 0x28) {
                    NEED(1);
                    jump = stack[--sp] != 0;
                }
                if (jump) {
                    uintptr_t target;
                    if (!vxcrash_async_address_apply_offset(r.at, delta, &target) || target < address || target > end)
                        return VXCRASH_EINVALID_DATA;
                    r.at = target;
                }
                break;
            }
            case 0x90: {  // regx
                uint64_t reg, v;
                if (!r.uleb(&reg)) return VXCRASH_EINVAL;
                if (!dwarf_register_value(state, reg, &v)) return VXCRASH_ENOTFOUND;
                PUSH(v);
                break;
            }
            case 0x92: {  // bregx
                uint64_t reg, v;
                int64_t off;
                if (!r.uleb(&reg) || !r.sleb(&off)) return VXCRASH_EINVAL;
                if (!dwarf_register_value(state, reg, &v)) return VXCRASH_ENOTFOUND;
                PUSH(v + (uint64_t)off);
                break;
            }
            case 0x96:  // nop
                break;
            default:
                return VXCRASH_ENOTSUP;
        }
    }
#undef NEED
#undef PUSH
    if (sp == 0) return VXCRASH_EINVALID_DATA;
    *result = stack[sp - 1];
    return VXCRASH_ESUCCESS;
}
