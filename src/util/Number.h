#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vindelor::util {

// Number texts in the C locale's format whatever locale the process runs in: the window's
// toolkit takes the user's locale into the C library, and a German one would turn "1.5" into
// "1,5" in every printf and make strtod stop at the point.

// v with the given count of decimals ("%.*f"), right-aligned in width characters ("%*.*f").
std::string FixedText(double v, int decimals, int width = 0);
// v in the shortest form that reads back the same ("0.1", "1e+20"); "inf", "-inf" or "nan"
// when it is not finite.
std::string ShortestText(double v);

// A decimal floating-point number (optional sign, digits with a point, optional exponent) that
// fills the whole text; nothing else, and no infinity or NaN.
std::optional<double> ParseDouble(std::string_view text);

}  // namespace vindelor::util
