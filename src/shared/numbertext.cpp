// "%.6g" without printf: the common numbers go through one multiplication by a power of ten, and only
// those the multiplication cannot round for certain (very large or small magnitudes, values a hair's
// breadth from a rounding tie, infinities, NaN) take the exact library route.
#include "numbertext.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace Tarvin {

namespace {

// Powers of ten that doubles hold exactly.
const double exactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

int exactRoute(double value, char* out)
{
    const auto end = std::to_chars(out, out + 32, value, std::chars_format::general, 6);
    return static_cast<int>(end.ptr - out);
}

// Writes the decimal exponent as printf does: a sign and at least two digits.
char* writeExponent(char* p, int exponent)
{
    *p++ = 'e';
    *p++ = exponent < 0 ? '-' : '+';
    exponent = std::abs(exponent);
    if (exponent >= 100)
        *p++ = char('0' + exponent / 100);
    *p++ = char('0' + exponent / 10 % 10);
    *p++ = char('0' + exponent % 10);
    return p;
}

} // namespace

int formatSixDigits(double value, char* out)
{
    const double magnitude = std::fabs(value);
    // Below 1e-5 or from 1e16 on the power of ten would not be exact; zero, infinities and NaN too.
    if (!(magnitude >= 1e-5 && magnitude < 1e16))
        return exactRoute(value, out);

    // The decimal exponent: 10^exponent <= magnitude < 10^(exponent + 1), checked after rounding.
    int exponent = 0;
    if (magnitude >= 1) {
        while (exponent < 15 && magnitude >= exactPowers[exponent + 1])
            ++exponent;
    } else {
        exponent = -1;
        while (exponent > -5 && magnitude * exactPowers[-exponent] < 1)
            --exponent;
    }
    // Six significant digits as an integer from 100000 to 999999: one rounding step, so the scaled
    // value is within half a unit in the last place of the exact product.
    const int shift = 5 - exponent;
    const double scaled = shift >= 0 ? magnitude * exactPowers[shift] : magnitude / exactPowers[-shift];
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    // Near a tie the exact value decides, which the product may have moved across; below 1e6 a unit in
    // the last place is about 1.2e-10.
    if (std::fabs(fraction - 0.5) < 1e-8)
        return exactRoute(value, out);
    long digits = static_cast<long>(whole) + (fraction > 0.5 ? 1 : 0);
    if (digits == 1000000) {
        digits = 100000;
        ++exponent;
    }
    if (digits < 100000 || digits > 999999)
        return exactRoute(value, out);

    char significant[6];
    for (int i = 5; i >= 0; --i) {
        significant[i] = char('0' + digits % 10);
        digits /= 10;
    }
    int kept = 6;
    while (kept > 1 && significant[kept - 1] == '0')
        --kept;

    char* p = out;
    if (value < 0)
        *p++ = '-';
    if (exponent < -4 || exponent >= 6) {
        *p++ = significant[0];
        if (kept > 1) {
            *p++ = '.';
            std::memcpy(p, significant + 1, kept - 1);
            p += kept - 1;
        }
        p = writeExponent(p, exponent);
    } else if (exponent >= 0) {
        const int integral = exponent + 1;
        std::memcpy(p, significant, integral);
        p += integral;
        if (kept > integral) {
            *p++ = '.';
            std::memcpy(p, significant + integral, kept - integral);
            p += kept - integral;
        }
    } else {
        *p++ = '0';
        *p++ = '.';
        for (int i = exponent + 1; i < 0; ++i)
            *p++ = '0';
        std::memcpy(p, significant, kept);
        p += kept;
    }
    return static_cast<int>(p - out);
}

} // namespace Tarvin
