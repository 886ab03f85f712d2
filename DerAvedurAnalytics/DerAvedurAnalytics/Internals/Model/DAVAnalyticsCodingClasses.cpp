#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVAnalyticsCodingClasses.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVEventLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVPageLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVStartSessionLog.h"
#include "Platform/Foundation/Dispatch.h"

void DAVRegisterAnalyticsCodingClasses() {
    static Foundation::OnceFlag flag;
    Foundation::once(flag, [] {
        DAVRegisterCoreCodingClasses();
        using namespace DAVModelSupport;
        registerCodingClass<DAVLogWithNameAndProperties>("DAVLogWithNameAndProperties");
        registerCodingClass<DAVEventLog>("DAVEventLog");
        registerCodingClass<DAVPageLog>("DAVPageLog");
        registerCodingClass<DAVStartSessionLog>("DAVStartSessionLog");
        registerCodingClass<DAVEventProperties>("DAVEventProperties");
        registerCodingClass<DAVTypedProperty>("DAVTypedProperty");
        registerCodingClass<DAVStringTypedProperty>("DAVStringTypedProperty");
        registerCodingClass<DAVBooleanTypedProperty>("DAVBooleanTypedProperty");
        registerCodingClass<DAVLongTypedProperty>("DAVLongTypedProperty");
        registerCodingClass<DAVDoubleTypedProperty>("DAVDoubleTypedProperty");
        registerCodingClass<DAVDateTimeTypedProperty>("DAVDateTimeTypedProperty");
    });
    // Archives written by earlier releases name the same classes.
    DAVUtility::addMigrationClasses({
        {"DAVSessionHistoryInfo", "DAVSessionHistoryInfo"},
        {"DAVAbstractLog", "DAVAbstractLog"},
        {"DAVEventLog", "DAVEventLog"},
        {"DAVPageLog", "DAVPageLog"},
        {"DAVEventProperties", "DAVEventProperties"},
        {"DAVLogWithNameAndProperties", "DAVLogWithNameAndProperties"},
        {"DAVBooleanTypedProperty", "DAVBooleanTypedProperty"},
        {"DAVDateTimeTypedProperty", "DAVDateTimeTypedProperty"},
        {"DAVDoubleTypedProperty", "DAVDoubleTypedProperty"},
        {"DAVLongTypedProperty", "DAVLongTypedProperty"},
        {"DAVStringTypedProperty", "DAVStringTypedProperty"},
        {"DAVTypedProperty", "DAVTypedProperty"},
        {"DAVStartSessionLog", "DAVStartSessionLog"},
    });
}
