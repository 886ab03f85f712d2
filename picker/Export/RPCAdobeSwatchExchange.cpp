#include "picker/Export/RPCAdobeSwatchExchange.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/FileWriting.h"
#include "Platform/Foundation/Text.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Export/BigEndian.h"

namespace {

constexpr std::uint16_t kColorEntry = 0x0001;
constexpr std::uint16_t kGroupStart = 0xC001;
constexpr std::uint16_t kGroupEnd = 0xC002;
constexpr std::uint16_t kNormalColor = 2;

constexpr long kFileReadUnknownError = 256;
constexpr long kFileReadCorruptFileError = 259;
constexpr long kFileReadNoSuchFileError = 260;
constexpr long kFileWriteFileExistsError = 516;
constexpr long kFileWriteUnknownError = 512;

// UTF-16 units of a name, at most kMaxNameUnits, a surrogate pair kept whole.
std::u16string nameUnits(const std::string& name) {
    auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
    std::u16string units(text.getBuffer(), static_cast<std::size_t>(text.length()));
    if (units.size() > RPCAdobeSwatchExchange::kMaxNameUnits) {
        std::size_t cut = RPCAdobeSwatchExchange::kMaxNameUnits;
        if (units[cut - 1] >= 0xD800 && units[cut - 1] <= 0xDBFF) --cut;
        units.resize(cut);
    }
    return units;
}

void appendName(Foundation::Data& out, const std::u16string& units) {
    BigEndian::appendUInt16(out, static_cast<std::uint16_t>(units.size() + 1));
    for (char16_t u : units) BigEndian::appendUInt16(out, u);
    BigEndian::appendUInt16(out, 0);
}

// Big-endian UTF-16 to UTF-8; nothing for an unpaired surrogate.
std::optional<std::string> decodeName(std::span<const std::uint8_t> bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) units.push_back(BigEndian::uint16(bytes.subspan(i)));
    while (!units.empty() && units.back() == 0) units.pop_back();  // the terminator is not part of the name
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return std::nullopt;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// A component as the file gives it, kept to 0..1 (not-a-number is 0).
double component(float v) {
    if (std::isnan(v)) return 0;
    return std::clamp(static_cast<double>(v), 0.0, 1.0);
}

Foundation::Error fileError(long code, const std::string& description) {
    return Foundation::makeError(Foundation::kCocoaErrorDomain, code, description);
}

}  // namespace

// Bounds-checked view of the bytes still to read.
struct RPCAdobeSwatchExchange::Reader {
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;

    std::size_t remaining() const { return bytes.size() - pos; }
    std::optional<std::span<const std::uint8_t>> take(std::size_t count) {
        if (count > remaining()) return std::nullopt;
        auto out = bytes.subspan(pos, count);
        pos += count;
        return out;
    }
};

Foundation::Data RPCAdobeSwatchExchange::encode(const AppKit::NSColorList& list) {
    const auto& keys = list.allKeys();
    Foundation::Data out;
    out.reserve(12 + 16 + keys.size() * 48 + 6);
    out.insert(out.end(), {'A', 'S', 'E', 'F'});
    BigEndian::appendUInt16(out, 1);
    BigEndian::appendUInt16(out, 0);
    BigEndian::appendUInt32(out, static_cast<std::uint32_t>(keys.size() + 2));

    const auto group = nameUnits(list.name().value_or(kUnnamedGroup));
    BigEndian::appendUInt16(out, kGroupStart);
    BigEndian::appendUInt32(out, static_cast<std::uint32_t>(2 * group.size() + 4));
    appendName(out, group);

    for (const auto& key : keys) {
        const auto name = nameUnits(key);
        BigEndian::appendUInt16(out, kColorEntry);
        BigEndian::appendUInt32(out, static_cast<std::uint32_t>(2 * name.size() + 22));
        appendName(out, name);
        out.insert(out.end(), {'R', 'G', 'B', ' '});
        double r = 0, g = 0, b = 0;
        if (const auto color = list.colorWithKey(key)) color->getRed(&r, &g, &b, nullptr);
        for (double v : {r, g, b}) BigEndian::appendFloat32(out, static_cast<float>(v));
        BigEndian::appendUInt16(out, kNormalColor);
    }

    BigEndian::appendUInt16(out, kGroupEnd);
    BigEndian::appendUInt32(out, 0);
    return out;
}

SwatchWriteResult RPCAdobeSwatchExchange::writeColorList(const std::shared_ptr<AppKit::NSColorList>& list,
                                                         const std::string& path, Foundation::Error* error) {
    if (!list) return SwatchWriteResult::noColorList;
    const Foundation::Data bytes = encode(*list);

    // O_EXCL: the file is ours only if we created it, so a file that appears
    // between a check and the create is never overwritten.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) {
            const std::string line = "Error: Output file alredy exists at " + path + ". Refusing to overwrite";
            Foundation::systemLog(line);
            Foundation::reportError(error, fileError(kFileWriteFileExistsError, line));
            return SwatchWriteResult::fileExists;
        }
        const std::string line = "Unable to create output file at " + path;
        Foundation::systemLog(line);
        Foundation::reportError(error, fileError(kFileWriteUnknownError, line + ": " + std::strerror(errno)));
        return SwatchWriteResult::cannotCreate;
    }
    bool ok = Foundation::writeAllBytes(fd, bytes.data(), bytes.size());
    int savedErrno = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(path.c_str());
        const std::string line = "Unable to write output file at " + path;
        Foundation::systemLog(line);
        Foundation::reportError(error, fileError(kFileWriteUnknownError, line + ": " + std::strerror(savedErrno)));
        return SwatchWriteResult::writeFailed;
    }
    return SwatchWriteResult::written;
}

