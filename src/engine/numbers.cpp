#include "numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
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

    // The digits are gathered on the way: most values have few of them, and
    // then mantissa / 10^k is exact and correctly rounded in one step.
    quint64 mantissa = 0;
    int significant = 0; // digits in mantissa, leading zeros not counted
    int scale = 0;       // decimal exponent correction from the fraction
    std::size_t digits = 0;
    bool nonZeroDigit = false;
    auto takeDigit = [&](char c, bool fraction) {
        ++digits;
        if (c != '0')
            nonZeroDigit = true;
        if (significant < 19) {
            if (significant > 0 || c != '0') {
                mantissa = mantissa * 10 + quint64(c - '0');
                ++significant;
            }
            scale -= fraction ? 1 : 0;
        } else {
            significant = 20; // too many digits for the quick way
        }
    };
    while (i < n && isDigit(t[i]))
        takeDigit(t[i++], false);
    std::size_t separatorAt = std::string_view::npos;
    if (i < n && t[i] == separator) {
        separatorAt = i++;
        while (i < n && isDigit(t[i]))
            takeDigit(t[i++], true);
    }
    if (digits == 0)
        return false;
    int exponent = 0;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (t[i] == '+' || t[i] == '-'))
            negativeExponent = (t[i++] == '-');
        std::size_t expDigits = 0;
        while (i < n && isDigit(t[i])) {
            if (exponent < 100000)
                exponent = exponent * 10 + (t[i] - '0');
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != n)
        return false;

    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const int power = exponent + scale;
    if (significant <= 19 && mantissa <= (quint64(1) << 53) && power >= -22 && power <= 22) {
        double v = double(mantissa);
        v = power < 0 ? v / powers[-power] : v * powers[power];
        *value = negative ? -v : v;
        return true;
    }

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

namespace {

// Lays out the significant digits of a value rounded to 15 of them, as %g does:
// positional for exponents -4..14, otherwise d.ddde+XX; trailing zeros dropped.
char *layOut(char *out, bool negative, const char *digits, int count, int exponent)
{
    while (count > 1 && digits[count - 1] == '0')
        --count;
    if (negative)
        *out++ = '-';
    if (exponent < -4 || exponent >= 15) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            for (int i = 1; i < count; ++i)
                *out++ = digits[i];
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10)
            *out++ = '0';
        return std::to_chars(out, out + 4, magnitude).ptr;
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = -1; i > exponent; --i)
            *out++ = '0';
        for (int i = 0; i < count; ++i)
            *out++ = digits[i];
        return out;
    }
    for (int i = 0; i <= exponent; ++i)
        *out++ = i < count ? digits[i] : '0';
    if (count > exponent + 1) {
        *out++ = '.';
        for (int i = exponent + 1; i < count; ++i)
            *out++ = digits[i];
    }
    return out;
}

// The 15 significant digits of |x| through one extended-precision scaling:
// x * 10^k is off by at most 2^-64 relative, far below 10^-4 of the last digit,
// so rounding it is exact unless it lies that close to a half, which is left to
// the full conversion. False when this way does not apply.
bool quickDigits(double x, char *digits, int *exponent)
{
    if constexpr (std::numeric_limits<long double>::digits < 64) {
        return false;
    } else {
        static constexpr long double powers[] = {
            1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
            1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
            1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
        if (!(x > 0) || x < 1e-13 || x >= 1e41)
            return false;
        int e = 0;
        for (long double v = x; v >= 10; v /= 10)
            ++e;
        for (long double v = x; v < 1; v *= 10)
            --e;
        long double y = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int k = 14 - e;
            if (k > 27 || k < -27)
                return false;
            y = k >= 0 ? x * powers[k] : x / powers[-k];
            if (y >= 1e15L)
                ++e; // the estimate of the exponent was one too small
            else if (y < 1e14L)
                --e;
            else
                break;
        }
        if (y < 1e14L || y >= 1e15L)
            return false;
        const long double floor = static_cast<long double>(static_cast<quint64>(y));
        const long double fraction = y - floor;
        if (fraction > 0.4999L && fraction < 0.5001L)
            return false;
        quint64 n = static_cast<quint64>(floor) + (fraction > 0.5L ? 1 : 0);
        if (n == 1000000000000000ull) { // rounded up to the next power of ten
            n /= 10;
            ++e;
        }
        for (int i = 14; i >= 0; --i) {
            digits[i] = char('0' + n % 10);
            n /= 10;
        }
        *exponent = e;
        return true;
    }
}

} // namespace

char *formatTotal(double total, char *buffer)
{
    char digits[16];
    int exponent = 0;
    if (total == 0) {
        return layOut(buffer, std::signbit(total), "0", 1, 0);
    }
    if (quickDigits(std::fabs(total), digits, &exponent))
        return layOut(buffer, total < 0, digits, 15, exponent);
    return std::to_chars(buffer, buffer + TotalTextMax, total, std::chars_format::general, 15).ptr;
}

} // namespace numbers
