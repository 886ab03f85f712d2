#include "DerAvedur/DerAvedur/Shared/Context/DAVHistoryInfo.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCSModel.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVDevice.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Internals/Model/DAVStartServiceLog.h"
#include "Platform/Foundation/Dispatch.h"

void DAVRegisterCoreCodingClasses() {
    static Foundation::OnceFlag flag;
    Foundation::once(flag, [] {
        using namespace DAVModelSupport;
        registerCodingClass<DAVAbstractLog>("DAVAbstractLog");
        registerCodingClass<DAVLogWithProperties>("DAVLogWithProperties");
        registerCodingClass<DAVStartServiceLog>("DAVStartServiceLog");
        registerCodingClass<DAVWrapperSdk>("DAVWrapperSdk");
        registerCodingClass<DAVDevice>("DAVDevice");
        registerCodingClass<DAVCommonSchemaLog>("DAVCommonSchemaLog");
        registerCodingClass<DAVCSExtensions>("DAVCSExtensions");
        registerCodingClass<DAVMetadataExtension>("DAVMetadataExtension");
        registerCodingClass<DAVProtocolExtension>("DAVProtocolExtension");
        registerCodingClass<DAVUserExtension>("DAVUserExtension");
        registerCodingClass<DAVDeviceExtension>("DAVDeviceExtension");
        registerCodingClass<DAVOSExtension>("DAVOSExtension");
        registerCodingClass<DAVAppExtension>("DAVAppExtension");
        registerCodingClass<DAVNetExtension>("DAVNetExtension");
        registerCodingClass<DAVSDKExtension>("DAVSDKExtension");
        registerCodingClass<DAVLocExtension>("DAVLocExtension");
        registerCodingClass<DAVCSData>("DAVCSData");
        registerCodingClass<DAVDeviceHistoryInfo>("DAVDeviceHistoryInfo");
        registerCodingClass<DAVSessionHistoryInfo>("DAVSessionHistoryInfo");
        registerCodingClass<DAVUserIdHistoryInfo>("DAVUserIdHistoryInfo");
    });
}
