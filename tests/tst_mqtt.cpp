// The broker publisher: its batch payload against hand-written JSON, its URL
// reading, its spool bound without a broker, and `vexlo-cli log --mqtt` end
// to end against a real mosquitto (support/TestBroker) with the simulator as
// the board, a durable mosquitto_sub as the subscriber.

#include <QtTest>

#include "mqtt/MqttPublisher.h"
#include "support/SimFixture.h"
#include "support/TestBroker.h"

using namespace vexlo::sim;

namespace {

int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();  // nothing listens once probe is gone
}

// Record ranges "a-b" of a report line, expanded.
QList<qint64> rangesIn(const QString& text)
{
    QList<qint64> out;
    QRegularExpressionMatchIterator it = QRegularExpression("(\\d+)-(\\d+)").globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        for (qint64 i = m.captured(1).toLongLong(); i <= m.captured(2).toLongLong(); ++i)
            out << i;
    }
    return out;
}

QJsonObject json(const QByteArray& bytes) { return QJsonDocument::fromJson(bytes).object(); }

// vexlo-cli log from the simulated board (COM4, 1200 sps paced) into `file`.
void startLog(QProcess& p, const QString& file, int count, const QStringList& more)
{
    p.start(QStringLiteral(VEXLO_CLI_PROGRAM), QStringList{"log", "--com", "4", "--rate", "1200sps", "--count",
                                                           QString::number(count), "-o", file, "--quiet"} + more);
}

// Rows of a log file (the 8 header lines dropped).
QList<QByteArray> fileRows(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = f.readAll().split('\n');
    return lines.size() > 9 ? lines.mid(8, lines.size() - 9) : QList<QByteArray>();
}

} // namespace

class TstMqtt : public QObject {
    Q_OBJECT
private slots:
    void payload_data();
    void payload();
    void url_data();
    void url();
    void spoolBound();
    void logThroughBrokerRestart();
    void brokerFaults_data();
    void brokerFaults();
};

void TstMqtt::payload_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<double>("rate");
    QTest::addColumn<QStringList>("texts");  // Ch0, Ch1 of each row
    QTest::addColumn<qint64>("seq");
    QTest::addColumn<qint64>("first");
    QTest::addColumn<QByteArray>("expected");
    // Catches fields in the wrong channel, a millivolt text sent as text or
    // rounded, a bad field that is not marked, and a record time off the rate.
    QTest::newRow("two channels, mV") << "Tamrix" << "COM4" << 2 << false << 10.0
        << QStringList{"  1.2345 ", "-0.5", "abc", "2E1"} << qint64(7) << qint64(25)
        << QByteArray(R"({"board":"Tamrix","port":"COM4","channel":"CH0 + CH1","format":"mv","rate":10,)"
                      R"("start":"2026-01-02T03:04:05.000Z","seq":7,"first":25,"count":2,)"
                      R"("time":"2026-01-02T03:04:07.500Z","values":[[1.2345,-0.5],[null,20]],)"
                      R"("malformed":[{"index":26,"text":"abc,2E1"}]})");
    // Catches codes read as decimal or signed, Ch0 sent for a CH1 stream, and
    // a quote or control character that breaks the JSON.
    QTest::newRow("CH1, codes") << "Selvor" << "tty\"0" << 1 << true << 1200.0
        << QStringList{"", "7FFFFF", "", "00\tG", "", "ffffff"} << qint64(0) << qint64(1)
        << QByteArray(R"({"board":"Selvor","port":"tty\"0","channel":"CH1=Ain2-Ain3","format":"hex","rate":1200,)"
                      R"("start":"2026-01-02T03:04:05.000Z","seq":0,"first":1,"count":3,)"
                      R"("time":"2026-01-02T03:04:05.001Z","values":[8388607,null,16777215],)"
                      R"("malformed":[{"index":2,"text":"00\u0009G"}]})");
}

