// The error-log model: golden JSON of every kind, validity with the message
// naming the first missing field, equality and archive round trips.
#include <gtest/gtest.h>

#include <functional>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/DAVFieldTestSupport.h"
#include "DerAvedur/DerAvedur/DerAvedurTestSupport.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorAttachmentLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorReport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAppleErrorLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVCrashesCodingClasses.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVHandledErrorLog.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr double kTime = 1700000000.123;  // 2023-11-14T22:13:20.123Z

std::shared_ptr<DAVDevice> shortDevice() {
    auto device = std::make_shared<DAVDevice>();
    device->sdkName = "deravedur.macos";
    device->sdkVersion = "4.1.1";
    return device;
}

std::shared_ptr<DAVStackFrame> frame(const std::string& address, std::optional<std::string> code = std::nullopt) {
    auto f = std::make_shared<DAVStackFrame>();
    f->address = address;
    f->code = std::move(code);
    return f;
}

std::shared_ptr<DAVException> exception(const std::string& type, const std::string& message) {
    auto e = std::make_shared<DAVException>();
    e->type = type;
    e->message = message;
    e->frames = std::vector<std::shared_ptr<DAVStackFrame>>{frame("0x10")};
    return e;
}

// Every field set, nested objects included.
std::shared_ptr<DAVAppleErrorLog> fullAppleErrorLog() {
    auto log = std::make_shared<DAVAppleErrorLog>();
    log->setTimestamp(Foundation::Date{kTime});
    log->setSid("S1");
    log->setUserId("alice");
    log->setDevice(shortDevice());
    log->errorId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    log->processId = 4242;
    log->processName = "vexil";
    log->parentProcessId = 1;
    log->parentProcessName = "systemd";
    log->errorThreadId = 4243;
    log->errorThreadName = "worker";
    log->fatal = true;
    log->appLaunchTimestamp = Foundation::Date{1699999990.5};
    log->architecture = "x86_64";
    log->primaryArchitectureId = 16777223;
    log->architectureVariantId = 3;
    log->applicationPath = "/usr/bin/vexil";
    log->osExceptionType = "SIGSEGV";
    log->osExceptionCode = "SEGV_MAPERR";
    log->osExceptionAddress = "0x0000000000000000";
    log->exceptionType = "std::runtime_error";
    log->exceptionReason = "boom";
    log->selectorRegisterValue = "copy:";

    auto full = std::make_shared<DAVStackFrame>();
    full->address = "0x0000000000401000";
    full->code = "crash_here";
    full->frameClassName = "Picker";
    full->methodName = "pick";
    full->lineNumber = 12;
    full->fileName = "Picker.cpp";
    auto thread = std::make_shared<DAVThread>();
    thread->threadId = 4243;
    thread->name = "worker";
    thread->frames = std::vector<std::shared_ptr<DAVStackFrame>>{full, frame("0x0000000000401100")};
    thread->exception = exception("inner", "in thread");
    log->threads = std::vector<std::shared_ptr<DAVThread>>{thread};

    auto binary = std::make_shared<DAVBinary>();
    binary->binaryId = "0badc0de";
    binary->startAddress = "0x0000000000400000";
    binary->endAddress = "0x0000000000400fff";
    binary->name = "vexil";
    binary->path = "/usr/bin/vexil";
    binary->architecture = "x86_64";
    binary->primaryArchitectureId = 16777223;
    binary->architectureVariantId = 3;
    log->binaries = std::vector<std::shared_ptr<DAVBinary>>{binary};

    log->registers = Foundation::Dictionary{{"rip", Foundation::Value("0x0000000000401000")},
                                            {"rax", Foundation::Value("0x0000000000000000")}};
    auto top = exception("std::runtime_error", "boom");
    top->stackTrace = "trace";
    top->wrapperSdkName = "wrapper";
    top->innerExceptions = std::vector<std::shared_ptr<DAVException>>{exception("cause", "first")};
    log->exception = top;
    return log;
}

