#include "Vendor/VXCrashReporter/Source/VXCrashCompactUnwind.h"

#include <elf.h>

namespace {

constexpr uint32_t kModeMask = 0x0F000000;
constexpr uint32_t kPageKindRegular = 2;
constexpr uint32_t kPageKindCompressed = 3;
constexpr uint32_t kArm64LinkRegister = 30;

// Finds the last entry whose key is at or below pc among count entries, with
// the key of entry i given by keyAt (false when unreadable). Only entries
// 0..count-1 are ever read.
template <typename KeyAt>
vxcrash_error_t search(uint64_t pc, uint32_t count, KeyAt keyAt, uint32_t *found) {
    if (count == 0) return VXCRASH_ENOTFOUND;
    int64_t low = 0;
    int64_t high = (int64_t)count - 1;
    while (low <= high) {
        int64_t mid = (low + high) / 2;
        uint64_t midKey;
        if (!keyAt((uint32_t)mid, &midKey)) return VXCRASH_EINVAL;
        if (pc > midKey) {
            if (mid == high) {
                *found = (uint32_t)mid;
                return VXCRASH_ESUCCESS;
            }
            uint64_t nextKey;
            if (!keyAt((uint32_t)(mid + 1), &nextKey)) return VXCRASH_EINVAL;
            if (pc < nextKey) {
                *found = (uint32_t)mid;
                return VXCRASH_ESUCCESS;
            }
            low = mid + 1;
        } else if (pc < midKey) {
            if (mid == 0) return VXCRASH_ENOTFOUND;
            high = mid - 1;
        } else {
            *found = (uint32_t)mid;
            return VXCRASH_ESUCCESS;
        }
    }
    return VXCRASH_ENOTFOUND;
}

template <typename T>
bool read_at(const vxcrash_async_mobject_t *mobj, uint64_t offset, T *out) {
    if (offset > (uint64_t)INT64_MAX) return false;
    return vxcrash::async::read(mobj, mobj->address, (int64_t)offset, out) == VXCRASH_ESUCCESS;
}

bool range_ok(const vxcrash_async_mobject_t *mobj, uint64_t offset, uint64_t length) {
    if (offset > (uint64_t)INT64_MAX || length > SIZE_MAX) return false;
    return vxcrash_async_mobject_remap_address(mobj, mobj->address, (int64_t)offset, (size_t)length) != nullptr;
}

bool map_register_x86_64(uint32_t field, uint32_t *reg) {
    static const uint32_t map[] = {VXCRASH_ASYNC_CFE_NO_REGISTER,
                                   VXCRASH_X86_64_RBX,
                                   VXCRASH_X86_64_R12,
                                   VXCRASH_X86_64_R13,
                                   VXCRASH_X86_64_R14,
                                   VXCRASH_X86_64_R15,
                                   VXCRASH_X86_64_RBP};
    if (field > 6) return false;
    *reg = map[field];
    return true;
}

bool map_register_x86(uint32_t field, uint32_t *reg) {
    static const uint32_t map[] = {VXCRASH_ASYNC_CFE_NO_REGISTER,
                                   VXCRASH_X86_EBX,
                                   VXCRASH_X86_ECX,
                                   VXCRASH_X86_EDX,
                                   VXCRASH_X86_EDI,
                                   VXCRASH_X86_ESI,
                                   VXCRASH_X86_EBP};
    if (field > 6) return false;
    *reg = map[field];
    return true;
}

vxcrash_error_t decode_x86(vxcrash_async_cfe_entry_t *entry, uint32_t encoding, bool is64) {
    const int64_t w = is64 ? 8 : 4;
    bool (*mapRegister)(uint32_t, uint32_t *) = is64 ? map_register_x86_64 : map_register_x86;
    uint32_t mode = (encoding & kModeMask) >> 24;
    entry->return_address_register = VXCRASH_ASYNC_CFE_NO_REGISTER;
    switch (mode) {
        case 0:
            entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_NONE;
            return VXCRASH_ESUCCESS;
        case 1: {
            entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR;
            entry->stack_offset = -w * (int64_t)((encoding >> 16) & 0xFF);
            uint32_t regs = encoding & 0x7FFF;
            for (uint32_t i = 0; i < 5; ++i) {
                uint32_t remaining = regs >> (3 * i);
                if (remaining == 0) break;
                if (!mapRegister(remaining & 7, &entry->register_list[i])) return VXCRASH_EINVAL;
                entry->register_count = i + 1;
            }
            return VXCRASH_ESUCCESS;
        }
        case 2:
        case 3: {
            if (mode == 2) {
                entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD;
                entry->stack_offset = w * (int64_t)((encoding >> 16) & 0xFF);
            } else {
                entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT;
                entry->stack_offset = (int64_t)((encoding >> 16) & 0xFF);
                entry->stack_adjust = (uint32_t)w * ((encoding >> 13) & 7);
            }
            uint32_t count = (encoding & 0x1C00) >> 10;
            uint32_t numbers[6];
            vxcrash_error_t err = vxcrash_async_cfe_register_decode_permutation(encoding & 0x3FF, count, numbers);
            if (err != VXCRASH_ESUCCESS) return err;
            for (uint32_t i = 0; i < count; ++i) {
                if (!mapRegister(numbers[i], &entry->register_list[i])) return VXCRASH_EINVAL;
            }
            entry->register_count = count;
            return VXCRASH_ESUCCESS;
        }
        case 4:
            entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF;
            entry->stack_offset = (int64_t)(encoding & 0x00FFFFFF);
            return VXCRASH_ESUCCESS;
        default:
            return VXCRASH_ENOTSUP;
    }
}

void arm64_register_pairs(vxcrash_async_cfe_entry_t *entry, uint32_t encoding) {
    static const struct {
        uint32_t flag;
        uint32_t first;
        uint32_t second;
    } pairs[] = {{0x10, 27, 28}, {0x08, 25, 26}, {0x04, 23, 24}, {0x02, 21, 22}, {0x01, 19, 20}};
    for (const auto &pair : pairs) {
        if ((encoding & pair.flag) != 0) {
            entry->register_list[entry->register_count++] = pair.first;
            entry->register_list[entry->register_count++] = pair.second;
        }
    }
}

vxcrash_error_t decode_arm64(vxcrash_async_cfe_entry_t *entry, uint32_t encoding) {
    uint32_t mode = (encoding & kModeMask) >> 24;
    entry->return_address_register = VXCRASH_ASYNC_CFE_NO_REGISTER;
    switch (mode) {
        case 0:
            entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_NONE;
            return VXCRASH_ESUCCESS;
        case 2:
            entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD;
            entry->stack_offset = 16 * (int64_t)((encoding >> 12) & 0xFFF);
            entry->return_address_register = kArm64LinkRegister;
            arm64_register_pairs(entry, encoding);
            return VXCRASH_ESUCCESS;
        case 3:
            entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF;
            entry->stack_offset = (int64_t)(encoding & 0x00FFFFFF);
            return VXCRASH_ESUCCESS;
        case 4:
            entry->type = VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR;
            arm64_register_pairs(entry, encoding);
            entry->stack_offset = -8 * (int64_t)entry->register_count;
            return VXCRASH_ESUCCESS;
        default:
            return VXCRASH_ENOTSUP;
    }
}

bool read_word(vxcrash_async_task_t *task, uintptr_t address, size_t width, vxcrash_greg_t *value,
               vxcrash_error_t *err) {
    if (width == 8) {
        uint64_t v;
        *err = vxcrash_async_task_read_uint64(task, address, 0, &v);
        *value = v;
    } else {
        uint32_t v;
        *err = vxcrash_async_task_read_uint32(task, address, 0, &v);
        *value = v;
    }
    return *err == VXCRASH_ESUCCESS;
}

uint32_t cpu_type_for_machine(uint16_t machine) {
    switch (machine) {
        case EM_X86_64:
            return VXCRASH_CPU_TYPE_X86_64;
        case EM_386:
            return VXCRASH_CPU_TYPE_X86;
        case EM_AARCH64:
            return VXCRASH_CPU_TYPE_ARM64;
        default:
            return 0;
    }
}

}  // namespace