void TstMqtt::payload()
{
    QFETCH(QString, model);
    QFETCH(QString, port);
    QFETCH(int, mode);
    QFETCH(bool, hex);
    QFETCH(double, rate);
    QFETCH(QStringList, texts);
    QFETCH(qint64, seq);
    QFETCH(qint64, first);
    QFETCH(QByteArray, expected);
    StreamInfo info;
    info.model = model;
    info.port = port;
    info.header.channelMode = mode;
    info.header.channelEntry = QStringList{"CH0=Ain0-Ain1", "CH1=Ain2-Ain3", "CH0 + CH1"}[mode];
    info.header.hex = hex;
    info.samplesPerSecond = rate;
    info.started = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    SampleBlock rows;
    for (int i = 0; i < texts.size() / 2; ++i)
        rows.Set(i, {texts[2 * i], texts[2 * i + 1]});
    QCOMPARE(MqttBatchPayload(info, seq, rows, int(texts.size() / 2), first), expected);
}

void TstMqtt::url_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("parsed");  // "host port topic tls", or "" for refused
    // Catches a wrong default port, TLS not taken from the scheme, and
    // topics that would subscribe or publish somewhere else.
    QTest::newRow("plain") << "mqtt://broker.lan/lab/bench3" << "broker.lan 1883 lab/bench3 0";
    QTest::newRow("tls with port") << "mqtts://10.0.0.2:9883/a" << "10.0.0.2 9883 a 1";
    QTest::newRow("wildcard") << "mqtt://h/lab/#" << "";
    QTest::newRow("no topic") << "mqtt://h:1883/" << "";
    QTest::newRow("other scheme") << "http://h/t" << "";
    QTest::newRow("bad port") << "mqtt://h:99999/t" << "";
}

void TstMqtt::url()
{
    QFETCH(QString, url);
    QFETCH(QString, parsed);
    MqttTarget t;
    QString error;
    const bool ok = ParseMqttUrl(url, &t, &error);
    QCOMPARE(ok ? QStringLiteral("%1 %2 %3 %4").arg(t.host).arg(t.port).arg(t.topic).arg(int(t.tls)) : QString(),
             parsed);
    QCOMPARE(error.isEmpty(), ok);
}

// Catches records that vanish silently once memory and spool are full: the
// spool file and the reported losses together must hold every record once,
// the spool in order.
void TstMqtt::spoolBound()
{
    QTemporaryDir dir;
    QStringList notices;
    std::mutex lock;
    MqttOptions o;
    o.target.host = QStringLiteral("127.0.0.1");
    o.target.port = closedPort();
    o.target.topic = QStringLiteral("t");
    o.batchRecords = 10;
    o.batchMs = 600000;
    o.memoryBytes = 600;
    o.spoolBytes = 1500;
    o.spoolPath = dir.filePath("s.spool");
    o.drainMs = 0;
    o.notice = [&](const QString& line) { std::lock_guard<std::mutex> lk(lock); notices << line; };
    MqttPublisher pub(o);
    StreamInfo info;
    info.model = QStringLiteral("Tamrix");
    QVERIFY(pub.Begin(info));
    SampleBlock rows;
    for (int i = 0; i < 10; ++i)
        rows.SetCh0(i, u"000001");
    for (int k = 0; k < 20; ++k)
        QVERIFY(pub.Append(rows, 10, k * 10));
    QVERIFY(!pub.Finish(200));
    const QStringList why = pub.Error().split(u'\n');
    QCOMPARE(why.size(), 2);
    QVERIFY2(why[0].contains("kept in " + o.spoolPath), qPrintable(why[0]));
    QVERIFY2(why[1].contains("spool was full"), qPrintable(why[1]));
    {
        std::lock_guard<std::mutex> lk(lock);
        QVERIFY2(notices.filter("cannot reach the broker").size() == 1, qPrintable(notices.join('\n')));
        QVERIFY2(notices.filter(QRegularExpression("spool .* is full .* from record \\d+ on")).size() == 1,
                 qPrintable(notices.join('\n')));
    }
    QFile f(o.spoolPath);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QList<qint64> kept;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject b = json(line);
        QCOMPARE(b["count"].toInt(), 10);
        QCOMPARE(b["values"].toArray().size(), 10);
        for (int i = 0; i < 10; ++i)
            kept << b["first"].toInteger() + i;
    }
    const QList<qint64> lost = rangesIn(why[1]);
    QVERIFY(!kept.isEmpty() && !lost.isEmpty());
    QCOMPARE(rangesIn(why[0]), kept);
    QList<qint64> all = kept + lost;
    std::sort(all.begin(), all.end());
    QCOMPARE(all.size(), 200);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(all[i], qint64(i));
    QVERIFY(std::is_sorted(kept.begin(), kept.end()));
}

