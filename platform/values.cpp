// Value parsers shared by the script reader, the time expressions, the effects and the shell.
#include "platform/values.h"

#include "platform/config.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

int32_t parseIntValue(const char* text) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint32_t value = 0;
        for (const char* c = text + 2; hexDigit(*c) >= 0; ++c)
            value = value * 16 + hexDigit(*c);
        return int32_t(value);
    }
    return int32_t(strtol(text, nullptr, 10)); // atoi without its undefined overflow
}

int32_t truncToInt(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return int32_t(value);
}

float preferredWidth() {
    return configValues.prefxres > 0 ? float(configValues.prefxres) : 640.0f;
}
float preferredHeight() {
    return configValues.prefyres > 0 ? float(configValues.prefyres) : 480.0f;
}

double parseDecimal(const char* text) {
    char number[128]; // longer numbers lose only digits that a float cannot hold anyway
    size_t length = 0;
    const char* c = text;
    auto put = [&] {
        if (length + 1 < sizeof number) number[length++] = *c;
        ++c;
    };
    auto isDigit = [](char d) { return d >= '0' && d <= '9'; };
    auto digits = [&] {
        while (isDigit(*c))
            put();
    };
    while (*c == ' ' || (*c >= '\t' && *c <= '\r'))
        ++c;
    if (*c == '+' || *c == '-') put();
    digits();
    if (*c == '.') {
        put();
        digits();
    }
    if ((*c == 'e' || *c == 'E') &&
        (isDigit(c[1]) || ((c[1] == '+' || c[1] == '-') && isDigit(c[2])))) {
        put();
        if (*c == '+' || *c == '-') put();
        digits();
    }
    number[length] = 0;
    return strtod(number, nullptr);
}

float parseScalar(const char* text) {
    float value = float(parseDecimal(text));
    if (strchr(text, '%')) return value / 100.0f;
    if (strchr(text, 'x')) return value / preferredWidth();
    if (strchr(text, 'y')) return value / preferredHeight();
    return value;
}
