#include "frame/tag_object.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "frame/kernel_access.h"
#include "kernel/kernel.h"
#include "frame/task_state.h"
#include "support/archive.h"

namespace {

// What AsText gives for blocks and tags that are not configured.
const char kEmptyText[] = "";

// The text counts as a number when it starts like one; only the first
// character is looked at.
bool StartsNumeric(const char* text) {
    const unsigned char c = static_cast<unsigned char>(text[0]);
    return std::isdigit(c) || c == '+' || c == '-';
}

std::int32_t ClampToInt32(long long v) {
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// atoi / atol of the text, but saturating instead of undefined on overflow.
std::int32_t TextToInt(const char* text) {
    errno = 0;
    long long v = std::strtoll(text, nullptr, 10);
    return ClampToInt32(v);
}

// Truncation toward zero into 32 bits; out-of-range values saturate and a
// NaN gives 0 (a plain cast would be undefined there).
std::int32_t RealToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Low 16 bits of a real truncated toward zero, whatever its size (3e9 gives
// 24064); a NaN or an infinity gives 0.
std::int16_t RealLow16(double v) {
    if (!std::isfinite(v)) return 0;
    double low = std::fmod(std::trunc(v), 65536.0);  // exact, in (-65536, 65536)
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::int32_t>(low) & 0xFFFF));
}

std::int16_t Low16(std::int32_t v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFFu));
}

template <typename T>
T RawBytes(const char* text) {
    T v{};
    std::memcpy(&v, text, sizeof v);
    return v;
}

}  // namespace

TagObject::TagObject() = default;

TagObject::TagObject(GlobalTagId id) {
    if (CurrentTaskId() == kNoTask) return;
    TaskState& state = task_state();
    // The lookup lower-cases the domain in place: give it a copy.
    char domain[kEnvDomainSize];
    copy_fixed(domain, sizeof domain, state.vd_domain);
    std::uint32_t resolved = kInvalidTagRef;
    const std::uint32_t ids[1] = {id.id};
    if (ct_resolve_globals(&resolved, 1, ids, state.vd_app, domain) <= 0) return;
    if (!TagRefNamesTag(resolved)) return;
    Configure(resolved);
}

TagObject::TagObject(TagRef ref) {
    if (CurrentTaskId() != kNoTask && TagRefNamesTag(ref)) Configure(ref);
    // A failed type query leaves an error behind in the kernel: clear it.
    if (!IsConfigured()) kernel_last_error(CurrentTaskId());
}

TagObject::TagObject(TagRef ref, std::int16_t type, std::uint16_t text_size) {
    if (TagRefNamesTag(ref)) Configure(ref, type, text_size);
}

TagObject::~TagObject() = default;

TagObject::TagObject(TagObject&& other) noexcept { AdoptFrom(other); }

TagObject& TagObject::operator=(TagObject&& other) noexcept {
    if (this != &other) AdoptFrom(other);
    return *this;
}

void TagObject::AdoptFrom(TagObject& other) noexcept {
    ref_ = other.ref_;
    value_ = other.value_;
    type_ = other.type_;
    buffer_ = std::move(other.buffer_);  // the heap block moves, so the record's pointer stays valid
    format_.clear();
    if (type_ == kTagText || type_ == kTagBlock) value_.SetBytes(buffer_.empty() ? nullptr : buffer_.data());
    other.MakeNotConfigured();
}

void TagObject::MakeNotConfigured() {
    ref_ = kInvalidTagRef;
    std::memset(&value_, 0, sizeof value_);
    type_ = kTagNotConfigured;
    std::vector<std::uint8_t>().swap(buffer_);
}

// Queries the kernel for the type of `ref` and sets up the value and its
// buffer. Leaves the object not configured on any failure.
void TagObject::Configure(TagRef ref) {
    std::int16_t type = kTagNotConfigured;
    if (kernel_tag_types(&ref, 1, &type, 0) == -1) return;
    Configure(ref, type, kTagObjectTextSize);
}

