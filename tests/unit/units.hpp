// Wide text from its UTF-16 units, so tables can hold unpaired surrogates.
#pragma once

#include "common/text.hpp"

#include <initializer_list>

inline WideString units(std::initializer_list<unsigned> list) {
    WideString text;
    for (const unsigned unit : list) {
        text.push_back(static_cast<WCHAR>(unit));
    }
    return text;
}
