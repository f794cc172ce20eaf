#include "platform/codepage.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/error.h"
#include "platform/simulated/host_state.h"
#include "platform/fault_points.h"

namespace win {
namespace {

struct CodePages {
    UINT acp = 1252;
    UINT oemcp = 437;
};

std::mutex g_mutex;
std::atomic<bool> g_loaded{false};
std::atomic<UINT> g_acp{1252};
std::atomic<UINT> g_oemcp{437};

// "ACP=932" / "OEMCP=850" lines of the state file; anything else is ignored.
CodePages ReadStateFile() {
    CodePages pages;
    std::ifstream in(host::StatePath("codepages"));
    std::string line;
    while (std::getline(in, line)) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name = line.substr(0, eq);
        unsigned long value = std::strtoul(line.c_str() + eq + 1, nullptr, 10);
        if (value == 0 || value > 65535) continue;
        if (name == "ACP") pages.acp = static_cast<UINT>(value);
        if (name == "OEMCP") pages.oemcp = static_cast<UINT>(value);
    }
    return pages;
}

void Load(bool force) {
    if (!force && g_loaded.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!force && g_loaded.load(std::memory_order_relaxed)) return;
    CodePages pages = ReadStateFile();
    g_acp.store(pages.acp);
    g_oemcp.store(pages.oemcp);
    g_loaded.store(true, std::memory_order_release);
}

// Bytes 0x80-0xFF of the single-byte code pages (scripts/gen_codepage_tables.py);
// 0x00-0x7F are ASCII.
constexpr WCHAR k1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};
constexpr WCHAR k437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
constexpr WCHAR k850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

const WCHAR* UpperHalf(UINT page) {
    switch (page) {
        case 1252: return k1252;
        case 437: return k437;
        case 850: return k850;
        default: return nullptr;
    }
}

UINT Resolve(UINT page) {
    if (page == CP_ACP) return GetACP();
    if (page == CP_OEMCP) return GetOEMCP();
    return page;
}

// Writes into the caller's buffer, or only counts when it has none.
template <typename T>
struct Sink {
    T* out;
    int capacity;
    long long count = 0;
    bool overflow = false;
    void Put(T value) {
        if (capacity != 0) {
            if (count >= capacity) {
                overflow = true;
                return;
            }
            out[count] = value;
        }
        ++count;
    }
};

// Length of the well-formed UTF-8 sequence at `p` (no overlong forms, no
// surrogates, nothing above U+10FFFF), 0 when there is none.
int DecodeUtf8(const unsigned char* p, std::size_t n, char32_t& cp) {
    const unsigned char b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        cp = b & 0x0F;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        cp = b & 0x07;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (n < static_cast<std::size_t>(length) || p[1] < low || p[1] > high) return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return length;
}

template <typename T>
int Finish(const Sink<T>& sink) {
    if (sink.overflow) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (sink.count > INT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return static_cast<int>(sink.count);
}

}  // namespace

UINT GetACP() {
    Load(false);
    return g_acp.load();
}

UINT GetOEMCP() {
    Load(false);
    return g_oemcp.load();
}

BOOL IsDBCSLeadByte(BYTE test_char) {
    switch (GetACP()) {
        case 932:  // lead bytes 0x81-0x9F and 0xE0-0xFC
            return ((test_char >= 0x81 && test_char <= 0x9F) || (test_char >= 0xE0 && test_char <= 0xFC)) ? TRUE
                                                                                                           : FALSE;
        case 936:
        case 949:
        case 950:  // lead bytes 0x81-0xFE
            return (test_char >= 0x81 && test_char <= 0xFE) ? TRUE : FALSE;
        default:
            return FALSE;
    }
}

int sys::MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                             int cchWideChar) {
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT page = Resolve(CodePage);
    const WCHAR* half = UpperHalf(page);
    if (page != CP_UTF8 && half == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // not installed
        return 0;
    }
    const DWORD allowed = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : (MB_PRECOMPOSED | MB_ERR_INVALID_CHARS);
    if ((dwFlags & ~allowed) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    const std::size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    Sink<WCHAR> sink{lpWideCharStr, cchWideChar};
    for (std::size_t i = 0; i < n && !sink.overflow;) {
        if (page != CP_UTF8) {
            const unsigned char b = p[i++];
            sink.Put(b < 0x80 ? static_cast<WCHAR>(b) : half[b - 0x80]);
            continue;
        }
        char32_t cp = 0;
        int length = DecodeUtf8(p + i, n - i, cp);
        if (length == 0) {
            if ((dwFlags & MB_ERR_INVALID_CHARS) != 0) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            cp = 0xFFFD;
            length = 1;
        }
        i += static_cast<std::size_t>(length);
        if (cp >= 0x10000) {
            sink.Put(static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10)));
            sink.Put(static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            sink.Put(static_cast<WCHAR>(cp));
        }
    }
    return Finish(sink);
}

int sys::WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                             int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT page = Resolve(CodePage);
    const WCHAR* half = UpperHalf(page);
    if (page == CP_UTF8) {
        if ((dwFlags & ~WC_ERR_INVALID_CHARS) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    } else if (half == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // not installed
        return 0;
    } else if ((dwFlags & ~WC_NO_BEST_FIT_CHARS) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    std::size_t n = static_cast<std::size_t>(cchWideChar);
    if (cchWideChar == -1) {
        n = 0;
        while (lpWideCharStr[n] != 0) ++n;
        ++n;
    }
    const char fallback = lpDefaultChar != nullptr ? lpDefaultChar[0] : '?';
    bool used = false;
    Sink<char> sink{lpMultiByteStr, cbMultiByte};
    for (std::size_t i = 0; i < n && !sink.overflow;) {
        char32_t cp = lpWideCharStr[i++];
        bool lone = false;
        if (cp >= 0xD800 && cp <= 0xDBFF && i < n && lpWideCharStr[i] >= 0xDC00 && lpWideCharStr[i] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lpWideCharStr[i++] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            lone = true;
        }
        if (page == CP_UTF8) {
            if (lone) {
                if ((dwFlags & WC_ERR_INVALID_CHARS) != 0) {
                    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                    return 0;
                }
                cp = 0xFFFD;
            }
            if (cp < 0x80) {
                sink.Put(static_cast<char>(cp));
            } else if (cp < 0x800) {
                sink.Put(static_cast<char>(0xC0 | (cp >> 6)));
                sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
            } else if (cp < 0x10000) {
                sink.Put(static_cast<char>(0xE0 | (cp >> 12)));
                sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
            } else {
                sink.Put(static_cast<char>(0xF0 | (cp >> 18)));
                sink.Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
                sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
            }
            continue;
        }
        if (cp < 0x80) {
            sink.Put(static_cast<char>(cp));
            continue;
        }
        int found = -1;
        for (int k = 0; k < 128 && !lone && found < 0; ++k)
            if (half[k] == cp) found = k;
        if (found < 0) {
            sink.Put(fallback);
            used = true;
        } else {
            sink.Put(static_cast<char>(0x80 + found));
        }
    }
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used ? TRUE : FALSE;
    return Finish(sink);
}

}  // namespace win

namespace win::host {

void ReloadCodePages() { Load(true); }

}  // namespace win::host
