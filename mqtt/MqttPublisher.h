#pragma once
// A stream's records sent to an MQTT broker (libmosquitto, QoS 1).
//
// Records are gathered into batches (one JSON object each, see
// MqttBatchPayload) that close after `batchMs` or `batchRecords`, whichever
// comes first, and go to "<topic>/data" in order. "<topic>/status" holds a
// retained state: the board's settings with "online" while connected, and
// "offline" both as the Last Will and at a clean end.
//
// The caller's thread only renders a batch and queues it; connecting,
// publishing and the spool run on a worker thread and libmosquitto's own
// network thread, so a slow or absent broker never holds up the acquisition.
// A batch stays queued until the broker acknowledged it. The queue keeps up
// to `memoryBytes` in memory, then continues in a spool file (read back in
// order once the broker is back). When the spool reaches `spoolBytes`, new
// batches are dropped: their sequence numbers are skipped, `notice` says so
// at once, and Finish() reports every record range that never reached the
// broker.

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

#include "stream/RecordSink.h"

// Where and how to connect: parsed from "mqtt://host[:port]/topic" or
// "mqtts://host[:port]/topic".
struct MqttTarget {
    QString host;
    int port = 1883;
    QString topic;          // without a leading or trailing "/"
    bool tls = false;
    QString caFile;         // mqtts: the authorities to trust; empty: the system's
    QString user;           // empty: no login
    QString password;
};

// False, with `error` set, for anything but a complete URL of the two schemes
// (host present, port 1..65535, topic present and free of MQTT wildcards).
bool ParseMqttUrl(const QString& url, MqttTarget* target, QString* error);

struct MqttOptions {
    MqttTarget target;
    int batchMs = 250;
    int batchRecords = 1000;
    qint64 memoryBytes = 8 << 20;
    qint64 spoolBytes = qint64(1) << 30;
    QString spoolPath;       // empty: no spool; the memory bound then drops batches
    int drainMs = 5000;      // Finish() waits this long for the last acknowledgements
    int reconnectMaxS = 30;  // back-off ceiling between connection attempts
    // Called from the worker thread with lines for the operator: lost and
    // regained connection, refused login, spool full.
    std::function<void(const QString&)> notice;
};

// The payload of one batch: records firstIndex .. firstIndex + count - 1,
// their texts in rows 0 .. count - 1 of `rows`. A field that is not a
// well-formed code (six hexadecimal digits) or millivolt number becomes null
// and its record index is listed under "malformed" with its text.
QByteArray MqttBatchPayload(const StreamInfo& info, qint64 sequence, const SampleBlock& rows,
                            int count, qint64 firstIndex);

class MqttPublisher : public RecordSink {
public:
    explicit MqttPublisher(MqttOptions options);
    ~MqttPublisher() override;

    bool Begin(const StreamInfo& info) override;
    bool Append(const SampleBlock& rows, int count, qint64 firstIndex) override;
    // Closes the last batch, waits up to drainMs for the acknowledgements,
    // marks the status "offline" and disconnects. False when any record did
    // not reach the broker; Error() then names the ranges and where the
    // undelivered batches were kept.
    bool Finish(qint64 total) override;
    QString Error() const override;

private:
    struct State;
    std::unique_ptr<State> d;
};