// Catches records lost or doubled across a broker stop and start during a
// log, repeats that are not whole batches, values that differ from the file's
// rows, and a status that does not end "offline" (retained).
void TstMqtt::logThroughBrokerRestart()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.error));
    const QStringList at{"-h", "127.0.0.1", "-p", QString::number(broker.port), "-q", "1"};
    // A durable subscriber: what arrives while it reconnects waits for it.
    QProcess sub;
    sub.start(TestBroker::program("mosquitto_sub"), at + QStringList{"-c", "-i", "tst-sub", "-t", "vexlo/t/#", "-v"});
    QByteArray got;
    auto received = [&](const char* what) {
        sub.waitForReadyRead(100);
        got += sub.readAllStandardOutput();
        return got.contains(what);
    };
    QTRY_VERIFY_WITH_TIMEOUT((QProcess::execute(TestBroker::program("mosquitto_pub"),
                                                at + QStringList{"-t", "vexlo/t/probe", "-m", "p"}),
                              received("vexlo/t/probe")), 10000);
    SimFixture sim;
    QVERIFY2(sim.start({Model::Tamrix, 4, RateMode::Paced, 1, {true, 4, 0, 10}, {}}), qPrintable(sim.error));
    QTemporaryDir dir;
    const QString file = dir.filePath("log.csv");
    const int count = 9600;
    QProcess cli;
    startLog(cli, file, count, {"--mqtt", QStringLiteral("mqtt://127.0.0.1:%1/vexlo/t").arg(broker.port)});
    QTRY_VERIFY_WITH_TIMEOUT(received("vexlo/t/data"), 20000);
    broker.stop();
    // Down while two seconds of records (2400) reach the file.
    const qsizetype rowsAtStop = fileRows(file).size();
    QTRY_VERIFY_WITH_TIMEOUT(fileRows(file).size() > rowsAtStop + 2400, 20000);
    QVERIFY(cli.state() == QProcess::Running);
    QVERIFY2(broker.start(), qPrintable(broker.error));
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray err = cli.readAllStandardError();
    QVERIFY2(cli.exitCode() == 0, err.constData());
    QVERIFY2(err.contains("lost the broker"), err.constData());
    // The clean end's state (the broker's stop may have sent the Last Will before).
    QTRY_VERIFY_WITH_TIMEOUT(received(",\"records\":9600}"), 20000);
    sub.terminate();
    sub.waitForFinished();

    const QList<QByteArray> rows = fileRows(file);
    QCOMPARE(rows.size(), count);
    QMap<qint64, QByteArray> bySeq;
    QList<QByteArray> states;
    for (const QByteArray& line : got.split('\n')) {
        const QByteArray payload = line.mid(line.indexOf(' ') + 1);
        if (line.startsWith("vexlo/t/status "))
            states << json(payload)["state"].toString().toUtf8();
        if (!line.startsWith("vexlo/t/data "))
            continue;
        const qint64 seq = json(payload)["seq"].toInteger();
        QVERIFY2(!bySeq.contains(seq) || bySeq[seq] == payload, "a repeat differs from its batch");
        bySeq[seq] = payload;
    }
    QCOMPARE(states.first(), QByteArray("online"));
    QCOMPARE(states.last(), QByteArray("offline"));
    qint64 next = 0;
    QCOMPARE(bySeq.firstKey(), 0);
    QCOMPARE(bySeq.lastKey(), bySeq.size() - 1);
    for (const QByteArray& payload : bySeq) {
        const QJsonObject b = json(payload);
        QCOMPARE(b["first"].toInteger(), next);
        const QJsonArray values = b["values"].toArray();
        QCOMPARE(values.size(), b["count"].toInt());
        for (const QJsonValue v : values)
            QCOMPARE(v.toInteger(), rows[next++].trimmed().toLongLong(nullptr, 16));
    }
    QCOMPARE(next, qint64(count));
    // A subscriber that comes later finds the retained state.
    QProcess late;
    late.start(TestBroker::program("mosquitto_sub"), at + QStringList{"-C", "1", "-t", "vexlo/t/status"});
    QVERIFY(late.waitForFinished(10000));
    QVERIFY(late.readAllStandardOutput().contains("\"state\":\"offline\""));
}

