#pragma once
// One command transaction on a CommPort: throw away what waits in the port,
// write the command and a carriage return in one write, collect the reply
// until a carriage return has arrived or the time-out has elapsed.
//
// The wait sleeps in a local event loop that the port (bytes arrived, device
// lost), the time-out and the owner (Wake) end; it never spins. Other events
// of the program are handled meanwhile. A transaction started while another
// one waits on the same object fails at once without writing anything, so
// transactions never nest.
//
// The result follows the reply rule of the board: line feeds in front of the
// reply's first character are not part of it; true when a carriage return
// arrived and the collected text is longer than one character; the reply is
// then the text before the first carriage return. Otherwise false and "".

#include <QByteArray>
#include <QString>
#include <functional>

class CommPort;
class QEventLoop;

// A board that ends its replies with CR LF may deliver the LF a moment after
// the CR, after the next command has already emptied the input. Line feeds
// are therefore never the start of a reply, nor of a sample stream (which is
// cut by length, so one such byte would shift every record). Removes the line
// feeds at the front of `bytes`; true when anything else is left.
bool DropLeadingLineFeeds(QByteArray& bytes);

class CommandTransaction {
public:
    explicit CommandTransaction(CommPort* port = nullptr) : port_(port) {}
    CommandTransaction(const CommandTransaction&) = delete;
    CommandTransaction& operator=(const CommandTransaction&) = delete;

    void SetPort(CommPort* port) { port_ = port; }

    // With its own precise timer of `timeoutMs` milliseconds (negative: at once).
    bool Send(const QString& command, QString& reply, int timeoutMs);

    // With the owner's time-out: `timedOut` is asked before every pass of the
    // wait and `abandon` after it (quit, ...); the owner calls Wake() when
    // either may have changed.
    bool Send(const QString& command, QString& reply, const std::function<bool()>& timedOut,
              const std::function<bool()>& abandon);

    // Ends the current wait pass so that the conditions are tested again.
    void Wake();
    bool Active() const { return active_; }

private:
    CommPort* port_ = nullptr;
    QEventLoop* loop_ = nullptr;
    bool active_ = false;
};
