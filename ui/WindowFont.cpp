#include "WindowFont.h"

#include <QFontDatabase>
#include <QStringList>

QFont WindowFont(const QFont& base) {
    QFont font = base;
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        font.setFamily(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    return font;
}
