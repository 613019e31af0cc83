// What the harnesses share: a check that stops the run like a crash, so that
// libFuzzer keeps the input that broke a property, and the input as text.
// Used from the fuzzer's single thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, what)                                                         \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, what); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

inline std::string fuzzText(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
