#pragma once
// A titled group of radio buttons chosen by index, as the "Color" choice uses it.

#include <QGroupBox>

class QButtonGroup;

class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    TRadioGroup(const QString& title, const QStringList& items, QWidget* parent);

    /// The chosen item, or -1 when none is.
    int ItemIndex() const;
    /// Chooses item index; an index outside the items chooses none.
    void SetItemIndex(int index);

private:
    QButtonGroup* buttons_; // owned by this widget
};