vxcrash_error_t vxcrash_async_cfe_reader_init(vxcrash_async_cfe_reader_t *reader, const vxcrash_async_mobject_t *mobj,
                                              uint32_t cpu_type) {
    if (cpu_type != VXCRASH_CPU_TYPE_X86 && cpu_type != VXCRASH_CPU_TYPE_X86_64 && cpu_type != VXCRASH_CPU_TYPE_ARM64)
        return VXCRASH_ENOTSUP;
    reader->mobj = *mobj;
    reader->cpu_type = cpu_type;
    const void *header = vxcrash_async_mobject_remap_address(mobj, mobj->address, 0, sizeof(reader->header));
    if (header == nullptr) return VXCRASH_EINVAL;
    vxcrash_async_memcpy(&reader->header, header, sizeof(reader->header));
    if (reader->header.version != 1) return VXCRASH_ENOTSUP;
    return VXCRASH_ESUCCESS;
}

vxcrash_error_t vxcrash_async_cfe_reader_find_pc(const vxcrash_async_cfe_reader_t *reader, uint64_t pc,
                                                 uint64_t *function_base, uint32_t *encoding) {
    const vxcrash_async_mobject_t *mobj = &reader->mobj;
    const auto &hdr = reader->header;

    if (!range_ok(mobj, hdr.common_encodings_offset, (uint64_t)hdr.common_encodings_count * 4)) return VXCRASH_EINVAL;
    if (hdr.index_count == 0) return VXCRASH_ENOTFOUND;
    if (!range_ok(mobj, hdr.index_offset, (uint64_t)hdr.index_count * 12)) return VXCRASH_EINVAL;

    // First level: every entry but the closing sentinel.
    auto firstLevelKey = [&](uint32_t i, uint64_t *key) {
        uint32_t v;
        if (!read_at(mobj, (uint64_t)hdr.index_offset + (uint64_t)i * 12, &v)) return false;
        *key = v;
        return true;
    };
    uint32_t first;
    vxcrash_error_t err = search(pc, hdr.index_count - 1, firstLevelKey, &first);
    if (err != VXCRASH_ESUCCESS) return err;

    uint64_t entryAt = (uint64_t)hdr.index_offset + (uint64_t)first * 12;
    uint32_t firstFunction, pageOffset;
    if (!read_at(mobj, entryAt, &firstFunction) || !read_at(mobj, entryAt + 4, &pageOffset)) return VXCRASH_EINVAL;
    if (pageOffset == 0) return VXCRASH_ENOTFOUND;

    uint32_t kind;
    if (!read_at(mobj, pageOffset, &kind)) return VXCRASH_EINVAL;

    if (kind == kPageKindCompressed) {
        uint16_t entriesOffset, entryCount, encodingsOffset, encodingsCount;
        if (!read_at(mobj, (uint64_t)pageOffset + 4, &entriesOffset) ||
            !read_at(mobj, (uint64_t)pageOffset + 6, &entryCount) ||
            !read_at(mobj, (uint64_t)pageOffset + 8, &encodingsOffset) ||
            !read_at(mobj, (uint64_t)pageOffset + 10, &encodingsCount))
            return VXCRASH_EINVAL;
        uint64_t entries = (uint64_t)pageOffset + entriesOffset;
        if (!range_ok(mobj, entries, (uint64_t)entryCount * 4)) return VXCRASH_EINVAL;
        auto key = [&](uint32_t i, uint64_t *out) {
            uint32_t v;
            if (!read_at(mobj, entries + (uint64_t)i * 4, &v)) return false;
            *out = (uint64_t)firstFunction + (v & 0x00FFFFFF);
            return true;
        };
        uint32_t found;
        err = search(pc, entryCount, key, &found);
        if (err != VXCRASH_ESUCCESS) return err;
        uint32_t value;
        if (!read_at(mobj, entries + (uint64_t)found * 4, &value)) return VXCRASH_EINVAL;
        uint32_t index = value >> 24;
        uint32_t enc;
        if (index < hdr.common_encodings_count) {
            if (!read_at(mobj, (uint64_t)hdr.common_encodings_offset + (uint64_t)index * 4, &enc))
                return VXCRASH_EINVAL;
        } else {
            uint32_t local = index - hdr.common_encodings_count;
            if (local >= encodingsCount) return VXCRASH_EINVAL;
            if (!read_at(mobj, (uint64_t)pageOffset + encodingsOffset + (uint64_t)local * 4, &enc))
                return VXCRASH_EINVAL;
        }
        *function_base = (uint64_t)firstFunction + (value & 0x00FFFFFF);
        *encoding = enc;
        return VXCRASH_ESUCCESS;
    }

    if (kind == kPageKindRegular) {
        uint16_t entriesOffset, entryCount;
        if (!read_at(mobj, (uint64_t)pageOffset + 4, &entriesOffset) ||
            !read_at(mobj, (uint64_t)pageOffset + 6, &entryCount))
            return VXCRASH_EINVAL;
        uint64_t entries = (uint64_t)pageOffset + entriesOffset;
        if (!range_ok(mobj, entries, (uint64_t)entryCount * 8)) return VXCRASH_EINVAL;
        auto key = [&](uint32_t i, uint64_t *out) {
            uint32_t v;
            if (!read_at(mobj, entries + (uint64_t)i * 8, &v)) return false;
            *out = v;
            return true;
        };
        uint32_t found;
        err = search(pc, entryCount, key, &found);
        if (err != VXCRASH_ESUCCESS) return err;
        uint32_t function, enc;
        if (!read_at(mobj, entries + (uint64_t)found * 8, &function) ||
            !read_at(mobj, entries + (uint64_t)found * 8 + 4, &enc))
            return VXCRASH_EINVAL;
        *function_base = function;
        *encoding = enc;
        return VXCRASH_ESUCCESS;
    }

    return VXCRASH_EINVAL;
}

