#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwind.h"

namespace {

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
    int64_t value; // offset, or register number
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
    uintptr_t data; // eh_frame_hdr, for datarel
    uintptr_t func; // function start, for funcrel
};

// A cursor over one memory object.
struct Reader {
    const vxcrash_async_mobject_t *mobj;
    uintptr_t at;

    template <typename T>
    bool get(T *out)
    {
        if (vxcrash::async::read(mobj, at, 0, out) != VXCRASH_ESUCCESS)
            return false;
        at += sizeof(T);
        return true;
    }

    bool uleb(uint64_t *out)
    {
        size_t n;
        if (vxcrash_async_mobject_read_uleb128(mobj, at, 0, out, &n) != VXCRASH_ESUCCESS)
            return false;
        at += n;
        return true;
    }

    bool sleb(int64_t *out)
    {
        size_t n;
        if (vxcrash_async_mobject_read_sleb128(mobj, at, 0, out, &n) != VXCRASH_ESUCCESS)
            return false;
        at += n;
        return true;
    }

    bool skip(uint64_t n)
    {
        if (vxcrash_async_mobject_remap_address(mobj, at, 0, (size_t)n) == nullptr)
            return false;
        at += n;
        return true;
    }
};

bool read_encoded(Reader &r, uint8_t encoding, const Bases &bases, vxcrash_async_task_t *task, uint64_t *out)
{
    if (encoding == kPeOmit)
        return false;
    uintptr_t fieldAddress = r.at;
    uint64_t value = 0;
    switch (encoding & 0x0f) {
    case kPeAbsptr:
    case kPeUdata8: {
        uint64_t v;
        if (!r.get(&v))
            return false;
        value = v;
        break;
    }
    case kPeUleb128:
        if (!r.uleb(&value))
            return false;
        break;
    case kPeUdata2: {
        uint16_t v;
        if (!r.get(&v))
            return false;
        value = v;
        break;
    }
    case kPeUdata4: {
        uint32_t v;
        if (!r.get(&v))
            return false;
        value = v;
        break;
    }
    case kPeSleb128: {
        int64_t v;
        if (!r.sleb(&v))
            return false;
        value = (uint64_t)v;
        break;
    }
    case kPeSdata2: {
        int16_t v;
        if (!r.get(&v))
            return false;
        value = (uint64_t)(int64_t)v;
        break;
    }
    case kPeSdata4: {
        int32_t v;
        if (!r.get(&v))
            return false;
        value = (uint64_t)(int64_t)v;
        break;
    }
    case kPeSdata8: {
        int64_t v;
        if (!r.get(&v))
            return false;
        value = (uint64_t)v;
        break;
    }
    default:
        return false;
    }

    switch (encoding & 0x70) {
    case 0:
        break;
    case kPePcrel:
        value += fieldAddress;
        break;
    case kPeDatarel:
        if (bases.data == 0)
            return false;
        value += bases.data;
        break;
    case kPeFuncrel:
        if (bases.func == 0)
            return false;
        value += bases.func;
        break;
    default:
        return false;
    }

    if ((encoding & kPeIndirect) != 0) {
        uint64_t target;
        if (vxcrash_async_task_read_uint64(task, value, 0, &target) != VXCRASH_ESUCCESS)
            return false;
        value = target;
    }
    *out = value;
    return true;
}

bool skip_encoded(Reader &r, uint8_t encoding)
{
    uint64_t ignored;
    int64_t signedIgnored;
    switch (encoding & 0x0f) {
    case kPeAbsptr:
    case kPeUdata8:
    case kPeSdata8: return r.skip(8);
    case kPeUdata2:
    case kPeSdata2: return r.skip(2);
    case kPeUdata4:
    case kPeSdata4: return r.skip(4);
    case kPeUleb128: return r.uleb(&ignored);
    case kPeSleb128: return r.sleb(&signedIgnored);
    default: return false;
    }
}

// Reads an entry's length; sets end to the entry's end and r past the length.
// False at the terminator or when unreadable.
bool read_entry_length(Reader &r, uintptr_t *end, bool *is64)
{
    uint32_t len32;
    if (!r.get(&len32) || len32 == 0)
        return false;
    uint64_t length = len32;
    *is64 = false;
    if (len32 == 0xffffffffu) {
        if (!r.get(&length))
            return false;
        *is64 = true;
    }
    if (__builtin_add_overflow(r.at, length, end))
        return false;
    return vxcrash_async_mobject_remap_address(r.mobj, r.at, 0, (size_t)length) != nullptr;
}