TEST(ErrorLogJson, AppleErrorLogWritesEveryKeyInOrderWithNestedObjects) {
    const std::string expected =
        R"J({"type":"appleError","timestamp":"2023-11-14T22:13:20.123Z","sid":"S1","userId":"alice",)J"
        R"J("device":{"sdkName":"deravedur.macos","sdkVersion":"4.1.1"},)J"
        R"J("id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","processId":4242,"processName":"vexil",)J"
        R"J("parentProcessId":1,"parentProcessName":"systemd","errorThreadId":4243,"errorThreadName":"worker",)J"
        R"J("fatal":true,"appLaunchTimestamp":"2023-11-14T22:13:10.500Z","architecture":"x86_64",)J"
        R"J("primaryArchitectureId":16777223,"architectureVariantId":3,"applicationPath":"/usr/bin/vexil",)J"
        R"J("osExceptionType":"SIGSEGV","osExceptionCode":"SEGV_MAPERR","osExceptionAddress":"0x0000000000000000",)J"
        R"J("exceptionType":"std::runtime_error","exceptionReason":"boom","selectorRegisterValue":"copy:",)J"
        R"J("threads":[{"id":4243,"name":"worker","frames":[{"address":"0x0000000000401000","code":"crash_here",)J"
        R"J("className":"Picker","methodName":"pick","lineNumber":12,"fileName":"Picker.cpp"},)J"
        R"J({"address":"0x0000000000401100"}],"exception":{"type":"inner","message":"in thread",)J"
        R"J("frames":[{"address":"0x10"}]}}],)J"
        R"J("binaries":[{"id":"0badc0de","startAddress":"0x0000000000400000","endAddress":"0x0000000000400fff",)J"
        R"J("name":"vexil","path":"/usr/bin/vexil","architecture":"x86_64","primaryArchitectureId":16777223,)J"
        R"J("architectureVariantId":3}],)J"
        R"J("registers":{"rip":"0x0000000000401000","rax":"0x0000000000000000"},)J"
        R"J("exception":{"type":"std::runtime_error","message":"boom","stackTrace":"trace","wrapperSdkName":"wrapper",)J"
        R"J("frames":[{"address":"0x10"}],"innerExceptions":[{"type":"cause","message":"first",)J"
        R"J("frames":[{"address":"0x10"}]}]}})J";
    EXPECT_EQ(fullAppleErrorLog()->serializeLogWithPrettyPrinting(false), expected);
}

TEST(ErrorLogJson, UnsetKeysAreLeftOutButFatalIsAlwaysWritten) {
    DAVAppleErrorLog log;
    EXPECT_EQ(log.serializeLogWithPrettyPrinting(false), R"J({"type":"appleError","fatal":false})J");
    log.threads = std::vector<std::shared_ptr<DAVThread>>{};
    log.registers = Foundation::Dictionary{};
    EXPECT_EQ(log.serializeLogWithPrettyPrinting(false),
              R"J({"type":"appleError","fatal":false,"threads":[],"registers":{}})J");
}

TEST(ErrorLogJson, HandledErrorAndAttachment) {
    DAVHandledErrorLog handled;
    handled.setTimestamp(Foundation::Date{kTime});
    handled.errorId = "H1";
    handled.exception = exception("Model", "bad");
    EXPECT_EQ(handled.serializeLogWithPrettyPrinting(false),
              R"J({"type":"handledError","timestamp":"2023-11-14T22:13:20.123Z","id":"H1",)J"
              R"J("exception":{"type":"Model","message":"bad","frames":[{"address":"0x10"}]}})J");
    // Validated properties travel after the base keys.
    handled.properties.set("k", Foundation::Value("v"));
    EXPECT_EQ(Foundation::toJSON(handled.serializeToDictionary())["properties"]["k"], "v");

    auto text = DAVErrorAttachmentLog::attachmentWithText("grüße", std::string("notes.txt"));
    EXPECT_TRUE(Foundation::isUUIDString(*text->attachmentId));
    EXPECT_EQ(text->contentType, "text/plain");
    EXPECT_EQ(text->data, (Foundation::Data{'g', 'r', 0xc3, 0xbc, 0xc3, 0x9f, 'e'}));
    text->attachmentId = "A1";
    text->errorId = "E1";
    EXPECT_EQ(text->serializeLogWithPrettyPrinting(false),
              R"J({"type":"errorAttachment","id":"A1","errorId":"E1","contentType":"text/plain",)J"
              R"J("fileName":"notes.txt","data":"Z3LDvMOfZQ=="})J");

    auto binary = DAVErrorAttachmentLog::attachmentWithBinary({0xff, 0x00, 0xfe}, std::nullopt,
                                                              std::string("application/octet-stream"));
    EXPECT_NE(binary->attachmentId, DAVErrorAttachmentLog().attachmentId);
    binary->attachmentId = "A2";
    EXPECT_EQ(binary->serializeLogWithPrettyPrinting(false),
              R"J({"type":"errorAttachment","id":"A2","contentType":"application/octet-stream","data":"/wD+"})J");
}

// --- validity -----------------------------------------------------------------------

template <class T>
struct ValidityCase {
    const char* name;
    std::function<void(T&)> change;
    const char* message;  // nullptr: valid
};

template <class T>
void checkValidity(const std::function<std::shared_ptr<T>()>& make, const std::vector<ValidityCase<T>>& cases) {
    for (const auto& c : cases) {
        DAVTest::MessageRecorder recorder;
        auto object = make();
        c.change(*object);
        EXPECT_EQ(object->isValid(), c.message == nullptr) << c.name;
        if (c.message) {
            ASSERT_EQ(recorder.messages().size(), 1u) << c.name;
            EXPECT_EQ(recorder.messages()[0].text, c.message) << c.name;
            EXPECT_EQ(recorder.messages()[0].level, DAVLogLevelVerbose) << c.name;
            // The base log's own test speaks with the core's tag.
            const bool base = std::string(c.message).find("\"device\"") != std::string::npos;
            EXPECT_EQ(recorder.messages()[0].tag, base ? "DerAvedur" : "DerAvedurCrashes") << c.name;
        } else {
            EXPECT_TRUE(recorder.messages().empty()) << c.name;
        }
    }
}

