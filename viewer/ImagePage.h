#pragma once
// The image page: TEnhImage (VWImage) fills it, centred and scaled down to fit.
#include "viewer/ViewerPage.h"
#include "viewer/model/ImageBuffer.h"
#include "viewer/model/ImageFit.h"
#include "viewer/model/ImageLoader.h"

#include <QImage>
#include <QWidget>

#include <functional>

class QPainter;
class QTimer;

namespace tarnel {

// Shows one picture by the fitting rules of ImageFit. Decoded pixels are kept
// as they came from the loader; QImage wraps them without a copy.
class TEnhImage : public QWidget {
    Q_OBJECT
public:
    explicit TEnhImage(QWidget* parent = nullptr);

    // Busy cursor while loading. The JPEG path keeps the previous picture when
    // the file cannot be opened; otherwise the picture is what was decoded.
    ImageLoadResult LoadFromFile(const std::string& path);
    // LoadFromFile in its two steps: the decoding options for the control as
    // it is now, then taking a picture decoded (on a worker) with them.
    JpegOptions LoadOptions() const;
    void TakeLoaded(const std::string& path, const JpegOptions& options, const ImageLoadResult& result,
                    ImageBuffer&& loaded);
    void SetPicture(ImageBuffer picture);
    void ClearPicture() { SetPicture({}); }
    const QImage& Picture() const { return picture_; }
    // The picture's size in its file (a JPEG may be decoded smaller).
    int FileWidth() const { return buffer_.fileWidth > 0 ? buffer_.fileWidth : buffer_.width; }
    int FileHeight() const { return buffer_.fileHeight > 0 ? buffer_.fileHeight : buffer_.height; }
    bool PictureComplete() const { return buffer_.complete; }

    ScaleStyle scaleStyle() const { return scaleStyle_; }
    void setScaleStyle(ScaleStyle v) { Change(scaleStyle_, v); }
    bool center() const { return center_; }
    void setCenter(bool v) { Change(center_, v); }
    bool border() const { return border_; }
    void setBorder(bool v) { Change(border_, v); }
    bool transparent() const { return transparent_; }
    void setTransparent(bool v) { Change(transparent_, v); }
    bool autoSize() const { return autoSize_; }
    void setAutoSize(bool v) { Change(autoSize_, v); }
    bool overSize() const { return overSize_; }
    void setOverSize(bool v) { Change(overSize_, v); }
    bool forceOpaque() const { return forceOpaque_; }
    void setForceOpaque(bool v) { Change(forceOpaque_, v); }

    // JPEG decoding; fitting the page lets libjpeg scale in the DCT.
    JpegOptions jpeg;
    bool decodeToFit = true;

    // The scale of the last paint (1.0 unless ssScale chose another).
    double UsedScale() const { return usedScale_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    template <typename T>
    void Change(T& field, T value)
    {
        if (field == value)
            return;
        field = value;
        ChangeStep();
    }
    void ChangeStep();
    void DrawTransparent(QPainter& painter, const QRect& target);
    bool DecodesToFit() const;
    // True when the picture was decoded smaller than the control could now show it.
    bool ShownTooSmall() const;
    void DecodeAgain();

    ImageBuffer buffer_;
    // A JPEG decoded scaled down to the page: decoded again, once the
    // resizing settles, when the page grows past it.
    std::string scaledPath_;
    QTimer* redecode_;
    class WorkerAnswers* redecodes_; // the larger decode, read on a worker
    uint64_t pictureTicket_ = 0;     // a new picture drops a larger decode under way
    QImage picture_;
    ScaleStyle scaleStyle_ = ScaleStyle::Normal;
    bool center_ = false, border_ = false, transparent_ = false, autoSize_ = false, overSize_ = false,
         forceOpaque_ = false;
    double usedScale_ = 1.0;
};

class ImagePage : public QWidget, public ViewerPage {
    Q_OBJECT
public:
    explicit ImagePage(QWidget* parent = nullptr);

    // Where a picture that cannot be loaded is reported.
    void SetErrorSink(std::function<void(const QString&)> sink) { error_ = std::move(sink); }

    QWidget* PageWidget() override { return this; }
    Reading ReadFile(const std::string& path) override;
    void ClearPage() override;
    // "%dx%d pixel", the size of the picture in its file.
    std::string PageHint() const override;

    TEnhImage* Image() const { return image_; }

private:
    void Report(const std::string& path, const ImageLoadResult& result);

    TEnhImage* image_; // VWImage
    std::function<void(const QString&)> error_;
};

} // namespace tarnel
