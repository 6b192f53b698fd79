#include "msg.h"

#include <QPlainTextEdit>
#include <QTime>

namespace {

constexpr QChar kQuote = u'\'';

// What joins a time zone field to the fields around it.
bool IsZoneJoint(QChar c) {
    return c.isSpace() || c == u',';
}

bool IsOpeningBracket(QChar c) {
    return c == u'(' || c == u'[';
}

bool IsClosingBracket(QChar c) {
    return c == u')' || c == u']';
}

// Index just past the quoted literal that starts at format[start].
qsizetype SkipQuoted(const QString& format, qsizetype start) {
    qsizetype end = format.indexOf(kQuote, start + 1);
    return end < 0 ? format.size() : end + 1;
}

// Fields that a log line leaves out: the time zone ("t" … "tttt") and the day
// period "B", which some locales' formats carry although QLocale has no such field
// and would print the letter itself.
bool IsDroppedField(QChar c) {
    return c == u't' || c == u'B';
}

// Removes the dropped fields, with brackets around them and the blanks or comma
// that join them to their neighbour: "h:mm:ss AP, t" → "h:mm:ss AP",
// "t HH:mm:ss" → "HH:mm:ss", "H:mm:ss (t)" → "H:mm:ss", "Bh:mm:ss [t]" → "h:mm:ss".
QString WithoutTimeZone(const QString& format) {
    QString out;
    qsizetype i = 0;
    const qsizetype n = format.size();
    while (i < n) {
        if (format[i] == kQuote) {
            const qsizetype end = SkipQuoted(format, i);
            out += format.mid(i, end - i);
            i = end;
            continue;
        }
        if (!IsDroppedField(format[i])) {
            out += format[i++];
            continue;
        }
        qsizetype end = i;
        while (end < n && format[end] == format[i])
            ++end;
        if (!out.isEmpty() && IsOpeningBracket(out.back()) && end < n &&
            IsClosingBracket(format[end])) {
            out.chop(1);
            ++end;
        }
        if (out.trimmed().isEmpty()) {
            while (end < n && IsZoneJoint(format[end]))
                ++end;
        } else {
            while (!out.isEmpty() && IsZoneJoint(out.back()))
                out.chop(1);
        }
        i = end;
    }
    return out.trimmed();
}

// Index of the first unquoted field letter c, or -1.
qsizetype FindField(const QString& format, QChar c, qsizetype from = 0) {
    for (qsizetype i = from; i < format.size();) {
        if (format[i] == kQuote) {
            i = SkipQuoted(format, i);
            continue;
        }
        if (format[i] == c)
            return i;
        ++i;
    }
    return -1;
}

// "h:mm AP" → "h:mm:ss AP": seconds after the minutes, with the separator that
// stands before the minutes.
QString WithSeconds(const QString& format) {
    const qsizetype minutes = FindField(format, u'm');
    if (minutes < 0)
        return QStringLiteral("HH:mm:ss");
    qsizetype end = minutes;
    while (end < format.size() && format[end] == u'm')
        ++end;
    const QChar separator =
        minutes > 0 && !format[minutes - 1].isLetter() ? format[minutes - 1] : QChar(u':');
    return format.left(end) + separator + QStringLiteral("ss") + format.mid(end);
}

} // namespace

QString LogTimeFormat(const QLocale& locale) {
    const QString format = WithoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    if (FindField(format, u's') >= 0)
        return format;
    return WithSeconds(WithoutTimeZone(locale.timeFormat(QLocale::ShortFormat)));
}

QString LogTimeText(const QLocale& locale, const QTime& time) {
    return locale.toString(time, LogTimeFormat(locale));
}

TMsg::TMsg(QPlainTextEdit& memo, std::int32_t maxLines) : Memo(&memo), MaxLines(maxLines) {
    ReadLocale();
    Memo->clear();
}

TMsg::~TMsg() {
    Memo = nullptr;
}

void TMsg::ReadLocale() {
    locale_ = QLocale::system();
    timeFormat_ = LogTimeFormat(locale_);
}

void TMsg::Add(const QString& message) {
    lines_.prepend(locale_.toString(QTime::currentTime(), timeFormat_) + QStringLiteral(" : ") +
                   message);
    while (lines_.size() > MaxLines && !lines_.isEmpty())
        lines_.removeLast();
    if (Memo)
        Memo->setPlainText(lines_.join(u'\n'));
}
