// The packed records that cross the runtime kernel boundary: the value
// record of one tag, the task environment record, tag types and
// references. Shared by the kernel (sim/) and the task's tag objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Tag reference: 32 bits; the low 16 bits hold the tag's index, 0xFFFF in
// the low 16 bits names no tag.
using TagRef = std::uint32_t;
inline constexpr TagRef kInvalidTagRef = 0xFFFFFFFFu;
inline constexpr bool TagRefNamesTag(TagRef ref) { return (ref & 0xFFFFu) != 0xFFFFu; }
inline constexpr std::uint32_t TagRefIndex(TagRef ref) { return ref & 0xFFFFu; }

// Kernel task id: signed 16 bits, -1 = not attached.
using TaskId = std::int16_t;
inline constexpr TaskId kNoTask = -1;

// Tag type codes as the kernel reports them.
enum TagType : std::int16_t {
    kTagInt16 = 0,
    kTagInt16Alt = 1,  // a second 16-bit integer type, handled like kTagInt16
    kTagReal = 2,
    kTagText = 3,
    kTagInt32 = 4,
    kTagBlock = 5,
    kTagNotConfigured = -3,
};

inline constexpr bool IsValidTagType(std::int16_t type) {
    return (type >= 0 && type <= 5) || type == kTagNotConfigured;
}

// Buffer sizes a tag object owns for text and block values.
inline constexpr std::uint16_t kTagObjectTextSize = 80;
inline constexpr std::uint16_t kTagObjectBlockSize = 8192;

#pragma pack(push, 1)

// One value as it travels between the kernel and the task. Little-endian.
//
//   offset 0       value (types 0, 1: 2 bytes; type 4: 4 bytes), the first
//                  bytes of the 64-bit real (type 2), or the pointer to the
//                  characters / bytes (types 3, 5)
//   then 2         capacity in bytes (types 3, 5)
//   then 2         length in characters / bytes (types 3, 5)
//   then 4,2,2,4,2 block header words A, B, C, D, E (type 5)
//
// The pointer slot is as wide as a pointer: 4 bytes in the 32-bit product,
// where the record is exactly 22 bytes and the real overlays the pointer,
// capacity and length; 8 bytes in 64-bit builds (26 bytes), where the real
// fills the pointer slot alone.
struct ValueRecord {
    std::uint8_t lead[sizeof(void*)];
    std::uint16_t capacity;
    std::uint16_t length;
    std::uint32_t header_a;
    std::uint16_t header_b;
    std::uint16_t header_c;
    std::uint32_t header_d;
    std::uint16_t header_e;

    std::int16_t Int16() const { return Get<std::int16_t>(); }
    void SetInt16(std::int16_t v) { Set(v); }
    std::int32_t Int32() const { return Get<std::int32_t>(); }
    void SetInt32(std::int32_t v) { Set(v); }
    double Real() const { return Get<double>(); }
    void SetReal(double v) { Set(v); }
    char* Text() const { return Get<char*>(); }
    void SetText(char* p) { Set(p); }
    std::uint8_t* Bytes() const { return Get<std::uint8_t*>(); }
    void SetBytes(std::uint8_t* p) { Set(p); }

    // Block header as a block value is constructed: A = 0xFFFF in each half.
    void ResetBlockHeader() {
        header_a = 0xFFFFFFFFu;
        header_b = header_c = 0;
        header_d = 0;
        header_e = 0;
    }

private:
    template <typename T>
    T Get() const {
        static_assert(sizeof(T) <= 8);
        T v;
        std::memcpy(&v, this, sizeof v);
        return v;
    }
    template <typename T>
    void Set(T v) {
        static_assert(sizeof(T) <= 8);
        std::memcpy(this, &v, sizeof v);
    }
};

// What the kernel fills for a task at attach.
struct TaskEnvironment {
    TagRef reserved_tag;  // not used by the task frame
    TagRef status_tag;    // 16-bit status level
    TagRef message_tag;   // status text
    char app_dir[64];     // application directory ("msg", "net", "log" lie under it)
    char root_dir[64];    // installation directory ("bin" lies under it)
    std::uint8_t rest[128];
};

#pragma pack(pop)

static_assert(sizeof(ValueRecord) == 18 + sizeof(void*));
static_assert(sizeof(void*) != 4 || sizeof(ValueRecord) == 22);
static_assert(offsetof(ValueRecord, capacity) == sizeof(void*));
static_assert(offsetof(ValueRecord, header_e) == sizeof(ValueRecord) - 2);
static_assert(sizeof(TaskEnvironment) == 268);
static_assert(offsetof(TaskEnvironment, app_dir) == 12);
static_assert(offsetof(TaskEnvironment, root_dir) == 76);

// A task environment record as the task holds it before attaching: every
// byte zero, the three tag references set to "no tag".
inline TaskEnvironment EmptyTaskEnvironment() {
    TaskEnvironment env;
    std::memset(&env, 0, sizeof env);
    env.reserved_tag = env.status_tag = env.message_tag = kInvalidTagRef;
    return env;
}

// Packed value buffers of kernel_read / kernel_write / kernel_write_result:
// one slot per reference, without gaps, each as wide as its tag's type:
//   types 0, 1: 2 bytes (signed 16-bit)
//   type 2:     8 bytes (64-bit real)
//   type 3:     pointer, capacity (16-bit), length (16-bit)
//   type 4:     4 bytes (signed 32-bit)
// Types 5 and -3 have no slot: batches leave such tags out.
inline constexpr std::size_t kPackedTextSlot = sizeof(void*) + 4;

inline constexpr std::size_t PackedSlotSize(std::int16_t type) {
    switch (type) {
        case kTagInt16:
        case kTagInt16Alt: return 2;
        case kTagReal: return 8;
        case kTagText: return kPackedTextSlot;
        case kTagInt32: return 4;
        default: return 0;
    }
}

// The text slot of a packed buffer.
#pragma pack(push, 1)
struct PackedText {
    char* text;
    std::uint16_t capacity;
    std::uint16_t length;
};
#pragma pack(pop)
static_assert(sizeof(PackedText) == kPackedTextSlot);
