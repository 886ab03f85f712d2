#include <gtest/gtest.h>

#include <functional>

#include <nlohmann/json.hpp>

#include "DAVFieldTestSupport.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Model/DAVStartServiceLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurTestSupport.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/PropertyList.h"

namespace {

using DAVTest::makeDevice;

constexpr double kTime = 1700000000.123;  // 2023-11-14T22:13:20.123Z

std::shared_ptr<DAVLogWithProperties> makeLogWithProperties() {
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setTimestamp(Foundation::Date{kTime});
    log->setSid("6A5D0C6C-0B1A-4C4D-9B5E-1F2E3D4C5B6A");
    log->setDistributionGroupId("group-1");
    log->setUserId("alice");
    log->setDevice(makeDevice());
    log->properties.set("colour", Foundation::Value("#FF8800"));
    log->properties.set("format", Foundation::Value("hex"));
    return log;
}

TEST(LogJson, BaseKeysComeInOrderWithUtcMillisecondsAndNoTagOrTokens) {
    auto log = makeLogWithProperties();
    log->setTag(std::make_shared<int>(7));
    log->addTransmissionTargetToken("key-secret-token");
    log->device()->wrapperSdkName = "wrapper.sdk";
    log->device()->wrapperSdkVersion = "2.0";

    const std::string expected =
        R"J({"type":"event","timestamp":"2023-11-14T22:13:20.123Z","sid":"6A5D0C6C-0B1A-4C4D-9B5E-1F2E3D4C5B6A",)J"
        R"J("distributionGroupId":"group-1","userId":"alice","device":{"wrapperSdkVersion":"2.0",)J"
        R"J("wrapperSdkName":"wrapper.sdk","sdkName":"deravedur.macos","sdkVersion":"4.1.1","model":"ThinkPad X1",)J"
        R"J("oemName":"LENOVO","osName":"Debian GNU/Linux","osVersion":"12","osBuild":"6.1.0-18-amd64",)J"
        R"J("locale":"en_GB","timeZoneOffset":60,"appVersion":"1.0.0","appBuild":"42",)J"
        R"J("appNamespace":"com.tarnwick.vexil"},"properties":{"colour":"#FF8800","format":"hex"}})J";
    EXPECT_EQ(log->serializeLogWithPrettyPrinting(false), expected);
    auto pretty = log->serializeLogWithPrettyPrinting(true);
    ASSERT_TRUE(pretty);
    EXPECT_NE(pretty->find("\n  \"type\": \"event\",\n"), std::string::npos);
    EXPECT_EQ(pretty->find("key-secret-token"), std::string::npos);
}

TEST(LogJson, UnsetFieldsAndEmptyPropertiesAreLeftOut) {
    DAVLogWithProperties log;
    log.setType("event");
    EXPECT_EQ(log.serializeLogWithPrettyPrinting(false), R"J({"type":"event"})J");

    DAVStartServiceLog start;
    start.setTimestamp(Foundation::Date{0.5});
    start.services = std::vector<std::string>{"Crashes", "Analytics"};
    EXPECT_EQ(start.serializeLogWithPrettyPrinting(false),
              R"J({"type":"startService","timestamp":"1970-01-01T00:00:00.500Z","services":["Crashes","Analytics"]})J");
    DAVAbstractLog* startLog = &start;
    DAVAbstractLog* plainLog = &log;
    EXPECT_NE(dynamic_cast<DAVNoAutoAssignSessionIdLog*>(startLog), nullptr);
    EXPECT_EQ(dynamic_cast<DAVNoAutoAssignSessionIdLog*>(plainLog), nullptr);
}

TEST(LogValidity, TheFirstMissingFieldIsNamedAtVerbose) {
    struct Case {
        const char* name;
        std::function<void(DAVLogWithProperties&)> change;
        const char* message;  // nullptr: valid
    };
    const Case cases[] = {
        {"complete", [](DAVLogWithProperties&) {}, nullptr},
        {"no type", [](DAVLogWithProperties& l) { l.setType(std::nullopt); },
         "DAVLogWithProperties: \"type\" is not valid."},
        {"no timestamp", [](DAVLogWithProperties& l) { l.setTimestamp(std::nullopt); },
         "DAVLogWithProperties: \"timestamp\" is not valid."},
        {"no device", [](DAVLogWithProperties& l) { l.setDevice(nullptr); },
         "DAVLogWithProperties: \"device\" is not valid."},
        {"no session or user", [](DAVLogWithProperties& l) { l.setSid(std::nullopt), l.setUserId(std::nullopt); },
         nullptr},
        {"device without appBuild", [](DAVLogWithProperties& l) { l.device()->appBuild.reset(); },
         "DAVDevice: \"appBuild\" is not valid."},
        {"device without locale and appBuild",
         [](DAVLogWithProperties& l) { l.device()->appBuild.reset(), l.device()->locale.reset(); },
         "DAVDevice: \"locale\" is not valid."},
        {"device without timeZoneOffset", [](DAVLogWithProperties& l) { l.device()->timeZoneOffset.reset(); },
         "DAVDevice: \"timeZoneOffset\" is not valid."},
    };
    for (const Case& c : cases) {
        DAVTest::MessageRecorder recorder;
        auto log = makeLogWithProperties();
        c.change(*log);
        EXPECT_EQ(log->isValid(), c.message == nullptr) << c.name;
        if (c.message) {
            ASSERT_FALSE(recorder.messages().empty()) << c.name;
            EXPECT_EQ(recorder.messages().front().text, c.message) << c.name;
            EXPECT_EQ(recorder.messages().front().level, DAVLogLevelVerbose) << c.name;
        }
    }
}

TEST(LogEquality, ComparesFieldsAndTagButNotTokens) {
    auto a = makeLogWithProperties();
    auto b = makeLogWithProperties();
    EXPECT_TRUE(a->isEqual(*b));
    b->addTransmissionTargetToken("t-1");
    EXPECT_TRUE(a->isEqual(*b));
    b->properties.set("format", Foundation::Value("rgb"));
    EXPECT_FALSE(a->isEqual(*b));
    auto c = makeLogWithProperties();
    c->setTag(std::make_shared<int>(1));
    EXPECT_FALSE(a->isEqual(*c));
    c->device()->model = "Other";
    c->setTag(nullptr);
    EXPECT_FALSE(a->isEqual(*c));

    // Tokens are held once each.
    a->addTransmissionTargetToken("x");
    a->addTransmissionTargetToken("x");
    EXPECT_EQ(a->transmissionTargetTokens(), (std::set<std::string>{"x"}));
}

// --- Common Schema ------------------------------------------------------------

TEST(CommonSchema, OneLogPerTokenWithItsOwnIKey) {
    auto log = makeLogWithProperties();
    EXPECT_TRUE(log->toCommonSchemaLogsWithFlags(DAVFlagsNormal).empty());

    log->addTransmissionTargetToken("aaa-111");
    log->addTransmissionTargetToken("bbb-222");
    auto converted = log->toCommonSchemaLogsWithFlags(DAVFlagsCritical);
    ASSERT_EQ(converted.size(), 2u);
    std::set<std::string> iKeys;
    for (const auto& cs : converted) {
        ASSERT_EQ(cs->transmissionTargetTokens().size(), 1u);
        const std::string token = *cs->transmissionTargetTokens().begin();
        EXPECT_EQ(cs->iKey, "o:" + token.substr(0, 3));
        iKeys.insert(*cs->iKey);
        EXPECT_EQ(cs->flags, 2);
    }
    EXPECT_EQ(iKeys, (std::set<std::string>{"o:aaa", "o:bbb"}));
}

TEST(CommonSchema, ConversionFillsTheExtensionsFromTheDevice) {
    auto log = makeLogWithProperties();
    auto cs = log->toCommonSchemaLogForTargetToken("key1-token", DAVFlagsNone);
    ASSERT_TRUE(cs);
    cs->name = "Color Picked";
    cs->popSample = 50;
    cs->cV = "cv-1";
    // The name is set by the event conversion; without it the log is not valid.
    EXPECT_TRUE(cs->isValid());

    const std::string expected =
        R"J({"ver":"3.0","name":"Color Picked","time":"2023-11-14T22:13:20.123Z","iKey":"o:key1",)J"
        R"J("ext":{"protocol":{"devMake":"LENOVO","devModel":"ThinkPad X1"},"user":{"localId":"c:alice","locale":"en-GB"},)J"
        R"J("device":{},"os":{"name":"Debian GNU/Linux","ver":"Version 12 (Build 6.1.0-18-amd64)"},)J"
        R"J("app":{"id":"I:com.tarnwick.vexil","ver":"1.0.0","locale":"en"},"net":{},)J"
        R"J("sdk":{"libVer":"deravedur.macos-4.1.1"},"loc":{"tz":"+01:00"}}})J";
    EXPECT_EQ(cs->serializeLogWithPrettyPrinting(false), expected);

    cs->flags = 1;
    cs->data = std::make_shared<DAVCSData>();
    cs->data->properties["colour"] = "#FF8800";
    cs->data->properties["baseData"] = {{"k", 1}};
    cs->data->properties["baseType"] = "custom";
    auto json = Foundation::toJSON(cs->serializeToDictionary());
    EXPECT_EQ(json["flags"], 1);
    EXPECT_EQ(json["data"].dump(), R"J({"baseType":"custom","baseData":{"k":1},"colour":"#FF8800"})J");
    EXPECT_FALSE(json.contains("popSample"));
    EXPECT_FALSE(json.contains("cV"));
    EXPECT_FALSE(json.contains("type"));
}

TEST(CommonSchema, ValidityNeedsTimestampVerAndNameButNoDevice) {
    DAVCommonSchemaLog cs;
    DAVTest::MessageRecorder recorder;
    EXPECT_FALSE(cs.isValid());
    cs.setTimestamp(Foundation::Date{1});
    EXPECT_FALSE(cs.isValid());
    cs.ver = "3.0";
    EXPECT_FALSE(cs.isValid());
    cs.name = "n";
    EXPECT_TRUE(cs.isValid());
    auto messages = recorder.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].text, "DAVCommonSchemaLog: \"timestamp\" is not valid.");
    EXPECT_EQ(messages[1].text, "DAVCommonSchemaLog: \"ver\" is not valid.");
    EXPECT_EQ(messages[2].text, "DAVCommonSchemaLog: \"name\" is not valid.");
}

