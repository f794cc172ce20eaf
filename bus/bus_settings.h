// The bridge's settings (VDMQTT.ini, sections "Broker" and "Bus") read into
// a plain value, and the prefix rules they and the topics follow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bus/mqtt_session.h"

struct SettingsFiles;

struct BusSettings {
    BrokerSettings broker;  // its subscriptions are the dialect's, added later
    std::uint32_t command_timeout_ms = 5000;  // for command rows with timeout 0
    std::string station;  // [Bus] Station, else the computer's name (code page)
};

// The settings with their fallbacks; bad values are reported
// ("BUSSETTINGS") and replaced by the default.
BusSettings ReadBusSettings(const SettingsFiles& files);

// "<VDNAME>/<VDDOMAIN>/<station>", each part made topic-safe.
std::string DefaultPrefix(const char* app, const char* domain, const char* station);
// "<VDNAME>/<VDDOMAIN>/all": where a caller reaches every station.
std::string DefaultBroadcastPrefix(const char* app, const char* domain);
// A prefix or a full topic: no wildcard, blank or empty level.
bool ValidPrefix(std::string_view prefix);
// Whether `topic` is `prefix` or lies under it (level by level).
bool TopicUnder(std::string_view topic, std::string_view prefix);
// Whether one prefix is the other or lies under it.
bool PrefixesOverlap(std::string_view a, std::string_view b);

// An outside text as it may appear in a report: printable bytes only, cut.
std::string Shown(std::string_view text);
