// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_Transforms.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "GR32_Blend.h"
#include "GR32_LowLevel.h"
#include "GR32_Rasterizers.h"
#include "ScopeGuards.h"

const TFloatMatrix IdentityMatrix = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

TFloatMatrix MatrixProduct(const TFloatMatrix& A, const TFloatMatrix& B) {
    TFloatMatrix R;
    for (int I = 0; I < 3; ++I)
        for (int J = 0; J < 3; ++J)
            R[I][J] = float(double(A[0][J]) * B[I][0] + double(A[1][J]) * B[I][1] +
                            double(A[2][J]) * B[I][2]);
    return R;
}

TVector3f MapVector(const TFloatMatrix& M, const TVector3f& V) {
    TVector3f R;
    for (int I = 0; I < 3; ++I)
        R[I] = float(double(V[0]) * M[0][I] + double(V[1]) * M[1][I] + double(V[2]) * M[2][I]);
    return R;
}

float MatrixDeterminant(const TFloatMatrix& M) {
    using E = long double;
    E D = E(M[0][0]) * (E(M[1][1]) * M[2][2] - E(M[1][2]) * M[2][1]) -
          E(M[0][1]) * (E(M[1][0]) * M[2][2] - E(M[1][2]) * M[2][0]) +
          E(M[0][2]) * (E(M[1][0]) * M[2][1] - E(M[1][1]) * M[2][0]);
    return float(D);
}

void MatrixAdjugate(TFloatMatrix& M) {
    const TFloatMatrix A = M;
    auto Minor = [&](int Row, int Col) {
        int R0 = Row == 0 ? 1 : 0, R1 = Row == 2 ? 1 : 2;
        int C0 = Col == 0 ? 1 : 0, C1 = Col == 2 ? 1 : 2;
        return double(A[R0][C0]) * A[R1][C1] - double(A[R0][C1]) * A[R1][C0];
    };
    for (int I = 0; I < 3; ++I)
        for (int J = 0; J < 3; ++J)
            M[I][J] = float(((I + J) % 2 ? -1.0 : 1.0) * Minor(J, I));
}

void MatrixInverse(TFloatMatrix& M) {
    float D = MatrixDeterminant(M);
    if (std::fabs(D) < 1e-5f) {
        M = IdentityMatrix;
        return;
    }
    MatrixAdjugate(M);
    float F = 1.0f / D;
    for (auto& Row : M)
        for (auto& V : Row)
            V *= F;
}

TFixedMatrix ToFixedMatrix(const TFloatMatrix& M) {
    TFixedMatrix R;
    for (int I = 0; I < 3; ++I)
        for (int J = 0; J < 3; ++J)
            R[I][J] = RoundEven(double(M[I][J]) * FixedOne);
    return R;
}

// ---------------------------------------------------------------------------

void TTransformation::SetSrcRect(const TFloatRect& Value) {
    FSrcRect = Value;
    Changed();
}

void TTransformation::Changed() {
    FTransformValid = false;
    TNotifiablePersistent::Changed();
}

static inline TFixed FixedRoundToInt(TFixed V) {
    return TFixed((int64_t(V) + 0x7FFF) >> 16);
}

namespace {

// The integer and fixed-point forms go through the next finer one: an integer
// point is a fixed one with no fraction, and a fixed result is rounded back.
TFixedPoint FixedOf(const TPoint& P) {
    return TFixedPoint{TFixed(uint32_t(P.X) << 16), TFixed(uint32_t(P.Y) << 16)};
}
TPoint RoundedOf(const TFixedPoint& F) {
    return TPoint{FixedRoundToInt(F.X), FixedRoundToInt(F.Y)};
}
TFloatPoint FloatOf(const TFixedPoint& P) {
    return TFloatPoint{float(P.X) / FixedOne, float(P.Y) / FixedOne};
}
TFixedPoint FixedOf(const TFloatPoint& F) {
    return TFixedPoint{RoundEven(double(F.X) * FixedOne), RoundEven(double(F.Y) * FixedOne)};
}

} // namespace

TPoint TTransformation::ReverseTransform(const TPoint& P) {
    return RoundedOf(ReverseTransform(FixedOf(P)));
}