TEST(CommonSchema, TimeZoneAndOsVersionTexts) {
    const std::pair<std::int64_t, const char*> zones[] = {
        {120, "+02:00"}, {-210, "-03:30"}, {0, "+00:00"},   {-30, "-00:30"},  {-1, "-00:01"},
        {-59, "-00:59"}, {59, "+00:59"},   {345, "+05:45"}, {-600, "-10:00"}, {840, "+14:00"},
    };
    for (const auto& [minutes, text] : zones) EXPECT_EQ(DAVTimeZoneOffsetText(minutes), text) << minutes;

    EXPECT_EQ(DAVOSVersionText("12", std::nullopt), "Version 12");
    EXPECT_EQ(DAVOSVersionText("12", "6.1"), "Version 12 (Build 6.1)");
    EXPECT_EQ(DAVOSVersionText("", "6.1"), "Version unknown (Build 6.1)");
    EXPECT_EQ(DAVOSVersionText("", ""), std::nullopt);
    EXPECT_EQ(DAVOSVersionText(std::nullopt, std::nullopt), std::nullopt);
}

TEST(CommonSchema, ALogWithoutDeviceOrUserStillConverts) {
    DAVAbstractLog log;
    log.setTimestamp(Foundation::Date{2});
    auto cs = log.toCommonSchemaLogForTargetToken("k-t", DAVFlagsNormal);
    ASSERT_TRUE(cs && cs->ext);
    auto ext = Foundation::toJSON(cs->ext->serializeToDictionary());
    EXPECT_FALSE(ext["user"].contains("localId"));
    EXPECT_FALSE(ext["app"].contains("id"));
    EXPECT_FALSE(ext["sdk"].contains("libVer"));
}

