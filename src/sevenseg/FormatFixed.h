// SPDX-License-Identifier: GPL-3.0-or-later
// The readout's number text, apart from the control so that what else shows
// a value as the readout does (the plot) needs no widget code. Plain C++.
#pragma once

#include <string>

// |Magnitude| in fixed-point form with exactly Precision decimals (0 to 18)
// and '.' as separator: reduced to 18 significant digits first, then cut
// after the last decimal with halves rounded away from zero. Returns false,
// leaving Text alone, for magnitudes of 1.0e18 and more, infinity and NaN,
// which have no such form.
bool FormatFixed(double Magnitude, int Precision, std::string& Text);
