#pragma once

// Character sets the utility categories share; not part of their interface.

#include <unicode/uniset.h>

namespace ni {

// White space and newlines: general category Z, tab to carriage return, and NEL.
// Tab belongs here as it belongs to plain white space; a cut or a name must not
// leave one at an end. Every member is a single BMP code unit, so text can be
// tested unit by unit.
inline const icu::UnicodeSet& whitespaceAndNewlines() {
    static const icu::UnicodeSet set = [] {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeSet built(u"[[:Z:][\\u0009-\\u000D\\u0085]]", status);
        if (U_FAILURE(status)) built.clear();
        built.freeze();
        return built;
    }();
    return set;
}

}  // namespace ni
