#pragma once
// The viewer window: shows the display bitmap that the engine draws into, and
// logs the red byte of the pixel under a mouse press.

#include "image/Bitmap.h"

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>

class QScrollArea;
class TMsg;

/// Paints a picture at its natural size from the top-left corner and reports mouse
/// presses in its own coordinates, which are the picture's whatever the scrolling.
class TImage : public QWidget {
    Q_OBJECT

public:
    explicit TImage(QWidget* parent);

    /// The picture shown from now on; it must stay valid until replaced.
    void SetPicture(const QImage& picture);

signals:
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage picture_;
};

class TForm2 : public QWidget {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    /// The bitmap the engine draws into; Image1 shows its pixels as they stand.
    TBitmap& DisplayBitmap() { return Bitmap; }

    /// A new, empty 24-bit bitmap of width × height in place of the old one, and
    /// Image1 of the same size. Draws nothing and does not show the window.
    void ResetBitmap(std::int32_t width, std::int32_t height);
    /// Has Image1 repaint the bitmap after a drawing.
    void RepaintImage();

    /// The log the probe writes to; null while there is none.
    void SetLog(TMsg* log) { MsgLog = log; }
    /// Where an error in a handler of this window is reported.
    void SetErrorHandler(std::function<void(const QString&)> handler) {
        onError_ = std::move(handler);
    }

    /// Logs "Value: " and the red byte of the display bitmap's pixel at column x,
    /// row y (0 outside the bitmap), for every button and modifier.
    void Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

    QScrollArea* ScrollBox1 = nullptr;
    TImage* Image1 = nullptr;

private:
    void Rewrap();

    TBitmap Bitmap;
    TMsg* MsgLog = nullptr; // owned by the main window
    std::function<void(const QString&)> onError_;
};