// --- archiving ------------------------------------------------------------------

template <class T>
std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object) {
    return DAVTest::archiveRoundTrip(object);
}

TEST(LogArchive, EveryLogKindRoundTripsWithoutTagOrTokens) {
    auto properties = makeLogWithProperties();
    properties->device()->wrapperSdkName = "wrapper";
    properties->device()->osApiLevel = 31;
    properties->addTransmissionTargetToken("a-b");
    auto propertiesBack = roundTrip(properties);
    ASSERT_TRUE(propertiesBack);
    EXPECT_TRUE(propertiesBack->isEqual(*properties));
    EXPECT_TRUE(propertiesBack->transmissionTargetTokens().empty());
    EXPECT_EQ(propertiesBack->serializeLogWithPrettyPrinting(false), properties->serializeLogWithPrettyPrinting(false));

    properties->setTag(std::make_shared<int>(3));
    auto untagged = roundTrip(properties);
    ASSERT_TRUE(untagged);
    EXPECT_EQ(untagged->tag(), nullptr);

    auto base = std::make_shared<DAVAbstractLog>();
    base->setType("custom");
    base->setTimestamp(Foundation::Date{kTime});
    auto baseBack = roundTrip(base);
    ASSERT_TRUE(baseBack);
    EXPECT_TRUE(baseBack->isEqual(*base));

    auto start = std::make_shared<DAVStartServiceLog>();
    start->setTimestamp(Foundation::Date{kTime});
    start->setDevice(makeDevice());
    start->services = std::vector<std::string>{"Analytics"};
    auto startBack = roundTrip(start);
    ASSERT_TRUE(startBack);
    EXPECT_TRUE(startBack->isEqual(*start));

    auto cs = makeLogWithProperties()->toCommonSchemaLogForTargetToken("key-tok", DAVFlagsCritical);
    cs->name = "Color Picked";
    cs->popSample = 12.5;
    cs->cV = "vector";
    cs->data = std::make_shared<DAVCSData>();
    cs->data->properties["baseType"] = "t";
    cs->data->properties["n"] = {{"x", nullptr}, {"y", 1.5}, {"z", {1, 2}}};
    cs->ext->metadataExt = std::make_shared<DAVMetadataExtension>();
    cs->ext->metadataExt->metadata["f"] = {{"n", 4}};
    cs->ext->protocolExt->ticketKeys = std::vector<std::string>{"t1", "t2"};
    cs->ext->sdkExt->seq = 7;
    cs->ext->sdkExt->installId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    auto csBack = roundTrip(cs);
    ASSERT_TRUE(csBack);
    EXPECT_TRUE(csBack->isEqual(*cs));
    EXPECT_EQ(csBack->popSample, 12.5);
    EXPECT_EQ(csBack->cV, "vector");
    EXPECT_TRUE(csBack->transmissionTargetTokens().empty());
    EXPECT_EQ(Foundation::toJSON(csBack->serializeToDictionary()), Foundation::toJSON(cs->serializeToDictionary()));
}