std::shared_ptr<DAVAppleErrorLog> validAppleErrorLog() {
    auto log = fullAppleErrorLog();
    log->setDevice(DAVTest::makeDevice());
    return log;
}

TEST(ErrorLogValidity, AppleErrorLogNamesTheFirstMissingField) {
    using L = DAVAppleErrorLog;
    checkValidity<L>(
        validAppleErrorLog,
        {
            {"complete", [](L&) {}, nullptr},
            {"optional fields unset",
             [](L& l) {
                 l.threads.reset(), l.binaries.reset(), l.exception.reset(), l.registers.reset();
                 l.parentProcessId.reset(), l.architectureVariantId.reset(), l.fatal = false;
             },
             nullptr},
            // Nested objects are not part of the log's own test.
            {"thread without frames", [](L& l) { (*l.threads)[0]->frames->clear(); }, nullptr},
            {"base log first", [](L& l) { l.setDevice(nullptr), l.errorId.reset(); },
             "DAVAppleErrorLog: \"device\" is not valid."},
            {"errorId", [](L& l) { l.errorId.reset(), l.processName.reset(); },
             "DAVAppleErrorLog: \"errorId\" is not valid."},
            {"processId", [](L& l) { l.processId.reset(); }, "DAVAppleErrorLog: \"processId\" is not valid."},
            {"processName", [](L& l) { l.processName.reset(), l.applicationPath.reset(); },
             "DAVAppleErrorLog: \"processName\" is not valid."},
            {"primaryArchitectureId", [](L& l) { l.primaryArchitectureId.reset(); },
             "DAVAppleErrorLog: \"primaryArchitectureId\" is not valid."},
            {"applicationPath", [](L& l) { l.applicationPath.reset(), l.osExceptionType.reset(); },
             "DAVAppleErrorLog: \"applicationPath\" is not valid."},
            {"osExceptionType", [](L& l) { l.osExceptionType.reset(); },
             "DAVAppleErrorLog: \"osExceptionType\" is not valid."},
            {"osExceptionCode", [](L& l) { l.osExceptionCode.reset(); },
             "DAVAppleErrorLog: \"osExceptionCode\" is not valid."},
            {"osExceptionAddress", [](L& l) { l.osExceptionAddress.reset(); },
             "DAVAppleErrorLog: \"osExceptionAddress\" is not valid."},
        });
}

TEST(ErrorLogValidity, HandledErrorAndAttachmentNameTheirFields) {
    using H = DAVHandledErrorLog;
    auto handled = [] {
        auto log = std::make_shared<H>();
        log->setTimestamp(Foundation::Date{kTime});
        log->setDevice(DAVTest::makeDevice());
        log->errorId = "H1";
        log->exception = exception("Model", "bad");
        return log;
    };
    checkValidity<H>(handled, {
                                  {"complete", [](H&) {}, nullptr},
                                  {"errorId", [](H& l) { l.errorId.reset(), l.exception.reset(); },
                                   "DAVHandledErrorLog: \"errorId\" is not valid."},
                                  {"exception", [](H& l) { l.exception.reset(); },
                                   "DAVHandledErrorLog: \"exception\" is not valid."},
                              });

    using A = DAVErrorAttachmentLog;
    auto attachment = [] {
        auto log = A::attachmentWithText("x", std::nullopt);
        log->setTimestamp(Foundation::Date{kTime});
        log->setDevice(DAVTest::makeDevice());
        log->errorId = "E1";
        return log;
    };
    checkValidity<A>(attachment, {
                                     {"complete", [](A&) {}, nullptr},
                                     {"no file name", [](A& l) { l.filename.reset(); }, nullptr},
                                     {"errorId", [](A& l) { l.errorId.reset(), l.data.reset(); },
                                      "DAVErrorAttachmentLog: \"errorId\" is not valid."},
                                     {"attachmentId", [](A& l) { l.attachmentId.reset(), l.data.reset(); },
                                      "DAVErrorAttachmentLog: \"attachmentId\" is not valid."},
                                     {"data", [](A& l) { l.data.reset(), l.contentType.reset(); },
                                      "DAVErrorAttachmentLog: \"data\" is not valid."},
                                     {"contentType", [](A& l) { l.contentType.reset(); },
                                      "DAVErrorAttachmentLog: \"contentType\" is not valid."},
                                 });
}

