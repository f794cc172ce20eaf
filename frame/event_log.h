// The event-log sink: installation of the task's event source in the
// registry, and the writer through which every event is reported. The
// writer opens the source afresh for each event and closes it again; one
// lock serialises that sequence, so no handle is ever shared.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/types.h"

// Registry key under HKEY_LOCAL_MACHINE that holds the event sources.
inline constexpr const char* kEventLogApplicationKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
inline constexpr const char* kEventMessageFileName = "\\VdMsgZAR.dll";
inline constexpr std::uint32_t kEventTypesSupported = 7;  // error, warning, information

class EventLogWriter {
public:
    // Stores the names (null: empty; an empty server is the local computer).
    EventLogWriter(const char* server, const char* source);
    ~EventLogWriter();
    EventLogWriter(const EventLogWriter&) = delete;
    EventLogWriter& operator=(const EventLogWriter&) = delete;

    // Writes the source's "EventMessageFile" and "TypesSupported" values and
    // adds the source to the "Sources" list of the application key (when
    // that list exists and lacks it). 1 when both values were written.
    static int Install(const char* source, const char* message_file, std::uint32_t types);

    // Opens the source (closing a handle held before); nonzero on success,
    // when the names are also stored.
    int Register(const char* server, const char* source);
    // Closes the handle; nonzero on success, 1 when none was open.
    int Deregister();

    // Opens the stored source, reports one event, closes the source; the
    // result of ReportEventA (0 when the source could not be opened).
    int Report(std::uint16_t type, std::uint16_t category, std::uint32_t event_id, void* user_sid,
               std::uint16_t num_strings, std::uint32_t data_size, const char** strings, void* data);
    void ReportText(std::uint16_t type, std::uint32_t event_id, const char* text);
    void ReportTextWithData(std::uint16_t type, std::uint32_t event_id, const char* text, const void* data,
                            std::uint32_t data_size);

    const std::string& Server() const { return server; }
    const std::string& Source() const { return source; }

private:
    win::HANDLE handle = nullptr;
    std::string server;
    std::string source;
    std::mutex lock;
};
