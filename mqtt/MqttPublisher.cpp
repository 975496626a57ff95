// MqttPublisher: batches rendered on the caller's thread, a worker thread that
// keeps them in order (memory, then the spool file) and hands a window of
// them to libmosquitto, whose network thread sends them, resends the
// unacknowledged ones after a reconnect and reconnects with back-off.

#include "mqtt/MqttPublisher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mosquitto.h>
#include <mutex>
#include <thread>

#include "datafile/DataFile.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

using Clock = std::chrono::steady_clock;

bool ParseMqttUrl(const QString& url, MqttTarget* t, QString* error)
{
    const QUrl u(url, QUrl::StrictMode);
    const QString scheme = u.scheme();
    const QString topic = u.path().mid(1);
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("MQTT URL %1: %2").arg(url, why);
        return false;
    };
    const auto plainTopic = QStringLiteral("the topic must be a plain topic such as lab/bench3");
    // Checked on the text: a "#" would otherwise read as a URL fragment.
    if (url.contains(u'#') || url.contains(u'+'))
        return fail(plainTopic);
    if (!u.isValid() || (scheme != u"mqtt" && scheme != u"mqtts"))
        return fail(QStringLiteral("expected mqtt://HOST[:PORT]/TOPIC or mqtts://..."));
    if (u.host().isEmpty())
        return fail(QStringLiteral("no host"));
    if (!u.userInfo().isEmpty() || u.hasQuery() || u.hasFragment())
        return fail(QStringLiteral("no user, query or fragment here (use --mqtt-user)"));
    if (topic.isEmpty() || topic.endsWith(u'/') || topic.contains(QStringLiteral("//")))
        return fail(plainTopic);
    t->tls = scheme == u"mqtts";
    t->host = u.host();
    t->port = u.port(t->tls ? 8883 : 1883);
    if (t->port < 1)
        return fail(QStringLiteral("bad port"));
    t->topic = topic;
    return true;
}

namespace {

void appendJsonString(QByteArray& out, QStringView text)
{
    out += '"';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '"' || u == '\\') {
            out += '\\';
            out += char(u);
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\u00";
            out += "0123456789abcdef"[u >> 4];
            out += "0123456789abcdef"[u & 15];
        } else if (u < 0x80) {
            out += char(u);
        } else {
            out += QString(c).toUtf8();
        }
    }
    out += '"';
}

