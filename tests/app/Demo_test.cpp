// "vindelor --demo" as the program sets it up: every tab shown, three motors on COM1 that a bus
// scan finds, and on COM2 a module whose running firmware answers the text poll.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

#include "app/BasicTab.h"
#include "app/BusScanDialog.h"
#include "app/Demo.h"
#include "app/ModuleLogPanel.h"
#include "app/ParameterTools.h"
#include "app/PortComboBox.h"
#include "app/TdlgEnterValue.h"
#include "app/Winbinform.h"
#include "support/RecordingNotifier.h"

using vindelor::app::Demo;
using vindelor::app::TfrmMain;

class DemoTest : public QObject {
    Q_OBJECT

  private slots:
    void theDemoShowsEveryTabAndDevicesToFindOnBothPorts() {
        Demo demo;
        QCOMPARE(QString::fromStdString(demo.start()), QString());
        vindelor::testing::RecordingNotifier boxes;
        TfrmMain w(boxes);
        for (int i = 0; i < w.PageControl1->count(); ++i)
            QVERIFY2(w.PageControl1->isTabVisible(i), qPrintable(w.PageControl1->tabText(i)));
        QVERIFY(w.receiving());

        w.edAddress->setText(QString::number(Demo::firstAddress()));
        QTest::mouseClick(w.tsBasic->paramTools->btnScanBus, Qt::LeftButton);
        auto* d = w.tsBasic->paramTools->scanDialog.data();
        QVERIFY(d);
        QStringList found;
        for (int i = 0; i < d->lvDevices->topLevelItemCount(); ++i)
            found << d->lvDevices->topLevelItem(i)->text(0);
        QCOMPARE(found, (QStringList{"1", "2", "17"}));
        d->close();

        // COM2: the module's log fills from its poll.
        w.cbComPort->setCurrentIndex(Demo::kModulePort - 1);
        emit w.cbComPort->activated(Demo::kModulePort - 1);
        QVERIFY(w.receiving());
        QTest::mouseClick(w.moduleLog->Button22, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.moduleLog->RichEdit1->toPlainText().contains(
                                     QStringLiteral("Module running, line 1")),
                                 5000);
        QTest::mouseClick(w.moduleLog->Button22, Qt::LeftButton);
        QCOMPARE(boxes.boxes, std::vector<std::string>());
    }
};

QTEST_MAIN(DemoTest)
#include "Demo_test.moc"
