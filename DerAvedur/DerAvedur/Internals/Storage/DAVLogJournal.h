#pragma once
// The append-only file of one group's logs that are enqueued and not yet in
// the log store. `enqueueItem` appends each log with one write() before it
// returns, so a log whose track call returned survives a kill of the process
// (the page cache outlives it); the store task folds the records into the
// store and empties the file once they are committed. At start the complete
// records left by an earlier run are read back; a torn last record (a kill
// inside the write) is ignored.
//
// A record: "DAVJ", payload length (u32 LE), CRC-32 of the payload (u32 LE),
// then the payload: sequence (u64 LE), flags (u64 LE), length of the
// encrypted target token (u32 LE), that token, the keyed archive of the log.
// Sequences grow across launches; the store keeps, in the transaction that
// folds them, the highest one folded, so a record is never folded twice.
//
// No lock of its own: the channel unit serialises appends and truncation.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"
#include "Platform/Foundation/Value.h"

class DAVLogJournal {
public:
    static constexpr std::uint32_t kMaxPayloadSize = 64u << 20;

    struct Record {
        std::uint64_t sequence = 0;
        DAVFlags flags = DAVFlagsDefault;
        std::shared_ptr<DAVLog> log;
    };

    // Opens (creating it, mode 0600) the file at `path`.
    explicit DAVLogJournal(std::string path);
    ~DAVLogJournal();
    DAVLogJournal(const DAVLogJournal&) = delete;
    DAVLogJournal& operator=(const DAVLogJournal&) = delete;

    const std::string& path() const { return path_; }
    bool isOpen() const { return fd_ >= 0; }

    // The log in record form, ready for `append`; nothing when it cannot be archived.
    struct Encoded {
        Foundation::Data archive;
        std::optional<std::string> encryptedToken;
    };
    std::optional<Encoded> encode(const std::shared_ptr<DAVLog>& log);
    static std::string frame(std::uint64_t sequence, DAVFlags flags, const Encoded& encoded);
    // One write() of a framed record; false when the file could not take it.
    bool append(const std::string& framed);
    // The complete records in file order; `skippedBytes` counts what was
    // unreadable (a torn tail, damage).
    std::vector<Record> readRecords(std::size_t* skippedBytes = nullptr);
    // Empties the file (every record in it is in the store).
    bool truncate();
    std::size_t size() const;

private:
    std::string path_;
    int fd_ = -1;
    DAVEncrypter encrypter_;
};
