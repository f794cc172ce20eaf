#include "frame/batch_transfer.h"

#include "config/tag_object.h"

std::int32_t BatchRead(TagObject* const*, std::int32_t) { return 0; }
std::int32_t BatchWrite(TagObject* const*, std::int32_t) { return 0; }
std::int32_t BatchWriteResult(TagObject* const*, std::int32_t) { return 0; }
