// SPDX-License-Identifier: GPL-3.0-or-later
// Resamplers (reading a bitmap at fractional positions), kernels, the
// registries of their classes, and the block and scaled transfers used when
// one bitmap is drawn onto another.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GR32.h"

// A nested sampler used without its inner sampler.
class ENestedException : public Exception {
  public:
    ENestedException() : Exception("Nested sampler is nil") {}
};

// Bilinear weight table: G[i] = round(255 * (i / 255)^0.7), ties to even.
extern uint8_t BilinearWeightG[256];

// Bilinear core at a 24.8 position (X8, Y8). The pixel at (X8 shr 8, Y8 shr 8)
// and its right and lower neighbours must lie inside Bits (row stride Width).
TColor32 BilinearCore(const TColor32* Bits, int Width, int X8, int Y8);
TColor32 BilinearCore_Pas(const TColor32* Bits, int Width, int X8, int Y8);
#if defined(__SSE2__)
TColor32 BilinearCore_SSE2(const TColor32* Bits, int Width, int X8, int Y8);
#endif

// Reads through the bound read method chosen at prepare. The raw pointer
// avoids per-pixel virtual dispatch.
class TNearestResampler : public TCustomResampler {
  public:
    explicit TNearestResampler(TCustomBitmap32* ABitmap = nullptr);
    std::string ClassName() const override { return "TNearestResampler"; }
    TColor32 GetSampleInt(int X, int Y) override { return FGetPixel(this, X, Y); }
    TColor32 GetSampleFixed(TFixed X, TFixed Y) override;
    TColor32 GetSampleFloat(float X, float Y) override;
    void PrepareSampling() override;
    float GetWidth() const override { return 1; }
    void Resample(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip, TCustomBitmap32* Src,
                  const TRect& SrcRect, TDrawMode CombineOp,
                  const TPixelCombineEvent& CombineCallBack) override;

  private:
    using TGetPixel = TColor32 (*)(TNearestResampler* Self, int X, int Y);
    TGetPixel FGetPixel;
};

class TCustomKernel {
  public:
    virtual ~TCustomKernel() = default;
    virtual std::string ClassName() const = 0;
    virtual float Filter(float Value) const = 0;
    virtual float GetWidth() const = 0;
};
class TBoxKernel : public TCustomKernel {
  public:
    std::string ClassName() const override { return "TBoxKernel"; }
    float Filter(float Value) const override;
    float GetWidth() const override { return 1; }
};
class TLinearKernel : public TCustomKernel {
  public:
    std::string ClassName() const override { return "TLinearKernel"; }
    float Filter(float Value) const override;
    float GetWidth() const override { return 1; }
};
class TCosineKernel : public TCustomKernel {
  public:
    std::string ClassName() const override { return "TCosineKernel"; }
    float Filter(float Value) const override;
    float GetWidth() const override { return 1; }
};

struct TKernelClassInfo {
    std::string ClassName;
    std::function<std::unique_ptr<TCustomKernel>()> Create;
};
const std::vector<TKernelClassInfo>& KernelList();

class TLinearResampler : public TCustomResampler {
  public:
    explicit TLinearResampler(TCustomBitmap32* ABitmap = nullptr);
    std::string ClassName() const override { return "TLinearResampler"; }
    TColor32 GetSampleFixed(TFixed X, TFixed Y) override { return FGetPixelFixed(this, X, Y); }
    TColor32 GetSampleFloat(float X, float Y) override;
    void PrepareSampling() override;
    float GetWidth() const override { return 1; }
    void Resample(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip, TCustomBitmap32* Src,
                  const TRect& SrcRect, TDrawMode CombineOp,
                  const TPixelCombineEvent& CombineCallBack) override;

  protected:
    using TGetPixelFixed = TColor32 (*)(TLinearResampler* Self, TFixed X, TFixed Y);
    TGetPixelFixed FGetPixelFixed;
    TLinearKernel FLinearKernel;
};

