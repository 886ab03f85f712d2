// The half of the log writer that runs before any crash: gathers every value
// a report needs into the record. Not async-safe.
#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadParking.h"
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"

#include <cstdio>
#include <ctime>
#include <sched.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/random.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utility>

namespace {

vxcrash_log_writer_bytes_t copy_bytes(const void *data, size_t length) {
    vxcrash_log_writer_bytes_t bytes{0, nullptr};
    auto *copy = static_cast<char *>(malloc(length + 1));
    if (copy == nullptr) return bytes;
    if (length > 0) memcpy(copy, data, length);
    copy[length] = '\0';
    bytes.length = length;
    bytes.data = copy;
    return bytes;
}

vxcrash_log_writer_bytes_t copy_text(const std::string &text) { return copy_bytes(text.data(), text.size()); }

void free_bytes(vxcrash_log_writer_bytes_t *bytes) {
    free(bytes->data);
    bytes->data = nullptr;
    bytes->length = 0;
}

bool read_file(const std::string &path, std::string *contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    *contents = out.str();
    return true;
}

struct ProcStat {
    std::string name;
    uint32_t parent = 0;
    uint64_t start_ticks = 0;
};

// /proc/<pid>/stat: "pid (comm) state ppid ... starttime(22nd field) ...".
// The name may itself hold spaces and parentheses, so it ends at the last ')'.
bool read_proc_stat(long pid, ProcStat *stat) {
    std::string text;
    if (!read_file("/proc/" + std::to_string(pid) + "/stat", &text)) return false;
    size_t open = text.find('(');
    size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    stat->name = text.substr(open + 1, close - open - 1);
    std::istringstream rest(text.substr(close + 1));
    std::string field;
    // Fields from the third on: state(3) ppid(4) ... starttime(22).
    for (int index = 3; rest >> field; ++index) {
        if (index == 4) stat->parent = (uint32_t)std::strtoul(field.c_str(), nullptr, 10);
        if (index == 22) {
            stat->start_ticks = std::strtoull(field.c_str(), nullptr, 10);
            return true;
        }
    }
    return false;
}

uint64_t boot_time() {
    std::ifstream in("/proc/stat");
    std::string key;
    uint64_t value;
    while (in >> key) {
        if (key == "btime" && in >> value) return value;
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

// "major.minor", with ".patch" only when the patch number is above 0.
std::string os_version(const char *release) {
    long parts[3] = {0, 0, 0};
    const char *p = release;
    for (int i = 0; i < 3; ++i) {
        char *end;
        parts[i] = std::strtol(p, &end, 10);
        if (end == p) break;
        p = end;
        if (*p != '.') break;
        ++p;
    }
    std::string text = std::to_string(parts[0]) + "." + std::to_string(parts[1]);
    if (parts[2] > 0) text += "." + std::to_string(parts[2]);
    return text;
}

uint32_t physical_core_count() {
    std::ifstream in("/proc/cpuinfo");
    std::set<std::pair<std::string, std::string>> cores;
    std::string line, physical = "0";
    while (std::getline(in, line)) {
        auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
        std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
        if (key == "physical id")
            physical = value;
        else if (key == "core id")
            cores.insert({physical, value});
    }
    return (uint32_t)cores.size();
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

}  // namespace

vxcrash_error_t vxcrash_log_writer_init(vxcrash_log_writer_t *writer, const char *app_identifier,
                                        const char *app_version, const char *app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested) {
    memset(writer, 0, sizeof(*writer));
    writer->symbolication_strategy = symbolication_strategy;
    writer->user_requested = user_requested;

    // A random (version 4) UUID.
    if (getrandom(writer->uuid, sizeof(writer->uuid), 0) != (ssize_t)sizeof(writer->uuid)) {
        uint64_t seed = (uint64_t)getpid() ^ (uint64_t)time(nullptr) ^ (uint64_t)(uintptr_t)writer;
        for (auto &b : writer->uuid) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            b = (uint8_t)(seed >> 56);
        }
    }
    writer->uuid[6] = (uint8_t)((writer->uuid[6] & 0x0f) | 0x40);
    writer->uuid[8] = (uint8_t)((writer->uuid[8] & 0x3f) | 0x80);

    writer->application_info.identifier = copy_text(app_identifier != nullptr ? app_identifier : "");
    writer->application_info.version = copy_text(app_version != nullptr ? app_version : "");
    if (app_marketing_version != nullptr) writer->application_info.marketing_version = copy_text(app_marketing_version);

    ProcStat self;
    if (!read_proc_stat(getpid(), &self)) {
        vxcrash_log_writer_free(writer);
        memset(writer, 0, sizeof(*writer));
        return VXCRASH_EINVAL;
    }
    writer->process_info.process_id = (uint32_t)getpid();
    writer->process_info.process_name = copy_text(self.name);
    long ticks = sysconf(_SC_CLK_TCK);
    writer->process_info.start_time = boot_time() + (ticks > 0 ? self.start_ticks / (uint64_t)ticks : 0);

    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n > 0) writer->process_info.process_path = copy_text(path.substr(0, (size_t)n));

    writer->process_info.parent_process_id = (uint32_t)getppid();
    ProcStat parent;
    if (read_proc_stat(getppid(), &parent)) writer->process_info.parent_process_name = copy_text(parent.name);
    // No translation layer runs programs here.
    writer->process_info.native = true;

    std::string model;
    if (read_file("/sys/devices/virtual/dmi/id/product_name", &model) && !trimmed(model).empty())
        writer->machine_info.model = copy_text(trimmed(model));
    writer->machine_info.cpu_type = VXCRASH_CPU_TYPE_X86_64;
    writer->machine_info.cpu_subtype = VXCRASH_CPU_SUBTYPE_X86_ALL;
    long logical = sysconf(_SC_NPROCESSORS_CONF);
    writer->machine_info.logical_processor_count = logical > 0 ? (uint32_t)logical : 0;
    uint32_t physical = physical_core_count();
    writer->machine_info.processor_count = physical > 0 ? physical : writer->machine_info.logical_processor_count;

    struct utsname names;
    if (uname(&names) == 0) {
        writer->system_info.os_build = copy_text(names.release);
        writer->system_info.os_version = copy_text(os_version(names.release));
    } else {
        writer->system_info.os_build = copy_text("");
        writer->system_info.os_version = copy_text("");
    }

    // Reports park the other threads with a signal whose handler must exist first.
    vxcrash_async_thread_parking_prepare();
    return VXCRASH_ESUCCESS;
}

void vxcrash_log_writer_set_exception(vxcrash_log_writer_t *writer, const char *name, const char *reason,
                                      const uint64_t *return_addresses, size_t count) {
    if (writer->uncaught_exception.has_exception) {
        fprintf(stderr, "[VXCrashReporter] An exception was already recorded in this writer\n");
        abort();
    }
    auto &e = writer->uncaught_exception;
    e.name = copy_text(name != nullptr ? name : "");
    e.reason = copy_text(reason != nullptr ? reason : "");
    if (return_addresses != nullptr && count > 0) {
        e.callstack = static_cast<uint64_t *>(malloc(count * sizeof(uint64_t)));
        if (e.callstack != nullptr) {
            memcpy(e.callstack, return_addresses, count * sizeof(uint64_t));
            e.callstack_count = count;
        }
    }
    e.has_exception = true;
}

void vxcrash_log_writer_set_custom_data(vxcrash_log_writer_t *writer, const void *data, size_t length) {
    vxcrash_log_writer_custom_data_t *copy = nullptr;
    if (data != nullptr) {
        copy = static_cast<vxcrash_log_writer_custom_data_t *>(malloc(sizeof(*copy) + length + 1));
        if (copy != nullptr) {
            copy->length = length;
            copy->bytes = reinterpret_cast<uint8_t *>(copy + 1);
            if (length > 0) memcpy(copy->bytes, data, length);
        }
    }
    vxcrash_log_writer_custom_data_t *old = __atomic_exchange_n(&writer->custom_data, copy, __ATOMIC_SEQ_CST);
    // A write that began before the swap may still be reading the old copy.
    while (__atomic_load_n(&writer->custom_data_readers, __ATOMIC_SEQ_CST) != 0) sched_yield();
    free(old);
}

void vxcrash_log_writer_free(vxcrash_log_writer_t *writer) {
    free_bytes(&writer->system_info.os_version);
    free_bytes(&writer->system_info.os_build);
    free_bytes(&writer->machine_info.model);
    free_bytes(&writer->application_info.identifier);
    free_bytes(&writer->application_info.version);
    free_bytes(&writer->application_info.marketing_version);
    free_bytes(&writer->process_info.process_name);
    free_bytes(&writer->process_info.process_path);
    free_bytes(&writer->process_info.parent_process_name);
    if (writer->uncaught_exception.has_exception) {
        free_bytes(&writer->uncaught_exception.name);
        free_bytes(&writer->uncaught_exception.reason);
        free(writer->uncaught_exception.callstack);
        writer->uncaught_exception.callstack = nullptr;
        writer->uncaught_exception.callstack_count = 0;
        writer->uncaught_exception.has_exception = false;
    }
    vxcrash_log_writer_set_custom_data(writer, nullptr, 0);
}
