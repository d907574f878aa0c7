#include "viewer/model/ImageFit.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace tarnel {

namespace {

// A ratio rounded to single precision, held as q * 2^-shift with q below 2^24.
struct SingleRatio {
    uint64_t q = 0;
    int shift = 0;
};

int BitLength(uint64_t v)
{
    int n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

// a / b rounded to the nearest single (ties to even), worked out in integers
// so that no intermediate rounding can move the result.
SingleRatio RoundedRatio(uint64_t a, uint64_t b)
{
    SingleRatio r;
    if (a == 0)
        return r;
    int shift = 24 - (BitLength(a) - BitLength(b));
    uint64_t q = 0, rest = 0, den = 0;
    for (;;) {
        const uint64_t num = shift >= 0 ? a << shift : a;
        den = shift >= 0 ? b : b << -shift;
        q = num / den;
        rest = num % den;
        if (q >= (uint64_t(1) << 24))
            --shift;
        else if (q < (uint64_t(1) << 23))
            ++shift;
        else
            break;
    }
    if (2 * rest > den || (2 * rest == den && (q & 1)))
        ++q;
    if (q == (uint64_t(1) << 24)) {
        q >>= 1;
        --shift;
    }
    r.q = q;
    r.shift = shift;
    return r;
}

float ToFloat(const SingleRatio& r) { return std::ldexp(float(r.q), -r.shift); }

// Truncation toward zero of n * r, exactly.
int TruncatedProduct(int n, const SingleRatio& r, bool negative)
{
    const uint64_t product = uint64_t(n) * r.q; // below 2^55
    const uint64_t whole = r.shift >= 0 ? product >> r.shift : product << -r.shift;
    const int64_t value = whole > uint64_t(INT_MAX) ? INT_MAX : int64_t(whole);
    return int(negative ? -value : value);
}

} // namespace

ImageFit FitImage(const ImageFitInput& in)
{
    ImageFit fit;
    const int w = in.pictureWidth, h = in.pictureHeight;
    if (w <= 0 || h <= 0) return fit;
    fit.drawPicture = true;
    const int availW = in.controlWidth - (in.border ? 2 : 0);
    const int availH = in.controlHeight - (in.border ? 2 : 0);
    switch (in.style) {
    case ScaleStyle::Normal: fit.width = w, fit.height = h; break;
    case ScaleStyle::Scale: {
        // The ratio is a single; the product with it is exact and then
        // truncated. Multiplying in single precision would round 99.99999
        // up to 100 and make the picture a pixel too large.
        const bool negW = availW < 0, negH = availH < 0;
        const SingleRatio rw = RoundedRatio(uint64_t(std::llabs(availW)), uint64_t(w));
        const SingleRatio rh = RoundedRatio(uint64_t(std::llabs(availH)), uint64_t(h));
        const float fw = negW ? -ToFloat(rw) : ToFloat(rw);
        const float fh = negH ? -ToFloat(rh) : ToFloat(rh);
        SingleRatio r = fw < fh ? rw : rh;
        bool negative = fw < fh ? negW : negH;
        float used = fw < fh ? fw : fh;
        if (used > 1.0f && !in.overSize) {
            r = {1, 0};
            used = 1.0f;
        }
        fit.scale = used;
        fit.width = TruncatedProduct(w, r, negative);
        fit.height = TruncatedProduct(h, r, negative);
        break;
    }
    case ScaleStyle::StretchXY: fit.width = availW, fit.height = availH; break;
    case ScaleStyle::StretchX: fit.width = availW, fit.height = h; break;
    case ScaleStyle::StretchY: fit.width = w, fit.height = availH; break;
    }
    if (in.center) {
        fit.x = (availW - fit.width) / 2; // C++ division truncates toward zero, as wanted
        fit.y = (availH - fit.height) / 2;
    }
    if (in.border) fit.x += 1, fit.y += 1;
    return fit;
}

} // namespace tarnel
