#include "app/BasicTab.h"

#include "app/PortBusy.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/Cp1252.h"
#include "app/FixedPitchFont.h"
#include "app/GuardedApplication.h"
#include "app/ParameterTools.h"
#include "app/Winbinform.h"
#include "registers/DefinitionFolders.h"
#include "registers/FilterLoader.h"

namespace vindelor::app {

namespace {

constexpr int kBitInfoHeight = 130;
constexpr int kSaveValsHeight = 90;
constexpr int kListPointSize = 8;
constexpr int kTabMargin = 2;
constexpr int kRegisterLineChars = 49;  // number, name, value, type: the longest line

QPushButton* Button(const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

// Makes the list widget hold exactly these lines, keeping the selection and scroll position.
void ShowLines(QListWidget* list, const std::vector<std::string>& lines) {
    const int wanted = static_cast<int>(lines.size());
    while (list->count() > wanted) delete list->takeItem(list->count() - 1);
    for (int i = 0; i < wanted; ++i) {
        const QString text = FromCp1252(lines[static_cast<std::size_t>(i)]);
        if (i < list->count()) {
            if (list->item(i)->text() != text) list->item(i)->setText(text);
        } else {
            list->addItem(text);
        }
    }
}

}  // namespace

BasicTab::BasicTab(TfrmMain& form) : form_(form) {
    setObjectName(QStringLiteral("tsBasic"));
    list.fallbackFolders = registers::FallbackDefinitionFolders();
    buildControls();
}

void BasicTab::buildControls() {
    const QFont fixed = FixedPitchFont(kListPointSize);

    lbParams = new QListWidget;
    lbParams->setObjectName(QStringLiteral("lbParams"));
    MarkAsSender(lbParams);
    lbParams->setFont(fixed);
    lbParams->setSelectionMode(QAbstractItemView::SingleSelection);
    lbParams->setUniformItemSizes(true);
    lbParams->installEventFilter(this);
    // Wide enough for a whole register line beside its scroll bar.
    lbParams->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QString(kRegisterLineChars, QLatin1Char('0'))) +
                              lbParams->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * lbParams->frameWidth() + 6);

    lbBitInfo = new QListWidget;
    lbBitInfo->setObjectName(QStringLiteral("lbBitInfo"));
    lbBitInfo->setFont(fixed);
    lbBitInfo->setFixedHeight(kBitInfoHeight);
    lbBitInfo->viewport()->installEventFilter(this);

    lvSample = new QTreeWidget;
    lvSample->setObjectName(QStringLiteral("lvSample"));
    lvSample->setColumnCount(1 + registers::RegisterList::kSampleChannels);
    lvSample->setRootIsDecorated(false);
    lvSample->setUniformRowHeights(true);
    lvSample->setHeaderLabels({QStringLiteral("Nr"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                               QStringLiteral("4")});
    lvSample->header()->setStretchLastSection(false);
    lvSample->setColumnWidth(0, kNrColumnWidth);
    for (int c = 1; c <= registers::RegisterList::kSampleChannels; ++c) {
        lvSample->setColumnWidth(c, kSampleColumnWidth);
        lvSample->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }

    btnClearSample = Button("btnClearSample", "Clear Samples");
    btnReset = Button("btnReset", "Software reset");
    btnWriteToFlash = Button("btnWriteToFlash", "Write To Flash");
    btnEnterSafe = Button("btnEnterSafe", "Enter Safemode");
    btnExitSafe = Button("btnExitSafe", "Exit Safemode");
    cbHexView = new QCheckBox(QStringLiteral("Hex view"));
    cbHexView->setObjectName(QStringLiteral("cbHexView"));

    meSaveVals = new QPlainTextEdit;
    meSaveVals->setObjectName(QStringLiteral("meSaveVals"));
    meSaveVals->setFont(fixed);
    meSaveVals->setLineWrapMode(QPlainTextEdit::NoWrap);
    meSaveVals->setFixedHeight(kSaveValsHeight);
    meSaveVals->hide();

    edFilter = new QLineEdit;
    edFilter->setObjectName(QStringLiteral("edFilter"));
    edFilter->hide();
    btnLoadFilter = Button("btnLoadFilter", "Load filter");
    btnLoadFilter->hide();

    connect(btnClearSample, &QPushButton::clicked, this, [this] {
        guarded([this] {
            list.btnClearSampleClick();
            lbParams->setFocus();
        });
    });
    connect(btnReset, &QPushButton::clicked, this, [this] { command(&registers::RegisterList::btnResetClick); });
    connect(btnWriteToFlash, &QPushButton::clicked, this,
            [this] { command(&registers::RegisterList::btnWriteToFlashClick); });
    connect(btnEnterSafe, &QPushButton::clicked, this,
            [this] { command(&registers::RegisterList::btnEnterSafeClick); });
    connect(btnExitSafe, &QPushButton::clicked, this, [this] { command(&registers::RegisterList::btnExitSafeClick); });
    connect(cbHexView, &QCheckBox::clicked, this, [this](bool on) {
        guarded([this, on] {
            list.hexView = on;
            reload(true);
        });
    });
    connect(btnLoadFilter, &QPushButton::clicked, this, [this] { guarded([this] { btnLoadFilterClick(); }); });

    auto* buttons = new QGridLayout;
    buttons->addWidget(btnClearSample, 0, 0);
    buttons->addWidget(btnReset, 0, 1);
    buttons->addWidget(btnWriteToFlash, 0, 2);
    buttons->addWidget(btnEnterSafe, 1, 0);
    buttons->addWidget(btnExitSafe, 1, 1);
    buttons->addWidget(cbHexView, 1, 2);
    paramTools = new ParameterTools(form_, *this);
    buttons->addWidget(paramTools->btnScanBus, 2, 0);
    buttons->addWidget(paramTools->btnSaveParams, 2, 1);
    buttons->addWidget(paramTools->btnCompareParams, 2, 2);
    buttons->addWidget(paramTools->btnRestoreParams, 3, 2);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(edFilter, 1);
    filterRow->addWidget(btnLoadFilter);

    auto* right = new QVBoxLayout;
    right->addWidget(lbBitInfo);
    right->addWidget(lvSample, 1);
    right->addLayout(buttons);
    right->addWidget(meSaveVals);
    right->addLayout(filterRow);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kTabMargin, kTabMargin, kTabMargin, kTabMargin);
    layout->setSpacing(kTabMargin);
    layout->addWidget(lbParams);
    layout->addLayout(right, 1);
}

