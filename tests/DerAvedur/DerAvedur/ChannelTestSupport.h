#pragma once
// Shared pieces of the channel, ingestion and SDK entry suites: logs,
// a delegate that records what it hears, a store that can be told to fail.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelDelegate.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelUnitProtocol.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVStorage.h"
#include "DerAvedurTestSupport.h"

namespace DAVTest {

inline std::shared_ptr<DAVLogWithProperties> makeLog(int index = 0) {
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("colorPicked");
    log->setDevice(makeDevice());
    log->properties.set("index", Foundation::Value(std::to_string(index)));
    return log;
}

// A log the collector takes: its Common Schema form has a name and data.
class CollectorEventLog : public DAVLogWithProperties {
public:
    std::string className() const override { return "DAVLogWithProperties"; }
    std::shared_ptr<DAVCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                        DAVFlags flags) const override {
        auto csLog = DAVLogWithProperties::toCommonSchemaLogForTargetToken(token, flags);
        csLog->name = "Vexil.ColorPicked";
        csLog->data = std::make_shared<DAVCSData>();
        csLog->data->properties["colour"] = "#FF8800";
        return csLog;
    }
};

inline std::shared_ptr<CollectorEventLog> makeCollectorLog(const std::string& token) {
    auto log = std::make_shared<CollectorEventLog>();
    log->setType("colorPicked");
    log->setDevice(makeDevice());
    log->addTransmissionTargetToken(token);
    return log;
}

struct DelegateEvent {
    std::string kind;
    const DAVChannelProtocol* channel = nullptr;  // identity only: a delegate must not keep units alive
    std::shared_ptr<DAVLog> log;
    std::optional<Foundation::Error> error;
    bool enabled = false;
    bool deleteData = false;
};

// Records every call, from any thread; filters logs when told to.
class RecordingDelegate : public DAVChannelDelegate {
public:
    std::function<bool(const std::shared_ptr<DAVLog>&)> filter;

    std::vector<DelegateEvent> events(const std::string& kind = {}) const {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<DelegateEvent> out;
        for (const auto& event : events_)
            if (kind.empty() || event.kind == kind) out.push_back(event);
        return out;
    }
    std::size_t count(const std::string& kind) const { return events(kind).size(); }
    std::vector<std::string> kinds() const {
        std::vector<std::string> out;
        for (const auto& event : events()) out.push_back(event.kind);
        return out;
    }

    void channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                           const std::shared_ptr<DAVLog>& log) override {
        record("prepare", channel, log);
    }
    void channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel, const std::shared_ptr<DAVLog>& log,
                              const std::string&, DAVFlags) override {
        record("didPrepare", channel, log);
    }
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                         const std::shared_ptr<DAVLog>& log, const std::string&) override {
        record("complete", channel, log);
    }
    void channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                            const std::shared_ptr<DAVLog>& log) override {
        record("willSend", channel, log);
    }
    void channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                     const std::shared_ptr<DAVLog>& log) override {
        record("succeeded", channel, log);
    }
    void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                  const std::shared_ptr<DAVLog>& log,
                                  const std::optional<Foundation::Error>& error) override {
        record("failed", channel, log, error);
    }
    void channelDidSetEnabled(const std::shared_ptr<DAVChannelProtocol>& channel, bool enabled,
                              bool deleteData) override {
        record("setEnabled", channel, nullptr, std::nullopt, enabled, deleteData);
    }
    void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                              const DAVIdentifyingObject&) override {
        record("pause", channel);
    }
    void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DAVChannelProtocol>& channel,
                                               const DAVIdentifyingObject&) override {
        record("resume", channel);
    }
    bool channelUnitShouldFilterLog(const std::shared_ptr<DAVChannelUnitProtocol>& unit,
                                    const std::shared_ptr<DAVLog>& log) override {
        record("filter?", unit, log);
        return filter && filter(log);
    }

private:
    void record(std::string kind, std::shared_ptr<DAVChannelProtocol> channel, std::shared_ptr<DAVLog> log = nullptr,
                std::optional<Foundation::Error> error = std::nullopt, bool enabled = false, bool deleteData = false) {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back({std::move(kind), channel.get(), std::move(log), std::move(error), enabled, deleteData});
    }
    mutable std::mutex lock_;
    std::vector<DelegateEvent> events_;
};

// Wraps a real store; saves can be refused and loads can claim more than
// they return.
class ScriptedStorage : public DAVStorage {
public:
    explicit ScriptedStorage(std::shared_ptr<DAVStorage> inner) : inner_(std::move(inner)) {}

    bool refuseSaves = false;
    bool emptyLoadsClaimMore = false;
    std::size_t loads = 0;

    bool saveLog(const std::shared_ptr<DAVLog>& log, const std::string& groupId, DAVFlags flags) override {
        return !refuseSaves && inner_->saveLog(log, groupId, flags);
    }
    std::vector<bool> saveLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                               std::vector<DAVEvictedLog>* evicted) override {
        ++saveCalls;
        if (refuseSaves) return std::vector<bool>(logs.size(), false);
        return inner_->saveLogs(logs, groupId, evicted);
    }
    std::vector<bool> saveJournaledLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                                        std::vector<DAVEvictedLog>* evicted, std::uint64_t sequence,
                                        bool* folded) override {
        if (!logs.empty()) ++saveCalls;
        if (refuseSaves) {
            if (folded) *folded = false;
            return std::vector<bool>(logs.size(), false);
        }
        return inner_->saveJournaledLogs(logs, groupId, evicted, sequence, folded);
    }
    std::optional<std::string> journalPathForGroupId(const std::string& groupId) override {
        return inner_->journalPathForGroupId(groupId);
    }
    std::uint64_t foldedJournalSequence(const std::string& groupId) override {
        return inner_->foldedJournalSequence(groupId);
    }
    std::size_t saveCalls = 0;
    bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                             const std::optional<std::vector<std::string>>& excludedTargetKeys,
                             const DAVLoadDataCompletionHandler& completionHandler) override {
        ++loads;
        if (emptyLoadsClaimMore) {
            completionHandler({}, std::nullopt);
            return true;
        }
        return inner_->loadLogsWithGroupId(groupId, limit, excludedTargetKeys, completionHandler);
    }
    void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override {
        inner_->deleteLogsWithBatchId(batchId, groupId);
    }
    std::vector<std::shared_ptr<DAVLog>> deleteLogsWithGroupId(const std::string& groupId) override {
        return inner_->deleteLogsWithGroupId(groupId);
    }
    void releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) override {
        inner_->releaseLogsWithBatchId(batchId, groupId);
    }
    std::size_t countLogs() override { return inner_->countLogs(); }
    std::size_t countLogsWithGroupId(const std::string& groupId) override {
        return inner_->countLogsWithGroupId(groupId);
    }
    void setMaxStorageSize(std::int64_t size, const std::function<void(bool)>& completion) override {
        inner_->setMaxStorageSize(size, completion);
    }

private:
    std::shared_ptr<DAVStorage> inner_;
};

}  // namespace DAVTest