void TagObject::Configure(TagRef ref, std::int16_t type, std::uint16_t text_size) {
    if (type < kTagInt16 || type > kTagBlock) return;  // not configured, or a code this task does not know
    try {
        if (type == kTagText) {
            // One byte beyond the capacity the kernel is told of stays zero,
            // so a text that fills the whole capacity is still terminated.
            buffer_.assign(std::size_t{text_size} + 1, 0);
            value_.SetText(reinterpret_cast<char*>(buffer_.data()));
            value_.capacity = text_size;
            value_.length = 0;
        } else if (type == kTagBlock) {
            buffer_.assign(kTagObjectBlockSize, 0);
            value_.SetBytes(buffer_.data());
            value_.capacity = kTagObjectBlockSize;
            value_.length = 0;
            value_.ResetBlockHeader();
        }
    } catch (const std::exception&) {
        MakeNotConfigured();
        return;
    }
    ref_ = ref;
    type_ = type;
}

std::uint16_t TagObject::TextLength() const {
    if (type_ != kTagText) return 0;
    const char* text = value_.Text();
    if (text == nullptr) return 0;
    return static_cast<std::uint16_t>(strnlen(text, value_.capacity));
}

std::size_t TagObject::BufferSize() const {
    if (type_ == kTagText || type_ == kTagBlock) return value_.capacity;
    return 0;
}

// ---- conversions out of the tag ------------------------------------------

const char* TagObject::AsText() const {
    char small[32];
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt:
            std::snprintf(small, sizeof small, "%d", static_cast<int>(value_.Int16()));
            format_ = small;
            return format_.c_str();
        case kTagInt32:
            std::snprintf(small, sizeof small, "%ld", static_cast<long>(value_.Int32()));
            format_ = small;
            return format_.c_str();
        case kTagReal: {
            // "%f" of a large number runs to over 300 characters.
            const double v = value_.Real();
            int n = std::snprintf(nullptr, 0, "%f", v);
            if (n < 0) return kEmptyText;
            format_.assign(static_cast<std::size_t>(n) + 1, '\0');
            std::snprintf(format_.data(), format_.size(), "%f", v);
            format_.resize(static_cast<std::size_t>(n));
            return format_.c_str();
        }
        case kTagText: {
            const char* text = value_.Text();
            return text != nullptr ? text : kEmptyText;
        }
        default: return kEmptyText;
    }
}

std::int32_t TagObject::AsInt() const {
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt: return value_.Int16();
        case kTagReal: return RealToInt(value_.Real());
        case kTagText: {
            const char* text = value_.Text();
            if (text == nullptr) return 0;
            return StartsNumeric(text) ? TextToInt(text) : RawBytes<std::int32_t>(text);
        }
        case kTagInt32: return value_.Int32();
        default: return 0;
    }
}

std::int32_t TagObject::AsLong() const { return AsInt(); }

std::int16_t TagObject::AsShort() const {
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt: return value_.Int16();
        case kTagReal: return RealLow16(value_.Real());
        case kTagText: {
            const char* text = value_.Text();
            if (text == nullptr) return 0;
            return StartsNumeric(text) ? Low16(TextToInt(text)) : RawBytes<std::int16_t>(text);
        }
        case kTagInt32: return Low16(value_.Int32());
        default: return 0;
    }
}

double TagObject::AsDouble() const {
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt: return value_.Int16();
        case kTagReal: return value_.Real();
        case kTagText: {
            const char* text = value_.Text();
            if (text == nullptr) return 0.0;
            return StartsNumeric(text) ? std::strtod(text, nullptr) : RawBytes<double>(text);
        }
        case kTagInt32: return value_.Int32();
        default: return 0.0;
    }
}

// ---- conversions into the tag ----------------------------------------------