void vxcrash_async_cfe_reader_free(vxcrash_async_cfe_reader_t *) {}

vxcrash_error_t vxcrash_async_cfe_entry_init(vxcrash_async_cfe_entry_t *entry, uint32_t cpu_type, uint32_t encoding) {
    vxcrash_async_memset(entry, 0, sizeof(*entry));
    entry->cpu_type = cpu_type;
    for (uint32_t &slot : entry->register_list) slot = VXCRASH_ASYNC_CFE_NO_REGISTER;
    switch (cpu_type) {
        case VXCRASH_CPU_TYPE_X86_64:
            return decode_x86(entry, encoding, true);
        case VXCRASH_CPU_TYPE_X86:
            return decode_x86(entry, encoding, false);
        case VXCRASH_CPU_TYPE_ARM64:
            return decode_arm64(entry, encoding);
        default:
            return VXCRASH_ENOTSUP;
    }
}

vxcrash_async_cfe_entry_type_t vxcrash_async_cfe_entry_type(const vxcrash_async_cfe_entry_t *entry) {
    return entry->type;
}

void vxcrash_async_cfe_entry_free(vxcrash_async_cfe_entry_t *) {}

uint32_t vxcrash_async_cfe_register_encode_permutation(const uint32_t *registers, uint32_t count) {
    if (count == 0 || count > 6) return 0;
    uint32_t digits[6] = {0, 0, 0, 0, 0, 0};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t smaller = 0;
        for (uint32_t j = 0; j < i; ++j) {
            if (registers[j] < registers[i]) ++smaller;
        }
        digits[i] = registers[i] - 1 - smaller;
    }
    switch (count) {
        case 6:
        case 5:
            return 120 * digits[0] + 24 * digits[1] + 6 * digits[2] + 2 * digits[3] + digits[4];
        case 4:
            return 60 * digits[0] + 12 * digits[1] + 3 * digits[2] + digits[3];
        case 3:
            return 20 * digits[0] + 4 * digits[1] + digits[2];
        case 2:
            return 5 * digits[0] + digits[1];
        default:
            return digits[0];
    }
}

