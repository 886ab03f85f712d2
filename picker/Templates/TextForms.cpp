#include "picker/Templates/TextForms.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace Templates {

namespace {

// Shortest round-trip digits and decimal exponent (value = 0.d1d2d3... e exp10+1).
struct Digits {
    std::string digits;  // no leading zeros, no dot
    int exponent = 0;    // scientific exponent of the first digit
};

template <class F>
Digits shortestDigits(F v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string s(buf, res.ptr);
    // s looks like "d.ddde+XX" or "de-XX"
    Digits d;
    auto e = s.find('e');
    std::string mant = s.substr(0, e);
    d.exponent = std::stoi(s.substr(e + 1));
    for (char c : mant)
        if (c != '.') d.digits += c;
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

std::string formatDigits(bool negative, const Digits& d, bool exponential) {
    std::string out = negative ? "-" : "";
    if (exponential) {
        out += d.digits[0];
        if (d.digits.size() > 1) {
            out += '.';
            out += d.digits.substr(1);
        }
        out += 'e';
        out += d.exponent < 0 ? '-' : '+';
        int ex = std::abs(d.exponent);
        if (ex < 10) out += '0';
        out += std::to_string(ex);
        return out;
    }
    if (d.exponent < 0) {
        out += "0.";
        out += std::string(static_cast<size_t>(-d.exponent - 1), '0');
        out += d.digits;
        return out;
    }
    size_t intDigits = static_cast<size_t>(d.exponent) + 1;
    if (d.digits.size() <= intDigits) {
        out += d.digits;
        out += std::string(intDigits - d.digits.size(), '0');
        out += ".0";
    } else {
        out += d.digits.substr(0, intDigits);
        out += '.';
        out += d.digits.substr(intDigits);
    }
    return out;
}

std::string dateText(Foundation::Date date) {
    double secs = std::floor(date.secondsSince1970);
    if (!(secs > -1e15 && secs < 1e15)) return numberText(date.secondsSince1970);
    std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return numberText(date.secondsSince1970);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d +0000", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string collectionText(const Value& value) {
    if (const auto* a = value.arrayOrNull()) {
        std::string s = "[";
        bool first = true;
        for (const auto& v : *a) {
            if (!first) s += ", ";
            first = false;
            s += debugForm(v);
        }
        return s + "]";
    }
    const auto& d = value.asDictionary();
    if (d.empty()) return "[:]";
    std::string s = "[";
    bool first = true;
    for (const auto& [k, v] : d) {
        if (!first) s += ", ";
        first = false;
        s += quotedText(k);
        s += ": ";
        s += debugForm(v);
    }
    return s + "]";
}

}  // namespace

std::string numberText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
    bool negative = value < 0;
    double mag = std::fabs(value);
    float f = static_cast<float>(mag);
    bool isFloat = std::isfinite(f) && static_cast<double>(f) == mag;
    Digits d = isFloat ? shortestDigits(f) : shortestDigits(mag);
    double limit = isFloat ? 16777216.0 : 9007199254740992.0;
    bool exponential = mag >= limit || d.exponent < -4;
    return formatDigits(negative, d, exponential);
}

std::string quotedText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '\0':
                out += "\\0";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\'':
                out += "\\'";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    // The platform writes other ASCII controls as two upper-case hex digits.
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%02X}", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string textualForm(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null:
            return "nil";
        case Value::Type::Bool:
            return value.asBool() ? "true" : "false";
        case Value::Type::Int:
            return std::to_string(value.asInt());
        case Value::Type::Double:
            return numberText(value.asDouble());
        case Value::Type::String:
            return value.asString();
        case Value::Type::Data:
            return std::to_string(value.asData().size()) + " bytes";
        case Value::Type::Date:
            return dateText(value.asDate());
        case Value::Type::Array:
        case Value::Type::Dictionary:
            return collectionText(value);
        case Value::Type::Object:
            return value.asObject() ? "<" + value.asObject()->className() + ">" : "nil";
    }
    return "";
}

std::string debugForm(const Value& value) {
    if (const auto* s = value.stringOrNull()) return quotedText(*s);
    return textualForm(value);
}

std::string optionalForm(const Value& value) {
    if (value.isNull()) return "nil";
    return "Optional(" + debugForm(value) + ")";
}

}  // namespace Templates
