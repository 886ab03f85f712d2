// The columns a load reads values into, the records made over them, and the
// primary-key index.

#include <algorithm>
#include <cstring>
#include <new>

#include "Platform/ObjectStore/detail/Core.h"
#include "Platform/ObjectStore/detail/Sqlite.h"

namespace ObjectStore::detail {

// --- records ----------------------------------------------------------------------

ValueRow::ValueRow(std::size_t size) {
    if (!size) return;
    void* block = allocateSmall(sizeof(std::size_t) + size * sizeof(Value));
    *static_cast<std::size_t*>(block) = size;
    data_ = reinterpret_cast<Value*>(static_cast<std::size_t*>(block) + 1);
    std::uninitialized_default_construct_n(data_, size);
}

void ValueRow::reset() {
    if (!data_) return;
    const std::size_t n = size();
    std::destroy_n(data_, n);
    freeSmall(reinterpret_cast<std::size_t*>(data_) - 1, sizeof(std::size_t) + n * sizeof(Value));
    data_ = nullptr;
}

void Record::materialise() const {
    const ColumnSet& columns = block_->columns();
    const std::size_t row = block_->rowOf(*this);
    ValueRow values(schema->properties.size());
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = columns.value(row, i);
    values_ = std::move(values);
    block_ = nullptr;
}

void Record::assign(const std::vector<Value>& values) {
    ValueRow row(values.size());
    std::copy(values.begin(), values.end(), row.begin());
    values_ = std::move(row);
    block_ = nullptr;
}

void Record::assign(std::vector<Value>&& values) {
    ValueRow row(values.size());
    std::move(values.begin(), values.end(), row.begin());
    values_ = std::move(row);
    block_ = nullptr;
}

Value Record::value(std::size_t index) const {
    if (block_) return block_->columns().value(block_->rowOf(*this), index);
    return values_[index];
}

std::optional<std::string_view> Record::text(std::size_t index) const {
    if (block_) return block_->columns().text(block_->rowOf(*this), index);
    if (auto* s = values_[index].stringOrNull()) return std::string_view(*s);
    return std::nullopt;
}

bool sameValues(const Record& record, const std::vector<Value>& values) {
    if (!record.inColumns())
        return std::equal(record.values().begin(), record.values().end(), values.begin(), values.end());
    if (values.size() != record.schema->properties.size()) return false;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (record.value(i) != values[i]) return false;
    return true;
}

// --- columns ------------------------------------------------------------------------

namespace {
constexpr std::uint64_t kNoText = UINT64_MAX;

// The kind of column a property is read into (as the file stores it).
int kindOf(const Property& p) {
    enum { None, Int, Bool, Real, Date, Text, Data, List };
    if (!p.isStored()) return None;
    if (p.isArray) return List;
    switch (p.type) {
        case PropertyType::Int:
        case PropertyType::Object:
            return Int;
        case PropertyType::Bool:
            return Bool;
        case PropertyType::Float:
        case PropertyType::Double:
            return Real;
        case PropertyType::Date:
            return Date;
        case PropertyType::String:
            return Text;
        case PropertyType::Data:
            return Data;
        default:
            return None;
    }
}

std::size_t cellBytes(int kind) {
    switch (kind) {
        case 1:  // Int
        case 3:  // Real
        case 4:  // Date
        case 5:  // Text
        case 6:  // Data
            return 8;
        case 2:  // Bool
            return 1;
        default:
            return 0;
    }
}

std::size_t aligned8(std::size_t n) { return (n + 7) / 8 * 8; }
}  // namespace

std::size_t ColumnSet::arrayBytes(const ObjectSchema& schema, std::size_t rows) {
    std::size_t bytes = 0;
    for (auto& p : schema.properties) bytes += aligned8(cellBytes(kindOf(p)) * rows);
    return bytes;
}

ColumnSet::ColumnSet(SchemaRef schema, std::size_t rows, char*& memory, char* text, std::size_t textCapacity)
    : schema_(std::move(schema)), capacity_(rows), text_(text), textCapacity_(textCapacity) {
    columns_.resize(schema_->properties.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        Column& c = columns_[i];
        c.kind = static_cast<Kind>(kindOf(schema_->properties[i]));
        if (std::size_t bytes = aligned8(cellBytes(kindOf(schema_->properties[i])) * rows)) {
            c.cells = memory;
            memory += bytes;
        }
        if (c.kind == Kind::List) c.lists.resize(rows, Value(Foundation::Array{}));
    }
}

ColumnSet::~ColumnSet() {
    if (textOwned_) freeLarge(text_, textCapacity_);
}

void ColumnSet::growText(std::size_t bytes) {
    char* grown = static_cast<char*>(allocateLarge(bytes));
    if (textUsed_) std::memcpy(grown, text_, textUsed_);
    if (textOwned_) freeLarge(text_, textCapacity_);
    text_ = grown;
    textCapacity_ = bytes;
    textOwned_ = true;
}

void ColumnSet::setNull(Column& column, std::size_t row) {
    if (!column.nulls) column.nulls = std::make_unique<std::uint8_t[]>(capacity_);
    column.nulls[row] = 1;
}

void ColumnSet::append(const Statement& st, const std::vector<int>& columnOf) {
    const std::size_t row = size_++;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        Column& c = columns_[i];
        if (c.kind == Kind::None || c.kind == Kind::List) continue;
        const int col = columnOf[i];
        if (st.type(col) == SQLITE_NULL) {
            if (c.kind == Kind::Text || c.kind == Kind::Data)
                static_cast<std::uint64_t*>(c.cells)[row] = kNoText;
            setNull(c, row);
            continue;
        }
        switch (c.kind) {
            case Kind::Int:
                static_cast<std::int64_t*>(c.cells)[row] = st.integer(col);
                break;
            case Kind::Bool:
                static_cast<std::uint8_t*>(c.cells)[row] = st.integer(col) != 0;
                break;
            case Kind::Real:
            case Kind::Date:
                static_cast<double*>(c.cells)[row] = st.real(col);
                break;
            case Kind::Text:
            case Kind::Data: {
                // The same calls the value reader makes: text as UTF-8, data as bytes.
                const void* p = c.kind == Kind::Text ? static_cast<const void*>(st.textData(col)) : st.blob(col);
                const auto n = static_cast<std::uint32_t>(st.bytes(col));
                if (textCapacity_ - textUsed_ < n + sizeof n)
                    growText(std::max(textCapacity_ * 2, textUsed_ + n + sizeof n + 4096));
                std::memcpy(text_ + textUsed_, &n, sizeof n);
                if (n && p) std::memcpy(text_ + textUsed_ + sizeof n, p, n);
                static_cast<std::uint64_t*>(c.cells)[row] = textUsed_;
                textUsed_ += sizeof n + n;
                break;
            }
            default:
                break;
        }
    }
}

