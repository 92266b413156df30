#pragma once

#include <string>

namespace ni {

// 32 lower-case hexadecimal digits of a fresh random (version 4) UUID, no hyphens.
std::string newUniqueIdentifier();

}  // namespace ni
