// Saving a full two-channel millivolt block (65535 samples) through
// Form1::mSaveDataFile, timed against copying a file of the same size on the
// same disk. Prints the best of several runs of each and their ratio.
//
// Usage: bench_save [folder]   (default: the current folder)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/VbComboBox.h"

namespace {

class QuietDialogs : public Dialogs {
public:
    void Message(QWidget*, const QString&, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
    QString GetSaveFileName(QWidget*, const SaveDialogRequest&) override { return {}; }
};

// The least disturbed run: on a shared machine the others measure the
// neighbours as much as the code.
double best(std::vector<double> v)
{
    return *std::min_element(v.begin(), v.end());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

VbComboBox* ensureCombo(VbComboBox*& combo, QWidget* parent, std::initializer_list<const char*> entries)
{
    if (!combo)
        combo = new VbComboBox(parent);
    combo->Clear();
    for (const char* e : entries)
        combo->AddItem(QString::fromUtf8(e));
    combo->SetListIndex(0);
    return combo;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QTemporaryDir dir(QDir(base).filePath(QStringLiteral("bench_save-XXXXXX")));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a folder in %s\n", qPrintable(base));
        return 1;
    }

    QuietDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    ensureCombo(w.Combo1, &w, {"5sps", "10sps"});
    ensureCombo(w.Combo2, &w, {"CH0=Ain0-Ain1", "CH1=Ain2-Ain3", "CH0 + CH1"})->SetListIndex(2);
    ensureCombo(w.Combo3, &w, {"Gain=1", "Gain=8"});
    if (!w.Label1)
        w.Label1 = new QLabel(&w);
    w.Label1->setText(QStringLiteral("BUF ON / Sinc4"));

    // Millivolt texts as the board sends them: 9 characters each.
    const int n = kSampleCapacity;
    for (int i = 0; i < n; ++i) {
        const double a = (i % 2000 - 1000) * 0.987654;
        const double b = (i % 777) * -0.98765;
        w.Samples.SetCh0(i, QString::asprintf("%9.4f", a));
        w.Samples.SetCh1(i, QString::asprintf("%9.4f", b));
    }
    w.SampleCount = n;
    w.RecvCount = n;
    w.ChannelMode = 2;
    w.MeasuredHex = false;

    const QString saved = dir.filePath(QStringLiteral("block.csv"));
    const QString copied = dir.filePath(QStringLiteral("copy.csv"));
    const int runs = 15;
    std::vector<double> saveMs, copyMs;
    QElapsedTimer t;
    for (int r = 0; r < runs; ++r) {
        // Both sides create a new file (a save that replaces a file also pays
        // for the rename over the old one).
        QFile::remove(saved);
        t.start();
        if (!w.mSaveDataFile(saved, QStringLiteral("データ"))) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        saveMs.push_back(t.nsecsElapsed() / 1e6);

        QFile::remove(copied);
        t.start();
        if (!QFile::copy(saved, copied)) {
            std::fprintf(stderr, "copy failed\n");
            return 1;
        }
        copyMs.push_back(t.nsecsElapsed() / 1e6);
    }

    const long long fileSize = QFile(saved).size();

    const double save = best(saveMs);
    const double copy = best(copyMs);
    std::printf("file size:           %lld bytes\n", fileSize);
    std::printf("save (best of %d)  : %.3f ms\n", runs, save);
    std::printf("copy (best of %d)  : %.3f ms\n", runs, copy);
    std::printf("save / copy ratio:   %.2f (goal < 3)\n", save / copy);
    std::printf("median ratio:        %.2f (%.3f ms / %.3f ms)\n", median(saveMs) / median(copyMs),
                median(saveMs), median(copyMs));
    return 0;
}
