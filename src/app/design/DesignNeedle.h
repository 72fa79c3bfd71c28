// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's design-time needle picture: 25 x 147 opaque pixels in the
// bitmap's stored form (width, height, pixels; 14 708 bytes). The picture
// loaded from the needle file replaces it at each dial load.
#pragma once

#include <cstddef>
#include <cstdint>

#include "GR32.h"

constexpr int DesignNeedleWidth = 25;
constexpr int DesignNeedleHeight = 147;
constexpr size_t DesignNeedleDataSize = 8 + 4 * DesignNeedleWidth * DesignNeedleHeight;

// The stored-form bytes; DesignNeedleDataSize of them.
const uint8_t* DesignNeedleData();
// Reads the stored form into Bitmap through its stored-form reader.
void LoadDesignNeedle(TCustomBitmap32* Bitmap);