// The digits of `v` as the tag's text, cut to its buffer.
void TagObject::SetNumberText(long long v) {
    char* text = value_.Text();
    if (text == nullptr) {
        value_.length = 0;
        return;
    }
    int n = std::snprintf(text, value_.capacity, "%lld", v);
    value_.length = static_cast<std::uint16_t>(n < 0 ? 0 : TextLength());
}

TagObject& TagObject::SetInt(std::int32_t v) {
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt: value_.SetInt16(Low16(v)); break;
        case kTagReal: value_.SetReal(static_cast<double>(v)); break;
        case kTagText: SetNumberText(v); break;
        case kTagInt32: value_.SetInt32(v); break;
        default: break;
    }
    return *this;
}

TagObject& TagObject::SetUnsigned(std::uint32_t v) {
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt: value_.SetInt16(Low16(static_cast<std::int32_t>(v))); break;
        case kTagReal: value_.SetReal(static_cast<double>(v)); break;
        case kTagText: SetNumberText(v); break;
        case kTagInt32: value_.SetInt32(static_cast<std::int32_t>(v)); break;
        default: break;
    }
    return *this;
}

TagObject& TagObject::SetDouble(double v) {
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt: value_.SetInt16(RealLow16(v)); break;
        case kTagReal: value_.SetReal(v); break;
        case kTagInt32: value_.SetInt32(RealToInt(v)); break;
        default: break;
    }
    return *this;
}

TagObject& TagObject::SetText(std::string_view text) {
    char* own = value_.Text();
    if (type_ != kTagText || own == nullptr) return *this;
    const std::size_t n = std::min<std::size_t>(text.size(), value_.capacity);
    if (n > 0) std::memmove(own, text.data(), n);
    own[n] = '\0';
    value_.length = TextLength();
    return *this;
}

void TagObject::Assign(const ValueRecord& source) {
    switch (type_) {
        case kTagInt16:
        case kTagInt16Alt:
        case kTagReal:
        case kTagInt32: value_ = source; break;
        case kTagText: {
            char* text = value_.Text();
            const char* from = source.Text();
            if (text != nullptr && from != text) {
                // Cut to the buffer: at most `capacity` characters, and no
                // more than the source says it can hold.
                std::size_t limit = value_.capacity;
                if (source.capacity > 0 && source.capacity < limit) limit = source.capacity;
                std::size_t n = from != nullptr ? strnlen(from, limit) : 0;
                if (n > 0) std::memmove(text, from, n);
                text[n] = '\0';
            }
            value_.length = TextLength();
            break;
        }
        case kTagBlock: {
            if (source.capacity > value_.capacity) {
                // Grow to the source's capacity; a failed allocation leaves
                // no buffer and capacity 0.
                std::vector<std::uint8_t>().swap(buffer_);
                try {
                    buffer_.assign(source.capacity, 0);
                    value_.capacity = source.capacity;
                } catch (const std::exception&) {
                    value_.capacity = 0;
                }
                value_.SetBytes(buffer_.empty() ? nullptr : buffer_.data());
            }
            std::uint8_t* bytes = value_.Bytes();
            // A length beyond what either side holds is cut to fit.
            std::uint16_t length = source.length;
            if (length > value_.capacity) length = value_.capacity;
            if (source.capacity > 0 && length > source.capacity) length = source.capacity;
            const std::uint8_t* from = source.Bytes();
            if (bytes != nullptr && from != bytes && from != nullptr && length > 0) std::memmove(bytes, from, length);
            if (from == nullptr) length = 0;
            value_.length = bytes != nullptr ? length : 0;
            value_.header_a = source.header_a;
            value_.header_b = source.header_b;
            value_.header_c = source.header_c;
            value_.header_d = source.header_d;
            value_.header_e = source.header_e;
            break;
        }
        default: break;
    }
}

// Read, Write, WriteResult and the quiet transfers are defined with the
// batch transfers they go through (batch_transfer.cpp).