// Every field of every extension: its JSON key in order, the keys of its
// archive record in the same order, and a round trip that leaves unset fields
// unset.
TEST(LogArchive, EveryCommonSchemaExtensionFieldKeepsItsKeyOrderAndRoundTrips) {
    auto ext = std::make_shared<DAVCSExtensions>();
    ext->metadataExt = std::make_shared<DAVMetadataExtension>();
    ext->metadataExt->metadata["f"] = {{"n", 4}};
    ext->protocolExt = std::make_shared<DAVProtocolExtension>();
    ext->protocolExt->ticketKeys = std::vector<std::string>{"t1", "t2"};
    ext->protocolExt->devMake = "LENOVO";
    ext->protocolExt->devModel = "ThinkPad X1";
    ext->userExt = std::make_shared<DAVUserExtension>();
    ext->userExt->localId = "c:alice";
    ext->userExt->locale = "en-GB";
    ext->deviceExt = std::make_shared<DAVDeviceExtension>();
    ext->deviceExt->localId = "d:42";
    ext->osExt = std::make_shared<DAVOSExtension>();
    ext->osExt->name = "Debian GNU/Linux";
    ext->osExt->ver = "Version 12";
    ext->appExt = std::make_shared<DAVAppExtension>();
    ext->appExt->appId = "I:com.tarnwick.vexil";
    ext->appExt->ver = "1.0.0";
    ext->appExt->name = "Vexil";
    ext->appExt->locale = "en";
    ext->appExt->userId = "c:alice";
    ext->netExt = std::make_shared<DAVNetExtension>();
    ext->netExt->provider = "carrier";
    ext->sdkExt = std::make_shared<DAVSDKExtension>();
    ext->sdkExt->libVer = "deravedur.macos-4.1.1";
    ext->sdkExt->epoch = "epoch-1";
    ext->sdkExt->seq = 7;
    ext->sdkExt->installId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    ext->locExt = std::make_shared<DAVLocExtension>();
    ext->locExt->tz = "+01:00";

    EXPECT_EQ(
        Foundation::toJSON(ext->serializeToDictionary()).dump(),
        R"J({"metadata":{"f":{"n":4}},"protocol":{"ticketKeys":["t1","t2"],"devMake":"LENOVO",)J"
        R"J("devModel":"ThinkPad X1"},"user":{"localId":"c:alice","locale":"en-GB"},"device":{"localId":"d:42"},)J"
        R"J("os":{"name":"Debian GNU/Linux","ver":"Version 12"},"app":{"id":"I:com.tarnwick.vexil","ver":"1.0.0",)J"
        R"J("name":"Vexil","locale":"en","userId":"c:alice"},"net":{"provider":"carrier"},)J"
        R"J("sdk":{"libVer":"deravedur.macos-4.1.1","epoch":"epoch-1","seq":7,)J"
        R"J("installId":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"},"loc":{"tz":"+01:00"}})J");

    auto data = DAVUtility::archiveKeyedData(Foundation::Value(ext));
    ASSERT_TRUE(data);
    auto plist = Foundation::valueFromPropertyList(*data);
    ASSERT_TRUE(plist && plist->isDictionary());
    std::map<std::string, std::vector<std::string>> recordKeys;
    for (const auto& record : plist->asDictionary()["$objects"].asArray()) {
        std::vector<std::string> keys = record.asDictionary().keys();
        ASSERT_FALSE(keys.empty());
        EXPECT_EQ(keys.front(), "$class");
        recordKeys[record.asDictionary()["$class"].asString()] = {keys.begin() + 1, keys.end()};
    }
    using Keys = std::vector<std::string>;
    EXPECT_EQ(recordKeys["DAVCSExtensions"],
              (Keys{"metadata", "protocol", "user", "device", "os", "app", "net", "sdk", "loc"}));
    EXPECT_EQ(recordKeys["DAVProtocolExtension"], (Keys{"ticketKeys", "devMake", "devModel"}));
    EXPECT_EQ(recordKeys["DAVUserExtension"], (Keys{"localId", "locale"}));
    EXPECT_EQ(recordKeys["DAVDeviceExtension"], (Keys{"localId"}));
    EXPECT_EQ(recordKeys["DAVOSExtension"], (Keys{"name", "ver"}));
    EXPECT_EQ(recordKeys["DAVAppExtension"], (Keys{"id", "ver", "name", "locale", "userId"}));
    EXPECT_EQ(recordKeys["DAVNetExtension"], (Keys{"provider"}));
    EXPECT_EQ(recordKeys["DAVSDKExtension"], (Keys{"libVer", "epoch", "seq", "installId"}));
    EXPECT_EQ(recordKeys["DAVLocExtension"], (Keys{"tz"}));
    EXPECT_EQ(recordKeys["DAVMetadataExtension"], (Keys{"metadata"}));

    auto back = roundTrip(ext);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*ext));
    EXPECT_EQ(Foundation::toJSON(back->serializeToDictionary()), Foundation::toJSON(ext->serializeToDictionary()));

    // Unset fields come back unset (no empty texts, no zero sequence number).
    auto empty = std::make_shared<DAVCSExtensions>();
    empty->protocolExt = std::make_shared<DAVProtocolExtension>();
    empty->userExt = std::make_shared<DAVUserExtension>();
    empty->deviceExt = std::make_shared<DAVDeviceExtension>();
    empty->osExt = std::make_shared<DAVOSExtension>();
    empty->appExt = std::make_shared<DAVAppExtension>();
    empty->netExt = std::make_shared<DAVNetExtension>();
    empty->sdkExt = std::make_shared<DAVSDKExtension>();
    empty->locExt = std::make_shared<DAVLocExtension>();
    auto emptyBack = roundTrip(empty);
    ASSERT_TRUE(emptyBack);
    EXPECT_EQ(Foundation::toJSON(emptyBack->serializeToDictionary()).dump(),
              R"J({"protocol":{},"user":{},"device":{},"os":{},"app":{},"net":{},"sdk":{},"loc":{}})J");
    EXPECT_FALSE(emptyBack->protocolExt->ticketKeys.has_value());
    EXPECT_FALSE(emptyBack->sdkExt->seq.has_value());
}

