// Cost of the zoomable graph on the offscreen platform, measured in one run
// against one frame at 60 Hz (16.67 ms). A full two-channel block of 65535
// noisy samples is drawn in the real window. Prints:
//
//   full view  = painting Picture1 at rest (the recorded lines, reduced per
//                pixel column) / one frame; the first paint after the graph
//                also builds the reduced picture              goal < 0.25
//   zoom 10x   = painting a 10x zoom (envelope of the decoded samples per
//                pixel column) / one frame; the first zoomed paint after
//                the graph also decodes the block             goal < 0.25
//   wheel step = median over 100 wheel steps (25 in, 25 out, twice, at
//                points across the block) of the time from the wheel event to the painted
//                frame / one frame                             goal < 0.5
//
// Usage: bench_graphview [repeats=30]

#include <QApplication>
#include <QElapsedTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/Form1.h"
#include "graphview/GraphView.h"
#include "measure/PictureBox.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"

namespace {

constexpr double kFrameMs = 1000.0 / 60;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Counts the paint events Picture1 receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

double repaintMs(QWidget* w)
{
    QElapsedTimer t;
    t.start();
    w->repaint();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 30;

    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, new FakeCommPort, &dialogs);
    unsigned seed = 12345;
    for (int i = 0; i < kSampleCapacity; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int noise = int((seed >> 16) % 2001) - 1000;
        w.Samples.SetCh0(i, QString::asprintf("%+09.3f", noise / 1000.0 + (i % 5000) / 2500.0));
        w.Samples.SetCh1(i, QString::asprintf("%+09.3f", -noise / 2000.0));
    }
    w.SampleCount = w.RecvCount = kSampleCapacity;
    w.ChannelMode = 2;
    w.MeasuredHex = false;
    w.GainIndex = 0;
    w.show();
    app.processEvents();

    PictureBox* box = w.Picture1;
    GraphView& view = *w.PictureView;
    PaintCounter counter;
    box->installEventFilter(&counter);

    std::vector<double> first, rest, zoomFirst, zoom;
    for (int r = 0; r < repeats; ++r) {
        w.Graph();
        first.push_back(repaintMs(box));
        rest.push_back(repaintMs(box));
        view.ZoomTime(10, box->width() * (r % 7 + 1) / 8.0);
        zoomFirst.push_back(repaintMs(box));
        zoom.push_back(repaintMs(box));
        view.ResetView();
    }

    std::vector<double> steps;
    for (int k = 0; k < 100; ++k) {
        const QPointF at(box->width() * ((k * 37) % 100) / 100.0, box->height() / 2.0);
        const int notches = k % 50 < 25 ? 1 : -1; // full view to 400x and back, twice
        QWheelEvent e(at, box->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
        const int before = counter.paints;
        QElapsedTimer t;
        t.start();
        QApplication::sendEvent(box, &e);
        while (counter.paints == before && t.elapsed() < 1000)
            app.processEvents();
        steps.push_back(t.nsecsElapsed() / 1e6);
    }

    std::printf("paint at rest: first %.2f ms, repaint %.2f ms; 10x zoom: first %.2f ms, "
                "repaint %.2f ms; wheel step %.2f ms (medians, %d repeats)\n",
                median(first), median(rest), median(zoomFirst), median(zoom), median(steps),
                repeats);
    std::printf("full view  %.3f frames (%.3f with the first paint)  (goal < 0.25)\n",
                median(rest) / kFrameMs, median(first) / kFrameMs);
    std::printf("zoom 10x   %.3f frames (%.3f with the first paint)  (goal < 0.25)\n",
                median(zoom) / kFrameMs, median(zoomFirst) / kFrameMs);
    std::printf("wheel step %.3f frames  (goal < 0.5)\n", median(steps) / kFrameMs);
    return 0;
}
