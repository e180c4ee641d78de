#include "base/numbers.h"

#include <charconv>

namespace {

// The leading number of `text`, and in `rest` what follows it.
bool leading_number(std::string_view text, std::uint64_t& value, std::string_view& rest) {
    int radix = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        radix = 16;
        text.remove_prefix(2);
    }
    // from_chars would take a sign in front of hexadecimal digits after "0x": not a number.
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, radix);
    if (error != std::errc())
        return false;
    rest = text.substr(static_cast<std::size_t>(end - text.data()));
    return true;
}

} // namespace

bool parse_number(std::string_view text, std::uint64_t max, std::uint64_t& value) {
    std::uint64_t v = 0;
    std::string_view rest;
    if (!leading_number(text, v, rest) || !rest.empty() || v > max)
        return false;
    value = v;
    return true;
}

bool parse_size(std::string_view text, std::uint64_t& size) {
    std::uint64_t v = 0;
    std::string_view rest;
    if (!leading_number(text, v, rest))
        return false;
    std::uint64_t unit = 1;
    if (!rest.empty()) {
        unsigned power = 0;
        switch (rest[0]) {
        case 'K':
        case 'k':
            power = 1;
            break;
        case 'M':
        case 'm':
            power = 2;
            break;
        case 'G':
        case 'g':
            power = 3;
            break;
        default:
            return false;
        }
        rest.remove_prefix(1);
        const std::uint64_t step = rest == "B" ? 1000 : rest.empty() || rest == "iB" ? 1024 : 0;
        if (step == 0)
            return false;
        for (unsigned k = 0; k < power; ++k)
            unit *= step;
    }
    if (v > ~std::uint64_t{0} / unit)
        return false;
    size = v * unit;
    return true;
}