void ColumnSet::appendListValue(std::size_t row, std::size_t property, Value value) {
    columns_[property].lists[row].mutableArray().push_back(std::move(value));
}

std::string_view ColumnSet::bytesAt(std::uint64_t offset) const {
    std::uint32_t n = 0;
    std::memcpy(&n, text_ + offset, sizeof n);
    return {text_ + offset + sizeof n, n};
}

Value ColumnSet::value(std::size_t row, std::size_t property) const {
    const Column& c = columns_[property];
    const Property& p = schema_->properties[property];
    if (c.kind == Kind::List) return c.lists[row];
    if (!p.isStored()) return {};
    if (c.kind == Kind::None || (c.nulls && c.nulls[row])) return p.isNullable() ? Value() : defaultValueFor(p);
    switch (c.kind) {
        case Kind::Int:
            return static_cast<const std::int64_t*>(c.cells)[row];
        case Kind::Bool:
            return static_cast<const std::uint8_t*>(c.cells)[row] != 0;
        case Kind::Real:
            return static_cast<const double*>(c.cells)[row];
        case Kind::Date:
            return Foundation::Date{static_cast<const double*>(c.cells)[row]};
        case Kind::Text:
            return std::string(bytesAt(static_cast<const std::uint64_t*>(c.cells)[row]));
        case Kind::Data: {
            auto bytes = bytesAt(static_cast<const std::uint64_t*>(c.cells)[row]);
            auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
            return Foundation::Data(b, b + bytes.size());
        }
        default:
            return {};
    }
}

std::optional<std::string_view> ColumnSet::text(std::size_t row, std::size_t property) const {
    const Column& c = columns_[property];
    if (c.kind != Kind::Text) return std::nullopt;
    std::uint64_t offset = static_cast<const std::uint64_t*>(c.cells)[row];
    if (offset == kNoText) {
        // A none the property cannot hold reads as its default.
        const Property& p = schema_->properties[property];
        if (p.isNullable()) return std::nullopt;
        if (auto* s = p.defaultValue.stringOrNull()) return std::string_view(*s);
        return p.defaultValue.isNull() ? std::optional<std::string_view>(std::string_view()) : std::nullopt;
    }
    return bytesAt(offset);
}

