#include "Vendor/VXCrashReporter/Source/VXCrashAsyncImageList.h"

#include <elf.h>
#include <link.h>
#include <sys/auxv.h>
#include <unistd.h>

namespace {

// Bounded waits at crash time: a lock held by a parked thread is never released.
constexpr uint32_t kCrashTimeSpins = 20000;
constexpr uint32_t kMaxLinkMapEntries = 4096;
constexpr uint32_t kMaxNamespaces = 64;
constexpr uint32_t kMaxProgramHeaders = 128;

struct LinkMapHead {
    ElfW(Addr) l_addr;
    char *l_name;
    ElfW(Dyn) * l_ld;
    struct link_map *l_next;
    struct link_map *l_prev;
};

void read_build_id(vxcrash_async_task_t *task, uintptr_t start, uint64_t size, vxcrash_async_image_t *image) {
    uint64_t at = 0;
    while (at + sizeof(ElfW(Nhdr)) <= size) {
        ElfW(Nhdr) note;
        if (vxcrash_async_task_memcpy(task, start, (int64_t)at, &note, sizeof(note)) != VXCRASH_ESUCCESS) return;
        uint64_t nameAt = at + sizeof(note);
        uint64_t descAt = nameAt + ((note.n_namesz + 3u) & ~3u);
        uint64_t next = descAt + ((note.n_descsz + 3u) & ~3u);
        if (next > size || next <= at) return;
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && note.n_descsz > 0 &&
            note.n_descsz <= VXCRASH_IMAGE_BUILD_ID_MAX) {
            char name[4];
            if (vxcrash_async_task_memcpy(task, start, (int64_t)nameAt, name, 4) == VXCRASH_ESUCCESS &&
                vxcrash_async_strncmp(name, "GNU", 4) == 0 &&
                vxcrash_async_task_memcpy(task, start, (int64_t)descAt, image->build_id, note.n_descsz) ==
                    VXCRASH_ESUCCESS) {
                image->build_id_length = note.n_descsz;
                return;
            }
        }
        at = next;
    }
}

// Fills image from the program headers at phdr. False when they cannot be read
// or hold no loaded segment.
bool read_program_headers(vxcrash_async_task_t *task, uintptr_t phdr, uint64_t phnum, uintptr_t bias,
                          vxcrash_async_image_t *image) {
    if (phnum == 0 || phnum > kMaxProgramHeaders) return false;
    image->bias = bias;
    image->start = UINTPTR_MAX;
    image->end = 0;
    image->header_address = 0;
    for (uint64_t i = 0; i < phnum; ++i) {
        ElfW(Phdr) ph;
        if (vxcrash_async_task_memcpy(task, phdr, (int64_t)(i * sizeof(ph)), &ph, sizeof(ph)) != VXCRASH_ESUCCESS)
            return false;
        uintptr_t at = bias + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && ph.p_memsz > 0) {
            if (at + ph.p_memsz < at) return false;
            if (image->segment_count < VXCRASH_IMAGE_MAX_SEGMENTS) {
                image->segments[image->segment_count++] = {at, at + ph.p_memsz, ph.p_flags};
            }
            if (at < image->start) image->start = at;
            if (at + ph.p_memsz > image->end) image->end = at + ph.p_memsz;
            if (ph.p_offset == 0) image->header_address = at;
        } else if (ph.p_type == PT_GNU_EH_FRAME) {
            image->eh_frame_hdr = at;
            image->eh_frame_hdr_size = ph.p_memsz;
        } else if (ph.p_type == PT_NOTE && image->build_id_length == 0) {
            read_build_id(task, at, ph.p_memsz, image);
        }
    }
    if (image->segment_count == 0) return false;
    if (image->header_address == 0) image->header_address = image->start;
    return true;
}

bool read_elf_header(vxcrash_async_task_t *task, uintptr_t address, ElfW(Ehdr) * header) {
    if (vxcrash_async_task_memcpy(task, address, 0, header, sizeof(*header)) != VXCRASH_ESUCCESS) return false;
    return header->e_ident[EI_MAG0] == ELFMAG0 && header->e_ident[EI_MAG1] == ELFMAG1 &&
           header->e_ident[EI_MAG2] == ELFMAG2 && header->e_ident[EI_MAG3] == ELFMAG3 &&
           header->e_ident[EI_CLASS] == ELFCLASS64 && header->e_phentsize == sizeof(ElfW(Phdr));
}

// The executable, from the program headers the kernel handed over.
bool read_executable(vxcrash_async_task_t *task, const vxcrash_async_image_list_t *list, uintptr_t linkMapBias,
                     vxcrash_async_image_t *image) {
    if (list->executable_phdr == 0) return false;
    uintptr_t bias = linkMapBias;
    for (uint64_t i = 0; i < list->executable_phnum && i < kMaxProgramHeaders; ++i) {
        ElfW(Phdr) ph;
        if (vxcrash_async_task_memcpy(task, list->executable_phdr, (int64_t)(i * sizeof(ph)), &ph, sizeof(ph)) !=
            VXCRASH_ESUCCESS)
            return false;
        if (ph.p_type == PT_PHDR) {
            bias = list->executable_phdr - ph.p_vaddr;
            break;
        }
    }
    if (!read_program_headers(task, list->executable_phdr, list->executable_phnum, bias, image)) return false;
    ElfW(Ehdr) header;
    image->machine = read_elf_header(task, image->header_address, &header) ? header.e_machine : EM_X86_64;
    image->is_executable = true;
    return true;
}

