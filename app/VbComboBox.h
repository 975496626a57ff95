#pragma once
// An editable drop-down list as the window uses it: the operator may pick an
// entry or type text. Once text has been typed, no entry counts as selected
// (ListIndex() is -1) until an entry is chosen again, because the board code
// sent for a typed text is derived from that "no entry" state.

#include <QComboBox>

class VbComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit VbComboBox(QWidget* parent = nullptr);

    // Selected list position, or -1 when nothing is selected or text was typed.
    int ListIndex() const;
    // Selects an entry by program (or clears the selection with -1). Raises no
    // Click signal; callers that need the click handler call it themselves.
    void SetListIndex(int index);
    // The shown text (the typed text, or the selected entry).
    QString Text() const;
    // Text of the entry at a position ("" when there is none).
    QString List(int index) const;
    int ListCount() const { return count(); }
    // Empties the list; the shown text becomes empty.
    void Clear();
    void AddItem(const QString& text);
    // Shows a text with no entry selected (the design-time caption).
    void SetText(const QString& text);

signals:
    // The operator chose an entry from the list.
    void Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool typed_ = false;
};
