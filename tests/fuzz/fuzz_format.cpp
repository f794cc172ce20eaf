// The formatter: any directive text with any arguments must stay inside the
// caller's buffer, terminate it, and give the same text whatever the buffer
// size (a smaller buffer holds a prefix of a larger one's).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // Byte 0: the small buffer's size; then the format text up to a NUL; then
    // arguments, each a kind byte and its value. Fewer arguments than
    // directives, and arguments of the wrong kind, are part of what is fuzzed.
    const std::size_t small_size = data[0];
    const char* begin = reinterpret_cast<const char*>(data + 1);
    const std::string format(begin, strnlen(begin, size - 1));
    static const char* const kTexts[] = {"", "plant1", nullptr, "a much longer text with spaces", "%d%s%n"};
    std::vector<FormatArg> args;
    for (std::size_t pos = 1 + format.size() + 1; pos < size;) {
        const std::uint8_t kind = data[pos++];
        unsigned char value[8] = {};
        const std::size_t n = kind % 3 == 0 ? 4 : kind % 3 == 1 ? 8 : 0, have = std::min(n, size - pos);
        std::memcpy(value, data + pos, have);
        pos += have;
        const auto take = [&](auto v) { std::memcpy(&v, value, sizeof v), args.emplace_back(v); };
        if (kind % 3 == 0) take(std::int32_t{});
        else if (kind % 3 == 1) take(double{});
        else args.emplace_back(kTexts[(kind / 3) % 5]);
    }
    // Exactly sized heap buffers, so any overrun is caught.
    std::vector<char> big(4096);
    const int big_n = format_args(big.data(), big.size(), format.c_str(), args);
    if (big_n < 0 || static_cast<std::size_t>(big_n) >= big.size() || big[static_cast<std::size_t>(big_n)] != '\0') {
        std::abort();
    }
    if (small_size == 0) return 0;
    std::vector<char> small(small_size);
    const int small_n = format_args(small.data(), small_size, format.c_str(), args);
    if (small_n < 0 || static_cast<std::size_t>(small_n) >= small_size || small[small_n] != '\0') std::abort();
    if (std::memcmp(small.data(), big.data(), static_cast<std::size_t>(small_n)) != 0) std::abort();
    if (small_n < big_n && static_cast<std::size_t>(small_n) != small_size - 1) std::abort();
    return 0;
}
