#pragma once
// The progress line on standard error: records, rate and time left (or time
// run when the end is open). Shown only when standard error is a terminal and
// --quiet was not given; redrawn at most five times a second; no colour.

#include <QByteArray>
#include <QElapsedTimer>
#include <QtGlobal>

class Progress {
public:
    Progress(bool quiet, qint64 total);  // total 0: open end
    void Update(qint64 done);
    // Text shown before the counts (e.g. the sweep's cell).
    void SetLabel(const QByteArray& label) { label_ = label; }
    // Clears the line (before a message or at the end).
    void Finish();

private:
    bool enabled_ = false;
    bool shown_ = false;
    qint64 total_ = 0;
    QElapsedTimer clock_;
    qint64 lastDrawMs_ = -1000;
    QByteArray label_;
};
