#include "utilities/UniqueIdentifier.hpp"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <random>

namespace ni {

namespace {

// Random bytes from the kernel; a seeded generator only where that is refused.
void fillRandom(std::array<std::uint8_t, 16>& bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    if (filled < bytes.size()) {
        thread_local std::mt19937_64 engine{std::random_device{}()};
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(engine());
    }
}

}  // namespace

std::string newUniqueIdentifier() {
    std::array<std::uint8_t, 16> bytes{};
    fillRandom(bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char hex[] = "0123456789abcdef";
    std::string identifier;
    identifier.reserve(32);
    for (const std::uint8_t byte : bytes) {
        identifier += hex[byte >> 4];
        identifier += hex[byte & 0x0F];
    }
    return identifier;
}

}  // namespace ni
