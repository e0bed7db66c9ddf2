// Shared by the C interface's files: the reason of a failure into the
// caller's buffer, and the guard that keeps every exception inside.
#pragma once

#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace qz417::capi {

inline void SetError(char *error, std::size_t size, const char *text) {
    if (error == nullptr || size == 0)
        return;
    std::size_t n = std::strlen(text);
    if (n >= size)
        n = size - 1;
    std::memcpy(error, text, n);
    error[n] = '\0';
}

// Runs f; an exception becomes `failed` with its text in error.
template <typename F, typename R> R Guard(char *error, std::size_t size, R failed, F &&f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc &) {
        SetError(error, size, "out of memory");
    } catch (const std::exception &e) {
        SetError(error, size, e.what());
    } catch (...) {
        SetError(error, size, "unknown failure");
    }
    return failed;
}

} // namespace qz417::capi
