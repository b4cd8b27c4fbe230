#include "app/BusScanDialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>
#include <memory>

#include "app/BasicTab.h"
#include "app/Cp1252.h"
#include "app/GuardedApplication.h"
#include "app/LinkJob.h"
#include "app/PortJob.h"
#include "app/Winbinform.h"
#include "registers/BusScan.h"
#include "registers/DefinitionFolders.h"
#include "registers/ParameterDevice.h"
#include "registers/ValueType.h"
#include "util/Text.h"

namespace vindelor::app {

namespace {

constexpr int kMaxMarginMs = 1000;
constexpr int kDialogWidth = 380;
constexpr int kDialogHeight = 360;

QPushButton* Button(const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

BusScanDialog::BusScanDialog(TfrmMain& form) : QDialog(&form), form_(form) {
    setObjectName(QStringLiteral("dlgScanBus"));
    setWindowTitle(QStringLiteral("Scan bus"));
    setModal(true);
    resize(kDialogWidth, kDialogHeight);

    lblScan = new QLabel;
    lblScan->setObjectName(QStringLiteral("lblScan"));
    lblScan->setWordWrap(true);
    pbScan = new QProgressBar;
    pbScan->setObjectName(QStringLiteral("pbScan"));
    pbScan->setRange(0, registers::ScanOptions::kLastOwnAddress);
    pbScan->setFormat(QStringLiteral("Address %v"));
    lvDevices = new QTreeWidget;
    lvDevices->setObjectName(QStringLiteral("lvDevices"));
    lvDevices->setHeaderLabels(
        {QStringLiteral("Address"), QStringLiteral("Firmware"), QStringLiteral("Type")});
    lvDevices->setRootIsDecorated(false);
    lvDevices->header()->setStretchLastSection(true);
    udScanTimeout = new QSpinBox;
    udScanTimeout->setObjectName(QStringLiteral("udScanTimeout"));
    udScanTimeout->setRange(0, kMaxMarginMs);
    udScanTimeout->setValue(registers::ScanOptions::kDefaultMarginMs);
    udScanTimeout->setSuffix(QStringLiteral(" ms"));
    udScanTimeout->setToolTip(
        QStringLiteral("Wait at each address beyond the line time of the request and the "
                       "reply; more for slow devices or adapters"));
    btnScanStart = Button("btnScanStart", "&Scan again");
    btnScanCancel = Button("btnScanCancel", "Cancel");
    btnUseAddress = Button("btnUseAddress", "&Use address");
    btnUseAddress->setDefault(true);
    btnScanClose = Button("btnScanClose", "Close");

    auto* margin = new QHBoxLayout;
    margin->addWidget(new QLabel(QStringLiteral("Time-out beyond the line time:")));
    margin->addWidget(udScanTimeout);
    margin->addStretch();
    margin->addWidget(btnScanStart);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnScanCancel);
    buttons->addStretch();
    buttons->addWidget(btnUseAddress);
    buttons->addWidget(btnScanClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(margin);
    layout->addWidget(pbScan);
    layout->addWidget(lblScan);
    layout->addWidget(lvDevices, 1);
    layout->addLayout(buttons);

    auto guarded = [this](const std::function<void()>& f) { RunGuarded(form_.notifier(), f); };
    connect(btnScanStart, &QPushButton::clicked, this,
            [this, guarded] { guarded([this] { scan(); }); });
    connect(btnScanCancel, &QPushButton::clicked, this, [this] { cancel_ = true; });
    connect(btnUseAddress, &QPushButton::clicked, this, [this] { useAddress(); });
    connect(btnScanClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvDevices, &QTreeWidget::itemDoubleClicked, this, [this] { useAddress(); });
    connect(lvDevices, &QTreeWidget::currentItemChanged, this,
            [this] { btnUseAddress->setEnabled(!running_ && lvDevices->currentItem()); });
    setRunning(false);
}

void BusScanDialog::setRunning(bool on) {
    running_ = on;
    btnScanCancel->setEnabled(on);
    btnScanStart->setEnabled(!on);
    btnScanClose->setEnabled(!on);
    udScanTimeout->setEnabled(!on);
    btnUseAddress->setEnabled(!on && lvDevices->currentItem());
}

void BusScanDialog::scan() {
    const int type = form_.DeviceType;
    const auto& list = form_.tsBasic->list;
    const std::string typeName = registers::FilesOf(type).name;
    const int firmware = list.defs.findRegisterByName("FIRMWARE");
    lvDevices->clear();
    if (firmware < 0) {
        lblScan->setText(
            QStringLiteral("The definitions of the %1 name no FIRMWARE register to ask for.")
                .arg(QString::fromLatin1(typeName.c_str())));
        return;
    }
    // All four types' definitions tell the devices apart, found where the list finds its own.
    std::vector<std::string> folders{list.folder};
    folders.insert(folders.end(), list.fallbackFolders.begin(), list.fallbackFolders.end());
    std::array<std::unique_ptr<registers::ParameterDefinitions>, 4> all;
    std::array<const registers::Definitions*, 4> defs{};
    for (int t = registers::VX20_95; t <= registers::KT56; ++t) {
        auto pd = std::make_unique<registers::ParameterDefinitions>();
        std::string error;
        if (!registers::LoadParameterDefinitions(t, list.altFiles, folders, *pd, error)) continue;
        defs[static_cast<std::size_t>(t - 1)] = &pd->defs;
        all[static_cast<std::size_t>(t - 1)] = std::move(pd);
    }
    // The copies, not the list's own tables: the window may reload those while the scan runs.
    if (!defs[static_cast<std::size_t>(type - 1)]) {
        lblScan->setText(QStringLiteral("The definitions of the %1 do not load.")
                             .arg(QString::fromLatin1(typeName.c_str())));
        return;
    }

    registers::ScanOptions o;
    o.registerNumber = firmware;
    o.marginMs = udScanTimeout->value();
    o.progress = [bar = pbScan](int address) {
        PostToWindow(bar, [bar, address] { bar->setValue(address); });
    };
    o.cancelled = [this] { return cancel_.load(); };
    cancel_ = false;
    pbScan->setValue(0);
    lblScan->setText(QStringLiteral("Asking every address for the %1's FIRMWARE register...")
                         .arg(QString::fromLatin1(typeName.c_str())));
    registers::ScanOutcome outcome;
    std::vector<Device> devices;
    setRunning(true);
    struct Done {
        BusScanDialog& d;
        ~Done() { d.setRunning(false); }
    } done{*this};
    RunLinkJob(form_, cancel_, [&](protocol::RegisterLink& link) {
        outcome = registers::ScanBus(link, o);
        for (const auto& hit : outcome.found) {
            const auto id = registers::IdentifyDevice(link, hit.address, defs, type,
                                                      registers::ScanConfirmTime(link, o.marginMs));
            const auto shown = registers::ShownFirmware(id, hit, type);
            devices.push_back(
                {hit.address,
                 shown ? std::string(util::Trimmed(registers::valueText(registers::Version, *shown)))
                          : std::string("unknown"),
                 id.deviceType ? registers::FilesOf(id.deviceType).name : "unknown"});
        }
    });

    for (const Device& d : devices) {
        auto* item = new QTreeWidgetItem(
            {QString::number(d.address), FromCp1252(d.firmware), FromCp1252(d.type)});
        item->setData(0, Qt::UserRole, d.address);
        lvDevices->addTopLevelItem(item);
    }
    if (!devices.empty()) lvDevices->setCurrentItem(lvDevices->topLevelItem(0));
    QString text = devices.empty() ? QStringLiteral("No device answered.")
                   : devices.size() == 1
                       ? QStringLiteral("1 device answered.")
                       : QStringLiteral("%1 devices answered.").arg(devices.size());
    if (!devices.empty()) text += QStringLiteral(" Choose one and press \"Use address\".");
    if (outcome.cancelled)
        text = QStringLiteral("Cancelled at address %1. ").arg(pbScan->value()) + text;
    else
        pbScan->setValue(pbScan->maximum());
    if (outcome.lateReplies > 0)
        text += QStringLiteral(
            " Some replies came late or broken; the addresses around them were asked again. A "
            "longer time-out finds a slow device at once.");
    for (int address : outcome.twoAnswers)
        text += QStringLiteral(" ") + FromCp1252(registers::TwoDevicesText(address)) + QStringLiteral(".");
    lblScan->setText(text);
}

void BusScanDialog::useAddress() {
    if (running_) return;
    const QTreeWidgetItem* item = lvDevices->currentItem();
    if (!item) return;
    form_.edAddress->setText(QString::number(item->data(0, Qt::UserRole).toInt()));
    accept();
}

void BusScanDialog::closeEvent(QCloseEvent* e) {
    // The scan ends first; Cancel makes that quick.
    if (running_) {
        cancel_ = true;
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

void BusScanDialog::reject() {
    if (running_) {
        cancel_ = true;
        return;
    }
    QDialog::reject();
}

}  // namespace vindelor::app
