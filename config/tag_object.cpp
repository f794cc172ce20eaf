#include "config/tag_object.h"

TagObject::TagObject() = default;
TagObject::TagObject(GlobalTagId) {}
TagObject::TagObject(TagRef) {}
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
    buffer_ = std::move(other.buffer_);
    other.MakeNotConfigured();
}
void TagObject::Configure(TagRef) {}
void TagObject::MakeNotConfigured() {
    ref_ = kInvalidTagRef;
    value_ = ValueRecord{};
    type_ = kTagNotConfigured;
    buffer_.clear();
}
const char* TagObject::AsText() const { return ""; }
std::int32_t TagObject::AsInt() const { return 0; }
std::int32_t TagObject::AsLong() const { return 0; }
std::int16_t TagObject::AsShort() const { return 0; }
double TagObject::AsDouble() const { return 0.0; }
TagObject& TagObject::SetInt(std::int32_t) { return *this; }
TagObject& TagObject::SetUnsigned(std::uint32_t) { return *this; }
void TagObject::Assign(const ValueRecord&) {}
std::int32_t TagObject::Read() { return 0; }
int TagObject::Write() { return 0; }
int TagObject::WriteResult() { return 0; }
std::uint16_t TagObject::TextLength() const { return 0; }
std::size_t TagObject::BufferSize() const { return buffer_.size(); }