TEST(ErrorLogValidity, NestedObjectsNameTheirFields) {
    auto thread = [] {
        auto t = std::make_shared<DAVThread>();
        t->threadId = 1;
        t->frames = std::vector<std::shared_ptr<DAVStackFrame>>{frame("0x1")};
        return t;
    };
    checkValidity<DAVThread>(
        thread, {
                    {"complete", [](DAVThread&) {}, nullptr},
                    {"threadId", [](DAVThread& t) { t.threadId.reset(); }, "DAVThread: \"threadId\" is not valid."},
                    {"empty frames", [](DAVThread& t) { t.frames->clear(); }, "DAVThread: \"frames\" is not valid."},
                    {"no frames", [](DAVThread& t) { t.frames.reset(); }, "DAVThread: \"frames\" is not valid."},
                });
    checkValidity<DAVException>(
        [] { return exception("T", "m"); },
        {
            {"complete", [](DAVException&) {}, nullptr},
            {"type", [](DAVException& e) { e.type.reset(), e.frames.reset(); }, "DAVException: \"type\" is not valid."},
            {"empty frames", [](DAVException& e) { e.frames->clear(); }, "DAVException: \"frames\" is not valid."},
        });
    auto binary = [] { return (*fullAppleErrorLog()->binaries)[0]; };
    checkValidity<DAVBinary>(
        binary,
        {
            {"complete", [](DAVBinary&) {}, nullptr},
            {"only required",
             [](DAVBinary& b) {
                 b.architecture.reset(), b.primaryArchitectureId.reset();
                 b.architectureVariantId.reset();
             },
             nullptr},
            {"binaryId", [](DAVBinary& b) { b.binaryId.reset(); }, "DAVBinary: \"binaryId\" is not valid."},
            {"startAddress", [](DAVBinary& b) { b.startAddress.reset(); }, "DAVBinary: \"startAddress\" is not valid."},
            {"endAddress", [](DAVBinary& b) { b.endAddress.reset(); }, "DAVBinary: \"endAddress\" is not valid."},
            {"name", [](DAVBinary& b) { b.name.reset(), b.path.reset(); }, "DAVBinary: \"name\" is not valid."},
            {"path", [](DAVBinary& b) { b.path.reset(); }, "DAVBinary: \"path\" is not valid."},
        });
    DAVTest::MessageRecorder recorder;
    EXPECT_TRUE(DAVStackFrame().isValid());
    EXPECT_TRUE(recorder.messages().empty());
}

// --- equality and archives ------------------------------------------------------------

template <class T>
std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object) {
    DAVRegisterCrashesCodingClasses();
    return DAVTest::archiveRoundTrip(object);
}

TEST(ErrorLogArchive, EveryKindRoundTripsToAnEqualLogWithTheSameJson) {
    auto apple = fullAppleErrorLog();
    auto appleBack = roundTrip(apple);
    ASSERT_TRUE(appleBack);
    EXPECT_TRUE(appleBack->isEqual(*apple));
    EXPECT_EQ(appleBack->serializeLogWithPrettyPrinting(false), apple->serializeLogWithPrettyPrinting(false));

    auto notFatal = std::make_shared<DAVAppleErrorLog>();
    notFatal->threads = std::vector<std::shared_ptr<DAVThread>>{};
    auto notFatalBack = roundTrip(notFatal);
    ASSERT_TRUE(notFatalBack);
    EXPECT_FALSE(notFatalBack->isFatal());
    ASSERT_TRUE(notFatalBack->threads);
    EXPECT_TRUE(notFatalBack->threads->empty());
    EXPECT_FALSE(notFatalBack->binaries);

    auto handled = std::make_shared<DAVHandledErrorLog>();
    handled->errorId = "H1";
    handled->exception = exception("Model", "bad");
    handled->properties.set("k", Foundation::Value("v"));
    auto handledBack = roundTrip(handled);
    ASSERT_TRUE(handledBack);
    EXPECT_TRUE(handledBack->isEqual(*handled));
    EXPECT_EQ(handledBack->serializeLogWithPrettyPrinting(false), handled->serializeLogWithPrettyPrinting(false));

    auto attachment = DAVErrorAttachmentLog::attachmentWithBinary({1, 2, 3}, std::string("a.bin"), std::string("x/y"));
    attachment->errorId = "E1";
    auto attachmentBack = roundTrip(attachment);
    ASSERT_TRUE(attachmentBack);
    EXPECT_TRUE(attachmentBack->isEqual(*attachment));
    EXPECT_EQ(attachmentBack->attachmentId, attachment->attachmentId);
}

