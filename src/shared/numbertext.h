// Numbers as the test data readers write them.
#pragma once

namespace Tarvin {

// Writes the number as printf's "%.6g" does (the shorter of plain and exponent notation, 6 significant
// digits, trailing zeros dropped) into out, which has room for 32 characters; returns the length.
// Not terminated.
int formatSixDigits(double value, char* out);

} // namespace Tarvin
