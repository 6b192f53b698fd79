#include "SpinEdit.h"

#include <algorithm>
#include <limits>

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {}

int TSpinEdit::ValueOfText(const QString& text) const {
    QString acceptable = text;
    int pos = 0;
    if (QSpinBox::validate(acceptable, pos) == QValidator::Acceptable)
        return QSpinBox::valueFromText(acceptable);
    QString body = text;
    if (!prefix().isEmpty() && body.startsWith(prefix()))
        body.remove(0, prefix().size());
    if (!suffix().isEmpty() && body.endsWith(suffix()))
        body.chop(suffix().size());
    body = body.trimmed();
    bool ok = false;
    qlonglong number = locale().toLongLong(body, &ok);
    if (!ok)
        number = body.toLongLong(&ok);
    if (!ok) {
        // Digits too many for a number still lie beyond the bound their sign
        // points to.
        const bool negative = body.startsWith(u'-');
        const QStringView digits = QStringView(body).mid(negative || body.startsWith(u'+') ? 1 : 0);
        const bool whole = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(),
                                                            [](QChar c) { return c.isDigit(); });
        number = !whole     ? 0
                 : negative ? std::numeric_limits<qlonglong>::min()
                            : std::numeric_limits<qlonglong>::max();
    }
    return int(std::clamp<qlonglong>(number, minimum(), maximum()));
}

// A plain QSpinBox refuses a keystroke that makes a number beyond the range (300
// cannot be typed at all) and, on leaving the field, puts back the former value for
// text it cannot take. Here every text is let through as intermediate; when the field
// is left, on Return or on an arrow, QAbstractSpinBox hands such text to fixup and
// takes the value of what fixup made of it.
QValidator::State TSpinEdit::validate(QString& text, int& pos) const {
    return QSpinBox::validate(text, pos) == QValidator::Acceptable ? QValidator::Acceptable
                                                                   : QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& input) const {
    input = prefix() + textFromValue(ValueOfText(input)) + suffix();
}

int TSpinEdit::valueFromText(const QString& text) const {
    return ValueOfText(text);
}
