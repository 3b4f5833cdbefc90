// The number forms of report files: our own quick paths against the standard
// library's exact conversions, over many values, plus the fixed cases.

#include "numbers.h"

#include <QTest>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace {

std::string formatted(double v)
{
    char buffer[numbers::TotalTextMax];
    return std::string(buffer, numbers::formatTotal(v, buffer));
}

// "%.15g" in the C locale, whatever the process's locale is.
std::string reference(double v)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15).ptr;
    return std::string(buffer, end);
}

} // namespace

class TestNumbers : public QObject
{
    Q_OBJECT

private slots:
    void totalText_data();
    void totalText();
    void totalTextMatchesPrintfEverywhere();
    void codes_data();
    void codes();
    void values_data();
    void values();
    void valuesMatchExactConversion();
};

void TestNumbers::totalText_data()
{
    QTest::addColumn<double>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 150.0 << "150";
    QTest::newRow("trailing zero dropped") << 2.50 << "2.5";
    QTest::newRow("15 digits, not the shortest form") << 0.1 + 0.2 << "0.3";
    QTest::newRow("one third") << 1.0 / 3 << "0.333333333333333";
    QTest::newRow("15-digit whole") << 123456789012345.0 << "123456789012345";
    QTest::newRow("1e14 positional") << 1e14 << "100000000000000";
    QTest::newRow("1e15 exponent") << 1e15 << "1e+15";
    QTest::newRow("rounds up to 1e15") << 999999999999999.7 << "1e+15";
    QTest::newRow("0.0001 positional") << 0.0001 << "0.0001";
    QTest::newRow("0.00001 exponent") << 0.00001 << "1e-05";
    QTest::newRow("negative") << -7.25 << "-7.25";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("whole, 15 digits") << 999999999999999.0 << "999999999999999";
    QTest::newRow("negative whole") << -42.0 << "-42";
    QTest::newRow("hundredths below one") << -0.05 << "-0.05";
    QTest::newRow("tenths of a large number") << 9999999999999.5 << "9999999999999.5";
    QTest::newRow("large") << 1.7976931348623157e308 << "1.79769313486232e+308";
    QTest::newRow("subnormal") << 4.9406564584124654e-324 << "4.94065645841247e-324";
    QTest::newRow("just above a half at the 15th digit") << 0.5000000000000005 << "0.500000000000001";
    QTest::newRow("exact tie rounds to even, down") << 1.000030517578125 << "1.00003051757812";
    QTest::newRow("exact tie rounds to even, up") << 1.000091552734375 << "1.00009155273438";
    QTest::newRow("many decimals") << 12345.678901234567 << "12345.6789012346";
    QTest::newRow("overflowed sum") << HUGE_VAL << "inf";
    QTest::newRow("hundredths below 1e13") << 9999999999999.99 << "9999999999999.99";
    QTest::newRow("negative hundredths, rounding away from zero") << -2.675 << "-2.675";
    QTest::newRow("a whole number by a hair") << 2.0000000000000004 << "2";
    QTest::newRow("whole at 2^53 is past 15 digits") << 9007199254740992.0 << "9.00719925474099e+15";
}

void TestNumbers::totalText()
{
    QFETCH(double, total);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(formatted(total)), text);
}

