#pragma once
// "Received Messages": the conversations on one side, newest first; on the other, the latest
// messages of the one chosen (or of all), received and sent, newest first, the selected one
// in full, a search, Delete, and Reply, which hands the correspondent's name, address and
// port to Quorvane. A message arriving while the window is not active is announced.

#include "history/History.h"
#include "receiver/ConversationModel.h"
#include "receiver/MessageModel.h"
#include "receiver/MessageServer.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>

class History;
class NetworkAnnouncement;
class Notifier;
class QCheckBox;
class QFileSystemWatcher;
class QComboBox;
class QFormLayout;
class QLabel;
class QListView;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;
class QTableView;
class QTimer;
class ReplyRequester;

class ReceiverWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit ReceiverWindow(QWidget* parent = nullptr);
    ~ReceiverWindow() override;

    // Reads the reply port from the store and listens on it; the window says how it went.
    bool startListening();

    MessageServer& server() { return *messages; }
    // How many messages the list shows; the oldest go first. Bounds the memory a flood of
    // senders can take.
    void setMaxKeptMessages(int count);
    ReplyRequester& requester() { return *replies; }
    MessageModel& model() { return *messageModel; }
    ConversationModel& conversations() { return *conversationModel; }
    History& history() { return *store; }
    Notifier& notifications() { return *notifier; }

    // Whether messages can arrive, and the reply port with the button that saves a new one.
    QLabel* status = nullptr;
    QLineEdit* newPort = nullptr;
    QPushButton* changePort = nullptr;

    // What keeps messages from being stored, how many wait and what was lost; hidden while
    // all is well.
    QLabel* historyStatus = nullptr;
    QComboBox* keepDays = nullptr; // days, or 0 to keep everything
    // Ticked while the desktop's autostart folder holds an entry that starts the receiver.
    QCheckBox* startAtLogin = nullptr;
    // "All messages", then a line per correspondent.
    QListView* conversationList = nullptr;
    // Whether others on the local network can find the user, and how that went.
    QCheckBox* announceMe = nullptr;
    QLabel* announceStatus = nullptr;
    QLineEdit* search = nullptr;
    QTableView* messageList = nullptr;
    // Read-only boxes rather than labels: a sender's name or port may be any length.
    QLineEdit* receivedAt = nullptr;
    QLineEdit* fromName = nullptr;
    QLineEdit* fromAddress = nullptr;
    QLineEdit* fromPort = nullptr;
    QLabel* remarks = nullptr;
    QPlainTextEdit* messageText = nullptr;
    QPushButton* deleteButton = nullptr;
    QPushButton* replyButton = nullptr;

signals:
    // Stored messages have reached the list (and the notification, if any, is on its way).
    void messagesShown(int count);

private slots:
    void addMessage(const IncomingRecord& incoming);
    void showStored(const QList<StoredMessage>& messages);
    void showWaiting();
    void showHistoryState();
    void listFound(int serial, const QList<StoredMessage>& messages);
    void conversationsFound(int serial, const QList<Conversation>& found);
    void openConversation();
    void messagesSaved(const QHash<qint64, qint64>& ids);
    void messagesRemoved(const QList<qint64>& ids);
    void announce(qint64 id, bool mayComeForward);
    void showMessage(qint64 id);
    void applySearch();
    void deleteSelected();
    void showSelected();
    void replyToSelected();
    void replyFinished(const QString& problem);
    void changeReplyPort();
    void comeForward();
    void setStartAtLogin(bool start);
    void setAnnounce(bool on);
    void announceIfWanted();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildControls();
    // Reads the list again from the history; the message `keepId` stays selected if it is
    // still listed, else the row `fallbackRow` is selected (none when negative).
    void refreshList(qint64 keepId, int fallbackRow);
    qint64 selectedId() const;
    void refreshConversations();
    // The conversation shown counts as read while the window is active.
    void markShownRead();
    void showPortChange();
    bool listenOn(std::int32_t port);
    const StoredMessage* selectedMessage() const;
    void selectRow(int row);

    int maxKept = 1000; // before the model, which is made with it
    MessageServer* messages;
    ReplyRequester* replies;
    History* store;
    Notifier* notifier;
    MessageModel* messageModel;
    ConversationModel* conversationModel;
    // The conversation shown; none for all messages.
    std::optional<Correspondent> shown;
    int conversationSerial = 0;
    // Conversations are read again at most a few times a second under a stream of messages.
    QTimer* conversationTimer;
    QFormLayout* details = nullptr;
    QSystemTrayIcon* tray = nullptr;
    // Stored messages not yet in the list: a busy stream is shown a few times a second,
    // not once per commit.
    QList<StoredMessage> waiting;
    QTimer* showTimer;
    QElapsedTimer sinceShown;
    // The list asked of the history last, and what to select when it comes.
    int listSerial = 0;
    qint64 listKeepId = 0;
    int listFallbackRow = 0;
    int rowAfterDelete = 0;
    // A reply port listened on but not yet in the store, and what the status said of it.
    std::int32_t changedPort = 0;
    QString listeningText;
    // Announced while listening with the box ticked: the name in the store and the port
    // listened on (0 while nothing is).
    NetworkAnnouncement* announcement = nullptr;
    QFileSystemWatcher* storeWatcher = nullptr;
    QString announcedName;
    quint16 announcedPort = 0;
};
