#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorAttachmentLog.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"
#include "Platform/Foundation/Text.h"

using namespace DAVModelFields;
using DAVErrorModelSupport::checkRequired;
using DAVErrorModelSupport::RequiredField;

namespace {

// After the base log's own fields, which its table holds.
const Field<DAVErrorAttachmentLog> kAttachmentFields[] = {
    {"id", &DAVErrorAttachmentLog::attachmentId},
    {"errorId", &DAVErrorAttachmentLog::errorId},
    {"contentType", &DAVErrorAttachmentLog::contentType},
    {"fileName", &DAVErrorAttachmentLog::filename},
    {"data", &DAVErrorAttachmentLog::data},
};

}  // namespace

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

Foundation::Value DAVErrorAttachmentLog::serializeToDictionary() const {
    Foundation::Value value = DAVAbstractLog::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    appendFields(json, *this, kAttachmentFields);
    return value;
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
    return DAVAbstractLog::isEqual(other) &&
           fieldsEqual(*this, static_cast<const DAVErrorAttachmentLog&>(other), kAttachmentFields);
}

void DAVErrorAttachmentLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    encodeFields(coder, *this, kAttachmentFields);
}

void DAVErrorAttachmentLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    decodeFields(coder, *this, kAttachmentFields);
}
