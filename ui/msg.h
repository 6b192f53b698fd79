#pragma once
// The message log: time-stamped progress messages in the main window's memo,
// newest on top, at most MaxLines of them.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>

class QPlainTextEdit;
class QTime;

/// The locale's long time format cut down to the time of day: hours, minutes and
/// seconds with the locale's separators and AM/PM designator, no time zone. Falls
/// back to the short format with seconds added when the long one has none.
QString LogTimeFormat(const QLocale& locale);

/// time formatted with LogTimeFormat(locale), as it opens a log line.
QString LogTimeText(const QLocale& locale, const QTime& time);

class TMsg {
public:
    /// Logs into memo, keeping at most maxLines messages; empties the memo.
    TMsg(QPlainTextEdit& memo, std::int32_t maxLines);
    /// Leaves the memo's text as it stands.
    ~TMsg();
    TMsg(const TMsg&) = delete;
    TMsg& operator=(const TMsg&) = delete;

    /// Puts "<time> : <message>" on top; the oldest message goes once more than
    /// MaxLines are held. A message counts once however the memo wraps it.
    void Add(const QString& message);

    /// Takes the time format from the system locale again (after a change of the
    /// regional settings).
    void ReadLocale();

    QPlainTextEdit* Memo = nullptr; ///< not owned
    std::int32_t MaxLines = 0;

private:
    QLocale locale_;
    QString timeFormat_;
    QStringList lines_;
};