// An archived class of an older release, under its old name.
class OldNamedLog : public Foundation::Coding {
public:
    std::string className() const override { return "MSLogWithProperties"; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override {
        coder.encode("type", Foundation::Value("event"));
        coder.encode("properties", Foundation::Value(Foundation::Dictionary{{"k", Foundation::Value("v")}}));
    }
};

TEST(LogArchive, MigratedClassNamesAndCorruptDataAreHandled) {
    auto old = Foundation::KeyedArchiver::archivedData(Foundation::Value(std::make_shared<OldNamedLog>()));
    ASSERT_TRUE(old);
    DAVTest::MessageRecorder recorder;
    EXPECT_TRUE(DAVUtility::unarchiveKeyedData(*old).isNull());
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelError, "Unarchiving NSData failed with error: "));

    DAVUtility::addMigrationClasses({{"MSLogWithProperties", "DAVLogWithProperties"}});
    Foundation::Value migrated = DAVUtility::unarchiveKeyedData(*old);
    ASSERT_TRUE(migrated.isObject());
    auto log = std::dynamic_pointer_cast<DAVLogWithProperties>(migrated.asObject());
    ASSERT_TRUE(log);
    EXPECT_EQ(log->type(), "event");
    EXPECT_EQ(log->properties["k"].asString(), "v");

    const Foundation::Data garbage{0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xff, 0x00};
    EXPECT_TRUE(DAVUtility::unarchiveKeyedData(garbage).isNull());
    Foundation::Data truncated(old->begin(), old->begin() + static_cast<long>(old->size() / 2));
    EXPECT_TRUE(DAVUtility::unarchiveKeyedData(truncated).isNull());
    EXPECT_EQ(DAVUtility::archiveKeyedData(Foundation::Value()), std::nullopt);
}

}  // namespace

// --- every field of the device record ---------------------------------------------

