#pragma once
// Dialogs answered by the test: each file dialog takes the next scripted answer (a
// file name; a null string or no answer left cancels), and error messages are
// collected.

#include "Dialogs.h"

#include <QStringList>
#include <deque>

class TScriptedDialogs : public TDialogs {
public:
    std::deque<QString> OpenAnswers;
    std::deque<QString> SaveAnswers;
    QStringList Errors;
    int OpenAsked = 0;
    int SaveAsked = 0;

    std::optional<QString> openFileName() override { return Next(OpenAnswers, OpenAsked); }
    std::optional<QString> saveFileName() override { return Next(SaveAnswers, SaveAsked); }
    void showError(const QString& text) override { Errors << text; }

private:
    static std::optional<QString> Next(std::deque<QString>& answers, int& asked) {
        ++asked;
        if (answers.empty())
            return std::nullopt;
        const QString answer = answers.front();
        answers.pop_front();
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }
};
