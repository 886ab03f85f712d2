#pragma once
#include <memory>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"

// A file sent along with an error report ("errorAttachment").
class DAVErrorAttachmentLog : public DAVAbstractLog {
public:
    // A new random attachment id.
    DAVErrorAttachmentLog();
    DAVErrorAttachmentLog(std::optional<std::string> filename, Foundation::Data attachmentBinary,
                          std::optional<std::string> contentType);
    // The text as UTF-8, content type "text/plain".
    DAVErrorAttachmentLog(std::optional<std::string> filename, const std::string& attachmentText);

    static std::shared_ptr<DAVErrorAttachmentLog> attachmentWithText(const std::string& text,
                                                                     std::optional<std::string> filename);
    static std::shared_ptr<DAVErrorAttachmentLog> attachmentWithBinary(Foundation::Data data,
                                                                       std::optional<std::string> filename,
                                                                       std::optional<std::string> contentType);

    std::optional<std::string> attachmentId;  // required
    std::optional<std::string> errorId;       // required
    std::optional<std::string> contentType;   // required
    std::optional<std::string> filename;      // JSON "fileName"
    std::optional<Foundation::Data> data;     // required; base64 in JSON

    std::string className() const override { return "DAVErrorAttachmentLog"; }
    Foundation::Value serializeToDictionary() const override;
    bool isValid() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
