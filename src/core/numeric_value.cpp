#include "core/numeric_value.h"

#include <cmath>
#include <string>

namespace ostrel {

namespace {

bool is_blank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool is_digit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Collects the number's characters, skipping blanks wherever they occur.
std::string number_characters(const QString& text) {
    std::string out;
    bool digits_seen = false;
    bool point_seen = false;
    bool exponent_seen = false;
    bool sign_allowed = true;
    for (const QChar c : text) {
        if (is_blank(c)) {
            continue;
        }
        if (sign_allowed && (c == QLatin1Char('+') || c == QLatin1Char('-'))) {
            out += static_cast<char>(c.unicode());
            sign_allowed = false;
        } else if (is_digit(c)) {
            out += static_cast<char>(c.unicode());
            digits_seen = true;
            sign_allowed = false;
        } else if (c == QLatin1Char('.') && !point_seen && !exponent_seen) {
            out += '.';
            point_seen = true;
            sign_allowed = false;
        } else if ((c == QLatin1Char('e') || c == QLatin1Char('E')) && digits_seen &&
                   !exponent_seen) {
            out += 'e';
            exponent_seen = true;
            sign_allowed = true;
        } else {
            break;
        }
    }
    return digits_seen ? out : std::string();
}

}  // namespace

double numeric_value(const QString& text) {
    const std::string number = number_characters(text);
    if (number.empty()) {
        return 0;
    }
    // strtod stops at a dangling exponent ("2e") by itself.
    const double value = std::strtod(number.c_str(), nullptr);
    return std::isfinite(value) ? value : 0;
}

}  // namespace ostrel
