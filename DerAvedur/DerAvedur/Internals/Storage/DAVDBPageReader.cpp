#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBPageReader.h"

#include <cstring>
#include <set>

namespace {

constexpr unsigned char kTableLeafPage = 0x0D;
constexpr std::size_t kFileHeaderSize = 100;

std::uint32_t bigEndian(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// A variable-length integer of the file format (1 to 9 bytes, big-endian,
// high bit set on every byte but the last; the ninth byte counts whole).
bool readVarint(const std::string& bytes, std::size_t& at, std::size_t end, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < 9; ++i) {
        if (at >= end) return false;
        const auto byte = static_cast<unsigned char>(bytes[at++]);
        if (i == 8) {
            value = value << 8 | byte;
            return true;
        }
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) return true;
    }
    return true;
}

}  // namespace

DAVDBPageReader::DAVDBPageReader(const std::string& bytes, std::size_t pageSize, std::size_t reservedBytes)
    : bytes_(bytes), pageSize_(pageSize), usable_(pageSize > reservedBytes ? pageSize - reservedBytes : 0) {}

bool DAVDBPageReader::headerValues(const std::string& bytes, std::size_t* pageSize, std::size_t* reservedBytes) {
    if (bytes.size() < kFileHeaderSize || bytes.compare(0, 16, std::string("SQLite format 3\0", 16)) != 0)
        return false;
    std::size_t size = bigEndian(bytes, 16, 2);
    if (size == 1) size = 65536;
    if (size < 512 || size > 65536 || (size & (size - 1)) != 0) return false;
    const std::size_t reserved = static_cast<unsigned char>(bytes[20]);
    if (size - reserved < 480) return false;
    *pageSize = size;
    *reservedBytes = reserved;
    return true;
}

std::size_t DAVDBPageReader::pageCount() const { return pageSize_ ? bytes_.size() / pageSize_ : 0; }

void DAVDBPageReader::forEachRow(const std::function<void(const DAVDBPageRow&)>& visit) const {
    if (usable_ < 480) return;
    for (std::size_t page = 0; page < pageCount(); ++page) {
        const std::size_t pageStart = page * pageSize_;
        const std::size_t header = pageStart + (page == 0 ? kFileHeaderSize : 0);
        const std::size_t pageEnd = pageStart + usable_;
        if (static_cast<unsigned char>(bytes_[header]) != kTableLeafPage) continue;
        const std::size_t cells = bigEndian(bytes_, header + 3, 2);
        const std::size_t pointers = header + 8;
        if (pointers + 2 * cells > pageEnd) continue;
        for (std::size_t i = 0; i < cells; ++i) {
            const std::size_t cell = pageStart + bigEndian(bytes_, pointers + 2 * i, 2);
            DAVDBPageRow row;
            if (cell >= pointers + 2 * cells && cell < pageEnd && readCell(pageStart, cell, pageEnd, row)) visit(row);
        }
    }
}

bool DAVDBPageReader::readCell(std::size_t, std::size_t cell, std::size_t pageEnd, DAVDBPageRow& row) const {
    std::size_t at = cell;
    std::uint64_t size = 0;
    std::uint64_t rowId = 0;
    if (!readVarint(bytes_, at, pageEnd, size) || !readVarint(bytes_, at, pageEnd, rowId)) return false;
    if (size > bytes_.size()) return false;
    std::string record;
    if (!payload(at, pageEnd, size, record)) return false;
    row.rowId = static_cast<std::int64_t>(rowId);
    return decodeRecord(record, row.columns);
}

// The payload of a table leaf cell: what fits on the page, then its overflow chain.
bool DAVDBPageReader::payload(std::size_t start, std::size_t pageEnd, std::uint64_t size, std::string& out) const {
    const std::size_t usable = usable_;
    const std::size_t maxLocal = usable - 35;
    std::size_t local = static_cast<std::size_t>(size);
    if (size > maxLocal) {
        const std::size_t minLocal = (usable - 12) * 32 / 255 - 23;
        const std::size_t spill = minLocal + static_cast<std::size_t>((size - minLocal) % (usable - 4));
        local = spill <= maxLocal ? spill : minLocal;
    }
    if (start + local > pageEnd) return false;
    out.assign(bytes_, start, local);
    if (local == size) return true;
    if (start + local + 4 > pageEnd) return false;
    std::uint32_t next = bigEndian(bytes_, start + local, 4);
    std::set<std::uint32_t> seen;
    while (out.size() < size) {
        if (next == 0 || next > pageCount() || !seen.insert(next).second) return false;
        const std::size_t page = (next - 1) * pageSize_;
        const std::size_t take = std::min<std::size_t>(usable - 4, static_cast<std::size_t>(size) - out.size());
        out.append(bytes_, page + 4, take);
        next = bigEndian(bytes_, page, 4);
    }
    return true;
}

bool DAVDBPageReader::decodeRecord(const std::string& record, std::vector<Foundation::Value>& columns) {
    std::size_t at = 0;
    std::uint64_t headerSize = 0;
    if (!readVarint(record, at, record.size(), headerSize) || headerSize > record.size() || headerSize < at)
        return false;
    std::vector<std::uint64_t> types;
    while (at < headerSize) {
        std::uint64_t type = 0;
        if (!readVarint(record, at, static_cast<std::size_t>(headerSize), type) || type == 10 || type == 11)
            return false;
        types.push_back(type);
    }
    std::size_t body = static_cast<std::size_t>(headerSize);
    for (std::uint64_t type : types) {
        static const std::size_t kIntegerSizes[] = {0, 1, 2, 3, 4, 6, 8};
        if (type == 0) {
            columns.emplace_back();
        } else if (type <= 6) {
            const std::size_t n = kIntegerSizes[type];
            if (body + n > record.size()) return false;
            std::uint64_t value = 0;
            for (std::size_t i = 0; i < n; ++i) value = value << 8 | static_cast<unsigned char>(record[body + i]);
            if (n < 8 && (value >> (8 * n - 1)) & 1) value |= ~std::uint64_t{0} << (8 * n);  // sign
            columns.emplace_back(static_cast<std::int64_t>(value));
            body += n;
        } else if (type == 7) {
            if (body + 8 > record.size()) return false;
            columns.emplace_back();
            body += 8;
        } else if (type == 8 || type == 9) {
            columns.emplace_back(static_cast<std::int64_t>(type - 8));
        } else {
            const std::size_t n = static_cast<std::size_t>((type - 12) / 2);
            if (body + n > record.size()) return false;
            columns.emplace_back(record.substr(body, n));
            body += n;
        }
    }
    return body == record.size();
}
