#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/DerAvedurTestSupport.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVAnalyticsCodingClasses.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVEventLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVPageLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVStartSessionLog.h"
#include "Platform/Foundation/Json.h"

namespace {

constexpr double kTime = 1700000000.123;  // 2023-11-14T22:13:20.123Z

std::shared_ptr<DAVEventLog> makeEvent() {
    auto log = std::make_shared<DAVEventLog>();
    log->setTimestamp(Foundation::Date{kTime});
    log->setSid("S1");
    log->setDevice(DAVTest::makeDevice());
    log->name = "Color Picked";
    log->eventId = "E1";
    log->typedProperties = std::make_shared<DAVEventProperties>();
    log->typedProperties->setString("#FF8800", "colour");
    log->typedProperties->setBool(true, "shift");
    log->typedProperties->setInt64(42, "count");
    log->typedProperties->setDouble(0.5, "alpha");
    log->typedProperties->setDate(Foundation::Date{0.25}, "picked");
    return log;
}

TEST(AnalyticsLogJson, EventPageAndStartSessionLogs) {
    auto event = makeEvent();
    event->setDevice(nullptr);
    EXPECT_EQ(event->serializeLogWithPrettyPrinting(false),
              R"J({"type":"event","timestamp":"2023-11-14T22:13:20.123Z","sid":"S1","name":"Color Picked","id":"E1",)J"
              R"J("typedProperties":[{"type":"string","name":"colour","value":"#FF8800"},)J"
              R"J({"type":"boolean","name":"shift","value":true},{"type":"long","name":"count","value":42},)J"
              R"J({"type":"double","name":"alpha","value":0.5},)J"
              R"J({"type":"dateTime","name":"picked","value":"1970-01-01T00:00:00.250Z"}]})J");

    // Setting a key again replaces the value in place; empty typed properties are left out.
    event->typedProperties->setString("#000000", "colour");
    EXPECT_EQ(Foundation::toJSON(event->typedProperties->properties().front()->serializeToDictionary()).dump(),
              R"J({"type":"string","name":"colour","value":"#000000"})J");
    event->typedProperties = std::make_shared<DAVEventProperties>();
    EXPECT_EQ(
        event->serializeLogWithPrettyPrinting(false),
        R"J({"type":"event","timestamp":"2023-11-14T22:13:20.123Z","sid":"S1","name":"Color Picked","id":"E1"})J");

    DAVPageLog page;
    page.name = "Library";
    page.properties.set("folder", "History");
    EXPECT_EQ(page.serializeLogWithPrettyPrinting(false),
              R"J({"type":"page","properties":{"folder":"History"},"name":"Library"})J");

    DAVStartSessionLog start;
    start.setSid("S2");
    EXPECT_EQ(start.serializeLogWithPrettyPrinting(false), R"J({"type":"startSession","sid":"S2"})J");
}

TEST(AnalyticsLogJson, EventsNeedNameAndIdAndPropertiesRefuseBadInput) {
    DAVTest::MessageRecorder messages;
    auto event = makeEvent();
    EXPECT_TRUE(event->isValid());
    event->eventId.reset();
    EXPECT_FALSE(event->isValid());
    EXPECT_TRUE(messages.contains(DAVLogLevelVerbose, "DAVEventLog: \"id\" is not valid."));
    event->name.reset();
    EXPECT_FALSE(event->isValid());
    EXPECT_TRUE(messages.contains(DAVLogLevelVerbose, "DAVEventLog: \"name\" is not valid."));

    DAVEventProperties properties;
    properties.setString("x", "");
    properties.setDouble(std::numeric_limits<double>::quiet_NaN(), "nan");
    properties.setDouble(std::numeric_limits<double>::infinity(), "inf");
    EXPECT_TRUE(properties.isEmpty());
    EXPECT_TRUE(messages.contains(DAVLogLevelError, "Key must not be null or empty."));
    EXPECT_TRUE(messages.contains(DAVLogLevelError, "Double value for property 'nan' must be finite."));

    // Text values only from a string dictionary.
    DAVEventProperties strings(Foundation::Dictionary{{"a", "1"}, {"b", 2}, {"c", "3"}});
    ASSERT_EQ(strings.count(), 2u);
    EXPECT_EQ(strings.properties()[1]->name, "c");
}

TEST(AnalyticsLogArchive, EventAndPageLogsSurviveArchivingWithEveryPropertyKind) {
    DAVRegisterAnalyticsCodingClasses();
    auto event = makeEvent();
    event->properties.set("legacy", "yes");
    auto data = DAVUtility::archiveKeyedData(Foundation::Value(event));
    ASSERT_TRUE(data);
    Foundation::Value decoded = DAVUtility::unarchiveKeyedData(*data);
    ASSERT_TRUE(decoded.isObject());
    auto back = std::dynamic_pointer_cast<DAVEventLog>(decoded.asObject());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*event));
    EXPECT_EQ(back->serializeLogWithPrettyPrinting(false), event->serializeLogWithPrettyPrinting(false));

