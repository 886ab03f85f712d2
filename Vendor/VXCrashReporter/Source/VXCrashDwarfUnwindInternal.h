// What the DWARF unwinder's parts share: pointer encodings and limits, the
// rule row, CIE/FDE records, the reader over a memory object, and the entry
// points of the CIE/FDE parser (VXCrashDwarfEhFrame.cpp), the call-frame
// program (VXCrashDwarfCfaProgram.cpp) and register/stack access
// (VXCrashDwarfExpression.cpp). Private to the crash reporter; crash-time
// code: async-safe, no allocation.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwind.h"

namespace vxcrash::dwarf_internal {

// Pointer encodings (DW_EH_PE_*).
constexpr uint8_t kPeOmit = 0xff;
constexpr uint8_t kPeAbsptr = 0x00;
constexpr uint8_t kPeUleb128 = 0x01;
constexpr uint8_t kPeUdata2 = 0x02;
constexpr uint8_t kPeUdata4 = 0x03;
constexpr uint8_t kPeUdata8 = 0x04;
constexpr uint8_t kPeSleb128 = 0x09;
constexpr uint8_t kPeSdata2 = 0x0a;
constexpr uint8_t kPeSdata4 = 0x0b;
constexpr uint8_t kPeSdata8 = 0x0c;
constexpr uint8_t kPePcrel = 0x10;
constexpr uint8_t kPeDatarel = 0x30;
constexpr uint8_t kPeFuncrel = 0x40;
constexpr uint8_t kPeIndirect = 0x80;

// Rules are kept for DWARF registers 0..16: the general registers and, on
// x86-64, the return-address column.
constexpr uint32_t kRuleCount = 17;
constexpr uint32_t kRememberDepth = 4;
constexpr uint32_t kExpressionStack = 32;
constexpr uint32_t kExpressionSteps = 1000;

enum RuleType : uint8_t {
    kRuleUnspecified = 0,
    kRuleSame,
    kRuleUndefined,
    kRuleOffset,
    kRuleValOffset,
    kRuleRegister,
    kRuleExpression,
    kRuleValExpression,
};

struct Rule {
    RuleType type;
    int64_t value;  // offset, or register number
    uintptr_t expression;
    uint64_t expression_length;
};

struct Row {
    bool cfa_is_expression;
    uint64_t cfa_register;
    int64_t cfa_offset;
    uintptr_t cfa_expression;
    uint64_t cfa_expression_length;
    Rule rules[kRuleCount];
};

struct Cie {
    uint64_t code_align;
    int64_t data_align;
    uint64_t return_column;
    uint8_t fde_encoding;
    bool has_augmentation_data;
    bool signal_frame;
    uintptr_t instructions;
    uintptr_t instructions_end;
};

struct Fde {
    Cie cie;
    uintptr_t pc_begin;
    uintptr_t pc_end;
    uintptr_t instructions;
    uintptr_t instructions_end;
};

struct Bases {
    uintptr_t data;  // eh_frame_hdr, for datarel
    uintptr_t func;  // function start, for funcrel
};

// A cursor over one memory object.
struct Reader {
    const vxcrash_async_mobject_t *mobj;
    uintptr_t at;

    template <typename T>
    bool get(T *out) {
        if (vxcrash::async::read(mobj, at, 0, out) != VXCRASH_ESUCCESS) return false;
        at += sizeof(T);
        return true;
    }

    bool uleb(uint64_t *out) {
        size_t n;
        if (vxcrash_async_mobject_read_uleb128(mobj, at, 0, out, &n) != VXCRASH_ESUCCESS) return false;
        at += n;
        return true;
    }

    bool sleb(int64_t *out) {
        size_t n;
        if (vxcrash_async_mobject_read_sleb128(mobj, at, 0, out, &n) != VXCRASH_ESUCCESS) return false;
        at += n;
        return true;
    }

    bool skip(uint64_t n) {
        if (vxcrash_async_mobject_remap_address(mobj, at, 0, (size_t)n) == nullptr) return false;
        at += n;
        return true;
    }
};

bool read_encoded(Reader &r, uint8_t encoding, const Bases &bases, vxcrash_async_task_t *task, uint64_t *out);

// Finds the FDE covering pc in the image.
bool find_fde(const vxcrash_async_image_t *image, uint64_t pc, vxcrash_async_task_t *task, Fde *fde,
              vxcrash_async_mobject_t *frameMobj);

struct Program {
    const vxcrash_async_mobject_t *mobj;
    const Cie *cie;
    vxcrash_async_task_t *task;
    uintptr_t func;
};

// Runs call-frame instructions until the location passes pc.
bool run_program(const Program &prog, uintptr_t start, uintptr_t end, uint64_t loc, uint64_t pc, Row *row,
                 const Row *initial);

bool dwarf_register_value(const vxcrash_async_thread_state_t *state, uint64_t dwarfReg, uint64_t *value);

bool read_word(vxcrash_async_task_t *task, const vxcrash_async_thread_state_t *state, uint64_t address, uint64_t *out);

}  // namespace vxcrash::dwarf_internal
