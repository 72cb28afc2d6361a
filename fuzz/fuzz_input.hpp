// Turns the fuzzer's bytes into the texts a target works on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The input split at every NUL byte: NUL cannot occur inside an argument, a path or an
// environment value, so it serves as the separator. An empty input gives no text at all.
inline std::vector<std::string> split_at_nul(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts;
    if (size == 0) {
        return texts;
    }
    texts.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            texts.emplace_back();
        } else {
            texts.back().push_back(static_cast<char>(data[i]));
        }
    }
    return texts;
}

// A broken property: says which, and aborts so that libFuzzer keeps the input as a crash.
[[noreturn]] inline void fuzz_failure(const std::string& what) {
    std::fprintf(stderr, "property broken: %s\n", what.c_str());
    std::abort();
}
