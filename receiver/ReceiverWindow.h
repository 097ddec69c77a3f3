#pragma once
// "Received Messages": the messages of this run, newest first, the selected one in full,
// and Reply, which hands the sender's name, address and port to Quorvane.

#include "messaging/MessageRecord.h"
#include "receiver/MessageServer.h"

#include <QList>
#include <QMainWindow>
#include <map>
#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;
class QTreeWidget;
class ReplyRequester;

class ReceiverWindow : public QMainWindow
{
    Q_OBJECT
public:
    enum Column { TimeColumn, NameColumn, AddressColumn, TextColumn };

    explicit ReceiverWindow(QWidget* parent = nullptr);
    ~ReceiverWindow() override;

    // Reads the reply port from the store and listens on it; the window says how it went.
    bool startListening();

    MessageServer& server() { return *messages; }
    // How many messages the list keeps; the oldest go first. Bounds the memory a flood of
    // senders can take.
    void setMaxKeptMessages(int count) { maxKept = count; }
    ReplyRequester& requester() { return *replies; }

    // Whether messages can arrive, and the reply port with the button that saves a new one.
    QLabel* status = nullptr;
    QLineEdit* newPort = nullptr;
    QPushButton* changePort = nullptr;

    QTreeWidget* messageList = nullptr;
    // Read-only boxes rather than labels: a sender's name or port may be any length.
    QLineEdit* receivedAt = nullptr;
    QLineEdit* fromName = nullptr;
    QLineEdit* fromAddress = nullptr;
    QLineEdit* fromPort = nullptr;
    QLabel* remarks = nullptr;
    QPlainTextEdit* messageText = nullptr;
    QPushButton* replyButton = nullptr;

private slots:
    void addMessage(const IncomingRecord& incoming);
    void showSelected();
    void replyToSelected();
    void replyFinished(const QString& problem);
    void changeReplyPort();
    void comeForward();

private:
    struct Entry
    {
        IncomingRecord incoming;
        std::optional<MessageRecord> record; // empty when malformed
    };

    void buildControls();
    bool listenOn(std::int32_t port);
    const Entry* selectedEntry() const;
    QString remarksFor(const Entry& entry) const;

    MessageServer* messages;
    ReplyRequester* replies;
    QSystemTrayIcon* tray = nullptr;
    // By arrival number, so that dropping the oldest leaves the others where they are.
    std::map<qint64, Entry> entries;
    qint64 nextEntry = 0;
    int maxKept = 1000;
};