bool parse_cie(const vxcrash_async_mobject_t *mobj, uintptr_t address, Cie *cie)
{
    Reader r{mobj, address};
    uintptr_t end;
    bool is64;
    if (!read_entry_length(r, &end, &is64))
        return false;
    uint64_t id;
    if (is64) {
        if (!r.get(&id))
            return false;
    } else {
        uint32_t id32;
        if (!r.get(&id32))
            return false;
        id = id32;
    }
    if (id != 0)
        return false;
    uint8_t version;
    if (!r.get(&version) || (version != 1 && version != 3 && version != 4))
        return false;

    char augmentation[16];
    size_t augLength = 0;
    for (;;) {
        char c;
        if (!r.get(&c))
            return false;
        if (c == '\0')
            break;
        if (augLength + 1 >= sizeof(augmentation))
            return false;
        augmentation[augLength++] = c;
    }
    augmentation[augLength] = '\0';
    if (version == 4) {
        uint8_t addressSize, segmentSize;
        if (!r.get(&addressSize) || !r.get(&segmentSize))
            return false;
    }
    if (!r.uleb(&cie->code_align) || !r.sleb(&cie->data_align))
        return false;
    if (version == 1) {
        uint8_t column;
        if (!r.get(&column))
            return false;
        cie->return_column = column;
    } else if (!r.uleb(&cie->return_column)) {
        return false;
    }

    cie->fde_encoding = kPeAbsptr;
    cie->has_augmentation_data = false;
    cie->signal_frame = false;
    if (augLength > 0 && augmentation[0] == 'z') {
        cie->has_augmentation_data = true;
        uint64_t dataLength;
        if (!r.uleb(&dataLength))
            return false;
        uintptr_t dataEnd = r.at + dataLength;
        for (size_t i = 1; i < augLength; ++i) {
            switch (augmentation[i]) {
            case 'R':
                if (!r.get(&cie->fde_encoding))
                    return false;
                break;
            case 'L': {
                uint8_t lsda;
                if (!r.get(&lsda))
                    return false;
                break;
            }
            case 'P': {
                // The personality routine is not needed: step over its pointer.
                uint8_t personalityEncoding;
                if (!r.get(&personalityEncoding) || !skip_encoded(r, personalityEncoding))
                    return false;
                break;
            }
            case 'S':
                cie->signal_frame = true;
                break;
            default:
                // Unknown augmentation: its data length lets us skip it.
                r.at = dataEnd;
                i = augLength;
                break;
            }
        }
        r.at = dataEnd;
    } else if (augLength > 0) {
        // Without 'z' an unknown augmentation cannot be skipped.
        if (augmentation[0] != 'S' || augLength != 1)
            return false;
        cie->signal_frame = true;
    }
    if (r.at > end)
        return false;
    cie->instructions = r.at;
    cie->instructions_end = end;
    return true;
}

// Parses the FDE at address; false when it is no FDE or unreadable.
bool parse_fde(const vxcrash_async_mobject_t *mobj, uintptr_t address, vxcrash_async_task_t *task, Fde *fde)
{
    Reader r{mobj, address};
    uintptr_t end;
    bool is64;
    if (!read_entry_length(r, &end, &is64))
        return false;
    uintptr_t idField = r.at;
    uint64_t cieOffset;
    if (is64) {
        if (!r.get(&cieOffset))
            return false;
    } else {
        uint32_t v;
        if (!r.get(&v))
            return false;
        cieOffset = v;
    }
    if (cieOffset == 0 || cieOffset > idField)
        return false;
    if (!parse_cie(mobj, idField - cieOffset, &fde->cie))
        return false;

    Bases none{0, 0};
    uint64_t begin, range;
    if (!read_encoded(r, fde->cie.fde_encoding, none, task, &begin))
        return false;
    if (!read_encoded(r, (uint8_t)(fde->cie.fde_encoding & 0x0f), none, task, &range))
        return false;
    if (fde->cie.has_augmentation_data) {
        uint64_t dataLength;
        if (!r.uleb(&dataLength) || !r.skip(dataLength))
            return false;
    }
    if (r.at > end || __builtin_add_overflow(begin, range, &fde->pc_end))
        return false;
    fde->pc_begin = begin;
    fde->instructions = r.at;
    fde->instructions_end = end;
    return true;
}

