#include "app/NcxBootPanel.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/BigVxPanel.h"
#include "app/GuardedApplication.h"
#include "app/PortBusy.h"
#include "app/PortJob.h"
#include "app/Winbinform.h"
#include "largemotor/BootCommands.h"
#include "serial/TSerErr.h"

namespace vindelor::app {

namespace {

using namespace vindelor::largemotor;

// The module's reset command letter (bootloader mode 3, hardware code 3).
constexpr std::uint8_t kResetModule = 0x21;
// A developer's default for the XC164 RAM bootloader.
constexpr const char* kDefaultBooterFile = "C:\\Projekter\\XC164\\Booter\\booter.h86";

QPushButton* Button(const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

NcxBootPanel::NcxBootPanel(TfrmMain& form) : form_(form) {
    setObjectName(QStringLiteral("NcxBootPanel"));
    edBooterFile = new QLineEdit(QString::fromLatin1(kDefaultBooterFile));
    edBooterFile->setObjectName(QStringLiteral("edBooterFile"));
    cbPreload2 = new QCheckBox(QStringLiteral("Load to address 0x2C"));
    cbPreload2->setObjectName(QStringLiteral("cbPreload2"));
    cbPreload2->setChecked(true);
    btnSendBooter = Button("btnSendBooter", "Send Bootloader");
    btnNCxReset = Button("btnNCxReset", "Reset module");
    btnLoadFirmware = Button("btnLoadFirmware", "Load NCx Bootloader");

    // A narrow column beside the module log: the file, its option, then the buttons one above
    // the other.
    auto* file = new QHBoxLayout;
    file->addWidget(new QLabel(QStringLiteral("Bootloader")));
    file->addWidget(edBooterFile, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(file);
    layout->addWidget(cbPreload2);
    layout->addWidget(btnSendBooter);
    layout->addWidget(btnNCxReset);
    layout->addWidget(btnLoadFirmware);

    connect(btnSendBooter, &QPushButton::clicked, this, [this] { guarded([this] { btnSendBooterClick(); }); });
    connect(btnNCxReset, &QPushButton::clicked, this, [this] { guarded([this] { btnNCxResetClick(); }); });
    connect(btnLoadFirmware, &QPushButton::clicked, this, [this] { guarded([this] { btnLoadFirmwareClick(); }); });
}

void NcxBootPanel::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void NcxBootPanel::btnSendBooterClick() {
    form_.meRecieved->clear();
    if (!form_.port()) throw serial::TSerErr(serial::TSerErr::Io, "Error sending char");
    const std::string booter = QFile::encodeName(edBooterFile->text()).toStdString();
    // The receive thread keeps reading and echoes the answers; the window keeps painting
    // through the 400 ms pause while the other senders wait.
    PortBusy busy(form_);
    SendBootloader(*form_.port(), booter, cbPreload2->isChecked(), [this](int ms) {
        if (sleep) {
            sleep(ms);
            return;
        }
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    });
}

void NcxBootPanel::btnNCxResetClick() {
    form_.clearMemos();
    form_.sender().SendHeader(kResetModule);
    form_.sender().SendTrailer();
}

void NcxBootPanel::btnLoadFirmwareClick() {
    form_.meRecieved->clear();
    if (!form_.port()) throw serial::TSerErr(serial::TSerErr::Io, "Error sending char");
    ToolContext ctx {*form_.port(), form_.receiveThread(), &form_.messageSink(), sleep ? sleep : RealSleep, nullptr};
    const std::string booter = QFile::encodeName(edBooterFile->text()).toStdString();
    const std::string flash = QFile::encodeName(form_.bigVxPanel->edFlashFile->text()).toStdString();
    PortBusy busy(form_);
    std::string failure;
    RunPortJob([&] { failure = LoadNcxBootloader(ctx, booter, flash); });
    if (!failure.empty()) form_.notifier().warning("Error", "Error writing bootloader\n" + failure);
}

}  // namespace vindelor::app
