#include "Unit2.h"

#include "TBMPpix.h"
#include "WindowFont.h"
#include "msg.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <exception>

namespace {

constexpr int kClientWidth = 1026;
constexpr int kClientHeight = 770;
constexpr int kMargin = 8;
constexpr int kScrollWidth = 1009;
constexpr int kScrollHeight = 753;
constexpr int kInitialImageSide = 100;

} // namespace

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit MouseDown(event->button(), event->modifiers(), at.x(), at.y());
}

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Form2"));
    setFont(WindowFont(font()));
    setFixedSize(kClientWidth, kClientHeight);

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setGeometry(kMargin, kMargin, kScrollWidth, kScrollHeight);
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Image1 = new TImage(ScrollBox1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->resize(kInitialImageSide, kInitialImageSide);
    ScrollBox1->setWidget(Image1);
    connect(Image1, &TImage::MouseDown, this, &TForm2::Image1MouseDown);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TForm2::~TForm2() {
    // The wrapper must not outlive the buffer it points into.
    Image1->SetPicture(QImage());
}

void TForm2::ResetBitmap(std::int32_t width, std::int32_t height) {
    Image1->SetPicture(QImage());
    Bitmap = TBitmap();
    Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    Bitmap.SetWidth(width);
    Bitmap.SetHeight(height);
    Rewrap();
    Image1->resize(width, height);
}

void TForm2::Rewrap() {
    if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0) {
        Image1->SetPicture(QImage());
        return;
    }
    // The rows are 24-bit BGR, 4-byte aligned: QImage shows the buffer as it is.
    Image1->SetPicture(QImage(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(),
                              static_cast<qsizetype>(Bitmap.BytesPerLine()),
                              QImage::Format_BGR888));
}

void TForm2::RepaintImage() {
    Image1->update();
}

void TForm2::Image1MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    try {
        bool inside = false;
        TPixelTriple pixel;
        TBitmapPixMan(Bitmap).GetPixel(y, x, inside, pixel);
        if (MsgLog)
            MsgLog->Add(QStringLiteral("Value: ") + QString::number(pixel.Red));
    } catch (const std::exception& error) {
        if (onError_)
            onError_(QString::fromStdString(error.what()));
    } catch (...) {
        if (onError_)
            onError_(QStringLiteral("An unknown error occurred."));
    }
}