void BasicTab::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void BasicTab::command(void (registers::RegisterList::*click)()) {
    guarded([this, click] {
        (list.*click)();
        lbParams->setFocus();
    });
}

void BasicTab::reload(bool userAsked) {
    inReload_ = true;
    quietRepeats_ = !userAsked;
    loadErrors_.clear();
    struct Done {
        BasicTab& tab;
        ~Done() {
            tab.inReload_ = false;
            tab.lastLoadErrors_ = tab.loadErrors_;
        }
    } done {*this};
    list.reload();
}

void BasicTab::ReloadNotifier::warning(const std::string& caption, const std::string& text) {
    const bool repeat = tab_.lastLoadErrors_.count(text) != 0;
    tab_.loadErrors_.insert(text);
    if (repeat && tab_.quietRepeats_) return;
    tab_.form_.notifier().warning(caption, text);
}

void BasicTab::ReloadNotifier::information(const std::string& caption, const std::string& text) {
    tab_.form_.notifier().information(caption, text);
}

void BasicTab::btnLoadFilterClick() {
    const std::string path = QFile::encodeName(edFilter->text()).toStdString();
    const std::string reason =
        registers::loadFilter(path, form_.DeviceType, list.defs, form_.sender(), form_.notifier());
    if (!reason.empty()) form_.notifier().warning("Error", reason);
}

int BasicTab::selectedLine() const {
    const QListWidgetItem* item = lbParams->currentItem();
    return item && item->isSelected() ? lbParams->row(item) : -1;
}

bool BasicTab::eventFilter(QObject* watched, QEvent* e) {
    // lbBitInfoClick: the bit list only shows; the keys belong to the register list.
    if (watched == lbBitInfo->viewport() && e->type() == QEvent::MouseButtonRelease) {
        lbParams->setFocus();
        return false;
    }
    if (watched == lbParams && e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        const QString text = key->text();
        // Letters are commands; they never start the list's type-ahead search.
        if (text.size() == 1 && text[0].unicode() < 0x80 && text[0].isLetter()) {
            const char c = static_cast<char>(text[0].unicode());
            guarded([this, c] { lbParamsKeyPress(c); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void BasicTab::lbParamsKeyPress(char key) { list.keyPress(key, selectedLine()); }

protocol::Sender& BasicTab::sender() { return form_.sender(); }

protocol::Notifier& BasicTab::notifier() {
    if (inReload_) return reloadNotifier_;
    return form_.notifier();
}

void BasicTab::clearMemos() { form_.clearMemos(); }

std::optional<std::string> BasicTab::askValue(const std::string& registerName) {
    return form_.askValue(registerName);
}

void BasicTab::pause(int ms) {
    // The window keeps painting and handling replies, but takes no input meanwhile.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void BasicTab::openEditor(const std::string& path) {
    const QString file = QDir(QString::fromLocal8Bit(list.loadedFrom.c_str())).absoluteFilePath(QString::fromLocal8Bit(path.c_str()));
    QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

void BasicTab::listRebuilt() { ShowLines(lbParams, list.lines); }

void BasicTab::lineChanged(int index) {
    if (index < 0 || index >= static_cast<int>(list.lines.size())) return;
    while (lbParams->count() <= index) lbParams->addItem(QString());
    lbParams->item(index)->setText(FromCp1252(list.lines[static_cast<std::size_t>(index)]));
}

void BasicTab::bitFieldsChanged() { ShowLines(lbBitInfo, list.bitFieldLines); }

void BasicTab::sampleRowAdded() {
    const auto& row = list.sampleRows.back();
    auto* item = new QTreeWidgetItem;
    for (int c = 0; c < static_cast<int>(row.size()); ++c) {
        item->setText(c, FromCp1252(row[static_cast<std::size_t>(c)]));
        if (c > 0) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    lvSample->addTopLevelItem(item);
    lvSample->scrollToItem(item);
}

void BasicTab::samplesCleared() { lvSample->clear(); }

void BasicTab::sampleColumnChanged(int column) {
    if (column < 1 || column > registers::RegisterList::kSampleChannels) return;
    lvSample->headerItem()->setText(column, FromCp1252(list.sampleCaptions[static_cast<std::size_t>(column) - 1]));
}

void BasicTab::saveValsChanged() {
    meSaveVals->setVisible(list.saveValsVisible);
    for (; saveValsShown_ < static_cast<int>(list.saveVals.size()); ++saveValsShown_)
        meSaveVals->appendPlainText(FromCp1252(list.saveVals[static_cast<std::size_t>(saveValsShown_)]));
}

void BasicTab::altFilesChanged() { form_.cbAltFiles->setChecked(list.altFiles); }

}  // namespace vindelor::app
