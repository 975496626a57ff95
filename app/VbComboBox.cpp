#include "app/VbComboBox.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

VbComboBox::VbComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // Typing must never select a list entry by completion.
    setCompleter(nullptr);
    // Return in the edit field would pick the entry that the typed text
    // spells (and raise Click). Typing never chooses an entry, so the key is
    // kept from the combo box.
    lineEdit()->installEventFilter(this);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { typed_ = true; });
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int) {
        typed_ = false;
        emit Click();
    });
}

bool VbComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QComboBox::eventFilter(watched, event);
}

int VbComboBox::ListIndex() const
{
    return typed_ ? -1 : currentIndex();
}

void VbComboBox::SetListIndex(int index)
{
    typed_ = false;
    if (index < 0 || index >= count()) {
        setCurrentIndex(-1);
        return;
    }
    setCurrentIndex(index);
    setEditText(itemText(index));
}

QString VbComboBox::Text() const
{
    return currentText();
}

QString VbComboBox::List(int index) const
{
    return (index >= 0 && index < count()) ? itemText(index) : QString();
}

void VbComboBox::Clear()
{
    typed_ = false;
    clear();
    setEditText(QString());
}

void VbComboBox::AddItem(const QString& text)
{
    const QString shown = currentText();
    const int selected = currentIndex();
    addItem(text);
    // Adding to an empty list must not select the new entry by itself.
    if (selected < 0) {
        setCurrentIndex(-1);
        setEditText(shown);
    }
}

void VbComboBox::SetText(const QString& text)
{
    typed_ = false;
    setCurrentIndex(-1);
    setEditText(text);
}