namespace {

std::shared_ptr<DAVDevice> fullDevice() {
    auto device = std::make_shared<DAVDevice>();
    device->wrapperSdkVersion = "w1";
    device->wrapperSdkName = "w2";
    device->wrapperRuntimeVersion = "w3";
    device->liveUpdateReleaseLabel = "w4";
    device->liveUpdateDeploymentKey = "w5";
    device->liveUpdatePackageHash = "w6";
    device->sdkName = "d1";
    device->sdkVersion = "d2";
    device->model = "d3";
    device->oemName = "d4";
    device->osName = "d5";
    device->osVersion = "d6";
    device->osBuild = "d7";
    device->osApiLevel = 31;
    device->locale = "d9";
    device->timeZoneOffset = -120;
    device->screenSize = "d11";
    device->appVersion = "d12";
    device->carrierName = "d13";
    device->carrierCountry = "d14";
    device->appBuild = "d15";
    device->appNamespace = "d16";
    return device;
}

// Clears one field by its JSON key.
using DeviceFieldClear = std::pair<const char*, std::function<void(DAVDevice&)>>;
const std::vector<DeviceFieldClear>& deviceFieldClears() {
    static const std::vector<DeviceFieldClear> clears = {
        {"wrapperSdkVersion", [](DAVDevice& d) { d.wrapperSdkVersion.reset(); }},
        {"wrapperSdkName", [](DAVDevice& d) { d.wrapperSdkName.reset(); }},
        {"wrapperRuntimeVersion", [](DAVDevice& d) { d.wrapperRuntimeVersion.reset(); }},
        {"liveUpdateReleaseLabel", [](DAVDevice& d) { d.liveUpdateReleaseLabel.reset(); }},
        {"liveUpdateDeploymentKey", [](DAVDevice& d) { d.liveUpdateDeploymentKey.reset(); }},
        {"liveUpdatePackageHash", [](DAVDevice& d) { d.liveUpdatePackageHash.reset(); }},
        {"sdkName", [](DAVDevice& d) { d.sdkName.reset(); }},
        {"sdkVersion", [](DAVDevice& d) { d.sdkVersion.reset(); }},
        {"model", [](DAVDevice& d) { d.model.reset(); }},
        {"oemName", [](DAVDevice& d) { d.oemName.reset(); }},
        {"osName", [](DAVDevice& d) { d.osName.reset(); }},
        {"osVersion", [](DAVDevice& d) { d.osVersion.reset(); }},
        {"osBuild", [](DAVDevice& d) { d.osBuild.reset(); }},
        {"osApiLevel", [](DAVDevice& d) { d.osApiLevel.reset(); }},
        {"locale", [](DAVDevice& d) { d.locale.reset(); }},
        {"timeZoneOffset", [](DAVDevice& d) { d.timeZoneOffset.reset(); }},
        {"screenSize", [](DAVDevice& d) { d.screenSize.reset(); }},
        {"appVersion", [](DAVDevice& d) { d.appVersion.reset(); }},
        {"carrierName", [](DAVDevice& d) { d.carrierName.reset(); }},
        {"carrierCountry", [](DAVDevice& d) { d.carrierCountry.reset(); }},
        {"appBuild", [](DAVDevice& d) { d.appBuild.reset(); }},
        {"appNamespace", [](DAVDevice& d) { d.appNamespace.reset(); }},
    };
    return clears;
}

}  // namespace

TEST(DeviceFields, GoldenJsonHasEveryKeyInOrder) {
    EXPECT_EQ(Foundation::toJSON(fullDevice()->serializeToDictionary()).dump(),
              R"({"wrapperSdkVersion":"w1","wrapperSdkName":"w2","wrapperRuntimeVersion":"w3",)"
              R"("liveUpdateReleaseLabel":"w4","liveUpdateDeploymentKey":"w5","liveUpdatePackageHash":"w6",)"
              R"("sdkName":"d1","sdkVersion":"d2","model":"d3","oemName":"d4","osName":"d5","osVersion":"d6",)"
              R"("osBuild":"d7","osApiLevel":31,"locale":"d9","timeZoneOffset":-120,"screenSize":"d11",)"
              R"("appVersion":"d12","carrierName":"d13","carrierCountry":"d14","appBuild":"d15",)"
              R"("appNamespace":"d16"})");
    EXPECT_EQ(Foundation::toJSON(std::make_shared<DAVDevice>()->serializeToDictionary()).dump(), "{}");
}

