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
} // namespace ChannelMessage

constexpr std::uint32_t MaxChannelFrameData = 65536;
constexpr int ChannelHeaderSize = 12;

// Handles one frame on the user-interface thread, like a window procedure. It may run a
// modal box; frames of other clients are handled meanwhile.
using ChannelProc = std::function<std::uint32_t(std::uint32_t message, std::uint32_t dwData,
                                                const QByteArray& data)>;

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

    // How long a client may keep the server waiting for the rest of a frame (or for a
    // first frame) before it is dropped.
    void setIdleTimeout(int milliseconds);

private:
    class Connection;
    void acceptConnections();
    void handleFrames(Connection* connection);

    QLocalServer* server;
    ChannelProc proc;
    int idleTimeout = 5000;
};

// Sends one frame and waits for the answer. `timeoutMs` bounds each wait (-1 waits for as
// long as the handler runs). Empty on failure, with the reason in `error`.
std::optional<std::uint32_t> SendChannelMessage(const QString& path, std::uint32_t message,
                                                std::uint32_t dwData, const QByteArray& data,
                                                int timeoutMs, QString* error = nullptr);

// Encodes a frame as a client sends it.
QByteArray ChannelFrame(std::uint32_t message, std::uint32_t dwData, const QByteArray& data);