    back->typedProperties->setInt64(43, "count");
    EXPECT_FALSE(back->isEqual(*event));

    auto page = std::make_shared<DAVPageLog>();
    page->name = "Library";
    auto pageBack = DAVUtility::unarchiveKeyedData(*DAVUtility::archiveKeyedData(Foundation::Value(page)));
    ASSERT_TRUE(std::dynamic_pointer_cast<DAVPageLog>(pageBack.asObject()));
    EXPECT_TRUE(std::dynamic_pointer_cast<DAVPageLog>(pageBack.asObject())->isEqual(*page));
}

TEST(AnalyticsCommonSchema, EventNameAndPropertiesBecomeTheDataPartWithTypes) {
    DAVTest::MessageRecorder messages;
    auto event = makeEvent();
    event->typedProperties->setString("picker", "source.tool");
    event->typedProperties->setInt64(7, "source.screen");
    event->typedProperties->setString("clash", "source.tool.inner");  // "source.tool" is a value already
    event->typedProperties->setString("orphan", "baseType");          // no baseData
    event->addTransmissionTargetToken("tenant-secret");

    auto logs = event->toCommonSchemaLogsWithFlags(DAVFlagsCritical);
    ASSERT_EQ(logs.size(), 1u);
    nlohmann::ordered_json json = Foundation::toJSON(logs[0]->serializeToDictionary());
    EXPECT_EQ(json["name"], "Color Picked");
    EXPECT_EQ(json["iKey"], "o:tenant");
    EXPECT_EQ(json["flags"], 2);
    EXPECT_EQ(json["data"].dump(),
              R"J({"colour":"#FF8800","shift":true,"count":42,"alpha":0.5,"picked":"1970-01-01T00:00:00.250Z",)J"
              R"J("source":{"tool":"picker","screen":7}})J");
    EXPECT_EQ(json["ext"]["metadata"].dump(), R"J({"f":{"count":4,"alpha":6,"picked":9,"source":{"screen":4}}})J");
    EXPECT_TRUE(messages.containsPrefix(DAVLogLevelWarning, "Property key 'source.tool.inner'"));
    EXPECT_TRUE(messages.containsPrefix(DAVLogLevelWarning, "baseType needs both"));

    // Base type and data travel together, first in the data part.
    auto base = makeEvent();
    base->typedProperties = std::make_shared<DAVEventProperties>();
    base->typedProperties->setString("v", "note");
    base->typedProperties->setString("Custom", "baseType");
    base->typedProperties->setInt64(1, "baseData.level");
    base->addTransmissionTargetToken("tenant-secret");
    EXPECT_EQ(Foundation::toJSON(base->toCommonSchemaLogsWithFlags(DAVFlagsNormal)[0]->serializeToDictionary())["data"]
                  .dump(),
              R"J({"baseType":"Custom","baseData":{"level":1},"note":"v"})J");
}

}  // namespace
