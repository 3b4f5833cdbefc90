#include "numbers.h"

#include <QString>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
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
    // ASCII blanks inline; the rarer Unicode spaces through the general check
    auto asciiSpace = [](char c) { return c == ' ' || (c >= 0x09 && c <= 0x0d); };
    while (!t.empty() && asciiSpace(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && asciiSpace(t.back()))
        t.remove_suffix(1);
    if (t.empty() || (static_cast<unsigned char>(t.front()) < 0x80
                      && static_cast<unsigned char>(t.back()) < 0x80))
        return t;
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

constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The form nearly every value has, read at once: a sign perhaps, at most 15
// digits and one point or comma among them, nothing else. Gives the value
// parseValue() gives by its general way, or false for any other text.
bool quickValue(std::string_view t, double *value)
{
    const char *p = t.data();
    const char *const end = p + t.size();
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+'))
        ++p;
    const char *const first = p;
    quint64 mantissa = 0; // wraps on a long run of digits, which is refused below
    while (p != end && unsigned(*p - '0') < 10)
        mantissa = mantissa * 10 + unsigned(*p++ - '0');
    int digits = int(p - first);
    int fraction = 0;
    if (p != end) {
        if (*p != '.' && *p != ',')
            return false;
        const char *const point = ++p;
        while (p != end && unsigned(*p - '0') < 10)
            mantissa = mantissa * 10 + unsigned(*p++ - '0');
        if (p != end)
            return false;
        fraction = int(p - point);
        digits += fraction;
    }
    if (digits == 0 || digits > 15)
        return false;
    const double v = fraction > 0 ? double(mantissa) / powers[fraction] : double(mantissa);
    *value = negative ? -v : v;
    return true;
}

} // namespace

