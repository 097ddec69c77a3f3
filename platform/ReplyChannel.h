#pragma once
// The reply channel: a per-user local socket through which the message receiver hands
// reply requests to the main window, and a second copy wakes the first.
//
// A client sends frames of message number, dwData and cbData (u32, little-endian each)
// followed by cbData bytes; after handling each frame the server answers with the
// handler's 32-bit result, so the client waits while the handler runs.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class QLocalServer;

namespace ChannelMessage {
constexpr std::uint32_t CopyData = 0x004A;   // a reply request
constexpr std::uint32_t Activate = 0x8001;   // bring the main window to the foreground
constexpr std::uint32_t FindWindow = 0x8002; // 1 when a window has the caption in the data
// The data is an activation token (UTF-8) for the window that the next frame of the same
// connection brings forward; it is answered with 1 and is no request of its own.
constexpr std::uint32_t ActivationToken = 0x8003;
} // namespace ChannelMessage

constexpr std::uint32_t MaxChannelFrameData = 65536;
constexpr int ChannelHeaderSize = 12;

// Everything a client can make the server spend is bounded here.
namespace ChannelLimits {
// A frame must be whole this long after the server became ready for it (the connection
// was accepted or the previous frame answered), however the bytes trickle in.
constexpr int FrameTimeoutMs = 5000;
// Clients past this many are closed as soon as they connect.
constexpr int MaxConnections = 64;
// One pass over a connection handles at most this many frames, or runs this long, before
// the event loop gets its turn (painting, input, other clients).
constexpr int FramesPerPass = 256;
constexpr int PassTimeMs = 5;
// Bytes kept per connection: what Qt reads ahead is capped at one maximal frame, and a
// client that leaves this much of its answers unread is not read further until it does.
constexpr qint64 ReadAhead = ChannelHeaderSize + qint64(MaxChannelFrameData);
constexpr qint64 MaxUnreadAnswers = 64 * 1024;
} // namespace ChannelLimits

// Handles one frame on the user-interface thread, like a window procedure. It may run a
// modal box; frames of other clients are handled meanwhile, never a second frame of the
// same client.
using ChannelProc = std::function<std::uint32_t(std::uint32_t message, std::uint32_t dwData,
                                                const QByteArray& data)>;

// Answers a frame whose handler returned before its answer was known.
using ChannelAnswer = std::function<void(std::uint32_t result)>;

class ReplyChannelServer : public QObject
{
    Q_OBJECT
public:
    explicit ReplyChannelServer(QObject* parent = nullptr);
    ~ReplyChannelServer() override;

    // Serves `path`, replacing a socket left there. Only the holder of the instance lock
    // may call this: a listening socket of a live copy would be taken over too.
    bool listen(const QString& path);
    void close();
    bool isListening() const;

    // Installs a new handler and returns the one it replaces, so a handler can pass frames
    // on to its predecessor. Without any handler every frame is answered with 0.
    ChannelProc setProc(ChannelProc proc);

    // Called by a handler while it runs: its return value is then ignored, and its client
    // waits (and is not read) until the returned function gives the answer. Empty when no
    // handler runs.
    static ChannelAnswer deferAnswer();
    // For clients connecting from now on. Tests shorten it to see a hostile client dropped
    // without waiting out the real deadline.
    void setFrameTimeout(int ms) { frameTimeoutMs = ms; }

private:
    class Connection;
    struct Running;
    void acceptConnections();
    void serve(Connection* connection);
    bool handleFrame(Connection* connection, std::uint32_t message, std::uint32_t dwData,
                     const QByteArray& data);
    void answer(Connection* connection, std::uint32_t result);
    void drop(Connection* connection);

    // The frame whose handler runs now, if any.
    static Running* running;

    QLocalServer* server;
    ChannelProc proc;
    int connections = 0;
    int frameTimeoutMs = ChannelLimits::FrameTimeoutMs;
};

// Sends one frame and waits for the answer. `timeoutMs` bounds each wait (-1 waits for as
// long as the handler runs). Empty on failure, with the reason in `error`. A non-empty
// `activationToken` goes first, in a frame of its own, for the window the request brings
// forward.
std::optional<std::uint32_t> SendChannelMessage(const QString& path, std::uint32_t message,
                                                std::uint32_t dwData, const QByteArray& data,
                                                int timeoutMs, QString* error = nullptr,
                                                const QString& activationToken = QString());

// Encodes a frame as a client sends it.
QByteArray ChannelFrame(std::uint32_t message, std::uint32_t dwData, const QByteArray& data);