// Finds the FDE covering pc in the image.
bool find_fde(const vxcrash_async_image_t *image, uint64_t pc, vxcrash_async_task_t *task, Fde *fde,
              vxcrash_async_mobject_t *frameMobj)
{
    if (image->eh_frame_hdr == 0)
        return false;
    vxcrash_async_mobject_t hdrMobj;
    if (vxcrash_async_image_segment_mobject(image, image->eh_frame_hdr, &hdrMobj) != VXCRASH_ESUCCESS)
        return false;
    Reader r{&hdrMobj, image->eh_frame_hdr};
    uint8_t version, framePtrEncoding, countEncoding, tableEncoding;
    if (!r.get(&version) || version != 1 || !r.get(&framePtrEncoding) || !r.get(&countEncoding) ||
        !r.get(&tableEncoding))
        return false;
    Bases bases{image->eh_frame_hdr, 0};
    uint64_t ehFrame;
    if (!read_encoded(r, framePtrEncoding, bases, task, &ehFrame))
        return false;
    if (vxcrash_async_image_segment_mobject(image, ehFrame, frameMobj) != VXCRASH_ESUCCESS)
        return false;

    uint64_t count = 0;
    if (countEncoding != kPeOmit && tableEncoding == (kPeDatarel | kPeSdata4) &&
        read_encoded(r, countEncoding, bases, task, &count) && count > 0) {
        uintptr_t table = r.at;
        if (count > SIZE_MAX / 8 || vxcrash_async_mobject_remap_address(&hdrMobj, table, 0, (size_t)(count * 8)) == nullptr)
            return false;
        int64_t target = (int64_t)(pc - image->eh_frame_hdr);
        uint64_t low = 0, high = count;
        // The last entry whose start is at or below pc.
        while (high - low > 1) {
            uint64_t mid = low + (high - low) / 2;
            int32_t start;
            if (vxcrash::async::read(&hdrMobj, table, (int64_t)(mid * 8), &start) != VXCRASH_ESUCCESS)
                return false;
            if ((int64_t)start <= target)
                low = mid;
            else
                high = mid;
        }
        int32_t start, fdeOffset;
        if (vxcrash::async::read(&hdrMobj, table, (int64_t)(low * 8), &start) != VXCRASH_ESUCCESS ||
            vxcrash::async::read(&hdrMobj, table, (int64_t)(low * 8 + 4), &fdeOffset) != VXCRASH_ESUCCESS)
            return false;
        if ((int64_t)start > target)
            return false;
        uintptr_t fdeAddress;
        if (!vxcrash_async_address_apply_offset(image->eh_frame_hdr, fdeOffset, &fdeAddress))
            return false;
        if (vxcrash_async_image_segment_mobject(image, fdeAddress, frameMobj) != VXCRASH_ESUCCESS)
            return false;
        return parse_fde(frameMobj, fdeAddress, task, fde) && pc >= fde->pc_begin && pc < fde->pc_end;
    }

    // No search table: walk the entries in order.
    uintptr_t at = ehFrame;
    for (uint32_t guard = 0; guard < 1000000; ++guard) {
        Reader entry{frameMobj, at};
        uintptr_t end;
        bool is64;
        if (!read_entry_length(entry, &end, &is64))
            return false;
        uint32_t id;
        if (entry.get(&id) && id != 0 && parse_fde(frameMobj, at, task, fde) && pc >= fde->pc_begin &&
            pc < fde->pc_end)
            return true;
        at = end;
    }
    return false;
}

struct Program {
    const vxcrash_async_mobject_t *mobj;
    const Cie *cie;
    vxcrash_async_task_t *task;
    uintptr_t func;
};

void set_rule(Row *row, uint64_t reg, RuleType type, int64_t value, uintptr_t expression = 0, uint64_t length = 0)
{
    if (reg >= kRuleCount)
        return; // registers we do not track (vector, flags)
    row->rules[reg] = {type, value, expression, length};
}

