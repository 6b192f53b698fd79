#include "UiTestSupport.h"

#include "PngWriter.h"
#include "TBMPpix.h"
#include "Unit2.h"
#include "files/FileUtil.h"
#include "output/JpegWriter.h"

#include <QFile>
#include <QPlainTextEdit>
#include <vector>

TWindow::TWindow() {
    auto dialogs = std::make_unique<TScriptedDialogs>();
    Dialogs = dialogs.get();
    Form = std::make_unique<TForm1>(std::move(dialogs));
}

TWindow::~TWindow() = default;

QStringList TWindow::Messages() const {
    QStringList messages;
    for (const QString& line : Form->Memo1->toPlainText().split(u'\n', Qt::SkipEmptyParts))
        messages.prepend(line.section(QStringLiteral(" : "), 1));
    return messages;
}

void TWindow::LoadBin(const QString& fileName) {
    Dialogs->OpenAnswers.push_back(fileName);
    Form->BitBtn8Click();
}

void TWindow::LoadJpg(const QString& fileName) {
    Dialogs->OpenAnswers.push_back(fileName);
    Form->BitBtn1Click();
}

std::string ToStd(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

QString WriteSet(const QString& folder, const QString& name, int width, int height,
                 const TPlaneValue& value, int count) {
    TPics pics;
    pics.SetCount(count, width, height);
    for (int k = 0; k < count; ++k)
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                pics.Planes[std::size_t(k)].Data[row][col] = value(k, row, col);
    const QString header = folder + u'/' + name + QStringLiteral(".bbf");
    SavePicSet(pics, ToStd(header), true);
    return header;
}

std::uint8_t ProbeStackValue(int plane, int, int col) {
    constexpr int kCode = 11; // bits 0, 1 and 3: planes 2, 3 and 5 lit
    const bool dot = col < 10;
    if (plane < 3)
        return std::uint8_t(plane == 0 ? 20 : plane == 1 ? 220 : dot ? 200 : 30);
    if (!dot)
        return std::uint8_t(100 + 3 * plane);
    return (kCode >> (plane - 2) & 1) != 0 ? 200 : 20;
}

QString WriteProbeSet(const QString& folder) {
    return WriteSet(folder, QStringLiteral("probe"), 20, 10, ProbeStackValue);
}

QString WriteJpegStack(const QString& folder, const QString& base, std::uint8_t red,
                       std::uint8_t green, std::uint8_t blue, int count) {
    constexpr int kSide = 16;
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < kSide * kSide; ++i)
        pixels.insert(pixels.end(), {red, green, blue});
    TJpegWriteOptions options;
    options.Quality = 100;
    options.Chroma = TJpegChroma::Chroma444;
    QByteArray list = "photographs\r\nof one colour\r\n";
    for (int k = 0; k < count; ++k) {
        const QString name = base + QStringLiteral("_%1.jpg").arg(k, 2, 10, QChar(u'0'));
        WriteJpeg(ToStd(folder + u'/' + name), kSide, kSide, 3, pixels.data(), options);
        list += name.toUtf8() + "\r\n";
    }
    const QString listFile = folder + u'/' + base + QStringLiteral(".txt");
    WriteWholeFile(ToStd(listFile), list.constData(), std::size_t(list.size()));
    return listFile;
}

QString WritePngStack(const QString& folder, const QString& base, std::uint8_t red,
                      std::uint8_t green, std::uint8_t blue, int count) {
    TRawPicture picture;
    picture.Width = picture.Height = 16;
    picture.Samples = 3;
    picture.Bits = 16;
    for (int i = 0; i < picture.Width * picture.Height; ++i)
        picture.Values.insert(picture.Values.end(), {257u * red, 257u * green, 257u * blue});
    TPngWriteOptions options;
    options.Colour = TPngColour::Rgb;
    QByteArray list = "photographs\r\nof one colour\r\n";
    for (int k = 0; k < count; ++k) {
        const QString name = base + QStringLiteral("_%1.png").arg(k, 2, 10, QChar(u'0'));
        WritePng(ToStd(folder + u'/' + name), picture, options);
        list += name.toUtf8() + "\r\n";
    }
    const QString listFile = folder + u'/' + base + QStringLiteral(".txt");
    WriteWholeFile(ToStd(listFile), list.constData(), std::size_t(list.size()));
    return listFile;
}

QString DisplayMismatch(TForm1& form, int index) {
    const TPic& plane = form.Evaluator->Pics.Planes.at(std::size_t(index));
    TBitmapPixMan pixels(form.Viewer().DisplayBitmap());
    for (int row = 0; row < plane.Height; ++row)
        for (int col = 0; col < plane.Width; ++col) {
            bool ok = false;
            TPixelTriple p;
            pixels.GetPixel(row, col, ok, p);
            const int v = plane.Data[row][col];
            if (!ok || p.Red != v || p.Green != v || p.Blue != v)
                return QStringLiteral("row %1, column %2: plane %3 holds %4, display shows "
                                      "(%5, %6, %7)")
                    .arg(row)
                    .arg(col)
                    .arg(index)
                    .arg(v)
                    .arg(p.Red)
                    .arg(p.Green)
                    .arg(p.Blue);
        }
    return {};
}