// Each field alone: it counts for equality, it survives the archive, and once
// unset it stays unset across the archive.
TEST(DeviceFields, EveryFieldCountsForEqualityAndSurvivesTheArchive) {
    auto full = fullDevice();
    auto fullBack = roundTrip(full);
    ASSERT_TRUE(fullBack);
    EXPECT_TRUE(fullBack->isEqual(*full));
    EXPECT_EQ(Foundation::toJSON(fullBack->serializeToDictionary()), Foundation::toJSON(full->serializeToDictionary()));
    for (const auto& [key, clear] : deviceFieldClears()) {
        SCOPED_TRACE(key);
        auto partial = fullDevice();
        clear(*partial);
        EXPECT_FALSE(partial->isEqual(*full));
        EXPECT_FALSE(full->isEqual(*partial));
        EXPECT_FALSE(partial->serializeToDictionary().asDictionary().contains(key));
        auto back = roundTrip(partial);
        ASSERT_TRUE(back);
        EXPECT_TRUE(back->isEqual(*partial));
        EXPECT_EQ(Foundation::toJSON(back->serializeToDictionary()),
                  Foundation::toJSON(partial->serializeToDictionary()));

        auto only = std::make_shared<DAVDevice>();
        auto single = fullDevice();
        for (const auto& [otherKey, otherClear] : deviceFieldClears())
            if (std::string(otherKey) != key) otherClear(*single);
        EXPECT_EQ(single->serializeToDictionary().asDictionary().size(), 1u);
        auto singleBack = roundTrip(single);
        ASSERT_TRUE(singleBack);
        EXPECT_TRUE(singleBack->isEqual(*single));
        EXPECT_FALSE(singleBack->isEqual(*only));
    }
    auto wrapper = std::make_shared<DAVWrapperSdk>("a", "b", "c", "d", "e", "f");
    auto wrapperBack = roundTrip(wrapper);
    ASSERT_TRUE(wrapperBack);
    EXPECT_TRUE(wrapperBack->isEqual(*wrapper));
    EXPECT_EQ(Foundation::toJSON(wrapperBack->serializeToDictionary()).dump(),
              R"({"wrapperSdkVersion":"a","wrapperSdkName":"b","wrapperRuntimeVersion":"c",)"
              R"("liveUpdateReleaseLabel":"d","liveUpdateDeploymentKey":"e","liveUpdatePackageHash":"f"})");
    EXPECT_FALSE(wrapper->isEqual(*fullDevice()));
}

// --- every field of the base and Common Schema logs ---------------------------------

namespace {

std::shared_ptr<DAVAbstractLog> fullBaseLog() {
    auto log = std::make_shared<DAVAbstractLog>();
    log->setType("custom");
    log->setTimestamp(Foundation::Date{kTime});
    log->setSid("S1");
    log->setDistributionGroupId("group-1");
    log->setUserId("alice");
    log->setDevice(makeDevice());
    return log;
}

// Every field set, the base log's own included.
std::shared_ptr<DAVCommonSchemaLog> fullCommonSchemaLog() {
    auto log = std::make_shared<DAVCommonSchemaLog>();
    log->setType("cs");
    log->setTimestamp(Foundation::Date{kTime});
    log->setSid("S1");
    log->setDistributionGroupId("group-1");
    log->setUserId("alice");
    log->setDevice(makeDevice());
    log->ver = "3.0";
    log->name = "Color Picked";
    log->popSample = 12.5;
    log->iKey = "o:key";
    log->flags = 2;
    log->cV = "vector";
    log->ext = std::make_shared<DAVCSExtensions>();
    log->ext->locExt = std::make_shared<DAVLocExtension>();
    log->ext->locExt->tz = "+01:00";
    log->data = std::make_shared<DAVCSData>();
    log->data->properties["baseType"] = "t";
    log->data->properties["n"] = 0.1;
    return log;
}

}  // namespace

TEST(LogFields, GoldenJsonOfBaseAndCommonSchemaLogs) {
    const std::string device = Foundation::toJSON(makeDevice()->serializeToDictionary()).dump();
    EXPECT_EQ(fullBaseLog()->serializeLogWithPrettyPrinting(false),
              R"J({"type":"custom","timestamp":"2023-11-14T22:13:20.123Z","sid":"S1",)J"
              R"J("distributionGroupId":"group-1","userId":"alice","device":)J" +
                  device + "}");
    EXPECT_EQ(DAVAbstractLog().serializeLogWithPrettyPrinting(false), "{}");

    // None of the base keys but the timestamp, as "time"; no "popSample" or "cV".
    EXPECT_EQ(fullCommonSchemaLog()->serializeLogWithPrettyPrinting(false),
              R"J({"ver":"3.0","name":"Color Picked","time":"2023-11-14T22:13:20.123Z","iKey":"o:key",)J"
              R"J("flags":2,"ext":{"loc":{"tz":"+01:00"}},"data":{"baseType":"t","n":0.1}})J");
    EXPECT_EQ(DAVCommonSchemaLog().serializeLogWithPrettyPrinting(false), "{}");
    DAVCommonSchemaLog wide;
    wide.flags = -9007199254740993;
    wide.setTimestamp(Foundation::Date{0.0006});
    EXPECT_EQ(wide.serializeLogWithPrettyPrinting(false),
              R"J({"time":"1970-01-01T00:00:00.001Z","flags":-9007199254740993})J");
}

