// SPDX-License-Identifier: GPL-3.0-or-later
#include "FormatFixed.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

bool FormatFixed(double Magnitude, int Precision, std::string& Text) {
    Precision = std::clamp(Precision, 0, 18);
    Magnitude = std::fabs(Magnitude);
    if (!(Magnitude < 1e18)) return false;

    // The 18 leading significant digits; digit i stands at power Exp10 - i.
    int digits[18] = {};
    int exp10 = 0;
    if (Magnitude != 0) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.17e", Magnitude);
        digits[0] = buf[0] - '0';
        for (int i = 1; i < 18; ++i)
            digits[i] = buf[i + 1] - '0';
        exp10 = std::atoi(buf + 20);
    }
    if (exp10 >= 18) return false; // rounded up to 1.0e18

    auto digitAt = [&](int Power) {
        const int i = exp10 - Power;
        return i >= 0 && i < 18 ? digits[i] : 0;
    };
    std::string out;
    for (int p = std::max(exp10, 0); p >= -Precision; --p)
        out += char('0' + digitAt(p));
    if (digitAt(-Precision - 1) >= 5) {
        int i = int(out.size()) - 1;
        while (i >= 0 && out[i] == '9')
            out[i--] = '0';
        if (i < 0)
            out.insert(out.begin(), '1');
        else
            ++out[i];
    }
    const size_t intLen = out.size() - size_t(Precision);
    size_t start = 0;
    while (start + 1 < intLen && out[start] == '0')
        ++start;
    Text = out.substr(start, intLen - start);
    if (Precision > 0) Text += '.' + out.substr(intLen);
    return true;
}
