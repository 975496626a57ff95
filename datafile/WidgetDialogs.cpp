// The real message boxes and save dialog.

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "app/Dialogs.h"

void WidgetDialogs::Message(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

bool WidgetDialogs::AskYesNo(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString WidgetDialogs::GetSaveFileName(QWidget* parent, const SaveDialogRequest& request)
{
    // The filter's name and its pattern in brackets, the form Qt parses.
    const QString filter = request.filterName + u'(' + request.filterPattern.trimmed() + u')';

    // Every showing starts in the initial folder, offering the name chosen
    // last time (without its folder).
    const QString start = request.fileName.isEmpty()
                              ? request.initialFolder
                              : QDir(request.initialFolder).filePath(QFileInfo(request.fileName).fileName());

    QFileDialog dialog(parent, request.title, start, filter);
    // The type list shows the filter's name without the pattern. Qt shows
    // that name simplified (no trailing blank); Qt's own dialog gets it as given.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")); types && types->count() == 1)
        types->setItemText(0, request.filterName);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString()); // a name without extension stays so
    // QFileDialog asks before overwriting unless told otherwise; it does not
    // insist on an existing folder, so that is checked here.
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return {};
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty() || files.first().isEmpty())
            return {};
        const QString path = QFileInfo(files.first()).absoluteFilePath();
        if (QFileInfo(QFileInfo(path).absolutePath()).isDir())
            return path;
        QMessageBox box(QMessageBox::Warning, request.title,
                        QDir::toNativeSeparators(QFileInfo(path).absolutePath())
                            + QStringLiteral("\nフォルダが見つかりません。"),
                        QMessageBox::Ok, parent);
        box.exec();
    }
}

QString WidgetDialogs::GetOpenFileName(QWidget* parent, const QString& title, const QStringList& filters)
{
    QFileDialog dialog(parent, title, QString(), filters.join(QStringLiteral(";;")));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}
