// The main window's controls: built top to bottom in the order, groups and
// captions the operator knows, for a narrow tool window of 217 x 649 pixels.

#include "pipeline/Evaluator.h"
#include "RadioGroup.h"
#include "Unit1.h"
#include "WindowFont.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <initializer_list>

namespace {

constexpr int kClientWidth = 217;
constexpr int kClientHeight = 649;

QPushButton* NewButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    // The window is narrow: a row of buttons shares its width below the style's
    // usual minimum for a push button, each keeping room for its caption.
    constexpr int kCaptionPadding = 10;
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(caption) + kCaptionPadding);
    button->setAutoDefault(false);
    return button;
}

// Tighter than the style's margins, for the narrow window.
void SetGroupMargins(QLayout* layout) {
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setSpacing(4);
}

TSpinEdit* NewSpinEdit(int value, QWidget* parent) {
    auto* spin = new TSpinEdit(parent);
    spin->setRange(0, 255);
    spin->setValue(value);
    return spin;
}

} // namespace

void TForm1::BuildControls() {
    setWindowTitle(QStringLiteral(" Kelvaron Eval"));
    setFont(WindowFont(font()));
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().topLeft());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette colours = Memo1->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Base, QColor(0x00, 0x00, 0x00));
        colours.setColor(group, QPalette::Text, QColor(0x00, 0xFF, 0x00));
    }
    Memo1->setPalette(colours);
    layout->addWidget(Memo1, 1);

    GroupBox1 = new QGroupBox(QStringLiteral("Files"), this);
    auto* files = new QHBoxLayout(GroupBox1);
    SetGroupMargins(files);
    auto* fileButtons = new QVBoxLayout;
    BitBtn1 = NewButton(QStringLiteral("Load *.jpg"), GroupBox1);
    BitBtn8 = NewButton(QStringLiteral("Load *.bin"), GroupBox1);
    BitBtn7 = NewButton(QStringLiteral("Save *.bin"), GroupBox1);
    fileButtons->addWidget(BitBtn1);
    fileButtons->addWidget(BitBtn8);
    fileButtons->addWidget(BitBtn7);
    fileButtons->addStretch();
    files->addLayout(fileButtons, 1);
    RadioGroup1 = new TRadioGroup(QStringLiteral("Color"),
                                  {QStringLiteral("Red"), QStringLiteral("Green"),
                                   QStringLiteral("Blue"), QStringLiteral("Grey")},
                                  GroupBox1);
    RadioGroup1->SetItemIndex(TEvalDefaults::Channel); // the items in channel order
    files->addWidget(RadioGroup1);
    layout->addWidget(GroupBox1);

    GroupBox2 = new QGroupBox(QStringLiteral("Settings"), this);
    auto* settings = new QGridLayout(GroupBox2);
    SetGroupMargins(settings);
    Label1 = new QLabel(QStringLiteral("tolerance "), GroupBox2);
    SpinEdit1 = NewSpinEdit(TEvalDefaults::Tolerance, GroupBox2);
    Label2 = new QLabel(QStringLiteral("mindif"), GroupBox2);
    SpinEdit2 = NewSpinEdit(TEvalDefaults::MinDif, GroupBox2);
    BitBtn12 = NewButton(QStringLiteral("Set and calc matrix"), GroupBox2);
    settings->addWidget(Label1, 0, 0);
    settings->addWidget(SpinEdit1, 0, 1);
    settings->addWidget(Label2, 1, 0);
    settings->addWidget(SpinEdit2, 1, 1);
    settings->addWidget(BitBtn12, 2, 0, 1, 2);
    layout->addWidget(GroupBox2);

    GroupBox3 = new QGroupBox(QStringLiteral("Picture Viewer"), this);
    auto* viewer = new QVBoxLayout(GroupBox3);
    SetGroupMargins(viewer);
    auto* pictureRow = new QHBoxLayout;
    Label3 = new QLabel(QStringLiteral("Picture: "), GroupBox3);
    Label4 = new QLabel(QStringLiteral("x"), GroupBox3);
    pictureRow->addWidget(Label3);
    pictureRow->addWidget(Label4);
    pictureRow->addStretch();
    viewer->addLayout(pictureRow);
    auto* pictureButtons = new QHBoxLayout;
    BitBtn10 = NewButton(QStringLiteral("next"), GroupBox3);
    BitBtn9 = NewButton(QStringLiteral("prev"), GroupBox3);
    BitBtn13 = NewButton(QStringLiteral("act"), GroupBox3);
    BitBtn11 = NewButton(QStringLiteral("2"), GroupBox3);
    for (QPushButton* button : {BitBtn10, BitBtn9, BitBtn13, BitBtn11})
        pictureButtons->addWidget(button);
    viewer->addLayout(pictureButtons);
    auto* viewButtons = new QHBoxLayout;
    BitBtn6 = NewButton(QStringLiteral("Matrix"), GroupBox3);
    BitBtn2 = NewButton(QStringLiteral("Code Points"), GroupBox3);
    BitBtn4 = NewButton(QStringLiteral("Edges"), GroupBox3);
    for (QPushButton* button : {BitBtn6, BitBtn2, BitBtn4})
        viewButtons->addWidget(button);
    viewer->addLayout(viewButtons);
    layout->addWidget(GroupBox3);

    BitBtn3 = NewButton(QStringLiteral("Set Settings, Evaluate and Save"), this);
    layout->addWidget(BitBtn3);
}
