// The formatter: any directive text with any arguments must stay inside the
// caller's buffer, terminate it, and give the same text whatever the buffer
// size (a smaller buffer holds a prefix of a larger one's).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/format.h"

namespace {

// Arguments drawn from the fuzz input after the format text: a kind byte,
// then the value. Fewer arguments than directives, and arguments of the
// wrong kind, are part of what is fuzzed.
std::vector<FormatArg> Arguments(const std::uint8_t* data, std::size_t size) {
    static const char* const kTexts[] = {"", "plant1", nullptr, "a much longer text with spaces", "%d%s%n"};
    std::vector<FormatArg> args;
    std::size_t pos = 0;
    auto take = [&](void* out, std::size_t n) {
        std::memset(out, 0, n);
        std::size_t have = size - pos < n ? size - pos : n;
        if (have > 0) std::memcpy(out, data + pos, have);
        pos += have;
    };
    while (pos < size) {
        std::uint8_t kind = 0;
        take(&kind, 1);
        if (kind % 3 == 0) {
            std::int32_t v = 0;
            take(&v, sizeof v);
            args.emplace_back(v);
        } else if (kind % 3 == 1) {
            double v = 0;
            take(&v, sizeof v);
            args.emplace_back(v);
        } else {
            args.emplace_back(kTexts[(kind / 3) % 5]);
        }
    }
    return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::size_t small_size = data[0];
    const char* begin = reinterpret_cast<const char*>(data + 1);
    std::size_t rest = size - 1;
    const void* nul = std::memchr(begin, '\0', rest);
    std::size_t format_len = nul != nullptr ? static_cast<const char*>(nul) - begin : rest;
    std::string format(begin, format_len);
    const std::uint8_t* arg_data = data + 1 + format_len + (nul != nullptr ? 1 : 0);
    std::size_t arg_size = size - 1 - format_len - (nul != nullptr ? 1 : 0);

    // Exactly sized heap buffers, so any overrun is caught.
    std::vector<char> big(4096);
    std::vector<FormatArg> args = Arguments(arg_data, arg_size);
    int big_n = format_args(big.data(), big.size(), format.c_str(), args);
    if (big_n < 0 || static_cast<std::size_t>(big_n) >= big.size() || big[static_cast<std::size_t>(big_n)] != '\0') {
        std::abort();
    }
    if (small_size == 0) return 0;
    char* small = static_cast<char*>(std::malloc(small_size));
    int small_n = format_args(small, small_size, format.c_str(), args);
    if (small_n < 0 || static_cast<std::size_t>(small_n) >= small_size || small[small_n] != '\0') std::abort();
    if (std::memcmp(small, big.data(), static_cast<std::size_t>(small_n)) != 0) std::abort();
    if (small_n < big_n && static_cast<std::size_t>(small_n) != small_size - 1) std::abort();
    std::free(small);
    return 0;
}
