#include "config/task_tables.h"

TaskConfigReader::TaskConfigReader(const char*) {}
TaskConfigReader::~TaskConfigReader() = default;
std::int32_t TaskConfigReader::SelectTable(std::int32_t) { return CT_ERR_TABLE; }
std::int32_t TaskConfigReader::TableType() const { return -1; }
std::int32_t TaskConfigReader::RecordCount() const { return 0; }
std::uint32_t TaskConfigReader::RecordSize() const { return 0; }
const std::uint8_t* TaskConfigReader::ReadRecord(std::int32_t) { return nullptr; }
