// Rasterizers: visit destination pixels, take a sample for each and combine
// it with the destination pixel by the source bitmap's settings.
#pragma once

#include <string>

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

protected:
    virtual void DoRasterize(TCustomBitmap32* Dst, const TRect& DstRect) = 0;
    // Combines a sample with a destination pixel.
    void AssignColor(TColor32& Dst, TColor32 Src);

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

TRasterizer* NewDefaultRasterizer();
