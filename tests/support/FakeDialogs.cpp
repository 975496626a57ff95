#include "support/FakeDialogs.h"

#include <QStringList>

QString FakeDialogs::GetSaveFileName(QWidget*, const SaveDialogRequest& request)
{
    shown.append({Shown::SaveDialog, request.title, request.fileName});
    return onSaveDialog ? onSaveDialog(request) : savePath;
}

QStringList FakeDialogs::texts(Shown::Kind kind) const
{
    QStringList out;
    for (const Shown& s : shown)
        if (s.kind == kind)
            out.append(s.text);
    return out;
}
