// Texts between the station's code page (the ANSI code page, in which the
// runtime keeps its texts) and UTF-8 (what MQTT topics, JSON and the bus's
// text payloads carry).
#pragma once

#include <string>
#include <string_view>

// The text in UTF-8. Bytes the code page does not map become U+FFFD.
std::string CodePageToUtf8(std::string_view text);

// The UTF-8 text in the station's code page. False with `reason` when the
// text is not valid UTF-8 or holds a character the code page cannot show;
// `out` is then unchanged.
bool Utf8ToCodePage(std::string_view text, std::string& out, std::string& reason);

// The UTF-8 text in the code page for a report: what cannot be shown
// becomes "?"; never fails.
std::string Utf8ToCodePageShown(std::string_view text);
