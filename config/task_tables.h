// Reader of the task's own configuration-table archive: the file named after
// the task in the "ct" directory of the domain under the application
// directory (VDDOMAIN value + "/ct/" + name + ".ct" under the VDAPP value).
// It walks the tables one by one and reads records one at a time into a buffer it
// owns. Refused tables and records and a buffer that cannot be allocated are
// reported as status messages at level 2 ("CTINDEX", "CTRECORD",
// "NOMEMORY"); a missing archive is left to the caller (is_open 0).
#pragma once

#include <cstdint>
#include <memory>

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
