// Value parsers: how the text of a property, a script number or a configuration key becomes a
// number. Property values always travel as text; every effect's `set`, the script reader, the
// time expressions and the shell's configuration keys convert them here, so that one text has
// one value everywhere. The "x"/"y" suffixes read the preferred resolution from configValues.
#pragma once

#include <cstdint>

// "0x"/"0X" prefix: hexadecimal digits up to the first other character; else as atoi.
int32_t parseIntValue(const char* text);
// A decimal number at the start of the text as atof reads it (leading blanks, sign, digits,
// fraction, exponent), 0 when there is none. Hexadecimal, "inf" and "nan" are not numbers
// here, so the value of a text does not depend on the C library's extensions.
double parseDecimal(const char* text);
// '%' anywhere: value / 100; else 'x' anywhere: value / prefxres; else 'y' anywhere:
// value / prefyres; else the value (read by parseDecimal). An unset preferred resolution counts
// as 640 x 480.
float parseScalar(const char* text);

// Truncation toward zero that saturates at the int32 range (NaN gives 0), for numbers
// that scripts write as floats and that are used as integers.
int32_t truncToInt(double value);

// The divisors of numbers written with an "x" or "y" suffix: the preferred resolution,
// or 640 x 480 while it is not set.
float preferredWidth();
float preferredHeight();