TFixedPoint TTransformation::ReverseTransform(const TFixedPoint& P) {
    return FixedOf(ReverseTransform(FloatOf(P)));
}

TFloatPoint TTransformation::ReverseTransform(const TFloatPoint&) {
    throw ETransformNotImplemented("Reverse transformation is not implemented in " + ClassName() +
                                   ".");
}

TPoint TTransformation::Transform(const TPoint& P) {
    return RoundedOf(Transform(FixedOf(P)));
}

TFixedPoint TTransformation::Transform(const TFixedPoint& P) {
    return FixedOf(Transform(FloatOf(P)));
}

TFloatPoint TTransformation::Transform(const TFloatPoint&) {
    throw ETransformNotImplemented("Forward transformation is not implemented in " + ClassName() +
                                   ".");
}

// ---------------------------------------------------------------------------

TAffineTransformation::TAffineTransformation() : Matrix(IdentityMatrix) {
    Changed();
}

void TAffineTransformation::Clear() {
    Matrix = IdentityMatrix;
    Changed();
}

void TAffineTransformation::Rotate(float Cx, float Cy, float Alpha) {
    bool Shifted = Cx != 0 || Cy != 0;
    if (Shifted) Translate(-Cx, -Cy);
    float Radians = float((long double)Alpha * 3.14159265358979323846264338327950288L / 180.0L);
    float S = std::sin(Radians), C = std::cos(Radians);
    TFloatMatrix R = IdentityMatrix;
    R[0][0] = C;
    R[1][0] = S;
    R[0][1] = -S;
    R[1][1] = C;
    Matrix = MatrixProduct(R, Matrix);
    if (Shifted) Translate(Cx, Cy);
    Changed();
}

void TAffineTransformation::Translate(float Dx, float Dy) {
    TFloatMatrix T = IdentityMatrix;
    T[2][0] = Dx;
    T[2][1] = Dy;
    Matrix = MatrixProduct(T, Matrix);
    Changed();
}

void TAffineTransformation::PrepareTransform() {
    FInverseMatrix = Matrix;
    MatrixInverse(FInverseMatrix);
    FInverseFixedMatrix = ToFixedMatrix(FInverseMatrix);
    FFixedMatrix = ToFixedMatrix(Matrix);
    TTransformation::PrepareTransform();
}

static inline TFixedPoint MapFixed(const TFixedMatrix& M, const TFixedPoint& P) {
    // Sums wrap in 32 bits, as the fixed-point format does.
    return TFixedPoint{TFixed(uint32_t(FixedMul(P.X, M[0][0])) + uint32_t(FixedMul(P.Y, M[1][0])) +
                              uint32_t(M[2][0])),
                       TFixed(uint32_t(FixedMul(P.X, M[0][1])) + uint32_t(FixedMul(P.Y, M[1][1])) +
                              uint32_t(M[2][1]))};
}

static inline TFloatPoint MapFloat(const TFloatMatrix& M, const TFloatPoint& P) {
    return TFloatPoint{P.X * M[0][0] + P.Y * M[1][0] + M[2][0],
                       P.X * M[0][1] + P.Y * M[1][1] + M[2][1]};
}

TFixedPoint TAffineTransformation::ReverseTransform(const TFixedPoint& P) {
    if (!FTransformValid) PrepareTransform();
    return MapFixed(FInverseFixedMatrix, P);
}

TFloatPoint TAffineTransformation::ReverseTransform(const TFloatPoint& P) {
    if (!FTransformValid) PrepareTransform();
    return MapFloat(FInverseMatrix, P);
}

TFixedPoint TAffineTransformation::Transform(const TFixedPoint& P) {
    if (!FTransformValid) PrepareTransform();
    return MapFixed(FFixedMatrix, P);
}

TFloatPoint TAffineTransformation::Transform(const TFloatPoint& P) {
    return MapFloat(Matrix, P);
}

