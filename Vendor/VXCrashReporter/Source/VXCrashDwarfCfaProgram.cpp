// The call-frame program: runs a CIE's and an FDE's call-frame instructions
// into the rule row for a pc. Crash-time code.
#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwindInternal.h"

namespace vxcrash::dwarf_internal {

namespace {

void set_rule(Row *row, uint64_t reg, RuleType type, int64_t value, uintptr_t expression = 0, uint64_t length = 0) {
    if (reg >= kRuleCount) return;  // registers we do not track (vector, flags)
    row->rules[reg] = {type, value, expression, length};
}

}  // namespace

// Runs call-frame instructions until the location passes pc.
bool run_program(const Program &prog, uintptr_t start, uintptr_t end, uint64_t loc, uint64_t pc, Row *row,
                 const Row *initial) {
    Row remembered[kRememberDepth];
    uint32_t depth = 0;
    Reader r{prog.mobj, start};
    const int64_t dataAlign = prog.cie->data_align;
    const uint64_t codeAlign = prog.cie->code_align;
    Bases bases{0, prog.func};

    while (r.at < end) {
        uint8_t op;
        if (!r.get(&op)) return false;
        uint8_t low = op & 0x3f;
        switch (op & 0xc0) {
            case 0x40:  // advance_loc
                loc += low * codeAlign;
                if (loc > pc) return true;
                continue;
            case 0x80: {  // offset
                uint64_t off;
                if (!r.uleb(&off)) return false;
                set_rule(row, low, kRuleOffset, (int64_t)off * dataAlign);
                continue;
            }
            case 0xc0:  // restore
                if (low < kRuleCount)
                    row->rules[low] = initial != nullptr ? initial->rules[low] : Rule{kRuleUnspecified, 0, 0, 0};
                continue;
            default:
                break;
        }

        uint64_t reg = 0, reg2 = 0, uoff = 0, len = 0;
        int64_t soff = 0;
        switch (op) {
            case 0x00:  // nop
                break;
            case 0x01: {  // set_loc
                uint64_t v;
                if (!read_encoded(r, prog.cie->fde_encoding, bases, prog.task, &v)) return false;
                loc = v;
                if (loc > pc) return true;
                break;
            }
            case 0x02:
            case 0x03:
            case 0x04: {  // advance_loc1/2/4
                uint64_t delta;
                if (op == 0x02) {
                    uint8_t v;
                    if (!r.get(&v)) return false;
                    delta = v;
                } else if (op == 0x03) {
                    uint16_t v;
                    if (!r.get(&v)) return false;
                    delta = v;
                } else {
                    uint32_t v;
                    if (!r.get(&v)) return false;
                    delta = v;
                }
                loc += delta * codeAlign;
                if (loc > pc) return true;
                break;
            }
            case 0x05:  // offset_extended
                if (!r.uleb(&reg) || !r.uleb(&uoff)) return false;
                set_rule(row, reg, kRuleOffset, (int64_t)uoff * dataAlign);
                break;
            case 0x06:  // restore_extended
                if (!r.uleb(&reg)) return false;
                if (reg < kRuleCount)
                    row->rules[reg] = initial != nullptr ? initial->rules[reg] : Rule{kRuleUnspecified, 0, 0, 0};
                break;
            case 0x07:  // undefined
                if (!r.uleb(&reg)) return false;
                set_rule(row, reg, kRuleUndefined, 0);
                break;
            case 0x08:  // same_value
                if (!r.uleb(&reg)) return false;
                set_rule(row, reg, kRuleSame, 0);
                break;
            case 0x09:  // register
                if (!r.uleb(&reg) || !r.uleb(&reg2)) return false;
                set_rule(row, reg, kRuleRegister, (int64_t)reg2);
                break;
            case 0x0a:  // remember_state
                if (depth == kRememberDepth) return false;
                remembered[depth++] = *row;
                break;
            case 0x0b:  // restore_state
                if (depth == 0) return false;
                *row = remembered[--depth];
                break;
            case 0x0c:  // def_cfa
                if (!r.uleb(&reg) || !r.uleb(&uoff)) return false;
                row->cfa_is_expression = false;
                row->cfa_register = reg;
                row->cfa_offset = (int64_t)uoff;
                break;
            case 0x0d:  // def_cfa_register
                if (!r.uleb(&reg)) return false;
                row->cfa_is_expression = false;
                row->cfa_register = reg;
                break;
            case 0x0e:  // def_cfa_offset
                if (!r.uleb(&uoff)) return false;
                row->cfa_offset = (int64_t)uoff;
                break;
            case 0x0f:  // def_cfa_expression
                if (!r.uleb(&len)) return false;
                row->cfa_is_expression = true;
                row->cfa_expression = r.at;
                row->cfa_expression_length = len;
                if (!r.skip(len)) return false;
                break;
            case 0x10:  // expression
            case 0x16:  // val_expression
                if (!r.uleb(&reg) || !r.uleb(&len)) return false;
                set_rule(row, reg, op == 0x10 ? kRuleExpression : kRuleValExpression, 0, r.at, len);
                if (!r.skip(len)) return false;
                break;
            case 0x11:  // offset_extended_sf
                if (!r.uleb(&reg) || !r.sleb(&soff)) return false;
                set_rule(row, reg, kRuleOffset, soff * dataAlign);
                break;
            case 0x12:  // def_cfa_sf
                if (!r.uleb(&reg) || !r.sleb(&soff)) return false;
                row->cfa_is_expression = false;
                row->cfa_register = reg;
                row->cfa_offset = soff * dataAlign;
                break;
            case 0x13:  // def_cfa_offset_sf
                if (!r.sleb(&soff)) return false;
                row->cfa_offset = soff * dataAlign;
                break;
            case 0x14:  // val_offset
                if (!r.uleb(&reg) || !r.uleb(&uoff)) return false;
                set_rule(row, reg, kRuleValOffset, (int64_t)uoff * dataAlign);
                break;
            case 0x15:  // val_offset_sf
                if (!r.uleb(&reg) || !r.sleb(&soff)) return false;
                set_rule(row, reg, kRuleValOffset, soff * dataAlign);
                break;
            case 0x2e:  // GNU_args_size
                if (!r.uleb(&uoff)) return false;
                break;
            case 0x2f:  // GNU_negative_offset_extended
                if (!r.uleb(&reg) || !r.uleb(&uoff)) return false;
                set_rule(row, reg, kRuleOffset, -((int64_t)uoff * dataAlign));
                break;
            default:
                return false;
        }
    }
    return true;
}

}  // namespace vxcrash::dwarf_internal
