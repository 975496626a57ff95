// Support program for scripts/demo.sh when it runs without a display.
//
//   vexlo-demo-tool geometry PROGRAM     control centres, relative to the client area
//   vexlo-demo-tool screenshot WID FILE  PNG of one X window
//   vexlo-demo-tool clipboard            the clipboard's text (waits for one), then empties it
//
// The window lays its controls out at fixed positions, so a window built here
// (offscreen) has the same geometry as the program's window on the display.

#include <QApplication>
#include <QClipboard>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QThread>
#include <QWidget>
#include <cstdio>

#include "app/BuildProfile.h"
#include "app/Form1.h"
#include "serial/CommPort.h"

namespace {

const BuildProfile* profileByName(const QString& name)
{
    for (const BuildProfile* p : {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile})
        if (name == QString::fromUtf8(p->programName))
            return p;
    return nullptr;
}

int geometry(const QString& program)
{
    const BuildProfile* profile = profileByName(program);
    if (!profile) {
        std::fprintf(stderr, "unknown program %s\n", qPrintable(program));
        return 2;
    }
    Form1 window(*profile);
    QTextStream out(stdout);
    out << "client " << window.width() << ' ' << window.height() << '\n';
    const auto children = window.findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(u"qt_"))
            continue;
        const QPoint c = w->mapTo(&window, w->rect().center());
        out << w->objectName() << ' ' << c.x() << ' ' << c.y() << '\n';
    }
    return 0;
}

int screenshot(const QString& wid, const QString& file)
{
    bool ok = false;
    const WId id = wid.toULongLong(&ok, 0);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!ok || !screen)
        return 2;
    const QPixmap shot = screen->grabWindow(id);
    return (!shot.isNull() && shot.save(file, "PNG")) ? 0 : 1;
}

int clipboard()
{
    // The copy may still be on its way (the program reads the keys after
    // this tool started): wait up to 1 s for text to appear. A copy can also
    // come out empty (the text changed between select-all and copy), hence
    // the short limit: the caller asks again.
    QClipboard* board = QGuiApplication::clipboard();
    QString text;
    for (int i = 0; i < 20 && text.isEmpty(); ++i) {
        QCoreApplication::processEvents();
        text = board->text();
        if (text.isEmpty())
            QThread::msleep(50);
    }
    QTextStream(stdout) << text << Qt::endl;
    // Leave the clipboard empty (owned by nobody once this tool exits), so
    // that the next call waits for the next copy instead of reading this one
    // again.
    board->setText(QStringLiteral(" "));
    board->clear();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString cmd = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (cmd == u"geometry" && argc == 3) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return geometry(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    if (cmd == u"screenshot" && argc == 4)
        return screenshot(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (cmd == u"clipboard")
        return clipboard();
    std::fprintf(stderr, "usage: vexlo-demo-tool geometry PROGRAM | screenshot WID FILE | clipboard\n");
    return 2;
}
