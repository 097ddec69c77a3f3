#pragma once
// The main window, "Send Message": pick a correspondent, type, send. Its load and unload
// are the program's start-up and shutdown.

#include "app/Global.h"
#include "history/History.h"
#include "messaging/ReplyRequests.h"
#include "platform/NetworkDiscovery.h"
#include "platform/TcpClient.h"
#include "windows/ComboRecipientList.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <optional>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QAction;

class SendForm : public QMainWindow, public ReplyWindow
{
    Q_OBJECT
public:
    explicit SendForm(QWidget* parent = nullptr);
    ~SendForm() override;

    // Start-up. False when another copy already runs: that copy has been brought forward
    // and this one must end without being shown.
    bool Form_Load();
    // Shutdown: stores the user table and the window position.
    void Form_Unload();

    // Refills the recipient list from Users and selects the line at `index`.
    void FillRecipients(int index);

    QComboBox* Combo1 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Adduser = nullptr;
    QPushButton* StopSend = nullptr;
    QPushButton* Command1 = nullptr;
    QTimer* TimerSW = nullptr;
    TcpClient* Winsock1 = nullptr;
    QAction* exitmn = nullptr;
    // Menu item arrays, numbered from 1.
    QAction* progopmn[3] = {};
    QAction* aboutmn[4] = {};

    const QStringList& history() const { return History; }
    int historyPos() const { return HistoryPos; }
    bool sentByKey() const { return SentByKey; }
    // Where each send is recorded; none before the first.
    ::History* sentMessages() const { return sent; }

    // What reply requests need of this window.
    RecipientList& recipientList() override { return recipients; }
    void announceReply(const QString& text) override;
    void restoreIfMinimized() override;
    void startRaiseTimer() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void Command1_Click();
    void StopSend_Click();
    void Adduser_Click();
    void exitmn_Click();
    void progopmn_Click(int index);
    void aboutmn_Click(int index);
    void Winsock1_Connect();
    void Winsock1_SendComplete();
    void Winsock1_Error();
    void TimerSW_Timer();

private:
    void buildControls();
    void buildMenus();
    void Form_Activate();
    void Form_Deactivate();
    bool Text1_KeyDown(int key, Qt::KeyboardModifiers shift);
    void AddToHistory(const QString& text);
    void PrepareSocket(const UserRecord& target);
    // The socket states the send logic reads: 0 closed, 7 connected.
    int WinsockState() const;
    void WinsockClose();
    // Records the send under way, if any, with how it ended.
    void recordSend(Outcome outcome, const QString& reason = QString());
    void sentMessagesChanged();
    // The error box of a failed send. When nobody answered at the entry's address, a search
    // for its person runs meanwhile, and offerMovedTarget then asks whether to follow them
    // to where they announce themselves now.
    void showSendError();
    void offerMovedTarget();

    ComboRecipientList recipients;
    bool loaded = false;
    bool hooked = false;

    QStringList History;
    int HistoryPos = 0;
    int HistoryMax = 10;
    bool SentByKey = false;

    std::int32_t RemotePort = 0;
    QString RemoteHost;

    // The send under way, as the history will keep it.
    std::optional<StoredMessage> sending;
    ::History* sent = nullptr;
    // A history that cannot be used is told once a run; another program's lock only when
    // it is held for long.
    bool sentProblemTold = false;
    QElapsedTimer sentFailingFor;
    std::size_t sentEntry = 0; // of Users, by the last Send
    QPointer<NetworkDiscovery> movedSearch;
    UserRecord movedTarget; // the entry as it was sent to
    std::optional<AnnouncedPerson> movedTo;
    bool targetStillThere = false; // announced at the entry's own address
    bool movedSearchDone = false;
    bool errorShowing = false;
};