TEST(ErrorLogEquality, EveryNestedFieldCounts) {
    const std::vector<std::function<void(DAVAppleErrorLog&)>> changes = {
        [](DAVAppleErrorLog& l) { l.fatal = false; },
        [](DAVAppleErrorLog& l) { l.appLaunchTimestamp.reset(); },
        [](DAVAppleErrorLog& l) { l.osExceptionCode = "SEGV_ACCERR"; },
        [](DAVAppleErrorLog& l) { (*(*l.threads)[0]->frames)[0]->lineNumber = 13; },
        [](DAVAppleErrorLog& l) { (*l.threads)[0]->exception.reset(); },
        [](DAVAppleErrorLog& l) { (*l.binaries)[0]->architectureVariantId = 8; },
        [](DAVAppleErrorLog& l) { l.registers->set("rip", Foundation::Value("0x1")); },
        [](DAVAppleErrorLog& l) { (*l.exception->innerExceptions)[0]->message = "other"; },
        [](DAVAppleErrorLog& l) { l.binaries.reset(); },
        [](DAVAppleErrorLog& l) { l.setSid(std::nullopt); },
    };
    auto reference = fullAppleErrorLog();
    EXPECT_TRUE(fullAppleErrorLog()->isEqual(*reference));
    for (std::size_t i = 0; i < changes.size(); ++i) {
        auto changed = fullAppleErrorLog();
        changes[i](*changed);
        EXPECT_FALSE(changed->isEqual(*reference)) << "change " << i;
        EXPECT_FALSE(reference->isEqual(*changed)) << "change " << i;
    }
    // Another kind with the same base fields is not equal.
    DAVHandledErrorLog handled;
    DAVAbstractLog& base = handled;
    EXPECT_FALSE(DAVAppleErrorLog().isEqual(base));
}

TEST(ErrorReport, AnAppKillIsSigkillInAnyCase) {
    auto report = [](std::optional<std::string> signal) {
        return DAVErrorReport("E1", std::nullopt, std::move(signal), std::nullopt, std::nullopt, std::nullopt,
                              std::nullopt, nullptr, 7);
    };
    EXPECT_TRUE(report("SIGKILL").isAppKill());
    EXPECT_TRUE(report("sigkill").isAppKill());
    EXPECT_TRUE(report("SigKill").isAppKill());
    EXPECT_FALSE(report("SIGSEGV").isAppKill());
    EXPECT_FALSE(report(std::nullopt).isAppKill());
    EXPECT_EQ(report("x").incidentIdentifier(), "E1");
    EXPECT_EQ(report("x").appProcessIdentifier(), 7u);
}

}  // namespace

// --- every field of the frame and binary records -------------------------------------

namespace {

template <class T>
using FieldClears = std::vector<std::pair<const char*, std::function<void(T&)>>>;

// Each field alone: it counts for equality, it survives the archive, and once
// unset it stays unset across the archive.
template <class T>
void checkEveryField(const std::function<std::shared_ptr<T>()>& makeFull, const FieldClears<T>& clears) {
    auto full = makeFull();
    auto fullBack = roundTrip(full);
    ASSERT_TRUE(fullBack);
    EXPECT_TRUE(fullBack->isEqual(*full));
    EXPECT_EQ(Foundation::toJSON(fullBack->serializeToDictionary()), Foundation::toJSON(full->serializeToDictionary()));
    EXPECT_EQ(full->serializeToDictionary().asDictionary().size(), clears.size());
    for (const auto& [key, clear] : clears) {
        SCOPED_TRACE(key);
        auto partial = makeFull();
        clear(*partial);
        EXPECT_FALSE(partial->isEqual(*full));
        EXPECT_FALSE(full->isEqual(*partial));
        EXPECT_FALSE(partial->serializeToDictionary().asDictionary().contains(key));
        auto back = roundTrip(partial);
        ASSERT_TRUE(back);
        EXPECT_TRUE(back->isEqual(*partial));
        EXPECT_EQ(Foundation::toJSON(back->serializeToDictionary()),
                  Foundation::toJSON(partial->serializeToDictionary()));

        auto single = makeFull();
        for (const auto& [otherKey, otherClear] : clears)
            if (std::string(otherKey) != key) otherClear(*single);
        EXPECT_EQ(single->serializeToDictionary().asDictionary().size(), 1u);
        auto singleBack = roundTrip(single);
        ASSERT_TRUE(singleBack);
        EXPECT_TRUE(singleBack->isEqual(*single));
        EXPECT_FALSE(singleBack->isEqual(T()));
    }
}

std::shared_ptr<DAVStackFrame> fullFrame() {
    auto f = std::make_shared<DAVStackFrame>();
    f->address = "0x10";
    f->code = "pick";
    f->frameClassName = "Picker";
    f->methodName = "pick";
    f->lineNumber = 42;
    f->fileName = "Picker.cpp";
    return f;
}

std::shared_ptr<DAVBinary> fullBinary() {
    auto b = std::make_shared<DAVBinary>();
    b->binaryId = "id";
    b->startAddress = "0x1000";
    b->endAddress = "0x2000";
    b->name = "vexil";
    b->path = "/usr/bin/vexil";
    b->architecture = "x86_64";
    b->primaryArchitectureId = 7;
    b->architectureVariantId = 3;
    return b;
}

}  // namespace

