#include "WindowFixture.h"

#include <QDir>
#include <QTest>

QPushButton* Button(TWindow& w, const QString& caption) {
    for (QPushButton* button : w->findChildren<QPushButton*>())
        if (button->text() == caption)
            return button;
    return nullptr;
}

void TWindowFixture::Press(TWindow& w, const QString& sequence) {
    for (const QString& step : sequence.split(u',', Qt::SkipEmptyParts)) {
        const QString caption = step.section(u'*', 0, 0);
        const int times = step.contains(u'*') ? step.section(u'*', 1).toInt() : 1;
        for (int i = 0; i < times; ++i) {
            if (caption == QStringLiteral("load"))
                w.LoadBin(WriteProbeSet(dir_->path()));
            else if (caption == QStringLiteral("evaluate"))
                Evaluate(w, QStringLiteral("points.txt"));
            else
                Button(w, caption)->click();
        }
    }
}

void TWindowFixture::Evaluate(TWindow& w, const QString& fileName) {
    w.Dialogs->SaveAnswers.push_back(Path(fileName));
    w->BitBtn3->click();
}

void TWindowFixture::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    startDirectory_ = QDir::currentPath();
}

void TWindowFixture::cleanup() {
    QDir::setCurrent(startDirectory_);
    dir_.reset();
}
