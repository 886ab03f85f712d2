#pragma once
// Reads the rows of a damaged SQLite file page by page, without its tables'
// trees: every page that is a table leaf gives its cells, whatever interior
// page, header or neighbour around it is lost. The store uses it, after
// SQLite's own reading, for rows that no readable tree reaches any more.
//
// Only the file format's leaf pages and overflow chains are read (SQLite's
// documented layout); what a page holds is judged by the caller, who decodes
// each row. A cell that runs out of its page, or an overflow chain that
// leaves the file or loops, gives no row.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Platform/Foundation/Value.h"

struct DAVDBPageRow {
    std::int64_t rowId = 0;
    // Null, Int (64-bit), String; a real becomes null, a blob its bytes as text.
    std::vector<Foundation::Value> columns;
};

class DAVDBPageReader {
public:
    // `bytes` is the whole file; pages are `pageSize` long, the last
    // `reservedBytes` of each unused by the format.
    DAVDBPageReader(const std::string& bytes, std::size_t pageSize, std::size_t reservedBytes = 0);

    // The page size and reserved bytes a file's header names, if it names valid ones.
    static bool headerValues(const std::string& bytes, std::size_t* pageSize, std::size_t* reservedBytes);

    std::size_t pageCount() const;
    // Every row of every table leaf page, page by page, cell by cell.
    void forEachRow(const std::function<void(const DAVDBPageRow&)>& visit) const;

private:
    bool readCell(std::size_t pageStart, std::size_t cell, std::size_t pageEnd, DAVDBPageRow& row) const;
    bool payload(std::size_t start, std::size_t pageEnd, std::uint64_t size, std::string& out) const;
    static bool decodeRecord(const std::string& record, std::vector<Foundation::Value>& columns);

    const std::string& bytes_;
    std::size_t pageSize_;
    std::size_t usable_;
};
