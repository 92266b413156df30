#pragma once

#include <cstddef>

namespace ni {

// A span of UTF-16 code units: its end is location + length.
struct Range {
    std::size_t location = 0;
    std::size_t length = 0;
};

}  // namespace ni