bool parseCode(std::string_view utf8, quint32 *code)
{
    // Nearly every code is a few plain digits.
    if (!utf8.empty() && utf8.size() <= 9) {
        quint32 v = 0;
        std::size_t i = 0;
        while (i < utf8.size() && isDigit(utf8[i]))
            v = v * 10 + quint32(utf8[i++] - '0');
        if (i == utf8.size()) {
            *code = v;
            return true;
        }
    }
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
    if (quickValue(utf8, value))
        return true;
    std::string_view t = trimmed(utf8);
    if (t.empty())
        return false;

    // Check the whole form first: from_chars alone would also take inf, nan and
    // hexadecimal forms, and stop quietly at trailing junk.
    std::size_t i = 0;
    const std::size_t n = t.size();
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
    // A point, or a comma as the decimal point (Russian habit). The form allows
    // one separator only, so "exactly one comma and no point" comes out of it.
    std::size_t separatorAt = std::string_view::npos;
    if (i < n && (t[i] == '.' || t[i] == ',')) {
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

    const int power = exponent + scale;
    if (significant <= 19 && mantissa <= (quint64(1) << 53) && power >= -22 && power <= 22) {
        double v = double(mantissa);
        v = power < 0 ? v / powers[-power] : v * powers[power];
        *value = negative ? -v : v;
        return true;
    }

    std::string_view body = t.substr(mantissaStart);
    std::string copy;
    if (separatorAt != std::string_view::npos && t[separatorAt] == ',') {
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

bool isNumberOnceUngrouped(std::string_view utf8)
{
    // Without a blank, an apostrophe or a non-ASCII character nothing is left out.
    if (std::none_of(utf8.begin(), utf8.end(), [](char c) { return c == ' ' || c == '\'' || (c & 0x80); }))
        return false;
    QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    const qsizetype before = text.size();
    text.removeIf([](QChar c) {
        return c.category() == QChar::Separator_Space || c == u'\'' || c == u'\u2019';
    });
    if (text.size() == before)
        return false;
    const QByteArray ungrouped = text.toUtf8();
    double value;
    return parseValue(std::string_view(ungrouped.constData(), std::size_t(ungrouped.size())), &value);
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

// Writes n < 10^15 as exactly 15 decimal digits.
// Writes the significant digits of n < 10^15, read as 15 digits, without its
// trailing zeros, and returns how many there are.
int writeDigits(char *digits, quint64 n)
{
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    int count = 15;
    if (n % 100000000 == 0) {
        n /= 100000000;
        count -= 8;
    }
    if (n % 10000 == 0) {
        n /= 10000;
        count -= 4;
    }
    if (n % 100 == 0) {
        n /= 100;
        count -= 2;
    }
    if (n % 10 == 0) {
        n /= 10;
        count -= 1;
    }
    char buffer[16];
    char *p = buffer + 16;
    while (n >= 10) {
        const auto pair = unsigned(n % 100);
        n /= 100;
        p -= 2;
        p[0] = pairs[2 * pair];
        p[1] = pairs[2 * pair + 1];
    }
    if (p > buffer + 16 - count)
        *--p = char('0' + n);
    std::memcpy(digits, buffer + 16 - count, std::size_t(count));
    return count;
}

// The 15 significant digits of |x|, rounded exactly (ties to even, as printf
// does), for 1e-8 <= |x| < 1e15 with 128-bit integers: x = m * 2^-s, so
// x * 10^k = (m * 10^k) >> s, with k <= 22 small enough for m * 10^k to fit.
// False when this way does not apply.
bool quickDigits(double x, char *digits, int *count, int *exponent)
{
#ifdef __SIZEOF_INT128__
    using u128 = unsigned __int128;
    if (!(x >= 1e-8 && x < 1e15))
        return false;
    quint64 bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int binary = int(bits >> 52) - 1022; // x = m * 2^(binary - 53), normal here
    const quint64 m = (bits & ((quint64(1) << 52) - 1)) | (quint64(1) << 52);
    const int shift = 53 - binary;
    if (shift <= 0 || shift >= 120)
        return false;
    static constexpr auto powers = [] {
        std::array<u128, 23> p{};
        p[0] = 1;
        for (std::size_t i = 1; i < p.size(); ++i)
            p[i] = p[i - 1] * 10;
        return p;
    }();
    // floor(log10(x)), or one less (log10(2) ~ 78913 / 2^18); corrected below
    int e = ((binary - 1) * 78913) >> 18;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int k = 14 - e;
        if (k < 0 || k > 22)
            return false;
        const u128 scaled = u128(m) * powers[std::size_t(k)];
        u128 n = scaled >> shift;
        const u128 rest = scaled - (n << shift);
        const u128 half = u128(1) << (shift - 1);
        if (rest > half || (rest == half && (n & 1)))
            ++n;
        if (n >= u128(1000000000000000ull)) {
            if (n > u128(1000000000000000ull) || (scaled >> shift) >= u128(1000000000000000ull)) {
                ++e; // the estimate of the exponent was one too small
                continue;
            }
            n /= 10; // rounded up to the next power of ten
            ++e;
        } else if (n < u128(100000000000000ull)) {
            --e;
            continue;
        }
        *count = writeDigits(digits, quint64(n));
        *exponent = e;
        return true;
    }
#else
    Q_UNUSED(x);
    Q_UNUSED(digits);
    Q_UNUSED(count);
    Q_UNUSED(exponent);
#endif
    return false;
}

} // namespace

char *formatTotal(double total, char *buffer)
{
    char digits[16];
    int exponent = 0;
    if (total == 0) {
        return layOut(buffer, std::signbit(total), "0", 1, 0);
    }
    // A whole number of up to 15 digits is exact in 15 digits and has no point.
    // (Below 2^53 a cast to an integer and back is exact, and so is adding a
    // half: both stand for floor() and llround(), which are calls into libm.)
    const double magnitude = std::fabs(total);
    if (magnitude < 1e15 && double(qint64(magnitude)) == magnitude)
        return std::to_chars(buffer, buffer + TotalTextMax, qint64(total)).ptr;
    // So is a number of hundredths, the usual value: any decimal of up to 15
    // digits comes back from its nearest double in 15 digits.
    if (magnitude < 1e13) {
        const double scaled = total * 100;
        const qint64 hundredths = qint64(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
        if (double(hundredths) / 100 == total) {
            char *out = buffer;
            if (hundredths < 0)
                *out++ = '-';
            const quint64 n = quint64(hundredths < 0 ? -hundredths : hundredths);
            out = std::to_chars(out, buffer + TotalTextMax, n / 100).ptr;
            const unsigned fraction = unsigned(n % 100);
            *out++ = '.';
            *out++ = char('0' + fraction / 10);
            if (fraction % 10 != 0)
                *out++ = char('0' + fraction % 10);
            return out;
        }
    }
    int count = 0;
    if (quickDigits(magnitude, digits, &count, &exponent))
        return layOut(buffer, total < 0, digits, count, exponent);
    return std::to_chars(buffer, buffer + TotalTextMax, total, std::chars_format::general, 15).ptr;
}

} // namespace numbers
