#include "viewer/ImagePage.h"

#include "app/WorkerAnswers.h"
#include "tools/ToolText.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarnel {

namespace {

// The buffer's 0xAARRGGBB pixels are QImage's ARGB32 layout. Rows a failed decode never
// reached are transparent, so they show the page behind them.
QImage WrapPixels(const ImageBuffer& b)
{
    if (b.Empty())
        return {};
    return QImage(reinterpret_cast<const uchar*>(b.pixels.data()), b.width, b.height, b.width * 4,
                  b.hasAlpha || !b.complete ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

// PNG, WebP, SVG, TIFF, ICO, XPM and the like through Qt's image readers, from
// the bytes already read: a reader is never handed the file itself.
bool DecodeWithQt(const uint8_t* data, size_t size, const std::string& ext, ImageBuffer& image, std::string& error)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    QByteArray format = QByteArray::fromStdString(ext.size() > 1 ? ext.substr(1) : std::string()).toLower();
    if (format == "tif")
        format = "tiff";
    QImageReader reader(&device, format);
    // The header may claim any canvas: refuse before anything is allocated.
    reader.setAllocationLimit(int((kMaxImagePixels * 4) >> 20));
    const QSize claimed = reader.size();
    if (claimed.isValid() && uint64_t(claimed.width()) * uint64_t(claimed.height()) > kMaxImagePixels) {
        error = "Picture too large (" + std::to_string(claimed.width()) + "x" + std::to_string(claimed.height()) + ")";
        return false;
    }
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull()) {
        error = "Cannot decode the picture: " + reader.errorString().toStdString();
        return false;
    }
    decoded = decoded.convertToFormat(QImage::Format_ARGB32);
    if (!AllocateImage(image, decoded.width(), decoded.height(), kMaxImagePixels)) {
        error = "Picture too large (" + std::to_string(decoded.width()) + "x" + std::to_string(decoded.height()) + ")";
        return false;
    }
    for (int y = 0; y < decoded.height(); ++y)
        std::memcpy(image.Row(y), decoded.constScanLine(y), size_t(decoded.width()) * 4);
    image.hasAlpha = decoded.hasAlphaChannel();
    image.fileWidth = image.width;
    image.fileHeight = image.height;
    return true;
}

} // namespace

TEnhImage::TEnhImage(QWidget* parent)
    : QWidget(parent), redecode_(new QTimer(this)), redecodes_(new WorkerAnswers(2, this))
{
    setObjectName("VWImage");
    resize(105, 105);
    redecode_->setSingleShot(true);
    redecode_->setInterval(100); // a window dragged larger decodes once, at the end
    connect(redecode_, &QTimer::timeout, this, &TEnhImage::DecodeAgain);
}

bool TEnhImage::DecodesToFit() const { return decodeToFit && scaleStyle_ == ScaleStyle::Scale && !overSize_; }

JpegOptions TEnhImage::LoadOptions() const
{
    JpegOptions options = jpeg;
    if (DecodesToFit()) {
        // The control may not have its final size yet (the viewer was switched
        // on just now), but it never grows beyond its window.
        const QSize box = size().expandedTo(window()->size());
        options.fitWidth = box.width() - (border_ ? 2 : 0);
        options.fitHeight = box.height() - (border_ ? 2 : 0);
    }
    return options;
}

ImageLoadResult TEnhImage::LoadFromFile(const std::string& path)
{
    HourglassScope busy;
    const JpegOptions options = LoadOptions();
    ImageBuffer loaded;
    const ImageLoadResult result = LoadImageFile(path, options, loaded, DecodeWithQt);
    TakeLoaded(path, options, result, std::move(loaded));
    return result;
}

void TEnhImage::TakeLoaded(const std::string& path, const JpegOptions& options, const ImageLoadResult& result,
                           ImageBuffer&& loaded)
{
    if (result.status == ImageLoadStatus::CannotOpen)
        return;
    SetPicture(std::move(loaded));
    if (options.fitWidth > 0 && buffer_.width < buffer_.fileWidth)
        scaledPath_ = path;
}

void TEnhImage::SetPicture(ImageBuffer picture)
{
    ++pictureTicket_;
    scaledPath_.clear();
    redecode_->stop();
    buffer_ = std::move(picture);
    picture_ = WrapPixels(buffer_);
    ChangeStep();
}

bool TEnhImage::ShownTooSmall() const
{
    if (scaledPath_.empty() || !DecodesToFit() || buffer_.Empty() || buffer_.width >= buffer_.fileWidth)
        return false;
    const int w = width() - (border_ ? 2 : 0), h = height() - (border_ ? 2 : 0);
    const double ratio = std::min({double(w) / buffer_.fileWidth, double(h) / buffer_.fileHeight, 1.0});
    return std::floor(buffer_.fileWidth * ratio) > buffer_.width || std::floor(buffer_.fileHeight * ratio) > buffer_.height;
}

void TEnhImage::resizeEvent(QResizeEvent*)
{
    if (ShownTooSmall())
        redecode_->start();
}