vxcrash_error_t vxcrash_async_cfe_register_decode_permutation(uint32_t permutation, uint32_t count,
                                                              uint32_t *registers) {
    if (count > 6) return VXCRASH_EINVAL;
    if (count == 0) return VXCRASH_ESUCCESS;
    uint32_t digits[6] = {0, 0, 0, 0, 0, 0};
    uint32_t p = permutation;
    switch (count) {
        case 6:
        case 5:
            digits[0] = p / 120;
            p %= 120;
            digits[1] = p / 24;
            p %= 24;
            digits[2] = p / 6;
            p %= 6;
            digits[3] = p / 2;
            digits[4] = p & 1;
            digits[5] = 0;
            break;
        case 4:
            digits[0] = p / 60;
            p %= 60;
            digits[1] = p / 12;
            p %= 12;
            digits[2] = p / 3;
            digits[3] = p % 3;
            break;
        case 3:
            digits[0] = p / 20;
            p %= 20;
            digits[1] = p / 4;
            digits[2] = p % 4;
            break;
        case 2:
            digits[0] = p / 5;
            digits[1] = p % 5;
            break;
        default:
            digits[0] = p;
            break;
    }
    bool used[7] = {false, false, false, false, false, false, false};
    for (uint32_t i = 0; i < count; ++i) {
        // The (digit + 1)-th number from 1 to 6 not used yet.
        uint32_t remaining = digits[i];
        uint32_t chosen = 0;
        for (uint32_t n = 1; n <= 6; ++n) {
            if (used[n]) continue;
            if (remaining == 0) {
                chosen = n;
                break;
            }
            --remaining;
        }
        if (chosen == 0) return VXCRASH_EINVAL;
        used[chosen] = true;
        registers[i] = chosen;
    }
    return VXCRASH_ESUCCESS;
}

