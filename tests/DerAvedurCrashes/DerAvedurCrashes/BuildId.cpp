#include <link.h>

#include <cstring>
#include <string>

#include "Platform/Foundation/Text.h"

namespace CrashesTest {

std::string executableBuildId() {
    std::string id;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            if (info->dlpi_name && info->dlpi_name[0] != '\0') return 0;  // the executable comes first, unnamed
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& phdr = info->dlpi_phdr[i];
                if (phdr.p_type != PT_NOTE) continue;
                const auto* p = reinterpret_cast<const unsigned char*>(info->dlpi_addr + phdr.p_vaddr);
                const auto* end = p + phdr.p_memsz;
                while (p + sizeof(ElfW(Nhdr)) <= end) {
                    const auto* note = reinterpret_cast<const ElfW(Nhdr)*>(p);
                    const unsigned char* name = p + sizeof(ElfW(Nhdr));
                    const unsigned char* desc = name + ((note->n_namesz + 3) & ~3u);
                    if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
                        auto* out = static_cast<std::string*>(data);
                        for (unsigned j = 0; j < note->n_descsz; ++j) *out += Foundation::format("%02x", desc[j]);
                        return 1;
                    }
                    p = desc + ((note->n_descsz + 3) & ~3u);
                }
            }
            return 1;
        },
        &id);
    return id;
}

}  // namespace CrashesTest