TEST(LogFields, ArchiveRecordsKeepTheirKeysInOrder) {
    using Keys = std::vector<std::string>;
    const Keys base{"type", "timestamp", "sid", "distributionGroupId", "userId", "device"};
    EXPECT_EQ(DAVTest::archivedRecordKeys(Foundation::Value(fullBaseLog()))["DAVAbstractLog"], base);
    EXPECT_EQ(DAVTest::archivedRecordKeys(Foundation::Value(std::make_shared<DAVAbstractLog>()))["DAVAbstractLog"],
              Keys{});

    Keys cs = base;
    cs.insert(cs.end(), {"ver", "name", "popSample", "iKey", "flags", "cV", "ext", "data"});
    EXPECT_EQ(DAVTest::archivedRecordKeys(Foundation::Value(fullCommonSchemaLog()))["DAVCommonSchemaLog"], cs);
    // The sampling rate and the flags are written even when they hold their defaults.
    EXPECT_EQ(
        DAVTest::archivedRecordKeys(Foundation::Value(std::make_shared<DAVCommonSchemaLog>()))["DAVCommonSchemaLog"],
        (Keys{"popSample", "flags"}));
    auto plain = DAVTest::archiveRoundTrip(std::make_shared<DAVCommonSchemaLog>());
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->popSample, 100);
    EXPECT_EQ(plain->flags, 0);
}

TEST(LogFields, EveryFieldOfBaseAndCommonSchemaLogsCountsAndSurvivesTheArchive) {
    {
        SCOPED_TRACE("DAVAbstractLog");
        using L = DAVAbstractLog;
        DAVTest::checkFieldChanges<L>(
            fullBaseLog,
            {
                {"type", [](L& l) { l.setType(std::nullopt); }, "type"},
                {"timestamp", [](L& l) { l.setTimestamp(std::nullopt); }, "timestamp"},
                {"timestamp later", [](L& l) { l.setTimestamp(Foundation::Date{kTime + 1e-5}); }, nullptr},
                {"sid", [](L& l) { l.setSid(std::nullopt); }, "sid"},
                {"distributionGroupId", [](L& l) { l.setDistributionGroupId(std::nullopt); }, "distributionGroupId"},
                {"userId", [](L& l) { l.setUserId(std::nullopt); }, "userId"},
                {"device", [](L& l) { l.setDevice(nullptr); }, "device"},
                {"device field", [](L& l) { l.device()->model = "Other"; }, nullptr},
            });
    }
    {
        SCOPED_TRACE("DAVCommonSchemaLog");
        using L = DAVCommonSchemaLog;
        DAVTest::checkFieldChanges<L>(
            fullCommonSchemaLog,
            {
                {"type", [](L& l) { l.setType(std::nullopt); }, nullptr},
                {"timestamp", [](L& l) { l.setTimestamp(std::nullopt); }, "time"},
                {"sid", [](L& l) { l.setSid(std::nullopt); }, nullptr},
                {"distributionGroupId", [](L& l) { l.setDistributionGroupId(std::nullopt); }, nullptr},
                {"userId", [](L& l) { l.setUserId(std::nullopt); }, nullptr},
                {"device", [](L& l) { l.setDevice(nullptr); }, nullptr},
                {"ver", [](L& l) { l.ver.reset(); }, "ver"},
                {"name", [](L& l) { l.name.reset(); }, "name"},
                {"popSample", [](L& l) { l.popSample = 100; }, nullptr},
                {"popSample fraction", [](L& l) { l.popSample = 0.1; }, nullptr},
                {"iKey", [](L& l) { l.iKey.reset(); }, "iKey"},
                {"flags", [](L& l) { l.flags = 0; }, "flags"},
                {"cV", [](L& l) { l.cV.reset(); }, nullptr},
                {"ext", [](L& l) { l.ext.reset(); }, "ext"},
                {"ext field", [](L& l) { l.ext->locExt->tz = "-03:30"; }, nullptr},
                {"data", [](L& l) { l.data.reset(); }, "data"},
                {"data field", [](L& l) { l.data->properties["n"] = 0.2; }, nullptr},
            });
    }
}
