#include "bus/tag_access.h"

#include <cstring>

#include "frame/kernel_access.h"
#include "kernel/kernel.h"

namespace {

// Holds the kernel access lock for the second task id for one call.
class SecondIdAccess {
public:
    SecondIdAccess() { AcquireKernelAccess(0); }
    ~SecondIdAccess() { ReleaseKernelAccess(); }
    SecondIdAccess(const SecondIdAccess&) = delete;
    SecondIdAccess& operator=(const SecondIdAccess&) = delete;
};

std::int32_t LastKernelError(TaskId task) {
    std::int32_t code = kernel_last_error(task);
    return code == 0 ? kKernelErrInvalidArg : code;
}

}  // namespace

std::int16_t QueryTagType(TagRef ref) {
    if (!TagRefNamesTag(ref)) return kTagNotConfigured;
    std::int16_t type = kTagNotConfigured;
    if (kernel_tag_types(&ref, 1, &type, 0) == -1 || !IsValidTagType(type)) return kTagNotConfigured;
    return type;
}

std::int32_t ReadTagValue(TagRef ref, std::int16_t type, BusValue& out) {
    if (!BusCarriesType(type)) return kKernelErrWrongType;
    alignas(8) std::uint8_t slot[16] = {};
    char text[kKernelTextCapacity + 1] = {};
    if (type == kTagText) {
        PackedText packed{text, kKernelTextCapacity, 0};
        std::memcpy(slot, &packed, sizeof packed);
    }
    SecondIdAccess access;
    const TaskId task = CurrentTaskId();
    if (kernel_read(task, &ref, 1, slot) != 0) return LastKernelError(task);
    BusValue value;
    value.type = type;
    switch (type) {
        case kTagInt16:
        case kTagInt16Alt: {
            std::int16_t v;
            std::memcpy(&v, slot, sizeof v);
            value.integer = v;
            break;
        }
        case kTagInt32: {
            std::int32_t v;
            std::memcpy(&v, slot, sizeof v);
            value.integer = v;
            break;
        }
        case kTagReal: std::memcpy(&value.real, slot, sizeof value.real); break;
        default: {
            PackedText packed;
            std::memcpy(&packed, slot, sizeof packed);
            std::size_t n = std::min<std::size_t>(packed.length, kKernelTextCapacity);
            value.text.assign(text, strnlen(text, n));
            break;
        }
    }
    out = std::move(value);
    return 0;
}

std::int32_t WriteTagValue(TagRef ref, const BusValue& value) {
    if (!BusCarriesType(value.type)) return kKernelErrWrongType;
    alignas(8) std::uint8_t slot[16] = {};
    std::string text;
    switch (value.type) {
        case kTagInt16:
        case kTagInt16Alt: {
            std::int16_t v = static_cast<std::int16_t>(value.integer);
            std::memcpy(slot, &v, sizeof v);
            break;
        }
        case kTagInt32: {
            std::int32_t v = static_cast<std::int32_t>(value.integer);
            std::memcpy(slot, &v, sizeof v);
            break;
        }
        case kTagReal: std::memcpy(slot, &value.real, sizeof value.real); break;
        default: {
            if (value.text.size() > kKernelTextCapacity) return kKernelErrTooLong;
            text = value.text;
            PackedText packed{text.data(), static_cast<std::uint16_t>(text.size()),
                              static_cast<std::uint16_t>(text.size())};
            std::memcpy(slot, &packed, sizeof packed);
            break;
        }
    }
    SecondIdAccess access;
    const TaskId task = CurrentTaskId();
    if (kernel_write(task, &ref, 1, slot) != 0) return LastKernelError(task);
    return 0;
}
