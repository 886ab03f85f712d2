// CIE/FDE parsing over an image's .eh_frame: encoded pointers, entry
// lengths, CIEs and FDEs, and finding the FDE that covers a pc (through the
// PT_GNU_EH_FRAME search table, or a linear scan). Crash-time code.
#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwindInternal.h"

namespace vxcrash::dwarf_internal {

bool read_encoded(Reader &r, uint8_t encoding, const Bases &bases, vxcrash_async_task_t *task, uint64_t *out) {
    if (encoding == kPeOmit) return false;
    uintptr_t fieldAddress = r.at;
    uint64_t value = 0;
    switch (encoding & 0x0f) {
        case kPeAbsptr:
        case kPeUdata8: {
            uint64_t v;
            if (!r.get(&v)) return false;
            value = v;
            break;
        }
        case kPeUleb128:
            if (!r.uleb(&value)) return false;
            break;
        case kPeUdata2: {
            uint16_t v;
            if (!r.get(&v)) return false;
            value = v;
            break;
        }
        case kPeUdata4: {
            uint32_t v;
            if (!r.get(&v)) return false;
            value = v;
            break;
        }
        case kPeSleb128: {
            int64_t v;
            if (!r.sleb(&v)) return false;
            value = (uint64_t)v;
            break;
        }
        case kPeSdata2: {
            int16_t v;
            if (!r.get(&v)) return false;
            value = (uint64_t)(int64_t)v;
            break;
        }
        case kPeSdata4: {
            int32_t v;
            if (!r.get(&v)) return false;
            value = (uint64_t)(int64_t)v;
            break;
        }
        case kPeSdata8: {
            int64_t v;
            if (!r.get(&v)) return false;
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
            if (bases.data == 0) return false;
            value += bases.data;
            break;
        case kPeFuncrel:
            if (bases.func == 0) return false;
            value += bases.func;
            break;
        default:
            return false;
    }

    if ((encoding & kPeIndirect) != 0) {
        uint64_t target;
        if (vxcrash_async_task_read_uint64(task, value, 0, &target) != VXCRASH_ESUCCESS) return false;
        value = target;
    }
    *out = value;
    return true;
}

namespace {

bool skip_encoded(Reader &r, uint8_t encoding) {
    uint64_t ignored;
    int64_t signedIgnored;
    switch (encoding & 0x0f) {
        case kPeAbsptr:
        case kPeUdata8:
        case kPeSdata8:
            return r.skip(8);
        case kPeUdata2:
        case kPeSdata2:
            return r.skip(2);
        case kPeUdata4:
        case kPeSdata4:
            return r.skip(4);
        case kPeUleb128:
            return r.uleb(&ignored);
        case kPeSleb128:
            return r.sleb(&signedIgnored);
        default:
            return false;
    }
}

// Reads an entry's length; sets end to the entry's end and r past the length.
// False at the terminator or when unreadable.
bool read_entry_length(Reader &r, uintptr_t *end, bool *is64) {
    uint32_t len32;
    if (!r.get(&len32) || len32 == 0) return false;
    uint64_t length = len32;
    *is64 = false;
    if (len32 == 0xffffffffu) {
        if (!r.get(&length)) return false;
        *is64 = true;
    }
    if (__builtin_add_overflow(r.at, length, end)) return false;
    return vxcrash_async_mobject_remap_address(r.mobj, r.at, 0, (size_t)length) != nullptr;
}

bool parse_cie(const vxcrash_async_mobject_t *mobj, uintptr_t address, Cie *cie) {
    Reader r{mobj, address};
    uintptr_t end;
    bool is64;
    if (!read_entry_length(r, &end, &is64)) return false;
    uint64_t id;
    if (is64) {
        if (!r.get(&id)) return false;
    } else {
        uint32_t id32;
        if (!r.get(&id32)) return false;
        id = id32;
    }
    if (id != 0) return false;
    uint8_t version;
    if (!r.get(&version) || (version != 1 && version != 3 && version != 4)) return false;

    char augmentation[16];
    size_t augLength = 0;
    for (;;) {
        char c;
        if (!r.get(&c)) return false;
        if (c == '\0') break;
        if (augLength + 1 >= sizeof(augmentation)) return false;
        augmentation[augLength++] = c;
    }
    augmentation[augLength] = '\0';
    if (version == 4) {
        uint8_t addressSize, segmentSize;
        if (!r.get(&addressSize) || !r.get(&segmentSize)) return false;
    }
    if (!r.uleb(&cie->code_align) || !r.sleb(&cie->data_align)) return false;
    if (version == 1) {
        uint8_t column;
        if (!r.get(&column)) return false;
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
        if (!r.uleb(&dataLength)) return false;
        uintptr_t dataEnd = r.at + dataLength;
        for (size_t i = 1; i < augLength; ++i) {
            switch (augmentation[i]) {
                case 'R':
                    if (!r.get(&cie->fde_encoding)) return false;
                    break;
                case 'L': {
                    uint8_t lsda;
                    if (!r.get(&lsda)) return false;
                    break;
                }
                case 'P': {
                    // The personality routine is not needed: step over its pointer.
                    uint8_t personalityEncoding;
                    if (!r.get(&personalityEncoding) || !skip_encoded(r, personalityEncoding)) return false;
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
        if (augmentation[0] != 'S' || augLength != 1) return false;
        cie->signal_frame = true;
    }
    if (r.at > end) return false;
    cie->instructions = r.at;
    cie->instructions_end = end;
    return true;
}

// Parses the FDE at address; false when it is no FDE or unreadable.
bool parse_fde(const vxcrash_async_mobject_t *mobj, uintptr_t address, vxcrash_async_task_t *task, Fde *fde) {
    Reader r{mobj, address};
    uintptr_t end;
    bool is64;
    if (!read_entry_length(r, &end, &is64)) return false;
    uintptr_t idField = r.at;
    uint64_t cieOffset;
    if (is64) {
        if (!r.get(&cieOffset)) return false;
    } else {
        uint32_t v;
        if (!r.get(&v)) return false;
        cieOffset = v;
    }
    if (cieOffset == 0 || cieOffset > idField) return false;
    if (!parse_cie(mobj, idField - cieOffset, &fde->cie)) return false;

    Bases none{0, 0};
    uint64_t begin, range;
    if (!read_encoded(r, fde->cie.fde_encoding, none, task, &begin)) return false;
    if (!read_encoded(r, (uint8_t)(fde->cie.fde_encoding & 0x0f), none, task, &range)) return false;
    if (fde->cie.has_augmentation_data) {
        uint64_t dataLength;
        if (!r.uleb(&dataLength) || !r.skip(dataLength)) return false;
    }
    if (r.at > end || __builtin_add_overflow(begin, range, &fde->pc_end)) return false;
    fde->pc_begin = begin;
    fde->instructions = r.at;
    fde->instructions_end = end;
    return true;
}

}  // namespace

// Finds the FDE covering pc in the image.
bool find_fde(const vxcrash_async_image_t *image, uint64_t pc, vxcrash_async_task_t *task, Fde *fde,
              vxcrash_async_mobject_t *frameMobj) {
    if (image->eh_frame_hdr == 0) return false;
    vxcrash_async_mobject_t hdrMobj;
    if (vxcrash_async_image_segment_mobject(image, image->eh_frame_hdr, &hdrMobj) != VXCRASH_ESUCCESS) return false;
    Reader r{&hdrMobj, image->eh_frame_hdr};
    uint8_t version, framePtrEncoding, countEncoding, tableEncoding;
    if (!r.get(&version) || version != 1 || !r.get(&framePtrEncoding) || !r.get(&countEncoding) ||
        !r.get(&tableEncoding))
        return false;
    Bases bases{image->eh_frame_hdr, 0};
    uint64_t ehFrame;
    if (!read_encoded(r, framePtrEncoding, bases, task, &ehFrame)) return false;
    if (vxcrash_async_image_segment_mobject(image, ehFrame, frameMobj) != VXCRASH_ESUCCESS) return false;

    uint64_t count = 0;
    if (countEncoding != kPeOmit && tableEncoding == (kPeDatarel | kPeSdata4) &&
        read_encoded(r, countEncoding, bases, task, &count) && count > 0) {
        uintptr_t table = r.at;
        if (count > SIZE_MAX / 8 ||
            vxcrash_async_mobject_remap_address(&hdrMobj, table, 0, (size_t)(count * 8)) == nullptr)
            return false;
        int64_t target = (int64_t)(pc - image->eh_frame_hdr);
        uint64_t low = 0, high = count;
        // The last entry whose start is at or below pc.
        while (high - low > 1) {
            uint64_t mid = low + (high - low) / 2;
            int32_t start;
            if (vxcrash::async::read(&hdrMobj, table, (int64_t)(mid * 8), &start) != VXCRASH_ESUCCESS) return false;
            if ((int64_t)start <= target)
                low = mid;
            else
                high = mid;
        }
        int32_t start, fdeOffset;
        if (vxcrash::async::read(&hdrMobj, table, (int64_t)(low * 8), &start) != VXCRASH_ESUCCESS ||
            vxcrash::async::read(&hdrMobj, table, (int64_t)(low * 8 + 4), &fdeOffset) != VXCRASH_ESUCCESS)
            return false;
        if ((int64_t)start > target) return false;
        uintptr_t fdeAddress;
        if (!vxcrash_async_address_apply_offset(image->eh_frame_hdr, fdeOffset, &fdeAddress)) return false;
        if (vxcrash_async_image_segment_mobject(image, fdeAddress, frameMobj) != VXCRASH_ESUCCESS) return false;
        return parse_fde(frameMobj, fdeAddress, task, fde) && pc >= fde->pc_begin && pc < fde->pc_end;
    }

    // No search table: walk the entries in order.
    uintptr_t at = ehFrame;
    for (uint32_t guard = 0; guard < 1000000; ++guard) {
        Reader entry{frameMobj, at};
        uintptr_t end;
        bool is64;
        if (!read_entry_length(entry, &end, &is64)) return false;
        uint32_t id;
        if (entry.get(&id) && id != 0 && parse_fde(frameMobj, at, task, fde) && pc >= fde->pc_begin && pc < fde->pc_end)
            return true;
        at = end;
    }
    return false;
}

}  // namespace vxcrash::dwarf_internal
