// The platform functions that can fail, defined once for both sides over
// the side's own implementation (platform/fault_points.h); in test builds
// each asks the switch table first.
#include "platform/fault_points.h"

#include "platform/test_hooks.h"

#include <cstring>
#include <string_view>

namespace win {

#if defined(VD_TEST_HOOKS)
namespace {

// The failure result of a function whose result is its error.
struct StatusResult {};
constexpr StatusResult kStatus{};

template <typename R, typename F>
R Failed(DWORD error, F failure) {
    if constexpr (std::is_same_v<F, StatusResult>) {
        return static_cast<R>(error);
    } else {
        SetLastError(error);
        return static_cast<R>(failure);
    }
}

// What a read of a settings file that cannot be read gives: the default
// (trailing blanks dropped, cut to size-1), or an empty list.
DWORD UnreadableProfileString(LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned, DWORD size) {
    if (returned == nullptr || size == 0) return 0;
    if (app_name == nullptr || key_name == nullptr) {
        returned[0] = '\0';
        if (size > 1) returned[1] = '\0';
        return 0;
    }
    std::string_view text = default_value == nullptr ? std::string_view() : std::string_view(default_value);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const DWORD n = text.size() < size ? static_cast<DWORD>(text.size()) : size - 1;
    std::memcpy(returned, text.data(), n);
    returned[n] = '\0';
    return n;
}

}  // namespace

#define VD_FAULT_POINT_DEFINE(result, Name, params, args, failure)                                  \
    result Name params {                                                                            \
        const test::Call call(#Name);                                                               \
        if (call.Fails()) return Failed<result>(call.Error(), failure);                             \
        if (auto* replacement = call.Replacement<decltype(sys::Name)>()) return replacement args;  \
        return sys::Name args;                                                                      \
    }
#else
#define VD_FAULT_POINT_DEFINE(result, Name, params, args, failure) \
    result Name params { return sys::Name args; }
#endif

VD_FAULT_POINTS(VD_FAULT_POINT_DEFINE)
#undef VD_FAULT_POINT_DEFINE

}  // namespace win