// Runs call-frame instructions until the location passes pc.
bool run_program(const Program &prog, uintptr_t start, uintptr_t end, uint64_t loc, uint64_t pc, Row *row,
                 const Row *initial)
{
    Row remembered[kRememberDepth];
    uint32_t depth = 0;
    Reader r{prog.mobj, start};
    const int64_t dataAlign = prog.cie->data_align;
    const uint64_t codeAlign = prog.cie->code_align;
    Bases bases{0, prog.func};

    while (r.at < end) {
        uint8_t op;
        if (!r.get(&op))
            return false;
        uint8_t low = op & 0x3f;
        switch (op & 0xc0) {
        case 0x40: // advance_loc
            loc += low * codeAlign;
            if (loc > pc)
                return true;
            continue;
        case 0x80: { // offset
            uint64_t off;
            if (!r.uleb(&off))
                return false;
            set_rule(row, low, kRuleOffset, (int64_t)off * dataAlign);
            continue;
        }
        case 0xc0: // restore
            if (low < kRuleCount)
                row->rules[low] = initial != nullptr ? initial->rules[low] : Rule{kRuleUnspecified, 0, 0, 0};
            continue;
        default:
            break;
        }

        uint64_t reg = 0, reg2 = 0, uoff = 0, len = 0;
        int64_t soff = 0;
        switch (op) {
        case 0x00: // nop
            break;
        case 0x01: { // set_loc
            uint64_t v;
            if (!read_encoded(r, prog.cie->fde_encoding, bases, prog.task, &v))
                return false;
            loc = v;
            if (loc > pc)
                return true;
            break;
        }
        case 0x02:
        case 0x03:
        case 0x04: { // advance_loc1/2/4
            uint64_t delta;
            if (op == 0x02) {
                uint8_t v;
                if (!r.get(&v))
                    return false;
                delta = v;
            } else if (op == 0x03) {
                uint16_t v;
                if (!r.get(&v))
                    return false;
                delta = v;
            } else {
                uint32_t v;
                if (!r.get(&v))
                    return false;
                delta = v;
            }
            loc += delta * codeAlign;
            if (loc > pc)
                return true;
            break;
        }
        case 0x05: // offset_extended
            if (!r.uleb(&reg) || !r.uleb(&uoff))
                return false;
            set_rule(row, reg, kRuleOffset, (int64_t)uoff * dataAlign);
            break;
        case 0x06: // restore_extended
            if (!r.uleb(&reg))
                return false;
            if (reg < kRuleCount)
                row->rules[reg] = initial != nullptr ? initial->rules[reg] : Rule{kRuleUnspecified, 0, 0, 0};
            break;
        case 0x07: // undefined
            if (!r.uleb(&reg))
                return false;
            set_rule(row, reg, kRuleUndefined, 0);
            break;
        case 0x08: // same_value
            if (!r.uleb(&reg))
                return false;
            set_rule(row, reg, kRuleSame, 0);
            break;
        case 0x09: // register
            if (!r.uleb(&reg) || !r.uleb(&reg2))
                return false;
            set_rule(row, reg, kRuleRegister, (int64_t)reg2);
            break;
        case 0x0a: // remember_state
            if (depth == kRememberDepth)
                return false;
            remembered[depth++] = *row;
            break;
        case 0x0b: // restore_state
            if (depth == 0)
                return false;
            *row = remembered[--depth];
            break;
        case 0x0c: // def_cfa
            if (!r.uleb(&reg) || !r.uleb(&uoff))
                return false;
            row->cfa_is_expression = false;
            row->cfa_register = reg;
            row->cfa_offset = (int64_t)uoff;
            break;
        case 0x0d: // def_cfa_register
            if (!r.uleb(&reg))
                return false;
            row->cfa_is_expression = false;
            row->cfa_register = reg;
            break;
        case 0x0e: // def_cfa_offset
            if (!r.uleb(&uoff))
                return false;
            row->cfa_offset = (int64_t)uoff;
            break;
        case 0x0f: // def_cfa_expression
            if (!r.uleb(&len))
                return false;
            row->cfa_is_expression = true;
            row->cfa_expression = r.at;
            row->cfa_expression_length = len;
            if (!r.skip(len))
                return false;
            break;
        case 0x10: // expression
        case 0x16: // val_expression
            if (!r.uleb(&reg) || !r.uleb(&len))
                return false;
            set_rule(row, reg, op == 0x10 ? kRuleExpression : kRuleValExpression, 0, r.at, len);
            if (!r.skip(len))
                return false;
            break;
        case 0x11: // offset_extended_sf
            if (!r.uleb(&reg) || !r.sleb(&soff))
                return false;
            set_rule(row, reg, kRuleOffset, soff * dataAlign);
            break;
        case 0x12: // def_cfa_sf
            if (!r.uleb(&reg) || !r.sleb(&soff))
                return false;
            row->cfa_is_expression = false;
            row->cfa_register = reg;
            row->cfa_offset = soff * dataAlign;
            break;
        case 0x13: // def_cfa_offset_sf
            if (!r.sleb(&soff))
                return false;
            row->cfa_offset = soff * dataAlign;
            break;
        case 0x14: // val_offset
            if (!r.uleb(&reg) || !r.uleb(&uoff))
                return false;
            set_rule(row, reg, kRuleValOffset, (int64_t)uoff * dataAlign);
            break;
        case 0x15: // val_offset_sf
            if (!r.uleb(&reg) || !r.sleb(&soff))
                return false;
            set_rule(row, reg, kRuleValOffset, soff * dataAlign);
            break;
        case 0x2e: // GNU_args_size
            if (!r.uleb(&uoff))
                return false;
            break;
        case 0x2f: // GNU_negative_offset_extended
            if (!r.uleb(&reg) || !r.uleb(&uoff))
                return false;
            set_rule(row, reg, kRuleOffset, -((int64_t)uoff * dataAlign));
            break;
        default:
            return false;
        }
    }
    return true;
}

