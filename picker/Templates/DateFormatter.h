#pragma once
// A date formatter a template context can hold (the now tag formats with it):
// an ICU date pattern, a locale and a time zone.

#include <string>

#include "Platform/Foundation/Value.h"

namespace Templates {

class DateFormatter : public Foundation::Object {
public:
    // Empty locale or time zone: the process's current ones.
    explicit DateFormatter(std::string dateFormat, std::string localeIdentifier = "", std::string timeZone = "")
        : dateFormat_(std::move(dateFormat)),
          localeIdentifier_(std::move(localeIdentifier)),
          timeZone_(std::move(timeZone)) {}
    std::string className() const override { return "NSDateFormatter"; }
    Foundation::Value valueForKey(const std::string& key) const override;
    std::vector<std::string> fieldNames() const override { return {"dateFormat", "locale", "timeZone"}; }

    const std::string& dateFormat() const { return dateFormat_; }
    std::string stringFromDate(Foundation::Date date) const;

private:
    std::string dateFormat_;
    std::string localeIdentifier_;
    std::string timeZone_;
};

}  // namespace Templates
