#pragma once
// Scripted message boxes and save dialog for unit tests: every call is
// recorded, and the answers come from the fields a test sets beforehand.
// (The real boxes and dialog are driven in tst_datafile_save.)

#include <QList>
#include <QString>
#include <functional>

#include "app/Dialogs.h"

class FakeDialogs : public Dialogs {
public:
    struct Shown {
        enum Kind { Message, Question, SaveDialog, OpenDialog } kind;
        QString caption;
        QString text; // the save dialog's: the name it offers
    };

    void Message(QWidget*, const QString& caption, const QString& text) override
    {
        shown.append({Shown::Message, caption, text});
    }
    bool AskYesNo(QWidget*, const QString& caption, const QString& text) override
    {
        shown.append({Shown::Question, caption, text});
        return answerYes;
    }
    QString GetSaveFileName(QWidget* parent, const SaveDialogRequest& request) override;
    // Records the title and the filters (joined by ";;"); answers openPath.
    QString GetOpenFileName(QWidget*, const QString& title, const QStringList& filters) override
    {
        shown.append({Shown::OpenDialog, title, filters.join(QStringLiteral(";;"))});
        return openPath;
    }
    QString openPath;      // the open dialog's result ("" = Cancel)

    // --- Answers -----------------------------------------------------------
    bool answerYes = true; // AskYesNo's answer
    QString savePath;      // the save dialog's result ("" = Cancel)
    // When set, called instead of using savePath (to act while the dialog is "open").
    std::function<QString(const SaveDialogRequest&)> onSaveDialog;

    // --- Record ------------------------------------------------------------
    QList<Shown> shown; // every box and dialog, in order
    QStringList texts(Shown::Kind kind) const;
    void clear() { shown.clear(); }
};
