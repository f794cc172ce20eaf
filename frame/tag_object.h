// One tag of the real-time database as the task handles it: its reference,
// its type code and its current value in the kernel's ValueRecord form, with
// the text or block buffer the value points at, the conversions the commands
// need, and single-tag reads and writes through the batch transfers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/value_record.h"

// A 32-bit global tag identifier, resolved to a tag reference through the
// domain archives (the stop tag has identifier 5). A type of its own so that
// it cannot be mistaken for a tag reference.
struct GlobalTagId {
    std::uint32_t id;
};

class TagObject {
public:
    // Not configured (type -3, invalid reference).
    TagObject();
    // Resolves the identifier through the domain configuration under the
    // VDAPP value, starting at the VDDOMAIN value, then asks the kernel for
    // the tag's type. Any failure gives a not-configured object.
    explicit TagObject(GlobalTagId id);
    // Asks the kernel for the type of `ref`. Any failure gives a
    // not-configured object.
    explicit TagObject(TagRef ref);
    // A tag whose type the task has from the kernel already (no kernel
    // call), its text holding up to `text_size` characters (the kernel's
    // text capacity where a task wants texts whole). A type this task does
    // not know gives a not-configured object.
    TagObject(TagRef ref, std::int16_t type, std::uint16_t text_size = kTagObjectTextSize);
    ~TagObject();

    // The record points into the object's own buffer: copying is refused;
    // a move takes the buffer along and leaves the source not configured.
    TagObject(const TagObject&) = delete;
    TagObject& operator=(const TagObject&) = delete;
    TagObject(TagObject&& other) noexcept;
    TagObject& operator=(TagObject&& other) noexcept;

    TagRef Ref() const { return ref_; }
    std::int16_t Type() const { return type_; }
    ValueRecord Record() const { return value_; }
    int IsConfigured() const { return type_ != kTagNotConfigured ? 1 : 0; }

    // Conversions out of the last value read or set (no kernel access).
    // The text stays valid until the next conversion or change of the tag.
    const char* AsText() const;
    std::int32_t AsInt() const;
    std::int32_t AsLong() const;
    std::int16_t AsShort() const;
    double AsDouble() const;

    // Conversions into the tag (no kernel access).
    TagObject& SetInt(std::int32_t v);
    TagObject& SetUnsigned(std::uint32_t v);
    // A real tag takes `v`; integers take it truncated as AsInt and
    // AsShort give it; a text is left as it is.
    TagObject& SetDouble(double v);
    // A text tag takes `text` up to its first zero byte, cut to its buffer;
    // other types are left as they are.
    TagObject& SetText(std::string_view text);
    // Takes a value as the kernel delivers it. A text is copied into the
    // tag's buffer, cut to fit it; a block grows the buffer when larger.
    void Assign(const ValueRecord& source);

    // Kernel access for this one tag through the batch transfers.
    // Read: the batch read's result (0 = done). Write / WriteResult: 1 on
    // success, 0 on failure (reported as "VDERROR" with the kernel's code).
    std::int32_t Read();
    int Write();
    int WriteResult();
    // For a thread beside the main loop, and callers that report failures
    // in their own words: the read or the write under AcquireKernelAccess(0)
    // (the second registration's id, or the id the thread holds already),
    // nothing reported. 0, or the kernel's error code.
    std::int32_t ReadQuiet();
    std::int32_t WriteQuiet();

    // Length of the current text, bounded by the buffer (types 3; 0 else).
    std::uint16_t TextLength() const;
    // Capacity of the owned buffer in bytes (0 for numeric types).
    std::size_t BufferSize() const;

private:
    void SetNumberText(long long v);
    void Configure(TagRef ref);
    void Configure(TagRef ref, std::int16_t type, std::uint16_t text_size);
    void MakeNotConfigured();
    void AdoptFrom(TagObject& other) noexcept;

    TagRef ref_ = kInvalidTagRef;
    ValueRecord value_{};
    std::int16_t type_ = kTagNotConfigured;
    std::vector<std::uint8_t> buffer_;  // text or block bytes the record points at
    mutable std::string format_;        // AsText of numeric values
};
