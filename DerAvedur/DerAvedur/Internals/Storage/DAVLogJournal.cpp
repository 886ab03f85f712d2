#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/KeyedArchiver.h"

namespace {

constexpr const char* kTag = kDAVDerAvedurLogTag;
constexpr char kMagic[4] = {'D', 'A', 'V', 'J'};
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kFixedPayloadSize = 8 + 8 + 4;

void putLE(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t getLE(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return value;
}

std::uint32_t checksum(const unsigned char* data, std::size_t size) {
    return static_cast<std::uint32_t>(::crc32(0L, data, static_cast<uInt>(size)));
}

}  // namespace

DAVLogJournal::DAVLogJournal(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd_ < 0)
        DAVLogError(kTag, "Could not open the log journal \"%s\": %s.", path_.c_str(), std::strerror(errno));
}

DAVLogJournal::~DAVLogJournal() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<DAVLogJournal::Encoded> DAVLogJournal::encode(const std::shared_ptr<DAVLog>& log) {
    auto object = std::dynamic_pointer_cast<Foundation::Coding>(log);
    if (!object) return std::nullopt;
    auto archive = DAVUtility::archiveKeyedData(Foundation::Value(object));
    if (!archive) return std::nullopt;
    Encoded encoded{std::move(*archive), std::nullopt};
    // The token never lies in the file in plain text, as in the store.
    const std::set<std::string> tokens = log->transmissionTargetTokens();
    if (!tokens.empty()) {
        encoded.encryptedToken = encrypter_.encryptString(*tokens.begin());
        if (!encoded.encryptedToken) return std::nullopt;
    }
    return encoded;
}

std::string DAVLogJournal::frame(std::uint64_t sequence, DAVFlags flags, const Encoded& encoded) {
    const std::string token = encoded.encryptedToken.value_or("");
    const std::size_t payloadSize = kFixedPayloadSize + token.size() + encoded.archive.size();
    std::string out;
    out.reserve(kHeaderSize + payloadSize);
    out.append(kMagic, sizeof kMagic);
    putLE(out, payloadSize, 4);
    putLE(out, 0, 4);  // checksum, filled in below
    putLE(out, sequence, 8);
    putLE(out, flags, 8);
    putLE(out, token.size(), 4);
    out += token;
    out.append(reinterpret_cast<const char*>(encoded.archive.data()), encoded.archive.size());
    const std::uint32_t sum = checksum(reinterpret_cast<const unsigned char*>(out.data()) + kHeaderSize, payloadSize);
    for (int i = 0; i < 4; ++i) out[8 + static_cast<std::size_t>(i)] = static_cast<char>((sum >> (8 * i)) & 0xFF);
    return out;
}

bool DAVLogJournal::append(const std::string& framed) {
    if (fd_ < 0) return false;
    if (framed.size() - kHeaderSize > kMaxPayloadSize) return false;
    // One write: a kill can tear only this record, never an earlier one.
    std::size_t written = 0;
    while (written < framed.size()) {
        const ssize_t n = ::write(fd_, framed.data() + written, framed.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            DAVLogError(kTag, "Could not append to the log journal \"%s\": %s.", path_.c_str(),
                        n < 0 ? std::strerror(errno) : "nothing written");
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<DAVLogJournal::Record> DAVLogJournal::readRecords(std::size_t* skippedBytes) {
    std::vector<Record> records;
    std::size_t skipped = 0;
    std::string bytes;
    if (fd_ >= 0) {
        char buffer[65536];
        off_t offset = 0;
        for (;;) {
            const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
            offset += n;
        }
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t at = 0;
    // A record that does not check out is skipped up to the next one that does.
    auto resync = [&] {
        const std::size_t from = at;
        at = bytes.size();
        for (std::size_t next = from + 1; next + sizeof kMagic <= bytes.size(); ++next)
            if (std::memcmp(data + next, kMagic, sizeof kMagic) == 0) {
                at = next;
                break;
            }
        skipped += at - from;
    };
    while (at < bytes.size()) {
        if (bytes.size() - at < kHeaderSize || std::memcmp(data + at, kMagic, sizeof kMagic) != 0) {
            resync();
            continue;
        }
        const std::uint64_t size = getLE(data + at + 4, 4);
        const auto sum = static_cast<std::uint32_t>(getLE(data + at + 8, 4));
        if (size < kFixedPayloadSize || size > kMaxPayloadSize || size > bytes.size() - at - kHeaderSize ||
            checksum(data + at + kHeaderSize, size) != sum) {
            resync();
            continue;
        }
        const unsigned char* payload = data + at + kHeaderSize;
        Record record;
        record.sequence = getLE(payload, 8);
        record.flags = getLE(payload + 8, 8);
        const std::uint64_t tokenSize = getLE(payload + 16, 4);
        at += kHeaderSize + size;
        if (tokenSize > size - kFixedPayloadSize) {
            skipped += kHeaderSize + size;
            continue;
        }
        const unsigned char* archive = payload + kFixedPayloadSize + tokenSize;
        Foundation::Value object =
            DAVUtility::unarchiveKeyedData(Foundation::Data(archive, payload + static_cast<std::size_t>(size)));
        if (object.isObject()) record.log = std::dynamic_pointer_cast<DAVLog>(object.asObject());
        if (!record.log) {
            DAVLogError(kTag, "A record of the log journal \"%s\" holds no log; it is skipped.", path_.c_str());
            skipped += kHeaderSize + size;
            continue;
        }
        if (tokenSize > 0) {
            const std::string token(reinterpret_cast<const char*>(payload + kFixedPayloadSize),
                                    static_cast<std::size_t>(tokenSize));
            if (auto plain = encrypter_.decryptString(token))
                record.log->addTransmissionTargetToken(*plain);
            else
                DAVLogError(kTag, "Failed to decrypt the target token of a journalled log.");
        }
        records.push_back(std::move(record));
    }
    if (skippedBytes) *skippedBytes = skipped;
    return records;
}

bool DAVLogJournal::truncate() {
    if (fd_ < 0) return false;
    if (::ftruncate(fd_, 0) != 0) {
        DAVLogError(kTag, "Could not empty the log journal \"%s\": %s.", path_.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

std::size_t DAVLogJournal::size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) return 0;
    return static_cast<std::size_t>(info.st_size);
}