bool read_link_map_entry(vxcrash_async_task_t *task, const LinkMapHead &entry, vxcrash_async_image_t *image) {
    ElfW(Ehdr) header;
    uintptr_t headerAddress = (uintptr_t)entry.l_addr;
    if (headerAddress == 0 || !read_elf_header(task, headerAddress, &header)) return false;
    if (!read_program_headers(task, headerAddress + header.e_phoff, header.e_phnum, (uintptr_t)entry.l_addr, image))
        return false;
    image->header_address = headerAddress;
    image->machine = header.e_machine;
    image->name_address = (uintptr_t)entry.l_name;
    return true;
}

void read_link_maps(vxcrash_async_task_t *task, vxcrash_async_image_list_t *list) {
    uintptr_t debug = list->r_debug;
    bool executableSeen = false;
    uint32_t entries = 0;
    for (uint32_t ns = 0; debug != 0 && ns < kMaxNamespaces; ++ns) {
        struct r_debug_extended rd;
        vxcrash_async_memset(&rd, 0, sizeof(rd));
        if (vxcrash_async_task_memcpy(task, debug, 0, &rd.base, sizeof(rd.base)) != VXCRASH_ESUCCESS) break;
        if (rd.base.r_version >= 2 &&
            vxcrash_async_task_memcpy(task, debug, (int64_t)offsetof(struct r_debug_extended, r_next), &rd.r_next,
                                      sizeof(rd.r_next)) != VXCRASH_ESUCCESS)
            rd.r_next = nullptr;

        uintptr_t at = (uintptr_t)rd.base.r_map;
        bool first = true;
        while (at != 0 && entries < kMaxLinkMapEntries && list->count < VXCRASH_IMAGE_LIST_CAPACITY) {
            ++entries;
            LinkMapHead entry;
            if (vxcrash_async_task_memcpy(task, at, 0, &entry, sizeof(entry)) != VXCRASH_ESUCCESS) break;
            vxcrash_async_image_t *image = &list->images[list->count];
            vxcrash_async_memset(image, 0, sizeof(*image));
            // The first entry of the main namespace is the executable.
            bool ok = (ns == 0 && first && !executableSeen) ? read_executable(task, list, entry.l_addr, image)
                                                            : read_link_map_entry(task, entry, image);
            if (ok && image->is_executable) executableSeen = true;
            if (ok) ++list->count;
            first = false;
            at = (uintptr_t)entry.l_next;
        }
        debug = rd.base.r_version >= 2 ? (uintptr_t)rd.r_next : 0;
    }
    // A static executable has no link map entries at all.
    if (!executableSeen && list->count < VXCRASH_IMAGE_LIST_CAPACITY) {
        vxcrash_async_image_t *image = &list->images[list->count];
        vxcrash_async_memset(image, 0, sizeof(*image));
        if (read_executable(task, list, 0, image)) ++list->count;
    }
}

// Called with the list held for writing, after its images changed (or may have).
void update_summary(vxcrash_async_image_list_t *list) {
    uint64_t signature = 1469598103934665603ull;
    uint32_t sections = 0;
    for (uint32_t i = 0; i < list->count; ++i) {
        const vxcrash_async_image_t &image = list->images[i];
        for (uint64_t word : {(uint64_t)image.header_address, (uint64_t)image.end, (uint64_t)image.eh_frame_hdr})
            signature = (signature ^ word) * 1099511628211ull;
        sections += image.unwind_info != 0 ? 1 : 0;
    }
    list->unwind_info_count = sections;
    if (signature != list->signature) {
        list->signature = signature;
        ++list->generation;
    }
}

}  // namespace

vxcrash_error_t vxcrash_async_image_list_init(vxcrash_async_image_list_t *list) {
    list->lock.value.store(0);
    list->count = 0;
    list->unwind_info_count = 0;
    list->generation = 0;
    list->signature = 0;
    list->r_debug = (uintptr_t)&_r_debug;
    list->executable_phdr = (uintptr_t)getauxval(AT_PHDR);
    list->executable_phnum = getauxval(AT_PHNUM);
    ssize_t n = readlink("/proc/self/exe", list->executable_path, sizeof(list->executable_path) - 1);
    list->executable_path_length = n > 0 ? (size_t)n : 0;
    list->executable_path[list->executable_path_length] = '\0';
    return vxcrash_async_image_list_refresh(list);
}

