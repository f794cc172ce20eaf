#include "support/utf8.h"

#include "platform/codepage.h"

namespace {

// Texts longer than this are not handed to the conversions (whose sizes
// are int); the bus never carries them.
constexpr std::size_t kLongest = 1u << 24;

bool Ascii(std::string_view text) {
    unsigned char any = 0;
    for (unsigned char c : text) any |= c;
    return any < 0x80;
}

// The conversion's flags and default-character arguments: UTF-8 takes none.
win::DWORD NoBestFit(win::UINT page) { return page == win::CP_UTF8 ? 0 : win::WC_NO_BEST_FIT_CHARS; }

// The text as UTF-16 through `page`; empty when the conversion fails.
std::u16string Wide(win::UINT page, win::DWORD flags, std::string_view text) {
    std::u16string wide(text.size(), u'\0');  // never more units than bytes
    int n = win::MultiByteToWideChar(page, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                                     static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return wide;
}

// UTF-16 in `page`; false when the conversion fails or, with `used`, when
// a character had to be replaced by "?".
bool Narrow(win::UINT page, const std::u16string& wide, std::string& out, bool* used) {
    out.assign(wide.size() * 3, '\0');  // 3 bytes per unit at most (UTF-8)
    win::BOOL replaced = win::FALSE;
    const bool utf8 = page == win::CP_UTF8;
    int n = win::WideCharToMultiByte(page, NoBestFit(page), wide.data(), static_cast<int>(wide.size()), out.data(),
                                     static_cast<int>(out.size()), nullptr, utf8 ? nullptr : &replaced);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (used != nullptr) *used = replaced != win::FALSE;
    return n > 0;
}

// The first character of `wide` that `page` cannot show, as "U+XXXX".
std::string FirstUnshown(win::UINT page, const std::u16string& wide) {
    for (std::size_t i = 0; i < wide.size();) {
        std::size_t units = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
        std::u16string one = wide.substr(i, units);
        std::string bytes;
        bool used = false;
        if (!Narrow(page, one, bytes, &used) || used) {
            char32_t cp = units == 2 ? 0x10000 + ((one[0] - 0xD800) << 10) + (one[1] - 0xDC00) : one[0];
            static const char kHex[] = "0123456789ABCDEF";
            std::string name = "U+";
            for (int shift = cp > 0xFFFFF ? 20 : cp > 0xFFFF ? 16 : 12; shift >= 0; shift -= 4) name += kHex[(cp >> shift) & 0xF];
            return name;
        }
        i += units;
    }
    return "?";
}

std::string PageName(win::UINT page) { return "the station's code page (" + std::to_string(page) + ")"; }

}  // namespace

std::string CodePageToUtf8(std::string_view text) {
    if (Ascii(text)) return std::string(text);
    const win::UINT page = win::GetACP();
    std::u16string wide;
    if (text.size() <= kLongest) wide = Wide(page, 0, text);
    std::string out;
    if (wide.empty() || !Narrow(win::CP_UTF8, wide, out, nullptr)) {
        // The code page cannot be converted here: ASCII stays, the rest is
        // U+FFFD.
        out.clear();
        for (unsigned char c : text) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\xEF\xBF\xBD";
    }
    return out;
}

bool Utf8ToCodePage(std::string_view text, std::string& out, std::string& reason) {
    if (Ascii(text)) {
        out.assign(text);
        return true;
    }
    const win::UINT page = win::GetACP();
    std::u16string wide;
    if (text.size() <= kLongest) wide = Wide(win::CP_UTF8, win::MB_ERR_INVALID_CHARS, text);
    if (wide.empty()) {
        reason = "is not valid UTF-8";
        return false;
    }
    if (page == win::CP_UTF8) {
        out.assign(text);
        return true;
    }
    std::string converted;
    bool used = false;
    if (!Narrow(page, wide, converted, &used)) {
        reason = "cannot be converted to " + PageName(page);
        return false;
    }
    if (used) {
        reason = "holds a character " + PageName(page) + " cannot show (" + FirstUnshown(page, wide) + ")";
        return false;
    }
    out = std::move(converted);
    return true;
}

std::string Utf8ToCodePageShown(std::string_view text) {
    if (Ascii(text)) return std::string(text);
    // Invalid bytes first become "?" themselves, so that the conversion
    // below never meets them.
    std::string valid;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = Utf8SequenceLength(text.substr(i));
        valid += n == 0 ? std::string_view("?") : text.substr(i, n);
        i += n == 0 ? 1 : n;
    }
    const win::UINT page = win::GetACP();
    if (page == win::CP_UTF8) return valid;
    std::u16string wide;
    if (valid.size() <= kLongest) wide = Wide(win::CP_UTF8, 0, valid);
    std::string out;
    if (!wide.empty() && Narrow(page, wide, out, nullptr)) return out;
    // The code page cannot be converted here: one "?" per character.
    out.clear();
    for (unsigned char c : valid)
        if ((c & 0xC0) != 0x80) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::size_t Utf8SequenceLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char b = p[0];
    if (b < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;  // overlong
        if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;  // overlong
        if (b == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || p[1] < low || p[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return length;
}

unsigned StationCodePage() { return win::GetACP(); }
