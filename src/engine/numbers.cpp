#include "numbers.h"

#include <charconv>
#include <string>

namespace numbers {
namespace {

// Length of the white space character that starts at the front of text, or 0.
// White space is what QChar::isSpace() accepts, in UTF-8.
int leadingSpace(std::string_view t)
{
    if (t.empty())
        return 0;
    const auto b0 = static_cast<unsigned char>(t[0]);
    if (b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0d))
        return 1;
    if (b0 < 0x80 || t.size() < 2)
        return 0;
    const auto b1 = static_cast<unsigned char>(t[1]);
    if (b0 == 0xc2)
        return (b1 == 0x85 || b1 == 0xa0) ? 2 : 0;
    if (t.size() < 3)
        return 0;
    const auto b2 = static_cast<unsigned char>(t[2]);
    if (b0 == 0xe1) // U+1680
        return (b1 == 0x9a && b2 == 0x80) ? 3 : 0;
    if (b0 == 0xe2) {
        if (b1 == 0x80) // U+2000..U+200A, U+2028, U+2029, U+202F
            return ((b2 >= 0x80 && b2 <= 0x8a) || b2 == 0xa8 || b2 == 0xa9 || b2 == 0xaf) ? 3 : 0;
        return (b1 == 0x81 && b2 == 0x9f) ? 3 : 0; // U+205F
    }
    if (b0 == 0xe3) // U+3000
        return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
    return 0;
}

// Length of the white space character that ends text, or 0.
int trailingSpace(std::string_view t)
{
    if (t.empty())
        return 0;
    const auto last = static_cast<unsigned char>(t.back());
    if (last < 0x80)
        return leadingSpace(t.substr(t.size() - 1));
    for (std::size_t n = 2; n <= 3 && n <= t.size(); ++n) {
        if (leadingSpace(t.substr(t.size() - n)) == int(n))
            return int(n);
    }
    return 0;
}

std::string_view trimmed(std::string_view t)
{
    while (int n = leadingSpace(t))
        t.remove_prefix(n);
    while (int n = trailingSpace(t))
        t.remove_suffix(n);
    return t;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool parseCode(std::string_view utf8, quint32 *code)
{
    std::string_view t = trimmed(utf8);
    if (!t.empty() && t.front() == '+')
        t.remove_prefix(1);
    if (t.empty())
        return false;
    quint64 v = 0;
    for (char c : t) {
        if (!isDigit(c))
            return false;
        v = v * 10 + quint64(c - '0');
        if (v > 0xffffffffu)
            return false;
    }
    *code = quint32(v);
    return true;
}

bool parseValue(std::string_view utf8, double *value)
{
    std::string_view t = trimmed(utf8);
    if (t.empty())
        return false;

    // Check the whole form first: from_chars alone would also take inf, nan and
    // hexadecimal forms, and stop quietly at trailing junk.
    std::size_t i = 0;
    const std::size_t n = t.size();
    std::size_t commas = 0, points = 0;
    for (char c : t) {
        commas += (c == ',');
        points += (c == '.');
    }
    const char separator = (commas == 1 && points == 0) ? ',' : '.';
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') {
        negative = (t[i] == '-');
        ++i;
    }
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    bool nonZeroDigit = false;
    while (i < n && isDigit(t[i])) {
        nonZeroDigit |= (t[i] != '0');
        ++i;
        ++digits;
    }
    std::size_t separatorAt = std::string_view::npos;
    if (i < n && t[i] == separator) {
        separatorAt = i++;
        while (i < n && isDigit(t[i])) {
            nonZeroDigit |= (t[i] != '0');
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < n && isDigit(t[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != n)
        return false;

    std::string_view body = t.substr(mantissaStart);
    std::string copy;
    if (separator == ',' && separatorAt != std::string_view::npos) {
        copy.assign(body);
        copy[separatorAt - mantissaStart] = '.';
        body = copy;
    }
    double v = 0;
    const auto r = std::from_chars(body.data(), body.data() + body.size(), v);
    if (r.ec != std::errc() || r.ptr != body.data() + body.size())
        return false; // overflow, or underflow to zero
    if (v == 0 && nonZeroDigit)
        return false;
    *value = negative ? -v : v;
    return true;
}

char *formatTotal(double total, char *buffer)
{
    return std::to_chars(buffer, buffer + TotalTextMax, total, std::chars_format::general, 15).ptr;
}

} // namespace numbers