// --- record blocks ------------------------------------------------------------------

RecordBlock::RecordBlock(SchemaRef schema, std::size_t rows, std::size_t textBytes)
    : schema_(std::move(schema)), capacity_(rows) {
    // One mapping: records, then the column arrays, then the text, so only
    // the last page is left part empty.
    const std::size_t fixed = rows * sizeof(Record) + ColumnSet::arrayBytes(*schema_, rows);
    bytes_ = std::max<std::size_t>(fixed + textBytes, 64);
    memory_ = static_cast<char*>(allocateLarge(bytes_));
    records_ = reinterpret_cast<Record*>(memory_);
    char* arrays = memory_ + rows * sizeof(Record);
    columns_.emplace(schema_, rows, arrays, memory_ + fixed, bytes_ - fixed);
}

RecordBlock::~RecordBlock() {
    for (std::size_t i = 0; i < made_; ++i) records_[i].~Record();
    columns_.reset();
    freeLarge(memory_, bytes_);
}

std::shared_ptr<Record> RecordBlock::make(const std::shared_ptr<RecordBlock>& block, Graph* graph, std::int64_t key) {
    RecordBlock& b = *block;
    if (b.made_ >= b.capacity_ || b.made_ >= b.columns_->size()) throw std::logic_error("A record block is full.");
    const std::size_t row = b.made_;
    Record* r = new (&b.records_[row]) Record(b.schema_, graph, key, &b);
    ++b.made_;
    return std::shared_ptr<Record>(block, r);
}

// --- primary-key index ------------------------------------------------------------

std::uint64_t PrimaryKeyIndex::hashOf(std::string_view text) {
    // Never 0, which marks a free slot.
    return std::hash<std::string_view>()(text) | 1;
}

bool PrimaryKeyIndex::keyIs(const Record& record, std::string_view text) const {
    const auto index = static_cast<std::size_t>(property_);
    if (auto t = record.text(index)) return *t == text;
    return primaryKeyText(record.value(index)) == text;
}

void PrimaryKeyIndex::clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    size_ = 0;
}

void PrimaryKeyIndex::reserve(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity * 3 / 4 < count) capacity *= 2;
    if (capacity <= slots_.size()) return;
    std::vector<Slot, LargeAllocator<Slot>> old(capacity);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (!s.hash) continue;
        std::size_t i = s.hash & mask;
        while (slots_[i].hash) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

void PrimaryKeyIndex::grow() { reserve(std::max<std::size_t>(size_ + 1, slots_.size())); }

Record* PrimaryKeyIndex::find(std::string_view text) const {
    if (slots_.empty()) return nullptr;
    const std::uint64_t h = hashOf(text);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask; slots_[i].hash; i = (i + 1) & mask)
        if (slots_[i].hash == h && keyIs(*slots_[i].record, text)) return slots_[i].record;
    return nullptr;
}

Record* PrimaryKeyIndex::insert(std::string_view text, Record* record) {
    if ((size_ + 1) > slots_.size() * 3 / 4) grow();
    const std::uint64_t h = hashOf(text);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = h & mask;
    for (; slots_[i].hash; i = (i + 1) & mask)
        if (slots_[i].hash == h && keyIs(*slots_[i].record, text)) return slots_[i].record;
    slots_[i] = {h, record};
    ++size_;
    return record;
}

void PrimaryKeyIndex::erase(std::string_view text, const Record* record) {
    if (slots_.empty()) return;
    const std::uint64_t h = hashOf(text);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = h & mask;
    for (;; i = (i + 1) & mask) {
        if (!slots_[i].hash) return;
        if (slots_[i].record == record) break;
    }
    // Backward shift: later entries of the run move up, so probes never
    // meet a gap before their own slot.
    std::size_t gap = i;
    for (std::size_t j = (gap + 1) & mask; slots_[j].hash; j = (j + 1) & mask) {
        const std::size_t home = slots_[j].hash & mask;
        // Moves when its home is not cyclically within (gap, j].
        if (((j - home) & mask) >= ((j - gap) & mask)) {
            slots_[gap] = slots_[j];
            gap = j;
        }
    }
    slots_[gap] = Slot{};
    --size_;
}

}  // namespace ObjectStore::detail
