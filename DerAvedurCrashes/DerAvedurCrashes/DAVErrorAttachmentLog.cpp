#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorAttachmentLog.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"
#include "Platform/Foundation/Text.h"

using namespace DAVModelSupport;
using namespace DAVErrorModelSupport;

DAVErrorAttachmentLog::DAVErrorAttachmentLog() : attachmentId(Foundation::makeUUIDString()) {
    setType("errorAttachment");
}

DAVErrorAttachmentLog::DAVErrorAttachmentLog(std::optional<std::string> filename_, Foundation::Data attachmentBinary,
                                             std::optional<std::string> contentType_)
    : DAVErrorAttachmentLog() {
    filename = std::move(filename_);
    data = std::move(attachmentBinary);
    contentType = std::move(contentType_);
}

DAVErrorAttachmentLog::DAVErrorAttachmentLog(std::optional<std::string> filename_, const std::string& attachmentText)
    : DAVErrorAttachmentLog(std::move(filename_), Foundation::Data(attachmentText.begin(), attachmentText.end()),
                            std::string("text/plain")) {}

std::shared_ptr<DAVErrorAttachmentLog> DAVErrorAttachmentLog::attachmentWithText(const std::string& text,
                                                                                 std::optional<std::string> filename) {
    return std::make_shared<DAVErrorAttachmentLog>(std::move(filename), text);
}

std::shared_ptr<DAVErrorAttachmentLog> DAVErrorAttachmentLog::attachmentWithBinary(
    Foundation::Data data, std::optional<std::string> filename, std::optional<std::string> contentType) {
    return std::make_shared<DAVErrorAttachmentLog>(std::move(filename), std::move(data), std::move(contentType));
}

nlohmann::ordered_json DAVErrorAttachmentLog::serializeToDictionary() const {
    nlohmann::ordered_json json = DAVAbstractLog::serializeToDictionary();
    setIfPresent(json, "id", attachmentId);
    setIfPresent(json, "errorId", errorId);
    setIfPresent(json, "contentType", contentType);
    setIfPresent(json, "fileName", filename);
    if (data) json["data"] = Foundation::base64Encode(*data);
    return json;
}

bool DAVErrorAttachmentLog::isValid() const {
    if (!DAVAbstractLog::isValid()) return false;
    const RequiredField fields[] = {{"errorId", errorId.has_value()},
                                    {"attachmentId", attachmentId.has_value()},
                                    {"data", data.has_value()},
                                    {"contentType", contentType.has_value()}};
    return checkRequired(className(), fields);
}

bool DAVErrorAttachmentLog::isEqual(const DAVAbstractLog& other) const {
    if (!DAVAbstractLog::isEqual(other)) return false;
    const auto& log = static_cast<const DAVErrorAttachmentLog&>(other);
    return attachmentId == log.attachmentId && errorId == log.errorId && contentType == log.contentType &&
           filename == log.filename && data == log.data;
}

void DAVErrorAttachmentLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    encodeIfPresent(coder, "id", attachmentId);
    encodeIfPresent(coder, "errorId", errorId);
    encodeIfPresent(coder, "contentType", contentType);
    encodeIfPresent(coder, "fileName", filename);
    if (data) coder.encode("data", Foundation::Value(*data));
}

void DAVErrorAttachmentLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    attachmentId = coder.decodeStringForKey("id");
    errorId = coder.decodeStringForKey("errorId");
    contentType = coder.decodeStringForKey("contentType");
    filename = coder.decodeStringForKey("fileName");
    Foundation::Value bytes = coder.decodeObjectForKey("data");
    data = bytes.isData() ? std::optional<Foundation::Data>(bytes.asData()) : std::nullopt;
}
