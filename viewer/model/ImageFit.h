#pragma once
// Where the image control draws its picture: the target rectangle for a scale
// style, centring and border, and the scale that was used.
namespace tarnel {

enum class ScaleStyle { Normal, Scale, StretchXY, StretchX, StretchY };

struct ImageFitInput {
    int controlWidth = 0;
    int controlHeight = 0;
    int pictureWidth = 0;
    int pictureHeight = 0;
    ScaleStyle style = ScaleStyle::Normal;
    bool center = false;
    bool border = false;
    bool overSize = false; // ssScale may enlarge
};

struct ImageFit {
    int x = 0, y = 0, width = 0, height = 0;
    double scale = 1.0;
    bool drawPicture = false; // false for an empty picture: only the border
};

ImageFit FitImage(const ImageFitInput& in);

} // namespace tarnel
