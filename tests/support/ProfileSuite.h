#pragma once
// Shared by the tests that run one table over the three programs: the
// profile as a table column, and the state of the board buttons.

#include <QMetaType>
#include <QPushButton>
#include <QtTest>

#include "app/Form1.h"

Q_DECLARE_METATYPE(const BuildProfile*)

// One row per program, named after it.
inline void AddProfileRows()
{
    QTest::addColumn<const BuildProfile*>("profile");
    for (const BuildProfile* p : {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile})
        QTest::newRow(p->programName) << p;
}

// True when every board button is in the state `on`.
inline bool BoardButtonsAre(const Form1& w, bool on)
{
    for (QPushButton* b : {w.Command6, w.Command7, w.Command8, w.Command29, w.Command1, w.SendB2})
        if (b->isEnabled() != on)
            return false;
    return true;
}