TEST(ErrorLogFields, GoldenJsonOfFrameAndBinaryHasEveryKeyInOrder) {
    EXPECT_EQ(Foundation::toJSON(fullFrame()->serializeToDictionary()).dump(),
              R"({"address":"0x10","code":"pick","className":"Picker","methodName":"pick",)"
              R"("lineNumber":42,"fileName":"Picker.cpp"})");
    EXPECT_EQ(Foundation::toJSON(fullBinary()->serializeToDictionary()).dump(),
              R"({"id":"id","startAddress":"0x1000","endAddress":"0x2000","name":"vexil",)"
              R"("path":"/usr/bin/vexil","architecture":"x86_64","primaryArchitectureId":7,)"
              R"("architectureVariantId":3})");
}

TEST(ErrorLogFields, EveryFrameAndBinaryFieldCountsAndSurvivesTheArchive) {
    {
        SCOPED_TRACE("DAVStackFrame");
        checkEveryField<DAVStackFrame>(fullFrame, {
                                                      {"address", [](DAVStackFrame& f) { f.address.reset(); }},
                                                      {"code", [](DAVStackFrame& f) { f.code.reset(); }},
                                                      {"className", [](DAVStackFrame& f) { f.frameClassName.reset(); }},
                                                      {"methodName", [](DAVStackFrame& f) { f.methodName.reset(); }},
                                                      {"lineNumber", [](DAVStackFrame& f) { f.lineNumber.reset(); }},
                                                      {"fileName", [](DAVStackFrame& f) { f.fileName.reset(); }},
                                                  });
    }
    {
        SCOPED_TRACE("DAVBinary");
        checkEveryField<DAVBinary>(fullBinary,
                                   {
                                       {"id", [](DAVBinary& b) { b.binaryId.reset(); }},
                                       {"startAddress", [](DAVBinary& b) { b.startAddress.reset(); }},
                                       {"endAddress", [](DAVBinary& b) { b.endAddress.reset(); }},
                                       {"name", [](DAVBinary& b) { b.name.reset(); }},
                                       {"path", [](DAVBinary& b) { b.path.reset(); }},
                                       {"architecture", [](DAVBinary& b) { b.architecture.reset(); }},
                                       {"primaryArchitectureId", [](DAVBinary& b) { b.primaryArchitectureId.reset(); }},
                                       {"architectureVariantId", [](DAVBinary& b) { b.architectureVariantId.reset(); }},
                                   });
    }
}

namespace {

std::shared_ptr<DAVException> fullException() {
    auto e = std::make_shared<DAVException>();
    e->type = "std::runtime_error";
    e->message = "bad";
    e->stackTrace = "trace";
    e->wrapperSdkName = "wrapper";
    e->frames = std::vector<std::shared_ptr<DAVStackFrame>>{fullFrame()};
    auto inner = std::make_shared<DAVException>();
    inner->type = "inner";
    e->innerExceptions = std::vector<std::shared_ptr<DAVException>>{inner};
    return e;
}

std::shared_ptr<DAVThread> fullThread() {
    auto t = std::make_shared<DAVThread>();
    t->threadId = 5;
    t->name = "main";
    t->frames = std::vector<std::shared_ptr<DAVStackFrame>>{fullFrame()};
    auto e = std::make_shared<DAVException>();
    e->type = "thrown";
    t->exception = e;
    return t;
}

}  // namespace

TEST(ErrorLogFields, GoldenJsonOfExceptionAndThreadHasEveryKeyInOrder) {
    const std::string frameJson = Foundation::toJSON(fullFrame()->serializeToDictionary()).dump();
    EXPECT_EQ(Foundation::toJSON(fullException()->serializeToDictionary()).dump(),
              R"({"type":"std::runtime_error","message":"bad","stackTrace":"trace","wrapperSdkName":"wrapper",)"
              R"("frames":[)" +
                  frameJson + R"(],"innerExceptions":[{"type":"inner"}]})");
    EXPECT_EQ(Foundation::toJSON(fullThread()->serializeToDictionary()).dump(),
              R"({"id":5,"name":"main","frames":[)" + frameJson + R"(],"exception":{"type":"thrown"}})");
}

