#pragma once
// Message boxes and the save dialog go through this small interface so that
// tests can answer them. Production uses QMessageBox and QFileDialog
// (WidgetDialogs).

#include <QString>
#include <QStringList>

class QWidget;

struct SaveDialogRequest {
    QString title;          // dialog caption
    QString filterName;     // shown name of the one filter entry
    QString filterPattern;  // e.g. "*.csv"
    QString initialFolder;  // folder the dialog starts in
    QString fileName;       // name chosen last time ("" the first time)
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message with only an OK button.
    virtual void Message(QWidget* parent, const QString& caption, const QString& text) = 0;
    // A Yes/No question, Yes the default, no icon. True for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
    // The modal save dialog: asks before overwriting an existing file, needs an
    // existing folder, adds no extension. Returns the full path, "" on cancel.
    virtual QString GetSaveFileName(QWidget* parent, const SaveDialogRequest& request) = 0;
    // The modal open dialog of an existing file, with the filters given
    // ("データファイル (*.csv)", the first one chosen). Returns the full path,
    // "" on cancel (and where a front end has no such dialog).
    virtual QString GetOpenFileName(QWidget* parent, const QString& title, const QStringList& filters)
    {
        (void)parent, (void)title, (void)filters;
        return {};
    }
};

// QMessageBox / QFileDialog.
class WidgetDialogs : public Dialogs {
public:
    void Message(QWidget* parent, const QString& caption, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    QString GetSaveFileName(QWidget* parent, const SaveDialogRequest& request) override;
    QString GetOpenFileName(QWidget* parent, const QString& title, const QStringList& filters) override;
};