bool RPCAdobeSwatchExchange::readFromFile(const std::string& path, const std::string& name, Foundation::Error* error) {
    // Only a regular file: a directory or a device is not a swatch file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    const bool opened = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const int openErrno = fd < 0 ? errno : 0;
    Foundation::Data bytes;
    bool readOK = opened;
    if (opened) {
        std::uint8_t buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) readOK = false;
            if (n <= 0) break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    }
    if (fd >= 0) ::close(fd);
    if (!readOK) {
        colors = std::make_shared<AppKit::NSColorList>(name);
        Foundation::systemLog("Not a ASE file (wrong header)");
        const long code = openErrno == ENOENT ? kFileReadNoSuchFileError : kFileReadUnknownError;
        Foundation::reportError(error, fileError(code, "The file " + path + " could not be read."));
        return false;
    }
    return readFromData(bytes, name, error);
}

bool RPCAdobeSwatchExchange::readFromData(std::span<const std::uint8_t> bytes, const std::string& name,
                                          Foundation::Error* error) {
    colors = std::make_shared<AppKit::NSColorList>(name);
    takenNames_.clear();
    nextSuffix_.clear();
    Reader reader{bytes};

    const auto signature = reader.take(4);
    if (!signature || std::memcmp(signature->data(), "ASEF", 4) != 0) {
        const std::string line = "Not a ASE file (wrong header)";
        Foundation::systemLog(line);
        Foundation::reportError(error, fileError(kFileReadCorruptFileError, line));
        return false;
    }
    const auto header = reader.take(8);
    if (!header) {
        const std::string line = "Truncated ASE file (no block count)";
        Foundation::systemLog(line);
        Foundation::reportError(error, fileError(kFileReadCorruptFileError, line));
        return false;
    }
    const std::uint16_t major = BigEndian::uint16(*header);
    const std::uint16_t minor = BigEndian::uint16(header->subspan(2));
    const std::uint32_t count = BigEndian::uint32(header->subspan(4));
    Foundation::systemLog(Foundation::format("Version %u.%u, blocks %u", unsigned{major}, unsigned{minor}, count));

    // A count larger than the file can hold ends at the first missing block.
    for (std::uint32_t i = 0; i < count; ++i)
        if (!readBlock(reader, error)) return false;
    return true;
}

bool RPCAdobeSwatchExchange::readBlock(Reader& reader, Foundation::Error* error) {
    const std::size_t blockStart = reader.pos;
    auto fail = [&](const char* what) {
        const std::string line = Foundation::format("Corrupt ASE file: %s (block at byte %zu)", what, blockStart);
        Foundation::systemLog(line);
        Foundation::reportError(error, fileError(kFileReadCorruptFileError, line));
        return false;
    };

    const auto head = reader.take(6);
    if (!head) return fail("the file ends before the block");
    const std::uint16_t type = BigEndian::uint16(*head);
    const std::uint32_t length = BigEndian::uint32(head->subspan(2));
    const auto body = reader.take(length);
    if (!body) return fail("the block runs past the end of the file");
    if (type != kColorEntry) return true;  // groups and unknown blocks: skipped by their length

    Reader block{*body};
    const auto nameLength = block.take(2);
    if (!nameLength) return fail("no name length");
    const auto nameBytes = block.take(std::size_t{BigEndian::uint16(*nameLength)} * 2);
    if (!nameBytes) return fail("the name runs past the block");
    const auto model = block.take(4);
    if (!model) return fail("no colour model");

    auto singles = [&](std::size_t n) -> std::optional<std::vector<double>> {
        const auto raw = block.take(4 * n);
        if (!raw) return std::nullopt;
        std::vector<double> out;
        for (std::size_t k = 0; k < n; ++k) out.push_back(component(BigEndian::float32(raw->subspan(4 * k))));
        return out;
    };
    AppKit::NSColorRef color;
    if (std::memcmp(model->data(), "RGB ", 4) == 0) {
        const auto v = singles(3);
        if (!v) return fail("the RGB components run past the block");
        color = AppKit::NSColor::colorWithRed((*v)[0], (*v)[1], (*v)[2], 1);
    } else if (std::memcmp(model->data(), "CMYK", 4) == 0) {
        const auto v = singles(4);
        if (!v) return fail("the CMYK components run past the block");
        color = AppKit::NSColor::colorWithDeviceCyan((*v)[0], (*v)[1], (*v)[2], (*v)[3], 1);
    } else if (std::memcmp(model->data(), "LAB ", 4) == 0) {
        if (!singles(3)) return fail("the LAB components run past the block");
        color = AppKit::NSColor::blackColor();
    } else if (std::memcmp(model->data(), "Gray", 4) == 0) {
        const auto v = singles(1);
        if (!v) return fail("the grey level runs past the block");
        color = AppKit::NSColor::colorWithCalibratedWhite((*v)[0], 1);
    } else {
        return true;  // a model we do not know: no colour, the block is skipped
    }
    if (!block.take(2)) return fail("no colour type");

    auto name = decodeName(*nameBytes);
    if (!name || name->empty()) {
        double r = 0, g = 0, b = 0;
        color->getRed(&r, &g, &b, nullptr);
        name = Foundation::format("#%02X%02X%02X", channelByte(r), channelByte(g), channelByte(b));
    }
    std::string key = freeName(std::move(*name));
    colorNames.push_back(key);
    colorList.push_back(color);
    colors->setColor(color, key);
    return true;
}

std::string RPCAdobeSwatchExchange::freeName(std::string name) {
    if (takenNames_.insert(name).second) return name;
    long& n = nextSuffix_.try_emplace(name, 1).first->second;
    for (;; ++n) {
        std::string candidate = name + Foundation::format(" %ld", n);
        if (takenNames_.insert(candidate).second) return candidate;
    }
}