// The number of a well-formed field, rendered for JSON; empty when malformed.
QByteArray fieldNumber(const QString& text, bool hex)
{
    if (hex) {
        if (text.size() != 6)
            return {};
        qint64 v = 0;
        for (const QChar c : text) {
            const int d = QStringLiteral("0123456789ABCDEF").indexOf(c.toUpper());
            if (d < 0)
                return {};
            v = v * 16 + d;
        }
        return QByteArray::number(v);
    }
    if (!IsDecimalNumberText(text))
        return {};
    const double v = DecodeSample(QStringView(text), false);
    if (!std::isfinite(v))
        return {};
    return QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

QString isoTime(const QDateTime& t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

const char* formatName(bool hex) { return hex ? "hex" : "mv"; }

// One batch as it grows: the values and the malformed list so far.
struct BatchBuilder {
    qint64 first = -1;
    int count = 0;
    QByteArray values;
    QByteArray malformed;
    Clock::time_point opened;

    void add(const SampleBlock& rows, int row, qint64 index, int mode, bool hex)
    {
        if (count == 0) {
            first = index;
            opened = Clock::now();
        } else {
            values += ',';
        }
        ++count;
        const int fields = mode == 2 ? 2 : 1;
        QString texts[2];
        bool bad = false;
        if (fields == 2)
            values += '[';
        for (int f = 0; f < fields; ++f) {
            texts[f] = rows.Field(row, mode == 1 ? 1 : f);
            const QByteArray n = fieldNumber(texts[f], hex);
            bad = bad || n.isEmpty();
            if (f)
                values += ',';
            values += n.isEmpty() ? QByteArray("null") : n;
        }
        if (fields == 2)
            values += ']';
        if (bad) {
            if (!malformed.isEmpty())
                malformed += ',';
            malformed += "{\"index\":" + QByteArray::number(index) + ",\"text\":";
            appendJsonString(malformed, fields == 2 ? texts[0] + u',' + texts[1] : texts[0]);
            malformed += '}';
        }
    }

    QByteArray payload(const StreamInfo& info, qint64 seq) const
    {
        QByteArray out;
        out.reserve(values.size() + malformed.size() + 300);
        out += "{\"board\":";
        appendJsonString(out, info.model);
        out += ",\"port\":";
        appendJsonString(out, info.port);
        out += ",\"channel\":";
        appendJsonString(out, info.header.channelEntry);
        out += ",\"format\":\"";
        out += formatName(info.header.hex);
        out += "\",\"rate\":";
        out += info.samplesPerSecond > 0 ? QByteArray::number(info.samplesPerSecond, 'g', 15) : "null";
        out += ",\"start\":";
        appendJsonString(out, isoTime(info.started));
        out += ",\"seq\":" + QByteArray::number(seq) + ",\"first\":" + QByteArray::number(first);
        out += ",\"count\":" + QByteArray::number(count) + ",\"time\":";
        if (info.samplesPerSecond > 0)
            appendJsonString(out, isoTime(info.started.addMSecs(qRound64(first * 1000.0 / info.samplesPerSecond))));
        else
            out += "null";
        out += ",\"values\":[" + values + "],\"malformed\":[" + malformed + "]}";
        return out;
    }
};

struct Batch {
    qint64 seq = 0;
    qint64 first = 0;
    int count = 0;
    QByteArray payload;  // empty while it lies in the spool file
    int mid = -1;        // libmosquitto's message id once handed over
    qint64 spoolOffset = -1;
};

// Record ranges that never reached the broker, merged when adjacent.
struct Losses {
    std::vector<std::pair<qint64, qint64>> ranges;
    qint64 records = 0;

    void add(qint64 first, int count)
    {
        records += count;
        if (!ranges.empty() && ranges.back().second + 1 == first)
            ranges.back().second = first + count - 1;
        else
            ranges.push_back({first, first + count - 1});
    }
    QString text() const
    {
        QStringList parts;
        for (size_t i = 0; i < ranges.size() && i < 10; ++i)
            parts << QStringLiteral("%1-%2").arg(ranges[i].first).arg(ranges[i].second);
        if (ranges.size() > 10)
            parts << QStringLiteral("...");
        return QStringLiteral("%1 records (%2)").arg(records).arg(parts.join(u", "));
    }
};

std::once_flag libInit;

} // namespace

QByteArray MqttBatchPayload(const StreamInfo& info, qint64 sequence, const SampleBlock& rows,
                            int count, qint64 firstIndex)
{
    BatchBuilder b;
    for (int i = 0; i < count; ++i)
        b.add(rows, i, firstIndex + i, info.header.channelMode, info.header.hex);
    if (count == 0)
        b.first = firstIndex;
    return b.payload(info, sequence);
}

struct MqttPublisher::State {
    MqttOptions o;
    StreamInfo info;
    QByteArray host, dataTopic, statusTopic, online, offline;
    mosquitto* mosq = nullptr;
    bool loopStarted = false;
    std::thread worker;

    mutable std::mutex m;
    std::condition_variable cv;
    // Guarded by m:
    BatchBuilder pending;
    qint64 nextSeq = 0;
    std::deque<Batch> tail;     // closed, not yet placed (newest)
    std::deque<Batch> head;     // in memory, oldest first; the first `inflight` may be handed over
    std::deque<Batch> spooled;  // in the spool file, after head, before tail
    qint64 headBytes = 0;
    qint64 spoolEnd = 0;
    QFile spool;
    int inflight = 0;
    bool connected = false;
    bool everConnected = false;
    bool stop = false;
    bool kick = false;
    int statusMid = -1;
    bool statusAcked = false;
    Losses lost;
    bool dropping = false;
    QString error;
    // Notices have their own lock: libmosquitto's log callback may run while
    // the library holds its own locks, so it must not wait for `m`.
    std::mutex noticeLock;
    QString lastNotice;

    static constexpr int kWindow = 16;  // batches handed to libmosquitto at once

    void notice(const QString& text)
    {
        // One line per change: a broker that stays away is reported once.
        std::lock_guard<std::mutex> lk(noticeLock);
        if (text == lastNotice)
            return;
        lastNotice = text;
        if (o.notice)
            o.notice(text);
    }

    bool anyNotice()
    {
        std::lock_guard<std::mutex> lk(noticeLock);
        return !lastNotice.isEmpty();
    }

    void closePending()
    {
        if (pending.count == 0)
            return;
        Batch b;
        b.seq = nextSeq++;
        b.first = pending.first;
        b.count = pending.count;
        b.payload = pending.payload(info, b.seq);
        tail.push_back(std::move(b));
        pending = BatchBuilder();
        kick = true;
        cv.notify_all();
    }

    bool spoolWrite(Batch& b)
    {
        if (o.spoolPath.isEmpty() || spoolEnd + b.payload.size() + 1 > o.spoolBytes)
            return false;
        if (!spool.isOpen()) {
            spool.setFileName(o.spoolPath);
            if (!spool.open(QIODevice::ReadWrite | QIODevice::Truncate))
                return false;
            spoolEnd = 0;
        }
        if (!spool.seek(spoolEnd) || spool.write(b.payload + '\n') != b.payload.size() + 1)
            return false;
        b.spoolOffset = spoolEnd;
        spoolEnd += b.payload.size() + 1;
        b.payload.clear();
        b.payload.squeeze();
        return true;
    }

    // Memory, then spool, then nothing: each closed batch finds its place.
    void place()
    {
        while (!tail.empty()) {
            Batch& b = tail.front();
            bool placed = true;
            if (spooled.empty() && (head.empty() || headBytes + b.payload.size() <= o.memoryBytes)) {
                headBytes += b.payload.size();
                head.push_back(std::move(b));
            } else if (spoolWrite(b)) {
                spooled.push_back(std::move(b));
            } else {
                placed = false;
                if (!dropping)
                    notice(o.spoolPath.isEmpty()
                               ? QStringLiteral("MQTT: %1 bytes wait for the broker and there is no spool: "
                                                "batches are dropped from record %2 on")
                                     .arg(o.memoryBytes).arg(b.first)
                               : QStringLiteral("MQTT: the spool %1 is full (%2 bytes): "
                                                "batches are dropped from record %3 on")
                                     .arg(o.spoolPath).arg(o.spoolBytes).arg(b.first));
                lost.add(b.first, b.count);
            }
            if (placed && dropping)
                notice(QStringLiteral("MQTT: batches are kept again from record %1 on; the broker misses %2")
                           .arg(b.first).arg(lost.text()));
            dropping = !placed;
            tail.pop_front();
        }
        // Read the spool back into memory as room appears.
        while (!spooled.empty()) {
            Batch& b = spooled.front();
            const qint64 size = (spooled.size() > 1 ? spooled[1].spoolOffset : spoolEnd) - b.spoolOffset - 1;
            if (!head.empty() && headBytes + size > o.memoryBytes)
                break;
            if (!spool.seek(b.spoolOffset))
                break;
            b.payload = spool.read(size);
            headBytes += b.payload.size();
            head.push_back(std::move(b));
            spooled.pop_front();
        }
        if (spooled.empty() && spool.isOpen() && spoolEnd > 0) {
            spool.resize(0);
            spoolEnd = 0;
        }
    }

    void publish()
    {
        if (!connected)
            return;
        for (Batch& b : head) {
            if (inflight >= kWindow)
                break;
            if (b.mid >= 0)
                continue;
            int mid = -1;
            const int rc = mosquitto_publish(mosq, &mid, dataTopic.constData(), int(b.payload.size()),
                                             b.payload.constData(), 1, false);
            // NO_CONN: queued by libmosquitto all the same, sent after the reconnect.
            if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
                notice(QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc))));
                break;
            }
            b.mid = mid;
            ++inflight;
        }
    }

    bool drained() const
    {
        return pending.count == 0 && tail.empty() && head.empty() && spooled.empty();
    }

    void run()
    {
        auto nextAttempt = Clock::now();
        int backoffS = 1;
        std::unique_lock<std::mutex> lk(m);
        while (!stop) {
            if (!loopStarted && Clock::now() >= nextAttempt) {
                lk.unlock();
                const int rc = mosquitto_connect_async(mosq, host.constData(), o.target.port, 30);
                const int err = errno;
                if (rc == MOSQ_ERR_SUCCESS)
                    loopStarted = mosquitto_loop_start(mosq) == MOSQ_ERR_SUCCESS;
                lk.lock();
                if (!loopStarted) {
                    notice(QStringLiteral("MQTT: cannot reach the broker at %1:%2 (%3); retrying, batches are kept")
                               .arg(o.target.host)
                               .arg(o.target.port)
                               .arg(QString::fromLocal8Bit(rc == MOSQ_ERR_ERRNO ? strerror(err)
                                                                                 : mosquitto_strerror(rc))));
                    nextAttempt = Clock::now() + std::chrono::seconds(backoffS);
                    backoffS = std::min(backoffS * 2, o.reconnectMaxS);
                }
            }
            if (pending.count > 0 && Clock::now() - pending.opened >= std::chrono::milliseconds(o.batchMs))
                closePending();
            place();
            publish();
            auto until = Clock::now() + std::chrono::hours(1);
            if (pending.count > 0)
                until = std::min(until, pending.opened + std::chrono::milliseconds(o.batchMs));
            if (!loopStarted)
                until = std::min(until, nextAttempt);
            cv.wait_until(lk, until, [&] { return stop || kick; });
            kick = false;
        }
    }
};

