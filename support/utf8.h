// Texts between the station's code page (the ANSI code page, in which the
// runtime keeps its texts) and UTF-8 (what MQTT topics, JSON and the bus's
// text payloads carry). Pure ASCII passes as it is, without a conversion.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text in UTF-8. Bytes the code page does not map become U+FFFD (on
// Windows: what the system's table gives for them; the undefined bytes of
// 1252 become the C1 controls of the same value there and here).
std::string CodePageToUtf8(std::string_view text);

// The UTF-8 text in the station's code page. False with `reason` when the
// text is not valid UTF-8 or holds a character the code page cannot show
// (no look-alike replacements); `out` is then unchanged. The reason follows
// a subject: "is not valid UTF-8", "holds a character the station's code
// page (1252) cannot show (U+65E5)", "cannot be converted to ...".
bool Utf8ToCodePage(std::string_view text, std::string& out, std::string& reason);

// The UTF-8 text in the code page for a report: invalid bytes and what
// cannot be shown become "?"; never fails.
std::string Utf8ToCodePageShown(std::string_view text);

// Length of the well-formed UTF-8 sequence at the start of `text` (1..4: no
// overlong form, no surrogate, nothing above U+10FFFF), 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text);

// The station's code page (the ANSI code page).
unsigned StationCodePage();
