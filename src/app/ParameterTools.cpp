#include "app/ParameterTools.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/BasicTab.h"
#include "app/BusScanDialog.h"
#include "app/Cp1252.h"
#include "app/GuardedApplication.h"
#include "app/LinkJob.h"
#include "app/ParameterDialog.h"
#include "app/PortJob.h"
#include "app/Winbinform.h"

namespace vindelor::app {

namespace {

constexpr const char* kFileFilter = "Parameter sets (*.params *.txt);;All files (*)";

QPushButton* Button(const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QString Text(const std::string& s) {
    return FromCp1252(s);
}

std::string FileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString Value(const std::optional<registers::ParameterEntry>& e) {
    return e ? Text(e->valueText()) : QStringLiteral("(none)");
}

}  // namespace

ParameterTools::ParameterTools(TfrmMain& form, BasicTab& tab)
    : QObject(&tab), form_(form), tab_(tab) {
    btnScanBus = Button("btnScanBus", "Scan bus...");
    btnSaveParams = Button("btnSaveParams", "Save parameters...");
    btnCompareParams = Button("btnCompareParams", "Compare with file...");
    btnRestoreParams = Button("btnRestoreParams", "Restore from file...");
    auto guarded = [this](void (ParameterTools::*click)()) {
        return [this, click] { RunGuarded(form_.notifier(), [this, click] { (this->*click)(); }); };
    };
    connect(btnScanBus, &QPushButton::clicked, this, guarded(&ParameterTools::btnScanBusClick));
    connect(btnSaveParams, &QPushButton::clicked, this,
            guarded(&ParameterTools::btnSaveParamsClick));
    connect(btnCompareParams, &QPushButton::clicked, this,
            guarded(&ParameterTools::btnCompareParamsClick));
    connect(btnRestoreParams, &QPushButton::clicked, this,
            guarded(&ParameterTools::btnRestoreParamsClick));
}

int ParameterTools::deviceType() const {
    return form_.DeviceType;
}
std::string ParameterTools::typeName() const {
    return registers::FilesOf(form_.DeviceType).name;
}
int ParameterTools::address() const {
    return form_.sender().GetAddress();
}

void ParameterTools::error(const std::string& text) {
    form_.notifier().warning("Error", text);
}

void ParameterTools::btnScanBusClick() {
    auto* d = new BusScanDialog(form_);
    d->setAttribute(Qt::WA_DeleteOnClose);
    scanDialog = d;
    d->show();
    d->scan();
}

void ParameterTools::btnSaveParamsClick() {
    const QString path = QFileDialog::getSaveFileName(
        &form_, QStringLiteral("Save parameters"),
        QStringLiteral("address%1.params").arg(address()), QString::fromLatin1(kFileFilter));
    if (!path.isEmpty()) saveTo(path);
}

void ParameterTools::btnCompareParamsClick() {
    const QString path = QFileDialog::getOpenFileName(&form_, QStringLiteral("Compare with file"),
                                                      QString(), QString::fromLatin1(kFileFilter));
    if (!path.isEmpty()) compareWith(path);
}

void ParameterTools::btnRestoreParamsClick() {
    const QString path = QFileDialog::getOpenFileName(&form_, QStringLiteral("Restore from file"),
                                                      QString(), QString::fromLatin1(kFileFilter));
    if (!path.isEmpty()) restoreFrom(path);
}

bool ParameterTools::loadDefinitions(bool needRestoreList) {
    const auto& list = tab_.list;
    std::vector<std::string> folders{list.folder};
    folders.insert(folders.end(), list.fallbackFolders.begin(), list.fallbackFolders.end());
    pd_ = {};
    std::string why;
    if (!registers::LoadParameterDefinitions(deviceType(), list.altFiles, folders, pd_, why)) {
        error("No usable register definitions for the " + typeName() + ": " + why);
        return false;
    }
    if (needRestoreList && !pd_.restoreError.empty()) {
        error(pd_.restoreError);
        return false;
    }
    return true;
}

bool ParameterTools::readFile(const QString& path) {
    std::string why;
    file_ = {};
    path_ = path;
    if (registers::ReadParameterFile(FileName(path), file_, why)) return true;
    error(why + "\nNothing was sent to the device.");
    return false;
}

ParameterDialog& ParameterTools::openDialog(int mode, const QString& title) {
    if (dialog) dialog->close();
    auto* d = new ParameterDialog(&form_, static_cast<ParameterDialog::Mode>(mode), title);
    d->setAttribute(Qt::WA_DeleteOnClose);
    dialog = d;
    d->show();
    return *d;
}

std::string ParameterTools::readDevice() {
    ParameterDialog& d = *dialog;
    d.lblParams->setText(QStringLiteral("Reading the registers of the %1 at address %2...")
                             .arg(Text(typeName()))
                             .arg(address()));
    registers::ParameterJob job;
    job.address = address();
    job.cancelled = [&d] { return d.cancel.load(); };
    job.progress = [&d](int done, int total) {
        PostToWindow(&d, [dialog = &d, done, total] { dialog->setProgress(done, total); });
    };
    d.cancel = false;
    d.setRunning(true);
    struct Done {
        ParameterDialog& d;
        ~Done() { d.setRunning(false); }
    } done{d};
    std::string why;
    const registers::Definitions& defs = pd_.defs;
    const int type = deviceType();
    RunLinkJob(form_, d.cancel, [&](protocol::RegisterLink& link) {
        try {
            device_ = registers::ReadParameterSet(link, job, defs, type, VINDELOR_VERSION);
        } catch (const registers::ParameterError& e) {
            why = e.what();
        }
    });
    return why;
}

void ParameterTools::saveTo(const QString& path) {
    if (!loadDefinitions(false)) return;
    ParameterDialog& d = openDialog(static_cast<int>(ParameterDialog::Mode::Save),
                                    QStringLiteral("Save parameters"));
    struct Close {
        QPointer<ParameterDialog> d;
        ~Close() {
            if (d) d->close();
        }
    } close{&d};
    std::string why = readDevice();
    if (why.empty()) why = registers::WriteParameterFile(FileName(path), device_);
    if (!why.empty()) {
        error(why + (why.rfind("Cannot", 0) == 0 ? "" : "; nothing was saved"));
        return;
    }
    form_.notifier().information("Save parameters",
                                 "Saved " + std::to_string(device_.entries.size()) +
                                     " registers of the " + device_.deviceType + " at address " +
                                     std::to_string(device_.address) + " to " + FileName(path));
}

void ParameterTools::compareWith(const QString& path) {
    if (!readFile(path)) return;
    if (file_.deviceType != typeName()) {
        error(FileName(path) + " holds the parameters of a " + file_.deviceType +
              "; the window is set to " + typeName());
        return;
    }
    if (!loadDefinitions(false)) return;
    ParameterDialog& d = openDialog(static_cast<int>(ParameterDialog::Mode::Compare),
                                    QStringLiteral("Compare with file"));
    if (!pd_.restoreError.empty()) {
        // Without a restore list every register is compared.
        d.cbParamsAll->setChecked(true);
        d.cbParamsAll->setEnabled(false);
    }
    connect(d.cbParamsAll, &QCheckBox::toggled, this, [this] { showComparison(); });
    if (const std::string why = readDevice(); !why.empty()) {
        d.lblParams->setText(Text(why));
        return;
    }
    showComparison();
}

void ParameterTools::showComparison() {
    if (!dialog) return;
    ParameterDialog& d = *dialog;
    const bool all = d.cbParamsAll->isChecked();
    const auto diffs =
        registers::CompareParameterSets(file_, device_, all ? nullptr : &pd_.restore.numbers);
    d.lvParamsDiff->clear();
    for (const auto& diff : diffs)
        d.lvParamsDiff->addTopLevelItem(
            new QTreeWidgetItem({Text(diff.name), Value(diff.left), Value(diff.right)}));
    const QString kind = all ? QString() : QStringLiteral("restorable ");
    const QString file = QFileInfo(path_).fileName();
    if (diffs.empty())
        d.lblParams->setText(
            QStringLiteral("The device at address %1 holds the values of %2 in every %3register.")
                .arg(address())
                .arg(file, kind));
    else
        d.lblParams->setText(QStringLiteral("%1 %2%3 between %4 and the device at address %5.")
                                 .arg(diffs.size())
                                 .arg(kind,
                                      diffs.size() == 1 ? QStringLiteral("register differs")
                                                        : QStringLiteral("registers differ"),
                                      file)
                                 .arg(address()));
}

void ParameterTools::restoreFrom(const QString& path) {
    if (!readFile(path)) return;
    if (!loadDefinitions(true)) return;
    if (const std::string why = registers::CheckSetFitsDefinitions(file_, pd_.defs, deviceType());
        !why.empty()) {
        error(FileName(path) + ": " + why + "\nNothing was written to the device.");
        return;
    }
    ParameterDialog& d = openDialog(static_cast<int>(ParameterDialog::Mode::Restore),
                                    QStringLiteral("Restore from file"));
    d.onRestore = [this] { RunGuarded(form_.notifier(), [this] { runRestore(); }); };
    connect(d.cbParamsForce, &QCheckBox::toggled, this, [this](bool on) {
        if (dialog) dialog->btnParamsRestore->setEnabled(on && !steps_.empty());
    });
    if (const std::string why = readDevice(); !why.empty()) {
        d.lblParams->setText(Text(why + "; nothing was written"));
        return;
    }
    planRestore();
}

void ParameterTools::planRestore() {
    ParameterDialog& d = *dialog;
    steps_ = registers::PlanRestore(file_, device_, pd_.restore.numbers);
    d.lvParamsDiff->clear();
    for (const auto& s : steps_) {
        registers::ParameterEntry now = s.entry;
        now.raw = s.deviceRaw;
        d.lvParamsDiff->addTopLevelItem(new QTreeWidgetItem(
            {Text(s.entry.name), Text(s.entry.valueText()), Text(now.valueText())}));
    }
    QString text;
    if (steps_.empty())
        text = QStringLiteral(
                   "The device at address %1 holds the values of %2 in every register a restore "
                   "writes: "
                   "nothing to restore.")
                   .arg(address())
                   .arg(QFileInfo(path_).fileName());
    else
        text =
            QStringLiteral(
                "Write these %1 registers to the %2 at address %3? Each is read back afterwards.")
                .arg(steps_.size())
                .arg(Text(typeName()))
                .arg(address());
    // What differs but is not the restore's to write is said, never passed over in silence.
    QString kept;
    for (const auto& diff : registers::CompareParameterSets(file_, device_))
        if (diff.left && diff.right && !pd_.restore.numbers.count(diff.number))
            kept += (kept.isEmpty() ? QString() : QStringLiteral(", ")) + Text(diff.name);
    if (!kept.isEmpty())
        text +=
            QStringLiteral("\nLeft as the device has them (not in %1): %2.")
                .arg(QFileInfo(QString::fromLocal8Bit(pd_.restore.path.c_str())).fileName(), kept);
    const bool sameFirmware = file_.firmware == device_.firmware;
    if (!sameFirmware) {
        text += QStringLiteral("\nThe file was saved from firmware %1; the device runs %2.")
                    .arg(Text(file_.firmware.empty() ? "(unknown)" : file_.firmware),
                         Text(device_.firmware.empty() ? "(unknown)" : device_.firmware));
        d.cbParamsForce->show();
    }
    d.lblParams->setText(text);
    d.btnParamsRestore->setEnabled(!steps_.empty() &&
                                   (sameFirmware || d.cbParamsForce->isChecked()));
}

void ParameterTools::runRestore() {
    if (!dialog || steps_.empty()) return;
    ParameterDialog& d = *dialog;
    registers::ParameterJob job;
    job.address = address();
    job.progress = [&d](int done, int total) {
        PostToWindow(&d, [dialog = &d, done, total] { dialog->setProgress(done, total); });
    };
    d.lblParams->setText(
        QStringLiteral("Writing %1 registers and reading them back...").arg(steps_.size()));
    std::vector<registers::RestoreFailure> failures;
    {
        d.cancel = false;
        d.setRunning(true, false);  // a restore is not left half done
        struct Done {
            ParameterDialog& d;
            ~Done() { d.setRunning(false); }
        } done{d};
        const auto steps = steps_;
        RunLinkJob(form_, d.cancel, [&](protocol::RegisterLink& link) {
            failures = registers::RunRestore(link, job, steps);
        });
    }
    for (int i = 0; i < d.lvParamsDiff->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = d.lvParamsDiff->topLevelItem(i);
        item->setText(ParameterDialog::kReadBackColumn, QStringLiteral("OK"));
        for (const auto& f : failures)
            if (static_cast<std::size_t>(i) < steps_.size() &&
                steps_[static_cast<std::size_t>(i)].entry.number == f.number)
                item->setText(ParameterDialog::kReadBackColumn,
                              Text(f.text().substr(f.name.size() + 2)));
    }
    if (failures.empty()) {
        d.lblParams->setText(
            QStringLiteral("Restored %1 registers, each read back. \"Write To Flash\" keeps them "
                           "after a reset.")
                .arg(steps_.size()));
    } else {
        QString names;
        for (const auto& f : failures)
            names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + Text(f.name);
        d.lblParams->setText(QStringLiteral("%1 of %2 registers failed their read-back: %3.")
                                 .arg(failures.size())
                                 .arg(steps_.size())
                                 .arg(names));
    }
    steps_.clear();  // one restore per reading of the device
    d.btnParamsRestore->setEnabled(false);
}

}  // namespace vindelor::app
