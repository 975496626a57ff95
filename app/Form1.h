#pragma once
// Form1: the program's one window. It owns every control and all state of a
// run. Its handlers are grouped by subsystem and live in the folder of that
// subsystem (app/, serial/, board/, measure/, datafile/); this header is the
// one place that lists them.

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "app/BuildProfile.h"
#include "measure/SampleBlock.h"

class QCloseEvent;
class CommandTransaction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class CommPort;
class Dialogs;
struct DataFileContent;
class GraphView;
class LiveViewWindow;
class NoiseAnalysisWindow;
class PictureBox;
class VbComboBox;

class Form1 : public QWidget {
    Q_OBJECT
public:
    // `port` and `dialogs` may be null: the window then uses the real serial
    // port and real message boxes. A given port is reparented to the window.
    // `dialogs` must outlive the window.
    explicit Form1(const BuildProfile& profile, CommPort* port = nullptr,
                   Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~Form1() override;

    const BuildProfile& Profile() const { return profile_; }

    // ---- Public methods of the window ------------------------------------
    void FormToCenter();
    void Graph();
    bool SaveDataFile(const QString& path);
    bool mSaveDataFile(const QString& path, const QString& title);

    // ---- Controls (public so that tests can read and drive them) ---------
    QLabel* ComStatus = nullptr;
    QLineEdit* Status = nullptr;
    PictureBox* Picture1 = nullptr;
    GraphView* PictureView = nullptr;  // zoom, readout and export on Picture1
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QGroupBox* Frame2 = nullptr;
    VbComboBox* Combo1 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command29 = nullptr;
    VbComboBox* Combo2 = nullptr;
    VbComboBox* ComboCommPort = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* Label1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    VbComboBox* Combo3 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command8 = nullptr;
    QGroupBox* Frame3 = nullptr;       // null in the Tamrix layout
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QGroupBox* Frame4 = nullptr;       // null without a model choice
    QRadioButton* Option_CM = nullptr; // "Option3" in Vexlo; null in Tamrix
    QRadioButton* Option_RS = nullptr; // "Option4" in Vexlo; null in Tamrix
    QPushButton* Command1 = nullptr;
    QPushButton* SendB2 = nullptr;
    QPushButton* QuitB = nullptr;
    QTimer* Timer1 = nullptr;
    CommPort* MSComm1 = nullptr;

    // ======================================================================
    // app/: start-up, centring, quit, control states, model options
    // ======================================================================
    void Form_Load();
    void QuitB_Click();
    void DisableControls();
    void EnableControls();
    void FillRateListFull();
    void FillRateListShort();
    void Option_CM_Click();
    void Option_RS_Click();
    // True when the Tamrix model is the selected one (always in Tamrix).
    bool TamrixSelected() const;
    // Set once the quit steps have run (the window is closed, the program ends).
    bool QuitDone = false;

    // ======================================================================
    // serial/: port opening and closing, command transaction
    // ======================================================================
    bool PortOpened = false;
    QString Terminator;
    bool TimedOut = false;
    QString CmdString;
    QString ReplyString;

    void OpenCommPort();
    void CloseCommPort();
    void ComboCommPort_Click();
    bool SendCommand(QString command, QString& reply, qint16 timeout);
    void StartTimeout(qint16 interval);
    void StopTimeout();
    void Timer1_Timer();
    void FlushCommPort();
    // True while SendCommand waits for a reply. Click handlers that act on the
    // port are ignored meanwhile, so transactions never nest.
    bool InTransaction() const { return inTransaction_; }

    // ======================================================================
    // board/: connection check, data rate, gain
    // ======================================================================
    qint16 GainIndex = 0;

    void Button1_Click();
    void Command29_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();

    // ======================================================================
    // measure/: start/stop, reception, decoding, statistics, graph
    // ======================================================================
    bool Measuring = false;
    qint32 SampleCount = 0;
    qint16 ChannelMode = 0;
    qint16 FieldWidth = 0;
    qint16 RecordLength = 0;
    SampleBlock Samples;
    qint32 RecvCount = 0;
    QString RecvBuffer;
    double Ch0Max = 0, Ch0Min = 0, Ch1Max = 0, Ch1Min = 0;
    // The data format the last block was measured with (true = hexadecimal
    // codes). Decoding, statistics, graph, stop and saving follow it rather
    // than the option showing at that moment.
    bool MeasuredHex = true;
    // The data-rate entry sent with the start of the last block ("1200sps").
    QString MeasuredRate;

    void SendB2_Click();
    void MSComm1_OnComm(int event);
    double DecodeSample(const QString& text) const;
    void FindCh0Max();
    void FindCh0Min();
    void FindCh1Max();
    void FindCh1Min();
    double FindGraphMax() const;
    double FindGraphMin() const;
    QString PeakToPeakText();
    static quint32 ChannelColor(int channel);
    // The port failed while measuring (device gone): ends the measurement,
    // keeps the samples received so far. Called by the serial layer, which
    // closes the port and tells the operator.
    void MeasurementPortLost();

    // ======================================================================
    // datafile/: save button, dialog, writer
    // ======================================================================
    void Command1_Click();
    void ShowSaveDialog();
    // Title of the message boxes: the program's name (Vexlo_Demo, Vexlo, Tamrix).
    QString AppTitle() const;
    // Folder the save dialog starts in: the program's folder, or the home
    // folder when the program's folder cannot be written.
    static QString SaveDialogFolder();
    // The data file's header for the window's present state and last
    // measurement (no rows): what the save button writes above the rows.
    DataFileContent DataFileHeader(const QString& title) const;
    // The message boxes and save dialog of the window.
    Dialogs& WindowDialogs() const;
    // True when `path` may be written: it has no content, or the operator
    // answered Yes to the overwrite question.
    bool MayOverwrite(const QString& path);

    // ======================================================================
    // analysis/: the noise analysis window
    // ======================================================================
    // The open analysis window, or null.
    NoiseAnalysisWindow* NoiseAnalysis() const;

    // ======================================================================
    // liveview/: the live view of a running measurement
    // ======================================================================
    // The open live view, or null.
    LiveViewWindow* LiveView() const;
    // A recording of the live view runs: the start streams with a count of 0
    // and each receive event hands the input to `StreamReceived` instead of
    // the block, which stays empty.
    bool Recording = false;

public slots:
    // Opens the live view ("リアルタイム表示", at most one) or brings it to
    // the front.
    void ShowLiveView();
    // 「ファイルを開く...」 (Ctrl+O): a data file into the live view, paused.
    void OpenDataFile();
    // Opens the noise analysis window ("ノイズ解析", at most one) or brings
    // it to the front.
    void ShowNoiseAnalysis();

signals:
    // A block is complete, or a measurement stopped (or lost its port) with
    // samples received: the block may be analysed.
    void BlockCompleted();
    // A measurement was started (the start command is written), records
    // first .. first + count - 1 of the block were stored, the measurement
    // ended (complete, stopped, refused or its port lost). For watchers such
    // as the live view; nothing of the window depends on them.
    void MeasurementStarted();
    void RecordsStored(int first, int count);
    // Input arrived during a recording (in RecvBuffer).
    void StreamReceived();
    void MeasurementEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // app/
    void buildControls();
    void wireHandlers();
    void setBoardButtonsEnabled(bool enabled);
    const BuildProfile& profile_;
    Dialogs* dialogs_ = nullptr;
    std::unique_ptr<Dialogs> ownDialogs_;

    // serial/
    void onPortFailed();
    // The link went down outside a close by the operator: closes the port,
    // ends a measurement and shows the closed-link state with the reason.
    void linkDown(const QString& status, const QString& comStatus);
    bool inTransaction_ = false;
    std::unique_ptr<CommandTransaction> transaction_;

    // measure/
    void stopMeasurement();
    void finishBlock();
    void showProgress(const QString& text);
    void flushProgress();
    void dropProgress();
    QString pendingProgress_;
    QElapsedTimer progressClock_;
    QTimer* progressTimer_ = nullptr;

    // datafile/
    QString lastSaveName_;

    // analysis/
    QPointer<NoiseAnalysisWindow> noiseAnalysis_;
    // liveview/
    QPointer<LiveViewWindow> liveView_;
};
