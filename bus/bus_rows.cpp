#include "bus/bus_rows.h"

#include <cstdint>
#include <cstring>

#include "bus/payload.h"
#include "support/utf8.h"

namespace {

TagPoint Point(TagRef ref, TagTypeQuery type_of) {
    TagPoint point;
    if (!TagRefNamesTag(ref)) return point;
    point.ref = ref;
    point.type = type_of(ref);
    return point;
}

bool Integer(std::int16_t type) { return type == kTagInt16 || type == kTagInt16Alt || type == kTagInt32; }

// The row's topic as stored (code page) checked, then in UTF-8 as the wire
// carries it. A byte the code page leaves undefined (a C1 control or U+FFFD
// in UTF-8) is refused: it is no character a topic can hold.
bool RowTopic(std::string& topic, std::string& reason) {
    if (!ValidRowTopic(topic, reason)) return false;
    topic = CodePageToUtf8(topic);
    for (std::size_t i = 0; i + 1 < topic.size(); ++i) {
        const auto c = static_cast<unsigned char>(topic[i]), next = static_cast<unsigned char>(topic[i + 1]);
        if ((c == 0xC2 && next >= 0x80 && next <= 0x9F) || topic.compare(i, 3, "\xEF\xBF\xBD") == 0) {
            reason = "topic holds a byte the station's code page does not define";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ValidRowTopic(std::string_view topic, std::string& reason) {
    if (topic.empty() || topic.size() > kRowTopicSize) {
        reason = "topic empty or longer than 48 bytes";
        return false;
    }
    for (unsigned char c : topic) {
        if (c < 0x21 || c == 0x7F || c == '+' || c == '#') {
            reason = "topic holds a wildcard, a blank or a control character";
            return false;
        }
    }
    if (topic == "status" || topic == "error") {
        reason = "topic is one of the bridge's own";
        return false;
    }
    std::size_t start = 0;
    while (true) {
        std::size_t slash = topic.find('/', start);
        std::string_view segment = topic.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (segment.empty()) {
            reason = "topic has an empty level";
            return false;
        }
        if (segment == "set" || segment == "call" || segment == "reply") {
            reason = "topic has a level named set, call or reply";
            return false;
        }
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return true;
}

bool DecodeTagRow(const TableRecord& rec, TagTypeQuery type_of, TagRow& row, std::string& reason) {
    row = TagRow{};
    row.tag = Point(rec.Dword(0), type_of);
    row.flags = rec.Word(4);
    row.topic = rec.Text(6, kRowTopicSize);
    if (!row.tag.Configured()) {
        reason = "tag not configured";
        return false;
    }
    if (!BusCarriesType(row.tag.type)) {
        reason = "block tags are not carried";
        return false;
    }
    if (row.flags == 0 || (row.flags & ~(kRowPublish | kRowAcceptWrites)) != 0) {
        reason = "flags must be 1 (publish), 2 (accept writes) or 3";
        return false;
    }
    return RowTopic(row.topic, reason);
}

bool DecodeCommandRow(const TableRecord& rec, TagTypeQuery type_of, CommandRow& row, std::string& reason) {
    row = CommandRow{};
    row.trigger = Point(rec.Dword(0), type_of);
    row.done = Point(rec.Dword(4), type_of);
    row.argument = Point(rec.Dword(8), type_of);
    for (int i = 0; i < kResultTags; ++i) {
        TagRef ref = rec.Dword(12 + 4 * static_cast<std::uint32_t>(i));
        if (!TagRefNamesTag(ref)) continue;
        TagPoint result = Point(ref, type_of);
        if (!result.Configured() || !BusCarriesType(result.type)) {
            reason = "result tag " + std::to_string(i + 1) + " not configured or a block";
            return false;
        }
        row.results.push_back(result);
        row.result_positions.push_back(i + 1);
    }
    const std::uint16_t mode_word = rec.Word(28);
    row.mode = static_cast<std::uint16_t>(mode_word & kCommandModeMask);
    row.broadcast = (mode_word & kCommandBroadcast) != 0;
    row.timeout_ms = rec.Dword(30);
    row.topic = rec.Text(34, kRowTopicSize);
    if (!row.trigger.Configured() || !BusCarriesType(row.trigger.type)) {
        reason = "trigger not configured or a block";
        return false;
    }
    if (!row.done.Configured() || !Integer(row.done.type)) {
        reason = "done tag not configured or not an integer";
        return false;
    }
    if (TagRefNamesTag(rec.Dword(8)) && (!row.argument.Configured() || !BusCarriesType(row.argument.type))) {
        reason = "argument tag not configured or a block";
        return false;
    }
    if (row.mode > kCommandCount || (mode_word & ~(kCommandModeMask | kCommandBroadcast)) != 0) {
        reason = "mode must be 0 (value), 1 (pulse) or 2 (count), plus 256 for broadcasts";
        return false;
    }
    if (row.mode != kCommandValue && !Integer(row.trigger.type)) {
        reason = "pulse and count need an integer trigger";
        return false;
    }
    if (row.timeout_ms > kMaxCommandTimeoutMs) {
        reason = "timeout above 600000 ms";
        return false;
    }
    return RowTopic(row.topic, reason);
}

TopicRequest ClassifyTopic(std::string_view topic) {
    TopicRequest request;
    if (topic == "status" || topic == "error") {
        request.kind = TopicRequest::kOwn;
        return request;
    }
    // Row topics hold no level named set, call or reply: the first such
    // level ends the row topic.
    std::size_t start = 0;
    while (start <= topic.size()) {
        std::size_t slash = topic.find('/', start);
        std::size_t end = slash == std::string_view::npos ? topic.size() : slash;
        std::string_view segment = topic.substr(start, end - start);
        if (segment == "set" || segment == "call" || segment == "reply") {
            if (start == 0) return request;  // no row topic before it
            request.base = std::string(topic.substr(0, start - 1));
            std::string_view rest = slash == std::string_view::npos ? std::string_view() : topic.substr(slash + 1);
            if (segment == "set") {
                if (slash == std::string_view::npos) request.kind = TopicRequest::kSet;
            } else if (segment == "call") {
                if (slash == std::string_view::npos) {
                    request.kind = TopicRequest::kCall;
                } else if (!rest.empty() && rest.find('/') == std::string_view::npos) {
                    request.kind = TopicRequest::kCall;
                    request.request_id = std::string(rest);
                }
            } else {
                request.kind = TopicRequest::kOwn;  // an answer, ours or another bridge's
            }
            return request;
        }
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    request.kind = TopicRequest::kState;
    request.base = std::string(topic);
    return request;
}

bool SameValue(const TagObject& a, const TagObject& b) {
    switch (a.Type()) {
        case kTagReal: return a.AsDouble() == b.AsDouble();
        case kTagText: return std::strcmp(a.AsText(), b.AsText()) == 0;
        default: return a.AsInt() == b.AsInt();
    }
}

void SetDifferent(TagObject& out, const TagObject& value) {
    switch (value.Type()) {
        case kTagReal: out.SetDouble(value.AsDouble() == 0.0 ? 1.0 : 0.0); break;
        case kTagText: out.SetText(*value.AsText() == '\0' ? " " : ""); break;
        default: out.SetInt(value.AsInt() == 0 ? 1 : 0); break;
    }
}

std::int32_t NextCount(const TagObject& value) {
    const std::int32_t high = value.Type() == kTagInt32 ? INT32_MAX : INT16_MAX;
    const std::int32_t v = value.AsInt();
    return v >= high || v < 0 ? 1 : v + 1;
}

bool BusRows::Add(TagRow row) {
    if (tag_by_topic.count(row.topic) != 0) return false;
    tag_by_topic.emplace(row.topic, tags.size());
    tags.push_back(std::move(row));
    return true;
}

bool BusRows::Add(CommandRow row) {
    if (command_by_topic.count(row.topic) != 0) return false;
    command_by_topic.emplace(row.topic, commands.size());
    commands.push_back(std::move(row));
    return true;
}
