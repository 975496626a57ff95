// The real message boxes and save dialog.

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

    // The name chosen last time is offered again; like the system dialogs,
    // its own folder wins over the initial folder while it still exists.
    QString start = request.initialFolder;
    if (!request.fileName.isEmpty()) {
        const QFileInfo last(request.fileName);
        start = last.isAbsolute() && QFileInfo(last.absolutePath()).isDir()
                    ? last.absoluteFilePath()
                    : QDir(request.initialFolder).filePath(last.fileName());
    }

    QFileDialog dialog(parent, request.title, start, filter);
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