void TestNumbers::totalTextMatchesPrintfEverywhere()
{
    // A few against the C library itself, in the C locale...
    locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    locale_t previous = uselocale(c);
    for (double v : {0.1 + 0.2, 1e15, 1e-5, -1234.5678, 6.02214076e23, 1e-300}) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", v);
        QCOMPARE(formatted(v), std::string(buffer));
    }
    uselocale(previous);
    freelocale(c);

    // ...and very many against the standard's exact conversion.
    std::mt19937_64 random(20261207);
    auto check = [](double v) {
        if (formatted(v) != reference(v))
            QFAIL(qPrintable(QStringLiteral("%1: %2 instead of %3")
                                 .arg(v, 0, 'g', 17)
                                 .arg(QString::fromStdString(formatted(v)),
                                      QString::fromStdString(reference(v)))));
    };
    std::uniform_int_distribution<int> cents(-10000000, 10000000);
    std::uniform_int_distribution<int> exponents(-30, 40);
    for (int i = 0; i < 200000; ++i) {
        // any bit pattern
        quint64 bits = random();
        double any;
        std::memcpy(&any, &bits, sizeof any);
        if (std::isfinite(any))
            check(any);
        // sums of money amounts, the usual totals
        double sum = 0;
        for (int j = 0; j < 1 + i % 7; ++j)
            sum = sum + cents(random) / 100.0;
        check(sum);
        // hundredths up to 15 digits, and their neighbours
        const double hundredths = double(qint64(random() % 2000000000000000ull) - 1000000000000000) / 100;
        check(hundredths);
        check(std::nextafter(hundredths, HUGE_VAL));
        // values around powers of ten and halves at the 15th digit
        const double p = std::pow(10.0, exponents(random));
        check(std::nextafter(p, 0.0));
        check(std::nextafter(p, HUGE_VAL));
        check((double(random() % 1000000000000000ull) + 0.5) * p / 1e15);
    }
}

void TestNumbers::codes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("code");
    QTest::newRow("plain") << QByteArray("7") << true << 7u;
    QTest::newRow("leading zero") << QByteArray("07") << true << 7u;
    QTest::newRow("blanks") << QByteArray(" \t7\n ") << true << 7u;
    QTest::newRow("no-break space") << QByteArray("\xc2\xa0" "7\xe3\x80\x80") << true << 7u;
    QTest::newRow("plus") << QByteArray("+7") << true << 7u;
    QTest::newRow("zero") << QByteArray("0") << true << 0u;
    QTest::newRow("largest") << QByteArray("4294967295") << true << 4294967295u;
    QTest::newRow("many zeros") << QByteArray("000000000004294967295") << true << 4294967295u;
    QTest::newRow("too large") << QByteArray("4294967296") << false << 0u;
    QTest::newRow("far too large") << QByteArray("99999999999999999999999") << false << 0u;
    QTest::newRow("negative") << QByteArray("-1") << false << 0u;
    QTest::newRow("fraction") << QByteArray("1.0") << false << 0u;
    QTest::newRow("empty") << QByteArray("") << false << 0u;
    QTest::newRow("blank") << QByteArray("  ") << false << 0u;
    QTest::newRow("letters") << QByteArray("x1") << false << 0u;
    QTest::newRow("inner blank") << QByteArray("1 2") << false << 0u;
    QTest::newRow("sign alone") << QByteArray("+") << false << 0u;
    QTest::newRow("hex") << QByteArray("0x10") << false << 0u;
    QTest::newRow("fullwidth digit") << QByteArray("\xef\xbc\x97") << false << 0u;
}

void TestNumbers::codes()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(uint, code);
    quint32 parsed = 12345;
    QCOMPARE(numbers::parseCode(std::string_view(text.constData(), std::size_t(text.size())), &parsed), ok);
    if (ok)
        QCOMPARE(parsed, code);
}