vxcrash_error_t vxcrash_async_cfe_entry_apply(vxcrash_async_task_t *task, uint64_t function_address,
                                              const vxcrash_async_thread_state_t *thread_state,
                                              const vxcrash_async_cfe_entry_t *entry,
                                              vxcrash_async_thread_state_t *new_thread_state) {
    // The registers of an entry are numbered for its own CPU; ARM64 states do not exist here.
    if (entry->cpu_type != thread_state->cpu_type) return VXCRASH_ENOTSUP;

    const size_t w = vxcrash_async_thread_state_get_greg_size(thread_state);
    vxcrash_async_thread_state_copy(new_thread_state, thread_state);
    vxcrash_async_thread_state_clear_volatile_regs(new_thread_state);
    new_thread_state->flags = 0;

    uintptr_t savedBase = 0;
    vxcrash_error_t err = VXCRASH_ESUCCESS;
    switch (entry->type) {
        case VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD:
        case VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT: {
            if (!vxcrash_async_thread_state_has_reg(thread_state, VXCRASH_REG_SP)) return VXCRASH_ENOTFOUND;
            uint64_t stackSize = (uint64_t)entry->stack_offset;
            if (entry->type == VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT) {
                uint32_t immediate;
                err = vxcrash_async_task_read_uint32(task, function_address, entry->stack_offset, &immediate);
                if (err != VXCRASH_ESUCCESS) return err;
                stackSize = (uint64_t)immediate + entry->stack_adjust;
            }
            uint64_t sp = vxcrash_async_thread_state_get_reg(thread_state, VXCRASH_REG_SP);
            uint64_t newSp;
            if (__builtin_add_overflow(sp, stackSize, &newSp)) return VXCRASH_EINVAL;
            uint64_t registersSize = (uint64_t)entry->register_count * w;
            vxcrash_greg_t ip;
            if (entry->return_address_register == VXCRASH_ASYNC_CFE_NO_REGISTER) {
                if (newSp < w + registersSize) return VXCRASH_EINVAL;
                if (!read_word(task, newSp - w, w, &ip, &err)) return err;
                savedBase = newSp - w - registersSize;
            } else {
                if (entry->return_address_register >= vxcrash_async_thread_state_get_reg_count(thread_state) ||
                    !vxcrash_async_thread_state_has_reg(thread_state, entry->return_address_register))
                    return VXCRASH_ENOTFOUND;
                if (newSp < registersSize) return VXCRASH_EINVAL;
                ip = vxcrash_async_thread_state_get_reg(thread_state, entry->return_address_register);
                savedBase = newSp - registersSize;
            }
            vxcrash_async_thread_state_set_reg(new_thread_state, VXCRASH_REG_SP, newSp);
            vxcrash_async_thread_state_set_reg(new_thread_state, VXCRASH_REG_IP, ip);
            break;
        }
        case VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR: {
            if (!vxcrash_async_thread_state_has_reg(thread_state, VXCRASH_REG_FP)) return VXCRASH_ENOTFOUND;
            uint64_t fp = vxcrash_async_thread_state_get_reg(thread_state, VXCRASH_REG_FP);
            uint64_t newSp;
            if (__builtin_add_overflow(fp, 2 * w, &newSp)) return VXCRASH_EINVAL;
            vxcrash_greg_t newFp, ip;
            if (!read_word(task, fp, w, &newFp, &err) || !read_word(task, fp + w, w, &ip, &err)) return err;
            if (!vxcrash_async_address_apply_offset(fp, entry->stack_offset, &savedBase)) return VXCRASH_EINVAL;
            vxcrash_async_thread_state_set_reg(new_thread_state, VXCRASH_REG_SP, newSp);
            vxcrash_async_thread_state_set_reg(new_thread_state, VXCRASH_REG_FP, newFp);
            vxcrash_async_thread_state_set_reg(new_thread_state, VXCRASH_REG_IP, ip);
            break;
        }
        default:
            return VXCRASH_ENOTSUP;
    }

    for (uint32_t i = 0; i < entry->register_count && i < VXCRASH_ASYNC_CFE_SAVED_REGISTER_MAX; ++i) {
        uint32_t reg = entry->register_list[i];
        if (reg == VXCRASH_ASYNC_CFE_NO_REGISTER) continue;
        if (reg >= vxcrash_async_thread_state_get_reg_count(thread_state)) return VXCRASH_EINVAL;
        vxcrash_greg_t value;
        if (!read_word(task, savedBase + (uint64_t)i * w, w, &value, &err)) return err;
        vxcrash_async_thread_state_set_reg(new_thread_state, reg, value);
    }
    return VXCRASH_ESUCCESS;
}

