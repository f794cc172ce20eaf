// Reader of the task's own configuration-table archive: the file named after
// the task in the "ct" directory of the domain under the application
// directory (VDDOMAIN value + "/ct/" + name + ".ct" under the VDAPP value).
// It walks the tables one by one and reads records one at a time into a buffer it
// owns. Refused tables and records and a buffer that cannot be allocated are
// reported as status messages at level 2 ("CTINDEX", "CTRECORD",
// "NOMEMORY"); a missing archive is left to the caller (is_open 0).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kernel/value_record.h"
#include "support/archive.h"

inline constexpr int kTaskConfigPathSize = 128;
// Largest record the reader allocates a buffer for; the task's records are a
// few hundred bytes, so a larger size is a damaged index (reported as
// "NOMEMORY", like an allocation that fails).
inline constexpr std::uint32_t kTaskConfigMaxRecordSize = 1u << 20;

class TaskConfigReader {
public:
    // Opens the archive named `archive_name` (the task name). Reads the
    // VDDOMAIN and VDAPP values from the task-wide state.
    explicit TaskConfigReader(const char* archive_name);
    ~TaskConfigReader();
    TaskConfigReader(const TaskConfigReader&) = delete;
    TaskConfigReader& operator=(const TaskConfigReader&) = delete;

    // 0 = selected; else the archive's code, reported as "CTINDEX" with the
    // index, and the previous table stays selected.
    std::int32_t SelectTable(std::int32_t index);
    // The selected table's type number, or -1 with none selected.
    std::int32_t TableType() const;
    // The selected table's record count, or 0 with none selected.
    std::int32_t RecordCount() const;
    // The selected table's record size in bytes, or 0 with none selected.
    std::uint32_t RecordSize() const;
    // Reads record `index` of the selected table into the reader's buffer and
    // returns it (null when there is no buffer: no table selected, record
    // size 0 before any buffer, or no memory). Valid until the next call or
    // the reader's destruction. A refused read is reported as "CTRECORD" with
    // the table and record index; the buffer is still returned.
    const std::uint8_t* ReadRecord(std::int32_t index);
    // How the last ReadRecord went: CT_OK when the record was read whole (or
    // the table's records are empty), the archive's code when it refused the
    // read, CT_ERR_TABLE with no table selected, CT_ERR_NOMEM without a
    // buffer. Lets the caller skip a record that came back damaged.
    std::int32_t LastReadResult() const { return last_read_; }

    // Read directly by the command table builder.
    CtArchive archive{};
    std::uint32_t table_count = 0;
    std::uint32_t is_open = 0;
    char path[kTaskConfigPathSize] = {};
    std::int32_t current_table = -1;
    std::uint32_t record_capacity = 0;

private:
    std::unique_ptr<std::uint8_t[]> record_;  // null = no buffer
    std::int32_t last_read_ = CT_ERR_TABLE;
};

// One record of a table as the walk hands it out, with readers of its
// little-endian fields. Offsets are the caller's, within the minimum record
// size it gave for the table's type.
struct TableRecord {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;      // the table's record size, at least the minimum
    std::int32_t table = 0;      // the table's index in the archive
    std::int32_t index = 0;      // the record's index in its table

    std::uint16_t Word(std::uint32_t offset) const {
        return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
    }
    std::uint32_t Dword(std::uint32_t offset) const {
        return static_cast<std::uint32_t>(data[offset]) | (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(data[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(data[offset + 3]) << 24);
    }
    TagRef Ref(std::uint32_t offset) const { return Dword(offset); }
    // A text field of `width` bytes: up to its first zero byte, never past
    // the field or the record.
    std::string Text(std::uint32_t offset, std::uint32_t width) const;
};

// Walks the task's archive (named after the task) table by table and record
// by record. `min_size` gives the minimum record size of a table type the
// task reads, 0 for a type it skips. A missing archive is reported as
// "NOCT", one without tables as "NOTRIGGERS"; a table whose records are
// shorter than the minimum as "CTRECORD" (table index, 0) and one whose
// record size exceeds kTaskConfigMaxRecordSize as "NOMEMORY", both skipped.
// The walk ends at the first table or record that cannot be read (entries
// lie one after another, so none after it can be: a damaged count ends the
// walk instead of looping over it); `visit` gets only records read whole.
// std::bad_alloc from the walk or `visit` reaches the caller.
void WalkTaskTables(const char* task_name, const std::function<std::uint32_t(std::int32_t type)>& min_size,
                    const std::function<void(std::int32_t type, const TableRecord& record)>& visit);
