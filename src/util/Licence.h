#pragma once

// What every program says about its licence: after the version line of --version, in the
// window's about text, and in the package.
namespace vindelor::util {

inline constexpr const char* kCopyrightLine = "Copyright (C) the Vindelor developers.";
inline constexpr const char* kLicenceLines =
    "License GPL-3.0-or-later: GNU GPL version 3 or later <https://www.gnu.org/licenses/gpl-3.0.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.";

}  // namespace vindelor::util
