#pragma once
// A whole-number field with up and down arrows that takes whatever is typed and
// settles it when the field is left, on Return or on an arrow: a number beyond the
// range becomes the nearer bound, text that is not a whole number reads as 0 (and
// then as the nearer bound when 0 is outside the range).

#include <QSpinBox>

class TSpinEdit : public QSpinBox {
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

protected:
    /// Only a number within the range is acceptable as it stands; any other text
    /// may be typed and is settled by fixup.
    QValidator::State validate(QString& text, int& pos) const override;
    void fixup(QString& input) const override;
    int valueFromText(const QString& text) const override;

private:
    /// The value that text settles to.
    int ValueOfText(const QString& text) const;
};