MqttPublisher::MqttPublisher(MqttOptions options) : d(std::make_unique<State>())
{
    d->o = std::move(options);
}

MqttPublisher::~MqttPublisher()
{
    if (d->worker.joinable()) {
        {
            std::lock_guard<std::mutex> lk(d->m);
            d->stop = true;
        }
        d->cv.notify_all();
        d->worker.join();
    }
    if (d->mosq) {
        if (d->loopStarted) {
            mosquitto_disconnect(d->mosq);
            mosquitto_loop_stop(d->mosq, false);
        }
        mosquitto_destroy(d->mosq);
    }
}

bool MqttPublisher::Begin(const StreamInfo& info)
{
    std::call_once(libInit, [] { mosquitto_lib_init(); });
    State& s = *d;
    s.info = info;
    const MqttTarget& t = s.o.target;
    s.host = t.host.toUtf8();
    s.dataTopic = (t.topic + QStringLiteral("/data")).toUtf8();
    s.statusTopic = (t.topic + QStringLiteral("/status")).toUtf8();
    auto state = [&](const char* word) {
        QByteArray j = QByteArray("{\"state\":\"") + word + "\",\"board\":";
        appendJsonString(j, info.model);
        j += ",\"port\":";
        appendJsonString(j, info.port);
        if (qstrcmp(word, "online") == 0) {
            j += ",\"gain\":";
            appendJsonString(j, info.header.gainEntry);
            j += ",\"filter\":";
            appendJsonString(j, info.header.filterCaption);
            j += ",\"rate\":";
            appendJsonString(j, info.header.rateEntry);
            j += ",\"channel\":";
            appendJsonString(j, info.header.channelEntry);
            j += QByteArray(",\"format\":\"") + formatName(info.header.hex) + '"';
        }
        j += ",\"start\":";
        appendJsonString(j, isoTime(info.started));
        return j + '}';
    };
    s.online = state("online");
    s.offline = state("offline");

    if (!s.o.spoolPath.isEmpty()) {
        // An earlier run's undelivered batches are never overwritten.
        if (QFileInfo(s.o.spoolPath).size() > 0) {
            const QString earlier = s.o.spoolPath;
            s.o.spoolPath += u'.' + info.started.toUTC().toString(QStringLiteral("yyyyMMddTHHmmss"));
            s.notice(QStringLiteral("MQTT: %1 holds batches of an earlier run and stays; this run spools to %2")
                         .arg(earlier, s.o.spoolPath));
        }
        const QFileInfo dir(QFileInfo(s.o.spoolPath).absolutePath());
        if (!dir.isDir() || !dir.isWritable()) {
            s.error = QStringLiteral("MQTT: the spool folder %1 cannot be written").arg(dir.filePath());
            return false;
        }
    }
    s.mosq = mosquitto_new(nullptr, true, d.get());
    if (!s.mosq) {
        s.error = QStringLiteral("MQTT: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    int rc = mosquitto_will_set(s.mosq, s.statusTopic.constData(), int(s.offline.size()), s.offline.constData(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !t.user.isEmpty())
        rc = mosquitto_username_pw_set(s.mosq, t.user.toUtf8().constData(),
                                       t.password.isNull() ? nullptr : t.password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && t.tls) {
        const QByteArray ca = QFile::encodeName(t.caFile);
        rc = mosquitto_tls_set(s.mosq, t.caFile.isEmpty() ? nullptr : ca.constData(),
                               t.caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            s.error = QStringLiteral("MQTT: cannot use the certificate authorities in %1")
                          .arg(t.caFile.isEmpty() ? QStringLiteral("/etc/ssl/certs") : t.caFile);
            return false;
        }
    }
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_reconnect_delay_set(s.mosq, 1, unsigned(qMax(1, s.o.reconnectMaxS)), true);
    if (rc != MOSQ_ERR_SUCCESS) {
        s.error = QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    mosquitto_connect_callback_set(s.mosq, [](mosquitto* m, void* p, int code) {
        State& s = *static_cast<State*>(p);
        std::lock_guard<std::mutex> lk(s.m);
        if (code != 0) {
            s.notice(QStringLiteral("MQTT: the broker refused the connection: %1")
                         .arg(QString::fromUtf8(mosquitto_connack_string(code))));
            return;
        }
        // The first connection is the expected case; a later one ends a reported trouble.
        if (s.everConnected || s.anyNotice())
            s.notice(QStringLiteral("MQTT: connected to %1:%2").arg(s.o.target.host).arg(s.o.target.port));
        s.connected = true;
        s.everConnected = true;
        s.statusAcked = false;
        mosquitto_publish(m, &s.statusMid, s.statusTopic.constData(), int(s.online.size()),
                          s.online.constData(), 1, true);
        s.kick = true;
        s.cv.notify_all();
    });
    mosquitto_disconnect_callback_set(s.mosq, [](mosquitto*, void* p, int code) {
        State& s = *static_cast<State*>(p);
        std::lock_guard<std::mutex> lk(s.m);
        s.connected = false;
        if (code != 0 && !s.stop)
            s.notice(QStringLiteral("MQTT: lost the broker at %1:%2; reconnecting, batches are kept")
                         .arg(s.o.target.host)
                         .arg(s.o.target.port));
    });
    mosquitto_publish_callback_set(s.mosq, [](mosquitto*, void* p, int mid) {
        State& s = *static_cast<State*>(p);
        std::lock_guard<std::mutex> lk(s.m);
        if (mid == s.statusMid) {
            s.statusAcked = true;
        } else {
            for (auto it = s.head.begin(); it != s.head.end(); ++it) {
                if (it->mid == mid) {
                    s.headBytes -= it->payload.size();
                    s.head.erase(it);
                    --s.inflight;
                    break;
                }
            }
        }
        s.kick = true;
        s.cv.notify_all();
    });
    mosquitto_log_callback_set(s.mosq, [](mosquitto*, void* p, int level, const char* text) {
        if (level != MOSQ_LOG_ERR)
            return;
        State& s = *static_cast<State*>(p);
        s.notice(QStringLiteral("MQTT: %1").arg(QString::fromUtf8(text)));
    });
    s.worker = std::thread([&s] { s.run(); });
    return true;
}

bool MqttPublisher::Append(const SampleBlock& rows, int count, qint64 firstIndex)
{
    State& s = *d;
    std::lock_guard<std::mutex> lk(s.m);
    for (int i = 0; i < count; ++i) {
        s.pending.add(rows, i, firstIndex + i, s.info.header.channelMode, s.info.header.hex);
        if (s.pending.count >= s.o.batchRecords
            || Clock::now() - s.pending.opened >= std::chrono::milliseconds(s.o.batchMs))
            s.closePending();
    }
    // A batch just opened needs the worker's timer.
    s.kick = true;
    s.cv.notify_all();
    return true;
}

bool MqttPublisher::Finish(qint64 total)
{
    State& s = *d;
    if (!s.worker.joinable())
        return s.error.isEmpty();
    std::unique_lock<std::mutex> lk(s.m);
    s.closePending();
    s.place();
    const auto deadline = Clock::now() + std::chrono::milliseconds(s.o.drainMs);
    s.cv.wait_until(lk, deadline, [&] { return s.drained(); });
    if (s.connected) {
        // A clean end says how many records the stream had; the Last Will cannot.
        QByteArray end = s.offline;
        end.insert(end.size() - 1, ",\"records\":" + QByteArray::number(total));
        int mid = -1;
        mosquitto_publish(s.mosq, &mid, s.statusTopic.constData(), int(end.size()), end.constData(), 1, true);
        s.statusMid = mid;
        s.statusAcked = false;
        s.cv.wait_until(lk, std::max(deadline, Clock::now() + std::chrono::seconds(2)),
                        [&] { return s.statusAcked; });
    }
    s.stop = true;
    lk.unlock();
    s.cv.notify_all();
    s.worker.join();
    if (s.loopStarted) {
        mosquitto_disconnect(s.mosq);
        mosquitto_loop_stop(s.mosq, false);
        s.loopStarted = false;
    }

    // What the broker did not acknowledge stays in the spool file, in order.
    lk.lock();
    std::deque<Batch> left;
    for (Batch& b : s.head)
        left.push_back(std::move(b));
    s.head.clear();
    for (Batch& b : s.spooled) {
        if (s.spool.seek(b.spoolOffset))
            b.payload = s.spool.readLine();
        b.payload.chop(1);
        left.push_back(std::move(b));
    }
    s.spooled.clear();
    for (Batch& b : s.tail)
        left.push_back(std::move(b));
    s.tail.clear();
    Losses undelivered;
    bool kept = !s.o.spoolPath.isEmpty();
    if (kept && !left.empty()) {
        s.spool.close();
        s.spool.setFileName(s.o.spoolPath);
        kept = s.spool.open(QIODevice::WriteOnly | QIODevice::Truncate);
        for (const Batch& b : left)
            kept = kept && s.spool.write(b.payload + '\n') == b.payload.size() + 1;
        kept = s.spool.flush() && kept;
        s.spool.close();
    }
    for (const Batch& b : left)
        undelivered.add(b.first, b.count);
    if (left.empty() && !s.o.spoolPath.isEmpty()) {
        s.spool.close();
        QFile::remove(s.o.spoolPath);
    }
    QStringList why;
    if (undelivered.records > 0)
        why << (kept ? QStringLiteral("MQTT: the broker did not acknowledge %1; the batches are kept in %2")
                           .arg(undelivered.text(), s.o.spoolPath)
                     : QStringLiteral("MQTT: the broker did not acknowledge %1; they are lost")
                           .arg(undelivered.text()));
    if (s.lost.records > 0)
        why << QStringLiteral("MQTT: the spool was full; the broker never got %1").arg(s.lost.text());
    s.error = why.join(u'\n');
    return s.error.isEmpty();
}

QString MqttPublisher::Error() const
{
    std::lock_guard<std::mutex> lk(d->m);
    return d->error;
}
