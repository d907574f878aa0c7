#include "viewer/model/ImageFit.h"

namespace tarnel {

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
        const float rw = float(availW) / float(w), rh = float(availH) / float(h);
        float r = rw < rh ? rw : rh;
        if (r > 1.0f && !in.overSize) r = 1.0f;
        fit.scale = r;
        fit.width = int(float(w) * r);
        fit.height = int(float(h) * r);
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
