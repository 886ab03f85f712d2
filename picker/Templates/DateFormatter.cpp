#include "picker/Templates/DateFormatter.h"

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <memory>

namespace Templates {

Foundation::Value DateFormatter::valueForKey(const std::string& key) const {
    if (key == "dateFormat") return Foundation::Value(dateFormat_);
    if (key == "locale") return Foundation::Value(localeIdentifier_);
    if (key == "timeZone") return Foundation::Value(timeZone_);
    return Foundation::Value();
}

std::string DateFormatter::stringFromDate(Foundation::Date date) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale =
        localeIdentifier_.empty() ? icu::Locale::getDefault() : icu::Locale::createFromName(localeIdentifier_.c_str());
    icu::SimpleDateFormat format(icu::UnicodeString::fromUTF8(dateFormat_), locale, status);
    if (U_FAILURE(status)) return "";
    if (!timeZone_.empty())
        format.adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone_)));
    icu::UnicodeString out;
    format.format(date.secondsSince1970 * 1000.0, out);
    std::string text;
    out.toUTF8String(text);
    return text;
}

}  // namespace Templates
