#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVCrashesCodingClasses.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorAttachmentLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAppleErrorLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVHandledErrorLog.h"
#include "Platform/Foundation/Dispatch.h"

void DAVRegisterCrashesCodingClasses() {
    static Foundation::OnceFlag flag;
    Foundation::once(flag, [] {
        using namespace DAVModelSupport;
        registerCodingClass<DAVAbstractErrorLog>("DAVAbstractErrorLog");
        registerCodingClass<DAVAppleErrorLog>("DAVAppleErrorLog");
        registerCodingClass<DAVHandledErrorLog>("DAVHandledErrorLog");
        registerCodingClass<DAVErrorAttachmentLog>("DAVErrorAttachmentLog");
        registerCodingClass<DAVThread>("DAVThread");
        registerCodingClass<DAVStackFrame>("DAVStackFrame");
        registerCodingClass<DAVBinary>("DAVBinary");
        registerCodingClass<DAVException>("DAVException");
    });
}
