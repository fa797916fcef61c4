#include "editor/NumberText.h"

#include <locale.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tq {

std::string fixedText(double value, int decimals, bool plusSign) {
    // Room for the widest double in fixed notation.
    std::array<char, 400> buffer{};
    char* first = buffer.data();
    if (plusSign && !std::signbit(value)) *first++ = '+';
    const auto [end, error] = std::to_chars(first, buffer.data() + buffer.size(), value,
                                            std::chars_format::fixed, decimals);
    if (error != std::errc()) return std::string();
    return std::string(buffer.data(), end);
}

double leadingNumber(const char* text) {
    if (text == nullptr) return 0.0;
    // Made once and kept for the library's life.
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    if (cLocale == static_cast<locale_t>(0)) return std::strtod(text, nullptr);
    return strtod_l(text, nullptr, cLocale);
}

}  // namespace tq
