// SPDX-License-Identifier: GPL-3.0-or-later
// Affine transformation and transform drawing. Matrices are M[i][j], i the
// outer index; a point maps to x' = x M[0][0] + y M[1][0] + M[2][0],
// y' = x M[0][1] + y M[1][1] + M[2][1].
#pragma once

#include <array>
#include <string>

#include "GR32.h"
#include "GR32_Resamplers.h"

using TFloatMatrix = std::array<std::array<float, 3>, 3>;
using TFixedMatrix = std::array<std::array<TFixed, 3>, 3>;
using TVector3f = std::array<float, 3>;

extern const TFloatMatrix IdentityMatrix;

// Column-vector product A.B: B acts first, then A.
TFloatMatrix MatrixProduct(const TFloatMatrix& A, const TFloatMatrix& B);
TVector3f MapVector(const TFloatMatrix& M, const TVector3f& V);
float MatrixDeterminant(const TFloatMatrix& M);
void MatrixAdjugate(TFloatMatrix& M);
// A nearly singular matrix (|det| < 1e-5) becomes the identity.
void MatrixInverse(TFloatMatrix& M);
// Each element times 65536, rounded to nearest with ties to even.
TFixedMatrix ToFixedMatrix(const TFloatMatrix& M);
// 64-bit product shifted right by 16, low 32 bits kept.
inline TFixed FixedMul(TFixed A, TFixed B) {
    return TFixed(uint32_t(uint64_t(int64_t(A) * int64_t(B) >> 16)));
}

class ETransformNotImplemented : public Exception {
  public:
    using Exception::Exception;
};

class TTransformation : public TNotifiablePersistent {
  public:
    std::string ClassName() const override { return "TTransformation"; }
    const TFloatRect& SrcRect() const { return FSrcRect; }
    void SetSrcRect(const TFloatRect& Value);
    bool TransformValid() const { return FTransformValid; }
    // Clears the valid flag before notifying.
    void Changed() override;

    virtual void PrepareTransform() { FTransformValid = true; }
    virtual TPoint ReverseTransform(const TPoint& P);
    virtual TFixedPoint ReverseTransform(const TFixedPoint& P);
    virtual TFloatPoint ReverseTransform(const TFloatPoint& P);
    virtual TPoint Transform(const TPoint& P);
    virtual TFixedPoint Transform(const TFixedPoint& P);
    virtual TFloatPoint Transform(const TFloatPoint& P);
    virtual bool HasTransformedBounds() const { return true; }
    virtual TFloatRect GetTransformedBounds(const TFloatRect& ASrcRect) { return ASrcRect; }
    TFloatRect GetTransformedBounds() { return GetTransformedBounds(FSrcRect); }

    // Prepare when needed, then the reverse (destination to source) map.
    template <class P> P MapToSource(const P& Point) {
        if (!FTransformValid) PrepareTransform();
        return ReverseTransform(Point);
    }
    // Prepare when needed, then the forward map.
    template <class P> P MapToDestination(const P& Point) {
        if (!FTransformValid) PrepareTransform();
        return Transform(Point);
    }

  protected:
    TFloatRect FSrcRect;
    bool FTransformValid = false;
};

class TAffineTransformation : public TTransformation {
  public:
    TAffineTransformation();
    std::string ClassName() const override { return "TAffineTransformation"; }

    void Clear();
    // Turns by Alpha degrees about (Cx, Cy): counter-clockwise on screen for
    // a positive Alpha (y grows downwards).
    void Rotate(float Cx, float Cy, float Alpha);
    void Rotate(float Alpha) { Rotate(0, 0, Alpha); }
    void Translate(float Dx, float Dy);

    void PrepareTransform() override;
    using TTransformation::ReverseTransform;
    using TTransformation::Transform;
    TFixedPoint ReverseTransform(const TFixedPoint& P) override;
    TFloatPoint ReverseTransform(const TFloatPoint& P) override;
    TFixedPoint Transform(const TFixedPoint& P) override;
    TFloatPoint Transform(const TFloatPoint& P) override;
    using TTransformation::GetTransformedBounds;
    TFloatRect GetTransformedBounds(const TFloatRect& ASrcRect) override;

    const TFloatMatrix& InverseMatrix() const { return FInverseMatrix; }
    const TFixedMatrix& FixedMatrix() const { return FFixedMatrix; }
    const TFixedMatrix& InverseFixedMatrix() const { return FInverseFixedMatrix; }

    TFloatMatrix Matrix;

  private:
    TFloatMatrix FInverseMatrix{};
    TFixedMatrix FFixedMatrix{};
    TFixedMatrix FInverseFixedMatrix{};
};

// Samples a resampler through a transformation: destination pixel (X, Y) is
// sampled at the source position of its centre. Neither is owned.
class TTransformer : public TNestedSampler {
  public:
    TTransformer(TCustomSampler* ASampler, TTransformation* ATransformation);
    std::string ClassName() const override { return "TTransformer"; }
    TColor32 GetSampleInt(int X, int Y) override;
    TColor32 GetSampleFixed(TFixed X, TFixed Y) override;
    TColor32 GetSampleFloat(float X, float Y) override;
    void PrepareSampling() override;
    bool HasBounds() override;
    TFloatRect GetSampleBounds() override;
    TTransformation* Transformation() const { return FTransformation; }

  private:
    TTransformation* FTransformation;
};

// Draws Src through Transformation onto Dst (within Dst's clip rectangle),
// sampling with Src's Resampler and combining by Src's DrawMode, MasterAlpha,
// CombineMode and OnPixelCombine. Ends with Dst's area notice for the
// destination rectangle.
void TransformBitmap(TCustomBitmap32* Dst, TCustomBitmap32* Src, TTransformation* Transformation);
// The rectangle of Dst whose pixels TransformBitmap with the same arguments
// may change; outside it Dst keeps every pixel. Empty when it changes none.
TRect TransformBitmapArea(TCustomBitmap32* Dst, TCustomBitmap32* Src,
                          TTransformation* Transformation);