void TstMqtt::brokerFaults_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("message");
    // Catches a log that stops, or reports success, when the broker is away,
    // and an earlier run's spool overwritten.
    QTest::newRow("unreachable") << false << "cannot reach the broker at 127.0.0.1:";
    // Catches a refused login that is not reported or stops the file log.
    QTest::newRow("wrong password") << true << "the broker refused the connection: Connection Refused: not authorised.";
}

void TstMqtt::brokerFaults()
{
    QFETCH(bool, reachable);
    QFETCH(QString, message);
    TestBroker broker;
    const QString passwords = broker.dir.filePath("passwords");
    QCOMPARE(QProcess::execute(TestBroker::program("mosquitto_passwd"), {"-c", "-b", passwords, "u", "right"}), 0);
    if (reachable)
        QVERIFY2(broker.start("password_file " + QFile::encodeName(passwords) + "\n"), qPrintable(broker.error));
    SimFixture sim;
    QVERIFY2(sim.start({Model::Tamrix, 4, RateMode::Paced, 1, {true, 4, 0, 10}, {}}), qPrintable(sim.error));
    QTemporaryDir dir;
    const QString file = dir.filePath("log.csv");
    // An earlier run's spool stays as it is.
    QFile earlier(file + ".mqtt-spool");
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier\n") == 8);
    earlier.close();
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXLO_MQTT_PASSWORD", "wrong");
    cli.setProcessEnvironment(env);
    startLog(cli, file, 600, {"--mqtt", QStringLiteral("mqtt://127.0.0.1:%1/v").arg(reachable ? broker.port : closedPort()),
                              "--mqtt-user", "u", "--mqtt-wait", "0"});
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitCode(), 8);
    QVERIFY2(QString::fromUtf8(err).contains(message), err.constData());
    QVERIFY2(err.contains("did not acknowledge 600 records (0-599); the batches are kept in " + QFile::encodeName(file)),
             err.constData());
    QCOMPARE(fileRows(file).size(), 600);
    QVERIFY(earlier.open(QIODevice::ReadOnly) && earlier.readAll() == "earlier\n");
    QFile spool(QRegularExpression("kept in (\\S+)").match(QString::fromUtf8(err)).captured(1));
    QVERIFY(spool.fileName() != earlier.fileName() && spool.open(QIODevice::ReadOnly));
    qint64 next = 0;
    for (QByteArray line; !(line = spool.readLine()).isEmpty(); next += json(line)["count"].toInt())
        QCOMPARE(json(line)["first"].toInteger(), next);
    QCOMPARE(next, 600);
}

QTEST_MAIN(TstMqtt)
#include "tst_mqtt.moc"