class TDraftResampler : public TLinearResampler {
  public:
    explicit TDraftResampler(TCustomBitmap32* ABitmap = nullptr) : TLinearResampler(ABitmap) {}
    std::string ClassName() const override { return "TDraftResampler"; }
};

enum TKernelMode { kmDynamic = 0, kmTableNearest = 1, kmTableLinear = 2 };

// General convolution; kept small: it samples through its kernel at the
// position's four neighbours.
class TKernelResampler : public TCustomResampler {
  public:
    explicit TKernelResampler(TCustomBitmap32* ABitmap = nullptr);
    std::string ClassName() const override { return "TKernelResampler"; }
    TColor32 GetSampleFloat(float X, float Y) override;
    float GetWidth() const override { return FKernel->GetWidth(); }
    void Resample(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip, TCustomBitmap32* Src,
                  const TRect& SrcRect, TDrawMode CombineOp,
                  const TPixelCombineEvent& CombineCallBack) override;
    void AssignTo(TCustomResampler* Dst) const override;

    TCustomKernel* Kernel() const { return FKernel.get(); }
    // A null kernel is ignored.
    void SetKernel(std::unique_ptr<TCustomKernel> Value);
    std::string KernelClassName() const { return FKernel->ClassName(); }
    void SetKernelClassName(const std::string& Value); // unknown names ignored
    TKernelMode KernelMode() const { return FKernelMode; }
    void SetKernelMode(TKernelMode Value);
    int TableSize() const { return FTableSize; }
    void SetTableSize(int Value);

  private:
    std::unique_ptr<TCustomKernel> FKernel;
    TKernelMode FKernelMode = kmDynamic;
    int FTableSize = 32;
};

// Resampler classes in registration order: TNearestResampler,
// TLinearResampler, TDraftResampler, TKernelResampler. Names compare exactly.
struct TResamplerClassInfo {
    std::string ClassName;
    std::function<TCustomResampler*(TCustomBitmap32*)> Create;
};
const std::vector<TResamplerClassInfo>& ResamplerList();
// A new resampler of the named class installed on Bitmap, or nullptr (and
// nothing changed) for an unknown name.
TCustomResampler* CreateResampler(const std::string& ClassName, TCustomBitmap32* Bitmap);

// One-to-one transfer of SrcRect of Src to (DstX, DstY) of Dst, limited to
// DstClip and to both bitmaps' bounds.
void BlockTransfer(TCustomBitmap32* Dst, int DstX, int DstY, TRect DstClip, TCustomBitmap32* Src,
                   TRect SrcRect, TDrawMode CombineOp,
                   const TPixelCombineEvent& CombineCallBack = nullptr);
// Nearest-neighbour stretch of SrcRect onto DstRect, limited to DstClip.
// A SrcRect reaching outside Src raises Exception("Invalid SrcRect").
void StretchNearest(TCustomBitmap32* Dst, TRect DstRect, TRect DstClip, TCustomBitmap32* Src,
                    TRect SrcRect, TDrawMode CombineOp,
                    const TPixelCombineEvent& CombineCallBack = nullptr);
// Block transfer when the sizes agree, else the resampler's scaled transfer.
void StretchTransfer(TCustomBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                     TCustomBitmap32* Src, const TRect& SrcRect, TCustomResampler* Resampler,
                     TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack = nullptr);

// Sampler that forwards to an inner sampler (not owned).
class TNestedSampler : public TCustomSampler {
  public:
    explicit TNestedSampler(TCustomSampler* ASampler = nullptr) : FSampler(ASampler) {}
    std::string ClassName() const override { return "TNestedSampler"; }
    TCustomSampler* Sampler() const { return FSampler; }
    void SetSampler(TCustomSampler* Value) { FSampler = Value; }
    void PrepareSampling() override;
    void FinalizeSampling() override;
    bool HasBounds() override;
    TFloatRect GetSampleBounds() override;

  protected:
    TCustomSampler* FSampler;
};