namespace {

struct DecodedPicture {
    ImageLoadResult result;
    ImageBuffer image;
};

std::shared_ptr<DecodedPicture> DecodePictureFile(const std::string& path, const JpegOptions& options)
{
    auto decoded = std::make_shared<DecodedPicture>();
    decoded->result = LoadImageFile(path, options, decoded->image, DecodeWithQt);
    return decoded;
}

} // namespace

// The file is read again on a worker; the smaller picture stays until the
// larger one is there.
void TEnhImage::DecodeAgain()
{
    if (!ShownTooSmall())
        return;
    const std::string path = scaledPath_;
    const JpegOptions options = LoadOptions();
    const int shownWidth = buffer_.width;
    const uint64_t ticket = pictureTicket_;
    const bool asked = redecodes_->Ask<std::shared_ptr<DecodedPicture>>(
        [path, options] { return DecodePictureFile(path, options); },
        [this, path, options, shownWidth, ticket](const std::shared_ptr<DecodedPicture>& decoded) {
            if (ticket != pictureTicket_ || scaledPath_ != path)
                return; // another picture came meanwhile
            // The file went away or turned to garbage meanwhile: what was shown stays.
            if (decoded->result.status == ImageLoadStatus::CannotOpen || decoded->image.Empty())
                return;
            TakeLoaded(path, options, decoded->result, std::move(decoded->image));
            if (buffer_.width <= shownWidth)
                scaledPath_.clear(); // no larger decode to be had (a fixed scale ratio): stop trying
        });
    if (!asked)
        redecode_->start(); // earlier decodes still wait on the file: later
}

void TEnhImage::ChangeStep()
{
    if (autoSize_ && !picture_.isNull())
        resize(picture_.width() + (border_ ? 2 : 0), picture_.height() + (border_ ? 2 : 0));
    setAttribute(Qt::WA_OpaquePaintEvent, forceOpaque_ || (autoSize_ && !buffer_.hasAlpha));
    update();
}

void TEnhImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (testAttribute(Qt::WA_OpaquePaintEvent))
        painter.fillRect(rect(), palette().button());
    usedScale_ = 1.0;
    ImageFitInput in;
    in.controlWidth = width();
    in.controlHeight = height();
    in.pictureWidth = picture_.width();
    in.pictureHeight = picture_.height();
    in.style = scaleStyle_;
    in.center = center_;
    in.border = border_;
    in.overSize = overSize_;
    const ImageFit fit = FitImage(in);
    if (fit.drawPicture) {
        usedScale_ = fit.scale;
        const QRect target(fit.x, fit.y, fit.width, fit.height);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        if (transparent_)
            DrawTransparent(painter, target);
        else
            painter.drawImage(target, picture_);
    }
    if (border_) {
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

// The colour of the stretched picture's bottom-left pixel shows the button face.
void TEnhImage::DrawTransparent(QPainter& painter, const QRect& target)
{
    if (target.width() <= 0 || target.height() <= 0)
        return;
    QImage stretched = picture_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_ARGB32);
    const QRgb key = stretched.pixel(0, stretched.height() - 1);
    for (int y = 0; y < stretched.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(stretched.scanLine(y));
        for (int x = 0; x < stretched.width(); ++x)
            if (row[x] == key)
                row[x] = 0;
    }
    painter.fillRect(target, palette().button());
    painter.drawImage(target.topLeft(), stretched);
}

ImagePage::ImagePage(QWidget* parent) : QWidget(parent)
{
    setObjectName("ImagePage");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    image_ = new TEnhImage(this);
    image_->setCenter(true);
    image_->setScaleStyle(ScaleStyle::Scale);
    column->addWidget(image_);
}

ViewerPage::Reading ImagePage::ReadFile(const std::string& path)
{
    const JpegOptions options = image_->LoadOptions();
    return [this, path, options] {
        const std::shared_ptr<DecodedPicture> decoded = DecodePictureFile(path, options);
        return Showing([this, path, options, decoded] {
            image_->TakeLoaded(path, options, decoded->result, std::move(decoded->image));
            Report(path, decoded->result);
        });
    };
}

void ImagePage::Report(const std::string& path, const ImageLoadResult& result)
{
    QString problem;
    switch (result.status) {
    case ImageLoadStatus::Loaded: break;
    case ImageLoadStatus::CannotOpen:
        problem = QString("Can't open %1 (error code %2)").arg(DisplayName(path)).arg(result.errorCode);
        break;
    case ImageLoadStatus::JpegAborted:
        // What was decoded before the error stays on the page; nothing at all is reported.
        if (image_->Picture().isNull())
            problem = QString::fromStdString(result.message.empty() ? "Not a JPEG picture" : result.message);
        break;
    case ImageLoadStatus::Failed: problem = QString::fromStdString(result.message); break;
    }
    if (!problem.isEmpty() && error_)
        error_(problem);
}

void ImagePage::ClearPage() { image_->ClearPicture(); }

std::string ImagePage::PageHint() const
{
    if (image_->Picture().isNull())
        return {};
    return std::to_string(image_->FileWidth()) + "x" + std::to_string(image_->FileHeight()) + " pixel";
}

} // namespace tarnel