TEST(ErrorLogFields, EveryExceptionAndThreadFieldCountsAndSurvivesTheArchive) {
    {
        SCOPED_TRACE("DAVException");
        checkEveryField<DAVException>(fullException,
                                      {
                                          {"type", [](DAVException& e) { e.type.reset(); }},
                                          {"message", [](DAVException& e) { e.message.reset(); }},
                                          {"stackTrace", [](DAVException& e) { e.stackTrace.reset(); }},
                                          {"wrapperSdkName", [](DAVException& e) { e.wrapperSdkName.reset(); }},
                                          {"frames", [](DAVException& e) { e.frames.reset(); }},
                                          {"innerExceptions", [](DAVException& e) { e.innerExceptions.reset(); }},
                                      });
    }
    {
        SCOPED_TRACE("DAVThread");
        checkEveryField<DAVThread>(fullThread, {
                                                   {"id", [](DAVThread& t) { t.threadId.reset(); }},
                                                   {"name", [](DAVThread& t) { t.name.reset(); }},
                                                   {"frames", [](DAVThread& t) { t.frames.reset(); }},
                                                   {"exception", [](DAVThread& t) { t.exception.reset(); }},
                                               });
    }
    // A nested difference counts too.
    auto other = fullThread();
    (*other->frames)[0]->lineNumber = 43;
    EXPECT_FALSE(other->isEqual(*fullThread()));
    auto otherException = fullException();
    (*otherException->innerExceptions)[0]->message = "m";
    EXPECT_FALSE(otherException->isEqual(*fullException()));
}

// --- every field of the error logs and the attachment ----------------------------------

namespace {

std::shared_ptr<DAVErrorAttachmentLog> fullAttachment() {
    auto log = DAVErrorAttachmentLog::attachmentWithBinary({0xff, 0x00, 0xfe, '/'}, std::string("a/b \"c\".bin"),
                                                           std::string("application/octet-stream"));
    log->attachmentId = "A1";
    log->errorId = "E1";
    log->setTimestamp(Foundation::Date{kTime});
    log->setSid("S1");
    log->setDistributionGroupId("group-1");
    log->setUserId("alice");
    log->setDevice(shortDevice());
    return log;
}

const std::vector<std::string> kBaseArchiveKeys{"type", "timestamp", "sid", "distributionGroupId", "userId", "device"};
const std::vector<std::string> kErrorArchiveKeys{"id",
                                                 "processId",
                                                 "processName",
                                                 "parentProcessId",
                                                 "parentProcessName",
                                                 "errorThreadId",
                                                 "errorThreadName",
                                                 "fatal",
                                                 "appLaunchTimestamp",
                                                 "architecture"};

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> keys;
    for (const auto& part : parts) keys.insert(keys.end(), part.begin(), part.end());
    return keys;
}

}  // namespace

TEST(ErrorLogFields, GoldenJsonOfAttachmentAndAbstractErrorLog) {
    EXPECT_EQ(fullAttachment()->serializeLogWithPrettyPrinting(false),
              R"J({"type":"errorAttachment","timestamp":"2023-11-14T22:13:20.123Z","sid":"S1",)J"
              R"J("distributionGroupId":"group-1","userId":"alice",)J"
              R"J("device":{"sdkName":"deravedur.macos","sdkVersion":"4.1.1"},"id":"A1","errorId":"E1",)J"
              R"J("contentType":"application/octet-stream","fileName":"a/b \"c\".bin","data":"/wD+Lw=="})J");

    DAVAbstractErrorLog error;
    error.processId = -1;
    error.errorThreadId = 9223372036854775807;
    error.appLaunchTimestamp = Foundation::Date{0.0015};
    EXPECT_EQ(error.serializeLogWithPrettyPrinting(false),
              R"J({"processId":-1,"errorThreadId":9223372036854775807,"fatal":false,)J"
              R"J("appLaunchTimestamp":"1970-01-01T00:00:00.002Z"})J");

    // Registers that are not texts stay out of the JSON.
    DAVAppleErrorLog apple;
    apple.registers = Foundation::Dictionary{{"rip", Foundation::Value("0x1")}, {"n", Foundation::Value(5)}};
    EXPECT_EQ(apple.serializeLogWithPrettyPrinting(false),
              R"J({"type":"appleError","fatal":false,"registers":{"rip":"0x1"}})J");
}

TEST(ErrorLogFields, ArchiveRecordsKeepTheirKeysInOrder) {
    DAVRegisterCrashesCodingClasses();
    auto full = fullAppleErrorLog();
    full->setDistributionGroupId("group-1");
    EXPECT_EQ(DAVTest::archivedRecordKeys(Foundation::Value(full))["DAVAppleErrorLog"],
              joined({kBaseArchiveKeys,
                      kErrorArchiveKeys,
                      {"primaryArchitectureId", "architectureVariantId", "applicationPath", "osExceptionType",
                       "osExceptionCode", "osExceptionAddress", "exceptionType", "exceptionReason",
                       "selectorRegisterValue", "threads", "binaries", "registers", "exception"}}));
    // "fatal" is written even when false.
    EXPECT_EQ(
        DAVTest::archivedRecordKeys(Foundation::Value(std::make_shared<DAVAbstractErrorLog>()))["DAVAbstractErrorLog"],
        (std::vector<std::string>{"fatal"}));
    EXPECT_EQ(DAVTest::archivedRecordKeys(Foundation::Value(fullAttachment()))["DAVErrorAttachmentLog"],
              joined({kBaseArchiveKeys, {"id", "errorId", "contentType", "fileName", "data"}}));

    // Registers are archived whole but only their texts come back.
    auto apple = std::make_shared<DAVAppleErrorLog>();
    apple->registers = Foundation::Dictionary{{"rip", Foundation::Value("0x1")}, {"n", Foundation::Value(5)}};
    auto back = DAVTest::archiveRoundTrip(apple);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->registers, (Foundation::Dictionary{{"rip", Foundation::Value("0x1")}}));
}

