#pragma once
// "Credits": the product name and version, the credits, what the program is for, and
// links to the maker's web page and mail address, opened by the desktop.
//
// Run it modally from its owner: About(parent).exec().

#include "windows/DialogSupport.h"

#include <QString>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

// Where the maker can be reached. Each is shown in its link box and is what the link
// opens, whatever the box may hold by then; an empty one has no box.
struct MakerAddresses
{
    QString webPage;     // a full address with its scheme
    QString mailAddress; // a bare address, without "mailto:"
};

// The addresses the build was configured with (QUORVANE_HOMEPAGE, QUORVANE_MAIL_ADDRESS):
// none unless whoever builds it has real ones to give.
MakerAddresses ConfiguredMaker();

struct VersionInfo
{
    QString productName;
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// The program's own version information: Quorvane and the project's version.
VersionInfo ProgramVersion();

// Major "." minor, with a revision other than 0 written straight after the minor number
// ("2.0"; revision 12 gives "2.012").
QString VersionText(const VersionInfo& version);

class About : public FormDialog
{
    Q_OBJECT
public:
    explicit About(QWidget* parent = nullptr, const VersionInfo& programVersion = ProgramVersion(),
                   const MakerAddresses& addresses = ConfiguredMaker());

    // Control array addressed from 1; slot 0 stays empty.
    std::array<QLabel*, 2> lbl{};
    QLabel* appversion = nullptr;
    QLabel* ImageProg = nullptr;
    QLabel* programmerbox = nullptr;
    QLabel* commentbox = nullptr;
    QLineEdit* website = nullptr;
    QLineEdit* email = nullptr;
    QPushButton* ReturnCmd = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void ReturnCmd_Click();

private:
    void buildControls();
    void Form_Load() override;
    void Form_Unload() override;
    void email_Click();
    void website_Click();

    VersionInfo version;
    MakerAddresses maker;
};