vxcrash_error_t vxcrash_async_image_list_refresh(vxcrash_async_image_list_t *list) {
    if (!vxcrash_async_rwspinlock_try_write_lock(&list->lock, kCrashTimeSpins)) return VXCRASH_EINTERNAL;
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    list->count = 0;
    read_link_maps(&task, list);
    update_summary(list);
    vxcrash_async_rwspinlock_write_unlock(&list->lock);
    return VXCRASH_ESUCCESS;
}

vxcrash_error_t vxcrash_async_image_list_append(vxcrash_async_image_list_t *list, const vxcrash_async_image_t *image) {
    vxcrash_async_rwspinlock_write_lock(&list->lock);
    vxcrash_error_t result = VXCRASH_ENOMEM;
    if (list->count < VXCRASH_IMAGE_LIST_CAPACITY) {
        list->images[list->count++] = *image;
        update_summary(list);
        ++list->generation;
        result = VXCRASH_ESUCCESS;
    }
    vxcrash_async_rwspinlock_write_unlock(&list->lock);
    return result;
}

void vxcrash_async_image_list_set_reading(vxcrash_async_image_list_t *list, bool enable) {
    if (enable)
        vxcrash_async_rwspinlock_read_lock(&list->lock);
    else
        vxcrash_async_rwspinlock_read_unlock(&list->lock);
}

bool vxcrash_async_image_list_try_set_reading(vxcrash_async_image_list_t *list) {
    return vxcrash_async_rwspinlock_try_read_lock(&list->lock, kCrashTimeSpins);
}

uint32_t vxcrash_async_image_list_count(const vxcrash_async_image_list_t *list) { return list->count; }

const vxcrash_async_image_t *vxcrash_async_image_list_get(const vxcrash_async_image_list_t *list, uint32_t index) {
    return index < list->count ? &list->images[index] : nullptr;
}

const vxcrash_async_image_t *vxcrash_async_image_list_image_for_address(const vxcrash_async_image_list_t *list,
                                                                        uintptr_t address) {
    for (uint32_t i = 0; i < list->count; ++i) {
        const vxcrash_async_image_t *image = &list->images[i];
        if (address >= image->start && address < image->end) return image;
    }
    return nullptr;
}

bool vxcrash_async_image_list_code_contains(const vxcrash_async_image_list_t *list, uintptr_t address, uintptr_t *start,
                                            uintptr_t *end) {
    const vxcrash_async_image_t *image = vxcrash_async_image_list_image_for_address(list, address);
    if (image == nullptr) return false;
    // An image added without its segments (generated code) is code throughout.
    uintptr_t from = image->start, to = image->end;
    bool found = image->segment_count == 0;
    for (uint32_t i = 0; i < image->segment_count && !found; ++i) {
        const vxcrash_async_image_segment_t &segment = image->segments[i];
        if ((segment.flags & PF_X) != 0 && address >= segment.start && address < segment.end) {
            found = true;
            from = segment.start;
            to = segment.end;
        }
    }
    if (found && start != nullptr) *start = from;
    if (found && end != nullptr) *end = to;
    return found;
}

size_t vxcrash_async_image_copy_name(const vxcrash_async_image_list_t *list, const vxcrash_async_image_t *image,
                                     vxcrash_async_task_t *task, char *buffer, size_t size) {
    if (size == 0) return 0;
    size_t n = 0;
    if (image->is_executable) {
        for (; n + 1 < size && n < list->executable_path_length; ++n) buffer[n] = list->executable_path[n];
    } else if (image->name_address != 0) {
        for (; n + 1 < size; ++n) {
            char c;
            if (vxcrash_async_task_memcpy(task, image->name_address, (int64_t)n, &c, 1) != VXCRASH_ESUCCESS ||
                c == '\0')
                break;
            buffer[n] = c;
        }
    }
    buffer[n] = '\0';
    return n;
}

vxcrash_error_t vxcrash_async_image_segment_mobject(const vxcrash_async_image_t *image, uintptr_t address,
                                                    vxcrash_async_mobject_t *mobj) {
    for (uint32_t i = 0; i < image->segment_count; ++i) {
        const vxcrash_async_image_segment_t &seg = image->segments[i];
        if (address >= seg.start && address < seg.end && (seg.flags & PF_R) != 0)
            return vxcrash_async_mobject_init(mobj, seg.start, seg.end - seg.start, (const void *)seg.start);
    }
    return VXCRASH_ENOTFOUND;
}

vxcrash_error_t vxcrash_async_image_map_section(const vxcrash_async_image_t *image, const char *segname,
                                                const char *sectname, vxcrash_async_mobject_t *mobj) {
    if (image->unwind_info != 0 && image->unwind_info_size > 0 && vxcrash_async_strcmp(segname, "__TEXT") == 0 &&
        vxcrash_async_strcmp(sectname, "__unwind_info") == 0)
        return vxcrash_async_mobject_init(mobj, image->unwind_info, image->unwind_info_size,
                                          (const void *)image->unwind_info);
    return VXCRASH_ENOTFOUND;
}