TFloatRect TAffineTransformation::GetTransformedBounds(const TFloatRect& R) {
    TVector3f V[4] = {MapVector(Matrix, {R.Left, R.Top, 1}), MapVector(Matrix, {R.Right, R.Top, 1}),
                      MapVector(Matrix, {R.Left, R.Bottom, 1}),
                      MapVector(Matrix, {R.Right, R.Bottom, 1})};
    TFloatRect B{V[0][0], V[0][1], V[0][0], V[0][1]};
    for (auto& P : V) {
        B.Left = std::min(B.Left, P[0]);
        B.Top = std::min(B.Top, P[1]);
        B.Right = std::max(B.Right, P[0]);
        B.Bottom = std::max(B.Bottom, P[1]);
    }
    return B;
}

// ---------------------------------------------------------------------------

TTransformer::TTransformer(TCustomSampler* ASampler, TTransformation* ATransformation)
    : TNestedSampler(ASampler), FTransformation(ATransformation) {}

TColor32 TTransformer::GetSampleInt(int X, int Y) {
    TFixedPoint P = FTransformation->ReverseTransform(TFixedPoint{
        TFixed((uint32_t(X) << 16) + FixedHalf), TFixed((uint32_t(Y) << 16) + FixedHalf)});
    return FSampler->GetSampleFixed(TFixed(uint32_t(P.X) - FixedHalf),
                                    TFixed(uint32_t(P.Y) - FixedHalf));
}

TColor32 TTransformer::GetSampleFixed(TFixed X, TFixed Y) {
    TFixedPoint P = FTransformation->ReverseTransform(
        TFixedPoint{TFixed(uint32_t(X) + FixedHalf), TFixed(uint32_t(Y) + FixedHalf)});
    return FSampler->GetSampleFixed(TFixed(uint32_t(P.X) - FixedHalf),
                                    TFixed(uint32_t(P.Y) - FixedHalf));
}

TColor32 TTransformer::GetSampleFloat(float X, float Y) {
    TFloatPoint P = FTransformation->ReverseTransform(TFloatPoint{X + 0.5f, Y + 0.5f});
    return FSampler->GetSampleFloat(P.X - 0.5f, P.Y - 0.5f);
}

void TTransformer::PrepareSampling() {
    TNestedSampler::PrepareSampling();
    if (!FTransformation->TransformValid()) FTransformation->PrepareTransform();
}

bool TTransformer::HasBounds() {
    return FTransformation->HasTransformedBounds() && TNestedSampler::HasBounds();
}

TFloatRect TTransformer::GetSampleBounds() {
    TFloatRect R;
    // Nothing of the source is covered: no destination pixel either.
    if (!IntersectRect(R, TNestedSampler::GetSampleBounds(), FTransformation->SrcRect()))
        return TFloatRect{};
    return FTransformation->GetTransformedBounds(R);
}

// ---------------------------------------------------------------------------

void TransformBitmap(TCustomBitmap32* Dst, TCustomBitmap32* Src, TTransformation* Transformation) {
    if (!Dst) throw EBitmapException("Destination bitmap is nil");
    if (!Src) throw EBitmapException("Source bitmap is nil");
    if (!Transformation) throw Exception("Transformation is nil");
    std::unique_ptr<TRasterizer> Rasterizer = NewDefaultRasterizer();
    TRect DstRect;
    IntersectRect(DstRect, Dst->BoundsRect(), Dst->ClipRect());
    if (!Dst->MeasuringMode()) {
        TTransformer Transformer(Src->Resampler(), Transformation);
        Rasterizer->SetSampler(&Transformer);
        TScopeExit EndPacked([] { EMMS(); });
        if (!Src->Empty()) Rasterizer->Rasterize(Dst, DstRect, Src);
    }
    Dst->Changed(DstRect);
}

TRect TransformBitmapArea(TCustomBitmap32* Dst, TCustomBitmap32* Src,
                          TTransformation* Transformation) {
    TRect DstRect, R;
    if (!Dst || !Src || !Transformation || Src->Empty() || Dst->MeasuringMode()) return TRect{};
    IntersectRect(DstRect, Dst->BoundsRect(), Dst->ClipRect());
    TTransformer Transformer(Src->Resampler(), Transformation);
    return TRasterizer::RasterArea(R, &Transformer, DstRect, Dst) ? R : TRect{};
}