void TestNumbers::values_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("whole") << QByteArray("12") << true << 12.0;
    QTest::newRow("blanks and line ends") << QByteArray("\n   12\n  ") << true << 12.0;
    QTest::newRow("point") << QByteArray("12.0") << true << 12.0;
    QTest::newRow("negative") << QByteArray("-3.5") << true << -3.5;
    QTest::newRow("exponent") << QByteArray("1e3") << true << 1000.0;
    QTest::newRow("upper exponent with sign") << QByteArray("2.5E-2") << true << 0.025;
    QTest::newRow("plus") << QByteArray("+4") << true << 4.0;
    QTest::newRow("leading point") << QByteArray(".5") << true << 0.5;
    QTest::newRow("trailing point") << QByteArray("5.") << true << 5.0;
    QTest::newRow("decimal comma") << QByteArray("12,5") << true << 12.5;
    QTest::newRow("negative decimal comma") << QByteArray("-0,25") << true << -0.25;
    QTest::newRow("comma with exponent") << QByteArray("1,5e3") << true << 1500.0;
    QTest::newRow("subnormal") << QByteArray("1e-310") << true << 1e-310;
    QTest::newRow("long mantissa") << QByteArray("0.1000000000000000055511151231257827") << true << 0.1;
    QTest::newRow("zero with exponent") << QByteArray("0e999") << true << 0.0;
    QTest::newRow("comma and point") << QByteArray("1,000.5") << false << 0.0;
    QTest::newRow("two commas") << QByteArray("1,2,3") << false << 0.0;
    QTest::newRow("two points") << QByteArray("1.2.3") << false << 0.0;
    QTest::newRow("empty") << QByteArray("") << false << 0.0;
    QTest::newRow("blank") << QByteArray(" \t\r\n") << false << 0.0;
    QTest::newRow("word") << QByteArray("abc") << false << 0.0;
    QTest::newRow("trailing junk") << QByteArray("12abc") << false << 0.0;
    QTest::newRow("inner blank") << QByteArray("1 000") << false << 0.0;
    QTest::newRow("inf") << QByteArray("inf") << false << 0.0;
    QTest::newRow("signed infinity") << QByteArray("-Infinity") << false << 0.0;
    QTest::newRow("nan") << QByteArray("NaN") << false << 0.0;
    QTest::newRow("overflow") << QByteArray("1e400") << false << 0.0;
    QTest::newRow("negative overflow") << QByteArray("-1.8e308") << false << 0.0;
    QTest::newRow("underflow") << QByteArray("1e-400") << false << 0.0;
    QTest::newRow("hexadecimal") << QByteArray("0x1p3") << false << 0.0;
    QTest::newRow("exponent without digits") << QByteArray("1e") << false << 0.0;
    QTest::newRow("point alone") << QByteArray(".") << false << 0.0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0.0;
    QTest::newRow("signed leading point") << QByteArray("-.5") << true << -0.5;
    QTest::newRow("signed trailing comma") << QByteArray("+5,") << true << 5.0;
    QTest::newRow("15 digits") << QByteArray("-1234567890.12345") << true << -1234567890.12345;
    QTest::newRow("16 digits") << QByteArray("1234567890123.456") << true << 1234567890123.456;
    QTest::newRow("zeros before 15 digits") << QByteArray("0000123456789012345") << true << 123456789012345.0;
    QTest::newRow("20 digits") << QByteArray("18446744073709551617") << true << 18446744073709551617.0;
    QTest::newRow("sign after digits") << QByteArray("5-") << false << 0.0;
    QTest::newRow("separator then sign") << QByteArray("5.-1") << false << 0.0;
}

void TestNumbers::values()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(double, value);
    double parsed = 12345;
    QCOMPARE(numbers::parseValue(std::string_view(text.constData(), std::size_t(text.size())), &parsed), ok);
    if (ok)
        QCOMPARE(parsed, value);
}

void TestNumbers::valuesMatchExactConversion()
{
    // The quick path must give the correctly rounded double, bit for bit.
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> lengths(1, 20);
    std::uniform_int_distribution<int> exponents(-40, 40);
    for (int i = 0; i < 300000; ++i) {
        std::string text;
        const int whole = lengths(random) % 12, fraction = lengths(random) % 12;
        for (int j = 0; j < whole; ++j)
            text += char('0' + random() % 10);
        if (fraction > 0 || whole == 0) {
            text += '.';
            for (int j = 0; j < std::max(fraction, 1); ++j)
                text += char('0' + random() % 10);
        }
        if (i % 3 == 0)
            text += "e" + std::to_string(exponents(random));
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        double parsed = -1;
        const bool ok = numbers::parseValue(text, &parsed);
        if (!ok && (expected == 0 || std::isinf(expected)))
            continue; // out of range: rejected on purpose
        if (!ok || std::memcmp(&parsed, &expected, sizeof parsed) != 0)
            QFAIL(qPrintable(QStringLiteral("%1 read as %2, not %3")
                                 .arg(QString::fromStdString(text))
                                 .arg(parsed, 0, 'g', 17)
                                 .arg(expected, 0, 'g', 17)));
    }
}

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
