// SPDX-License-Identifier: GPL-3.0-or-later
// Rasterizers: visit destination pixels, take a sample for each and combine
// it with the destination pixel by the source bitmap's settings.
#pragma once

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "GR32.h"

class TRasterizer {
  public:
    virtual ~TRasterizer() = default;
    virtual std::string ClassName() const { return "TRasterizer"; }
    // Not owned.
    TCustomSampler* Sampler() const { return FSampler; }
    void SetSampler(TCustomSampler* Value) { FSampler = Value; }
    // Rasterizes DstRect (cut to Dst's bounds and to the sampler's bounds)
    // with the combine settings of Src.
    void Rasterize(TCustomBitmap32* Dst, const TRect& DstRect, TCustomBitmap32* Src);
    // The pixels Rasterize would visit for DstRect: DstRect cut to Dst's
    // bounds and to the sampler's bounds widened to whole pixels. False when
    // none (R is then undefined).
    static bool RasterArea(TRect& R, TCustomSampler* Sampler, const TRect& DstRect,
                           const TCustomBitmap32* Dst);

  protected:
    virtual void DoRasterize(TCustomBitmap32* Dst, const TRect& DstRect) = 0;

    TCustomSampler* FSampler = nullptr;
    TDrawMode FDrawMode = dmOpaque;
    TColor32 FSrcAlpha = 255;
    TColor32 FTransparentColor = 0;
    TCombineMode FCombineMode = cmBlend;
    TPixelCombineEvent FCombineCallBack;
};

// Top to bottom, left to right. One area notice after the last row unless
// UpdateRowCount asks for intermediate ones.
class TRegularRasterizer : public TRasterizer {
  public:
    std::string ClassName() const override { return "TRegularRasterizer"; }
    int UpdateRowCount() const { return FUpdateRowCount; }
    void SetUpdateRowCount(int Value) { FUpdateRowCount = Value; }

  protected:
    void DoRasterize(TCustomBitmap32* Dst, const TRect& DstRect) override;

  private:
    int FUpdateRowCount = 0;
};

std::unique_ptr<TRasterizer> NewDefaultRasterizer();

// The fast paths of TRegularRasterizer. When the sampler is exactly a
// TTransformer over exactly a TAffineTransformation, the entries are tried in
// order for each band; the first whose inner sampler class (exact, not a
// subclass), draw mode, combine mode and condition match draws the band
// without virtual calls per pixel. Without a match the band is sampled through
// the sampler's virtual GetSampleInt, the general path. Every entry gives
// exactly the pixels of the general path.
struct TRasterJob;
struct TRasterFastPath {
    const char* Name;
    const std::type_info* Sampler;
    // One bit (1 << value) per TDrawMode / TCombineMode served.
    unsigned DrawModes;
    unsigned CombineModes;
    // nullptr when the entry has no further condition.
    bool (*Condition)(const TRasterJob& Job);
    void (*Span)(const TRasterJob& Job, const TRect& Band);
};
const std::vector<TRasterFastPath>& RasterFastPaths();
// The entry TRegularRasterizer takes when Sampler rasterizes with the
// settings of Src, or nullptr for the general path.
const TRasterFastPath* SelectRasterFastPath(TCustomSampler* Sampler, TCustomBitmap32* Src);
