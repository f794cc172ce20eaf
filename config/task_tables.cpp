#include "config/task_tables.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/status_message.h"
#include "frame/task_state.h"

TaskConfigReader::TaskConfigReader(const char* archive_name) {
    const TaskState& state = task_state();
    // Held with "/" separators, which the file functions of both hosts
    // accept. A path that does not fit is not opened at all: a cut path
    // would name some other file.
    int n = std::snprintf(path, sizeof path, "%s/ct/%s.ct", state.vd_domain,
                          archive_name != nullptr ? archive_name : "");
    if (archive_name == nullptr || n < 0 || n >= static_cast<int>(sizeof path)) {
        archive = CtArchive{};
        return;
    }
    if (ct_open(&archive, state.vd_app, path) == CT_OK) {
        is_open = 1;
        table_count = archive.table_count;
    } else {
        archive = CtArchive{};
    }
}

TaskConfigReader::~TaskConfigReader() {
    if (is_open) ct_close(&archive);
    is_open = 0;
    table_count = 0;
    path[0] = '\0';
    record_.reset();
    record_capacity = 0;
}

std::int32_t TaskConfigReader::SelectTable(std::int32_t index) {
    std::int32_t rc = index < 0 ? CT_ERR_TABLE : ct_select(&archive, static_cast<std::uint32_t>(index));
    if (rc == CT_OK)
        current_table = index;
    else
        StatusMessage(kLevelError, "CTINDEX", index);
    return rc;
}

std::int32_t TaskConfigReader::TableType() const {
    return current_table == -1 ? -1 : static_cast<std::int32_t>(archive.entry.type);
}

std::int32_t TaskConfigReader::RecordCount() const {
    return current_table == -1 ? 0 : static_cast<std::int32_t>(archive.entry.record_count);
}

std::uint32_t TaskConfigReader::RecordSize() const {
    return current_table == -1 ? 0 : archive.entry.record_size;
}

const std::uint8_t* TaskConfigReader::ReadRecord(std::int32_t index) {
    if (current_table == -1) {
        last_read_ = CT_ERR_TABLE;
        return record_.get();
    }
    const std::uint32_t size = archive.entry.record_size;
    if (!record_ || record_capacity < size) {
        record_.reset();
        record_capacity = 0;
        if (size > 0) {
            if (size <= kTaskConfigMaxRecordSize) record_.reset(new (std::nothrow) std::uint8_t[size]);
            if (record_)
                record_capacity = size;
            else
                StatusMessage(kLevelError, "NOMEMORY");
        }
    }
    last_read_ = CT_OK;
    if (size > 0 && !record_) {
        last_read_ = CT_ERR_NOMEM;
    } else if (size > 0) {
        last_read_ = index < 0 ? CT_ERR_RANGE
                               : ct_read_record(&archive, record_.get(), record_capacity,
                                                static_cast<std::uint32_t>(index));
        if (last_read_ != CT_OK) StatusMessage(kLevelError, "CTRECORD", current_table, index);
    }
    return record_.get();
}

std::string TableRecord::Text(std::uint32_t offset, std::uint32_t width) const {
    if (offset >= size) return {};
    const std::uint32_t room = std::min(width, size - offset);
    std::uint32_t n = 0;
    while (n < room && data[offset + n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(data + offset), n);
}

void WalkTaskTables(const char* task_name, const std::function<std::uint32_t(std::int32_t type)>& min_size,
                    const std::function<void(std::int32_t type, const TableRecord& record)>& visit) {
    TaskConfigReader reader(task_name);
    if (!reader.is_open) {
        StatusMessage(kLevelError, "NOCT");
        return;
    }
    if (reader.table_count == 0) {
        StatusMessage(kLevelError, "NOTRIGGERS");
        return;
    }
    for (std::uint32_t t = 0; t < reader.table_count; ++t) {
        if (reader.SelectTable(static_cast<std::int32_t>(t)) != 0) break;
        const std::int32_t count = reader.RecordCount();
        if (count <= 0) continue;
        const std::int32_t type = reader.TableType();
        const std::uint32_t needed = min_size(type);
        if (needed == 0) continue;
        const std::uint32_t size = reader.RecordSize();
        if (size < needed) {
            // Records too short for the row layout: refuse the table rather
            // than read past them.
            StatusMessage(kLevelError, "CTRECORD", static_cast<int>(t), 0);
            continue;
        }
        if (size > kTaskConfigMaxRecordSize) {
            // A damaged index: no buffer of that size is allocated.
            StatusMessage(kLevelError, "NOMEMORY");
            continue;
        }
        for (std::int32_t r = 0; r < count; ++r) {
            // The reader hands out its buffer even after a refused read.
            const std::uint8_t* rec = reader.ReadRecord(r);
            if (rec == nullptr || reader.LastReadResult() != CT_OK) break;
            visit(type, TableRecord{rec, size, static_cast<std::int32_t>(t), r});
        }
    }
}