vxcrash_async_frame_cursor_error_t vxcrash_async_cfe_frame_reader(vxcrash_async_task_t *task,
                                                                  vxcrash_async_image_list_t *image_list,
                                                                  const vxcrash_async_thread_state_t *current_frame,
                                                                  const vxcrash_async_thread_state_t *previous_frame,
                                                                  vxcrash_async_thread_state_t *next_frame) {
    if (!vxcrash_async_thread_state_has_reg(current_frame, VXCRASH_REG_IP)) return VXCRASH_FRAME_EBADFRAME;
    // Most systems have no image with the section: pass the turn on at once.
    if (image_list != nullptr && __atomic_load_n(&image_list->unwind_info_count, __ATOMIC_RELAXED) == 0)
        return VXCRASH_FRAME_ENOTSUP;
    uint64_t pc = vxcrash_async_thread_state_get_reg(current_frame, VXCRASH_REG_IP);
    if (pc == 0) return VXCRASH_FRAME_ENOTSUP;
    // A caller's pc is a return address, which may already lie in the next function.
    if (previous_frame != nullptr && (current_frame->flags & VXCRASH_THREAD_STATE_EXACT_PC) == 0) pc -= 1;

    if (image_list == nullptr || !vxcrash_async_image_list_try_set_reading(image_list)) return VXCRASH_FRAME_ENOTSUP;

    vxcrash_async_frame_cursor_error_t result = VXCRASH_FRAME_ENOTSUP;
    do {
        const vxcrash_async_image_t *image = vxcrash_async_image_list_image_for_address(image_list, pc);
        if (image == nullptr) break;
        vxcrash_async_mobject_t section;
        if (vxcrash_async_image_map_section(image, "__TEXT", "__unwind_info", &section) != VXCRASH_ESUCCESS) break;
        vxcrash_async_cfe_reader_t reader;
        if (vxcrash_async_cfe_reader_init(&reader, &section, cpu_type_for_machine(image->machine)) !=
            VXCRASH_ESUCCESS) {
            result = VXCRASH_FRAME_EINVAL;
            break;
        }
        uint64_t functionBase;
        uint32_t encoding;
        if (vxcrash_async_cfe_reader_find_pc(&reader, pc - image->header_address, &functionBase, &encoding) !=
            VXCRASH_ESUCCESS)
            break;
        vxcrash_async_cfe_entry_t entry;
        if (vxcrash_async_cfe_entry_init(&entry, reader.cpu_type, encoding) != VXCRASH_ESUCCESS) break;
        if (entry.type == VXCRASH_ASYNC_CFE_ENTRY_TYPE_NONE) {
            result = VXCRASH_FRAME_ENOFRAME;
            break;
        }
        uint64_t functionStart;
        if (__builtin_add_overflow((uint64_t)image->header_address, functionBase, &functionStart)) {
            result = VXCRASH_FRAME_EINVAL;
            break;
        }
        result =
            vxcrash_async_cfe_entry_apply(task, functionStart, current_frame, &entry, next_frame) == VXCRASH_ESUCCESS
                ? VXCRASH_FRAME_ESUCCESS
                : VXCRASH_FRAME_ENOFRAME;
    } while (false);

    vxcrash_async_image_list_set_reading(image_list, false);
    return result;
}
