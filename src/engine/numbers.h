#ifndef NUMBERS_H
#define NUMBERS_H

#include <QtGlobal>

#include <string_view>

// Number forms of report files, parsed from and written as bytes, independent of
// the user's locale.
namespace numbers {

// A section, row or column code: an unsigned 32-bit decimal. Blanks around it and
// a leading '+' are allowed, so are leading zeros; anything else fails.
bool parseCode(std::string_view utf8, quint32 *code);

// A cell value: a decimal number with a point, an optional sign and an optional
// exponent; blanks around it are allowed. A text with exactly one comma and no
// point is read with the comma as the decimal point. Infinities, NaNs and numbers
// outside the range of a double fail.
bool parseValue(std::string_view utf8, double *value);

// Whether a text that is no value by parseValue() becomes one once every space
// separator (Unicode's Zs: the blank, the no-break and the narrow spaces, ...)
// and apostrophe (' and ’) in it is left out, as "1 234,5" or "1'234": a number
// its sender meant to count.
bool isNumberOnceUngrouped(std::string_view utf8);

// Writes a total as C's "%.15g" does in the C locale and returns the end of the
// text. The buffer must hold at least TotalTextMax bytes.
constexpr int TotalTextMax = 32;
char *formatTotal(double total, char *buffer);

} // namespace numbers

#endif // NUMBERS_H