TEST(ErrorLogFields, EveryErrorLogAndAttachmentFieldCountsAndSurvivesTheArchive) {
    DAVRegisterCrashesCodingClasses();
    {
        SCOPED_TRACE("DAVAppleErrorLog");
        using L = DAVAppleErrorLog;
        DAVTest::checkFieldChanges<L>(
            fullAppleErrorLog,
            {
                {"type", [](L& l) { l.setType(std::nullopt); }, "type"},
                {"timestamp", [](L& l) { l.setTimestamp(std::nullopt); }, "timestamp"},
                {"sid", [](L& l) { l.setSid(std::nullopt); }, "sid"},
                {"userId", [](L& l) { l.setUserId(std::nullopt); }, "userId"},
                {"device", [](L& l) { l.setDevice(nullptr); }, "device"},
                {"id", [](L& l) { l.errorId.reset(); }, "id"},
                {"processId", [](L& l) { l.processId.reset(); }, "processId"},
                {"processName", [](L& l) { l.processName.reset(); }, "processName"},
                {"parentProcessId", [](L& l) { l.parentProcessId.reset(); }, "parentProcessId"},
                {"parentProcessName", [](L& l) { l.parentProcessName.reset(); }, "parentProcessName"},
                {"errorThreadId", [](L& l) { l.errorThreadId.reset(); }, "errorThreadId"},
                {"errorThreadName", [](L& l) { l.errorThreadName.reset(); }, "errorThreadName"},
                {"fatal", [](L& l) { l.fatal = false; }, nullptr},
                {"appLaunchTimestamp", [](L& l) { l.appLaunchTimestamp.reset(); }, "appLaunchTimestamp"},
                {"appLaunchTimestamp later", [](L& l) { l.appLaunchTimestamp = Foundation::Date{1699999990.5 + 1e-5}; },
                 nullptr},
                {"architecture", [](L& l) { l.architecture.reset(); }, "architecture"},
                {"primaryArchitectureId", [](L& l) { l.primaryArchitectureId.reset(); }, "primaryArchitectureId"},
                {"architectureVariantId", [](L& l) { l.architectureVariantId.reset(); }, "architectureVariantId"},
                {"applicationPath", [](L& l) { l.applicationPath.reset(); }, "applicationPath"},
                {"osExceptionType", [](L& l) { l.osExceptionType.reset(); }, "osExceptionType"},
                {"osExceptionCode", [](L& l) { l.osExceptionCode.reset(); }, "osExceptionCode"},
                {"osExceptionAddress", [](L& l) { l.osExceptionAddress.reset(); }, "osExceptionAddress"},
                {"exceptionType", [](L& l) { l.exceptionType.reset(); }, "exceptionType"},
                {"exceptionReason", [](L& l) { l.exceptionReason.reset(); }, "exceptionReason"},
                {"selectorRegisterValue", [](L& l) { l.selectorRegisterValue.reset(); }, "selectorRegisterValue"},
                {"threads", [](L& l) { l.threads.reset(); }, "threads"},
                {"threads empty", [](L& l) { l.threads->clear(); }, nullptr},
                {"binaries", [](L& l) { l.binaries.reset(); }, "binaries"},
                {"registers", [](L& l) { l.registers.reset(); }, "registers"},
                {"registers empty", [](L& l) { l.registers = Foundation::Dictionary{}; }, nullptr},
                {"exception", [](L& l) { l.exception.reset(); }, "exception"},
            });
    }
    {
        SCOPED_TRACE("DAVErrorAttachmentLog");
        using A = DAVErrorAttachmentLog;
        DAVTest::checkFieldChanges<A>(
            fullAttachment,
            {
                {"type", [](A& l) { l.setType(std::nullopt); }, "type"},
                {"timestamp", [](A& l) { l.setTimestamp(std::nullopt); }, "timestamp"},
                {"distributionGroupId", [](A& l) { l.setDistributionGroupId(std::nullopt); }, "distributionGroupId"},
                {"device", [](A& l) { l.setDevice(nullptr); }, "device"},
                {"id", [](A& l) { l.attachmentId.reset(); }, "id"},
                {"errorId", [](A& l) { l.errorId.reset(); }, "errorId"},
                {"contentType", [](A& l) { l.contentType.reset(); }, "contentType"},
                {"fileName", [](A& l) { l.filename.reset(); }, "fileName"},
                {"data", [](A& l) { l.data.reset(); }, "data"},
                {"data empty", [](A& l) { l.data = Foundation::Data{}; }, nullptr},
            });
    }
}
