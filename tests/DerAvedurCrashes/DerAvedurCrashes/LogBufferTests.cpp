// The crash-time log buffer: slots and their files, what a crash writes, and
// how the next start reads it back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "DerAvedur/DerAvedur/DerAvedurTestSupport.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesLogBuffer.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVCrashesUtil.h"
#include "Platform/Foundation/Dispatch.h"

namespace fs = std::filesystem;

namespace {

std::shared_ptr<DAVLogWithProperties> makeLog(const std::string& name) {
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setTimestamp(Foundation::Date{1700000000});
    log->setDevice(DAVTest::makeDevice());
    log->properties.set("name", Foundation::Value(name));
    return log;
}

std::string nameOf(const std::shared_ptr<DAVAbstractLog>& log) {
    auto withProperties = std::dynamic_pointer_cast<DAVLogWithProperties>(log);
    return withProperties ? withProperties->properties["name"].asString() : std::string();
}

class LogBuffer : public ::testing::Test {
protected:
    void SetUp() override {
        executor_ = Foundation::TestExecutor::install();
        directory_ = *DAVUtility::fullURLForPathComponent(DAVCrashesUtil::logBufferDir());
        fs::remove_all(directory_);
        DAVCrashesUtil::resetDirectory();
        directory_ = *DAVUtility::fullURLForPathComponent(DAVCrashesUtil::logBufferDir());
        DAVCrashesLogBuffer::setup(directory_);
    }
    void TearDown() override { DAVCrashesLogBuffer::empty(); }

    std::size_t filesWithExtension(const std::string& extension, bool nonEmptyOnly) const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(directory_))
            if (entry.path().extension() == extension && (!nonEmptyOnly || entry.file_size() > 0)) ++count;
        return count;
    }

    std::unique_ptr<Foundation::TestExecutor> executor_;
    std::string directory_;
    DAVEncrypter encrypter_;
};

TEST_F(LogBuffer, SixtyFilesAreMadeOnceAndKeptAcrossSetups) {
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", false), 60u);
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", true), 0u);
    DAVCrashesLogBuffer::setup(directory_);
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", false), 60u);
}

TEST_F(LogBuffer, ACrashWritesThePendingLogsAndTheNextStartReadsThemBackOnce) {
    auto withToken = makeLog("first");
    withToken->addTransmissionTargetToken("key-secret-token");
    DAVCrashesLogBuffer::addLog(*withToken, "id-1", encrypter_);
    executor_->advance(1);
    DAVCrashesLogBuffer::addLog(*makeLog("stored"), "id-2", encrypter_);
    executor_->advance(1);
    DAVCrashesLogBuffer::addLog(*makeLog("second"), "id-3", encrypter_);
    // The second log reached the store: its slot is free again.
    DAVCrashesLogBuffer::removeLog("id-2");
    EXPECT_EQ(DAVCrashesLogBuffer::bufferedCount(), 2u);

    // Nothing reaches the files before a crash.
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", true), 0u);
    DAVCrashesLogBuffer::writeAtCrash();
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", true), 2u);
    EXPECT_EQ(filesWithExtension(".targettoken", false), 1u);
    // The token is not kept in clear.
    for (const auto& entry : fs::directory_iterator(directory_)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.find("key-secret-token"), std::string::npos) << entry.path();
    }

    // The next start: a fresh setup keeps the files until they are read.
    DAVCrashesLogBuffer::setup(directory_);
    EXPECT_EQ(DAVCrashesLogBuffer::bufferedCount(), 0u);
    auto logs = DAVCrashesLogBuffer::takeLogsFromLastRun(encrypter_);
    ASSERT_EQ(logs.size(), 2u);
    std::map<std::string, std::string> tokens;
    for (const auto& buffered : logs) {
        EXPECT_TRUE(buffered.log->isValid());
        tokens[nameOf(buffered.log)] = buffered.targetToken;
    }
    EXPECT_EQ(tokens, (std::map<std::string, std::string>{{"first", "key-secret-token"}, {"second", ""}}));
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", true), 0u);
    EXPECT_EQ(filesWithExtension(".targettoken", false), 0u);
    EXPECT_TRUE(DAVCrashesLogBuffer::takeLogsFromLastRun(encrypter_).empty());
}

TEST_F(LogBuffer, WithEverySlotFilledTheOldestGivesWay) {
    for (int i = 0; i < 61; ++i) {
        DAVCrashesLogBuffer::addLog(*makeLog("log-" + std::to_string(i)), "id-" + std::to_string(i), encrypter_);
        executor_->advance(0.01);
    }
    EXPECT_EQ(DAVCrashesLogBuffer::bufferedCount(), 60u);
    DAVCrashesLogBuffer::writeAtCrash();
    std::set<std::string> names;
    for (const auto& buffered : DAVCrashesLogBuffer::takeLogsFromLastRun(encrypter_))
        names.insert(nameOf(buffered.log));
    EXPECT_EQ(names.size(), 60u);
    EXPECT_FALSE(names.count("log-0"));
    EXPECT_TRUE(names.count("log-1"));
    EXPECT_TRUE(names.count("log-60"));
}

TEST_F(LogBuffer, AFileThatIsNoLogIsDroppedAndDisablingEmptiesEveryFile) {
    DAVCrashesLogBuffer::addLog(*makeLog("kept"), "id-1", encrypter_);
    DAVCrashesLogBuffer::writeAtCrash();
    std::string damaged;
    for (const auto& entry : fs::directory_iterator(directory_))
        if (entry.path().extension() == ".davcrasheslogbuffer" && entry.file_size() == 0) {
            damaged = entry.path().string();
            break;
        }
    std::ofstream(damaged, std::ios::binary) << "not an archive";

    DAVTest::MessageRecorder recorder;
    auto logs = DAVCrashesLogBuffer::takeLogsFromLastRun(encrypter_);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(nameOf(logs[0].log), "kept");
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelError, "Couldn't read the buffered log in "));
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", true), 0u);

    // Disabling forgets what memory holds and empties every file.
    auto withToken = makeLog("dropped");
    withToken->addTransmissionTargetToken("t-1");
    DAVCrashesLogBuffer::addLog(*withToken, "id-2", encrypter_);
    DAVCrashesLogBuffer::writeAtCrash();
    DAVCrashesLogBuffer::empty();
    EXPECT_EQ(DAVCrashesLogBuffer::bufferedCount(), 0u);
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", true), 0u);
    EXPECT_EQ(filesWithExtension(".targettoken", false), 0u);
    DAVCrashesLogBuffer::writeAtCrash();
    EXPECT_EQ(filesWithExtension(".davcrasheslogbuffer", true), 0u);
}

}  // namespace
