// A real MQTT broker (the distribution's `mosquitto`) for one test: a
// generated configuration on a free loopback port, persistence in a
// temporary folder (a durable subscriber keeps its queued messages across a
// stop and start), stopped with SIGTERM by stop() and the destructor.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <unistd.h>

struct TestBroker {
    QTemporaryDir dir;
    QProcess proc;
    int port = 0;
    QString error;

    ~TestBroker() { stop(); }

    static QString program(const char* name)
    {
        const QString p = QStandardPaths::findExecutable(QString::fromLatin1(name));
        return p.isEmpty() ? QStandardPaths::findExecutable(QString::fromLatin1(name), {"/usr/sbin"}) : p;
    }

    // `extra`: more configuration lines (a password file, say). A second
    // start after stop() listens on the same port.
    bool start(const QByteArray& extra = {})
    {
        if (port == 0) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port = probe.serverPort();
        }
        QFile conf(dir.filePath("broker.conf"));
        conf.open(QIODevice::WriteOnly | QIODevice::Truncate);
        conf.write("listener " + QByteArray::number(port) + " 127.0.0.1\npersistence true\n"
                   "persistence_location " + QFile::encodeName(dir.path()) + "/\n"
                   + (extra.contains("password_file") ? "" : "allow_anonymous true\n") + extra
                   + (::geteuid() == 0 ? "user root\n" : ""));
        conf.close();
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.start(program("mosquitto"), {"-c", conf.fileName()});
        if (!proc.waitForStarted(5000)) {
            error = QStringLiteral("mosquitto does not start (scripts/deps.sh installs it)");
            return false;
        }
        // Ready once it accepts a connection.
        const QDeadlineTimer until(10000);
        while (!until.hasExpired() && proc.state() == QProcess::Running) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (s.waitForConnected(200))
                return true;
            proc.waitForFinished(50);  // not a delay for the code under test: the broker's start-up
        }
        error = QStringLiteral("mosquitto did not listen: ") + QString::fromLocal8Bit(proc.readAll());
        return false;
    }

    void stop()
    {
        if (proc.state() == QProcess::NotRunning)
            return;
        proc.terminate();
        if (!proc.waitForFinished(10000))
            proc.kill();
        proc.waitForFinished(2000);
    }
};
