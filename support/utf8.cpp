#include "support/utf8.h"

// Placeholder: the texts pass unchanged.
std::string CodePageToUtf8(std::string_view text) { return std::string(text); }

bool Utf8ToCodePage(std::string_view text, std::string& out, std::string&) {
    out.assign(text);
    return true;
}

std::string Utf8ToCodePageShown(std::string_view text) { return std::string(text); }