bool dwarf_register_value(const vxcrash_async_thread_state_t *state, uint64_t dwarfReg, uint64_t *value)
{
    vxcrash_regnum_t reg;
    if (!vxcrash_async_thread_state_map_dwarf_to_reg(state, dwarfReg, &reg) ||
        !vxcrash_async_thread_state_has_reg(state, reg))
        return false;
    *value = vxcrash_async_thread_state_get_reg(state, reg);
    return true;
}

bool read_word(vxcrash_async_task_t *task, const vxcrash_async_thread_state_t *state, uint64_t address, uint64_t *out)
{
    if (vxcrash_async_thread_state_get_greg_size(state) == 4) {
        uint32_t v;
        if (vxcrash_async_task_read_uint32(task, address, 0, &v) != VXCRASH_ESUCCESS)
            return false;
        *out = v;
        return true;
    }
    return vxcrash_async_task_read_uint64(task, address, 0, out) == VXCRASH_ESUCCESS;
}

} // namespace

vxcrash_error_t vxcrash_async_dwarf_expression_eval(vxcrash_async_task_t *task, const vxcrash_async_mobject_t *mobj,
                                                    uintptr_t address, uint64_t length,
                                                    const vxcrash_async_thread_state_t *state,
                                                    const uint64_t *initial, uint64_t *result)
{
    uint64_t stack[kExpressionStack];
    uint32_t sp = 0;
    if (initial != nullptr)
        stack[sp++] = *initial;
    uintptr_t end;
    if (__builtin_add_overflow(address, length, &end) ||
        vxcrash_async_mobject_remap_address(mobj, address, 0, (size_t)length) == nullptr)
        return VXCRASH_EINVAL;

    Reader r{mobj, address};
#define NEED(n)                                                                                                        \
    do {                                                                                                               \
        if (sp < (n))                                                                                                  \
            return VXCRASH_EINVALID_DATA;                                                                              \
    } while (0)
#define PUSH(v)                                                                                                        \
    do {                                                                                                               \
        if (sp == kExpressionStack)                                                                                    \
            return VXCRASH_EINVALID_DATA;                                                                              \
        uint64_t pushed_ = (v);                                                                                        \
        stack[sp++] = pushed_;                                                                                         \
    } while (0)

    for (uint32_t steps = 0; r.at < end; ++steps) {
        if (steps == kExpressionSteps)
            return VXCRASH_EINVALID_DATA;
        uint8_t op;
        if (!r.get(&op))
            return VXCRASH_EINVAL;
        if (op >= 0x30 && op <= 0x4f) { // lit0..lit31
            PUSH((uint64_t)(op - 0x30));
            continue;
        }
        if (op >= 0x50 && op <= 0x6f) { // reg0..reg31
            uint64_t v;
            if (!dwarf_register_value(state, op - 0x50, &v))
                return VXCRASH_ENOTFOUND;
            PUSH(v);
            continue;
        }
        if (op >= 0x70 && op <= 0x8f) { // breg0..breg31
            int64_t off;
            uint64_t v;
            if (!r.sleb(&off))
                return VXCRASH_EINVAL;
            if (!dwarf_register_value(state, op - 0x70, &v))
                return VXCRASH_ENOTFOUND;
            PUSH(v + (uint64_t)off);
            continue;
        }
        uint64_t a, b;
        switch (op) {
        case 0x03: { // addr
            uint64_t v;
            if (!r.get(&v))
                return VXCRASH_EINVAL;
            PUSH(v);
            break;
        }
        case 0x06: // deref
            NEED(1);
            if (vxcrash_async_task_read_uint64(task, stack[sp - 1], 0, &stack[sp - 1]) != VXCRASH_ESUCCESS)
                return VXCRASH_EACCESS;
            break;
        case 0x94: { // deref_size
            uint8_t size;
            if (!r.get(&size) || size == 0 || size > 8)
                return VXCRASH_EINVAL;
            NEED(1);
            uint64_t v = 0;
            if (vxcrash_async_task_memcpy(task, stack[sp - 1], 0, &v, size) != VXCRASH_ESUCCESS)
                return VXCRASH_EACCESS;
            stack[sp - 1] = v;
            break;
        }
        case 0x08: { uint8_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH(v); break; }
        case 0x09: { int8_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH((uint64_t)(int64_t)v); break; }
        case 0x0a: { uint16_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH(v); break; }
        case 0x0b: { int16_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH((uint64_t)(int64_t)v); break; }
        case 0x0c: { uint32_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH(v); break; }
        case 0x0d: { int32_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH((uint64_t)(int64_t)v); break; }
        case 0x0e: { uint64_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH(v); break; }
        case 0x0f: { int64_t v; if (!r.get(&v)) return VXCRASH_EINVAL; PUSH((uint64_t)v); break; }
        case 0x10: { uint64_t v; if (!r.uleb(&v)) return VXCRASH_EINVAL; PUSH(v); break; }
        case 0x11: { int64_t v; if (!r.sleb(&v)) return VXCRASH_EINVAL; PUSH((uint64_t)v); break; }
        case 0x12: NEED(1); PUSH(stack[sp - 1]); break;           // dup
        case 0x13: NEED(1); --sp; break;                          // drop
        case 0x14: NEED(2); PUSH(stack[sp - 2]); break;           // over
        case 0x15: {                                              // pick
            uint8_t index;
            if (!r.get(&index))
                return VXCRASH_EINVAL;
            NEED((uint32_t)index + 1);
            PUSH(stack[sp - 1 - index]);
            break;
        }
        case 0x16: NEED(2); a = stack[sp - 1]; stack[sp - 1] = stack[sp - 2]; stack[sp - 2] = a; break; // swap
        case 0x17: // rot
            NEED(3);
            a = stack[sp - 1];
            stack[sp - 1] = stack[sp - 2];
            stack[sp - 2] = stack[sp - 3];
            stack[sp - 3] = a;
            break;
        case 0x19: NEED(1); if ((int64_t)stack[sp - 1] < 0) stack[sp - 1] = (uint64_t)0 - stack[sp - 1]; break;
        case 0x1f: NEED(1); stack[sp - 1] = (uint64_t)0 - stack[sp - 1]; break; // neg
        case 0x20: NEED(1); stack[sp - 1] = ~stack[sp - 1]; break;              // not
        case 0x23: {                                                            // plus_uconst
            uint64_t v;
            if (!r.uleb(&v))
                return VXCRASH_EINVAL;
            NEED(1);
            stack[sp - 1] += v;
            break;
        }
        case 0x1a: case 0x1b: case 0x1c: case 0x1d: case 0x1e: case 0x21: case 0x22: case 0x24: case 0x25:
        case 0x26: case 0x27: case 0x29: case 0x2a: case 0x2b: case 0x2c: case 0x2d: case 0x2e: {
            NEED(2);
            b = stack[--sp];
            a = stack[sp - 1];
            uint64_t v = 0;
            switch (op) {
            case 0x1a: v = a & b; break;
            case 0x1b:
                if (b == 0)
                    return VXCRASH_EINVALID_DATA;
                v = (uint64_t)((int64_t)a / (int64_t)b);
                break;
            case 0x1c: v = a - b; break;
            case 0x1d:
                if (b == 0)
                    return VXCRASH_EINVALID_DATA;
                v = a % b;
                break;
            case 0x1e: v = a * b; break;
            case 0x21: v = a | b; break;
            case 0x22: v = a + b; break;
            case 0x24: v = b < 64 ? a << b : 0; break;
            case 0x25: v = b < 64 ? a >> b : 0; break;
            case 0x26: v = (uint64_t)((int64_t)a >> (b < 64 ? b : 63)); break;
            case 0x27: v = a ^ b; break;
            case 0x29: v = a == b; break;
            case 0x2a: v = (int64_t)a >= (int64_t)b; break;
            case 0x2b: v = (int64_t)a > (int64_t)b; break;
            case 0x2c: v = (int64_t)a <= (int64_t)b; break;
            case 0x2d: v = (int64_t)a < (int64_t)b; break;
            case 0x2e: v = a != b; break;
            }
            stack[sp - 1] = v;
            break;
        }
        case 0x2f: // skip
        case 0x28: { // bra
            int16_t delta;
            if (!r.get(&delta))
                return VXCRASH_EINVAL;
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
        case 0x90: { // regx
            uint64_t reg, v;
            if (!r.uleb(&reg))
                return VXCRASH_EINVAL;
            if (!dwarf_register_value(state, reg, &v))
                return VXCRASH_ENOTFOUND;
            PUSH(v);
            break;
        }
        case 0x92: { // bregx
            uint64_t reg, v;
            int64_t off;
            if (!r.uleb(&reg) || !r.sleb(&off))
                return VXCRASH_EINVAL;
            if (!dwarf_register_value(state, reg, &v))
                return VXCRASH_ENOTFOUND;
            PUSH(v + (uint64_t)off);
            break;
        }
        case 0x96: // nop
            break;
        default:
            return VXCRASH_ENOTSUP;
        }
    }
#undef NEED
#undef PUSH
    if (sp == 0)
        return VXCRASH_EINVALID_DATA;
    *result = stack[sp - 1];
    return VXCRASH_ESUCCESS;
}

namespace {

struct DecodedRow {
    Row row;
    uint64_t return_column;
    bool signal_frame;
};

constexpr uint32_t kUnwindCacheSpins = 64;

size_t cache_slot(uint64_t pc)
{
    return (size_t)((pc * 0x9E3779B97F4A7C15ull) >> 54) & (VXCRASH_UNWIND_CACHE_ROWS - 1);
}

// The row kept across walks for pc, when the cache holds one of this
// generation of the image list.
bool lookup_kept(vxcrash_async_unwind_cache_t *cache, uint64_t generation, uint64_t pc, vxcrash_async_unwind_row_t *out)
{
    if (cache == nullptr || !vxcrash_async_spinlock_trylock(&cache->lock, kUnwindCacheSpins))
        return false;
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

void keep(vxcrash_async_unwind_cache_t *cache, uint64_t generation, const vxcrash_async_unwind_row_t &row)
{
    if (cache == nullptr || !vxcrash_async_spinlock_trylock(&cache->lock, kUnwindCacheSpins))
        return;
    if (cache->generation != generation) {
        for (auto &slot : cache->rows)
            slot.pc = 0;
        cache->generation = generation;
    }
    cache->rows[cache_slot(row.pc)] = row;
    vxcrash_async_spinlock_unlock(&cache->lock);
}

void keep_in_walk(vxcrash_async_task_t *task, const vxcrash_async_unwind_row_t &row)
{
    task->rows[task->next_row] = row;
    task->next_row = (task->next_row + 1) % VXCRASH_UNWIND_ROW_CACHE;
}

// The row for pc decoded from the image's .eh_frame (then kept, by the walk
// and across walks, when it needs no expression). mobj is set for a decoded
// row.
vxcrash_async_frame_cursor_error_t find_row(vxcrash_async_task_t *task, vxcrash_async_image_list_t *image_list,
                                            uint64_t pc, DecodedRow *out, vxcrash_async_mobject_t *mobj,
                                            bool *haveMobj)
{
    *haveMobj = false;
    if (image_list == nullptr || !vxcrash_async_image_list_try_set_reading(image_list))
        return VXCRASH_FRAME_ENOTSUP;
    uint64_t generation = image_list->generation;
    vxcrash_async_frame_cursor_error_t result = VXCRASH_FRAME_ENOTSUP;
    do {
        const vxcrash_async_image_t *image = vxcrash_async_image_list_image_for_address(image_list, pc);
        if (image == nullptr)
            break;
        Fde fde;
        if (!find_fde(image, pc, task, &fde, mobj))
            break;
        *haveMobj = true;
        result = VXCRASH_FRAME_EBADFRAME;
        Program prog{mobj, &fde.cie, task, fde.pc_begin};
        vxcrash_async_memset(&out->row, 0, sizeof(out->row));
        if (!run_program(prog, fde.cie.instructions, fde.cie.instructions_end, 0, UINT64_MAX, &out->row, nullptr))
            break;
        Row initial = out->row;
        if (!run_program(prog, fde.instructions, fde.instructions_end, fde.pc_begin, pc, &out->row, &initial))
            break;
        out->return_column = fde.cie.return_column;
        out->signal_frame = fde.cie.signal_frame;
        result = VXCRASH_FRAME_ESUCCESS;
    } while (false);
    vxcrash_async_image_list_set_reading(image_list, false);
    if (result != VXCRASH_FRAME_ESUCCESS)
        return result;

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
                   vxcrash_async_unwind_row_t *out)
{
    for (const vxcrash_async_unwind_row_t &cached : task->rows) {
        if (cached.pc == pc) {
            *out = cached;
            return true;
        }
    }
    if (image_list == nullptr || task->unwind_cache == nullptr)
        return false;
    uint64_t generation = __atomic_load_n(&image_list->generation, __ATOMIC_ACQUIRE);
    if (!lookup_kept(task->unwind_cache, generation, pc, out))
        return false;
    keep_in_walk(task, *out);
    return true;
}

// Applies a kept row (no expressions in it) to current_frame.
vxcrash_async_frame_cursor_error_t apply_kept_row(vxcrash_async_task_t *task, const vxcrash_async_unwind_row_t &kept,
                                                  const vxcrash_async_thread_state_t *current_frame,
                                                  vxcrash_async_thread_state_t *next_frame)
{
    uint64_t base;
    if (!dwarf_register_value(current_frame, kept.cfa_register, &base))
        return VXCRASH_FRAME_EBADFRAME;
    uint64_t cfa = base + (uint64_t)kept.cfa_offset;

    vxcrash_async_thread_state_copy(next_frame, current_frame);
    vxcrash_async_thread_state_clear_volatile_regs(next_frame);
    next_frame->flags = kept.signal_frame ? VXCRASH_THREAD_STATE_EXACT_PC : 0;

    bool haveIp = false;
    uint64_t ip = 0;
    for (uint32_t dwarfReg = 0; dwarfReg < kRuleCount; ++dwarfReg) {
        auto type = (RuleType)kept.rule_types[dwarfReg];
        bool isReturn = dwarfReg == kept.return_column;
        if (type == kRuleUnspecified && !isReturn)
            continue;
        vxcrash_regnum_t reg = 0;
        bool mapped = vxcrash_async_thread_state_map_dwarf_to_reg(current_frame, dwarfReg, &reg);
        if (!mapped && !isReturn)
            continue;
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

} // namespace

vxcrash_async_frame_cursor_error_t vxcrash_async_dwarf_frame_reader(vxcrash_async_task_t *task,
                                                                    vxcrash_async_image_list_t *image_list,
                                                                    const vxcrash_async_thread_state_t *current_frame,
                                                                    const vxcrash_async_thread_state_t *previous_frame,
                                                                    vxcrash_async_thread_state_t *next_frame)
{
    if (!vxcrash_async_thread_state_has_reg(current_frame, VXCRASH_REG_IP))
        return VXCRASH_FRAME_EBADFRAME;
    uint64_t pc = vxcrash_async_thread_state_get_reg(current_frame, VXCRASH_REG_IP);
    if (pc == 0)
        return VXCRASH_FRAME_ENOTSUP;
    // A caller's pc is a return address: the call may be its function's last
    // instruction, so look up the byte before it.
    if (previous_frame != nullptr && (current_frame->flags & VXCRASH_THREAD_STATE_EXACT_PC) == 0)
        pc -= 1;

    vxcrash_async_unwind_row_t kept;
    if (find_kept_row(task, image_list, pc, &kept))
        return apply_kept_row(task, kept, current_frame, next_frame);

    DecodedRow decoded;
    vxcrash_async_mobject_t mobj;
    bool haveMobj;
    vxcrash_async_frame_cursor_error_t found = find_row(task, image_list, pc, &decoded, &mobj, &haveMobj);
    if (found != VXCRASH_FRAME_ESUCCESS)
        return found;
    const Row &row = decoded.row;

    uint64_t cfa;
    if (row.cfa_is_expression) {
        if (!haveMobj || vxcrash_async_dwarf_expression_eval(task, &mobj, row.cfa_expression, row.cfa_expression_length,
                                                             current_frame, nullptr, &cfa) != VXCRASH_ESUCCESS)
            return VXCRASH_FRAME_EBADFRAME;
    } else {
        uint64_t base;
        if (!dwarf_register_value(current_frame, row.cfa_register, &base))
            return VXCRASH_FRAME_EBADFRAME;
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
            continue; // callee-saved registers keep their values; the rest are already cleared
        vxcrash_regnum_t reg = 0;
        bool mapped = vxcrash_async_thread_state_map_dwarf_to_reg(current_frame, dwarfReg, &reg);
        if (!mapped && !isReturn)
            continue;
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
            if (!read_word(task, current_frame, cfa + (uint64_t)rule.value, &value))
                return VXCRASH_FRAME_EBADFRAME;
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
            if (!haveMobj || vxcrash_async_dwarf_expression_eval(task, &mobj, rule.expression, rule.expression_length,
                                                                 current_frame, &cfa, &v) != VXCRASH_ESUCCESS)
                return VXCRASH_FRAME_EBADFRAME;
            if (rule.type == kRuleExpression) {
                if (!read_word(task, current_frame, v, &value))
                    return VXCRASH_FRAME_EBADFRAME;
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
