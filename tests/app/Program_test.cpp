// The vindelor program as a user starts it: --help, the single-instance rule (a second start
// ends at once with status 0 and no window; a lock left by a killed instance is taken over) and
// the demo against its simulated motor.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

#include "app/SingleInstance.h"

namespace {

constexpr int kStartMs = 30000;  // generous: the machine may be busy

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir* home_ = nullptr;

    // Every run gets its own temporary folder (and so its own lock), home and settings.
    QProcessEnvironment environment(const QString& runtime = QStringLiteral("runtime")) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", home_->filePath("tmp"));
        env.insert("HOME", home_->path());
        env.insert("XDG_CONFIG_HOME", home_->filePath("config"));
        env.insert("XDG_RUNTIME_DIR", home_->filePath(runtime));
        return env;
    }

    void start(QProcess& p, const QStringList& args,
               const QString& runtime = QStringLiteral("runtime")) {
        p.setProcessEnvironment(environment(runtime));
        p.setWorkingDirectory(home_->path());
        p.start(QStringLiteral(VINDELOR_APP), args);
        QVERIFY(p.waitForStarted(kStartMs));
    }

    QString lockFile(const QString& runtime = QStringLiteral("runtime")) const {
        return home_->filePath(runtime + "/") + vindelor::app::SingleInstance::kLockName;
    }

    void startFirstInstance(QProcess& first, const QString& runtime = QStringLiteral("runtime")) {
        start(first, {"--demo"}, runtime);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockFile(runtime)), kStartMs);
        // The window is up once the demo has said where its motor is.
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += first.readAllStandardOutput()).contains("COM1") ||
                                     first.state() != QProcess::Running,
                                 kStartMs);
        QCOMPARE(first.state(), QProcess::Running);
    }

private slots:
    void init() {
        home_ = new QTemporaryDir;
        QVERIFY(home_->isValid());
        QVERIFY(QDir(home_->path()).mkpath("tmp"));
        for (const char* runtime : {"runtime", "runtime-other"}) {
            QVERIFY(QDir(home_->path()).mkpath(runtime));
            QFile::setPermissions(home_->filePath(runtime),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    void cleanup() {
        delete home_;
        home_ = nullptr;
    }

    void optionsAreExplained_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("mentioned");
        QTest::newRow("--help") << QStringList {"--help"} << 0 << "--demo";
        QTest::newRow("an unknown option") << QStringList {"--bogus"} << 2 << "--bogus";
        QTest::newRow("--screenshot without --demo") << QStringList {"--screenshot", "x.png"} << 2 << "--demo";
        QTest::newRow("--version") << QStringList {"--version"} << 0 << "GPL-3.0-or-later";
        QTest::newRow("--self-test with --demo") << QStringList {"--self-test", "--demo"} << 2 << "--self-test";
    }

    void optionsAreExplained() {
        QFETCH(QStringList, args);
        QProcess p;
        start(p, args);
        QVERIFY(p.waitForFinished(kStartMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QTEST(p.exitCode(), "status");
        QFETCH(QString, mentioned);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
        QVERIFY2(out.contains(mentioned), qPrintable(out));
        QVERIFY(!QFile::exists(lockFile()));  // it never got as far as the lock
    }

    void theSelfTestReportsWhereTheDefinitionsCameFrom() {
        // The current folder (the home) holds no definition files; the user's data folder does
        // once they are copied there.
        const QString data = home_->filePath("data");
        const QString userDefs = data + "/vindelor/defs";
        QProcessEnvironment env = environment();
        env.insert("XDG_DATA_HOME", data);
        QProcess missing;
        missing.setProcessEnvironment(env);
        missing.setWorkingDirectory(home_->path());
        missing.start(QStringLiteral(VINDELOR_APP), {"--self-test"});
        QVERIFY(missing.waitForFinished(kStartMs));
        QCOMPARE(missing.exitCode(), 1);
        const QString said = QString::fromLocal8Bit(missing.readAllStandardError());
        QVERIFY2(said.contains("Error: Error loading parameter file (LINE 0)\ntambrel.dat was looked for in: " +
                               QDir(home_->path()).canonicalPath() + ", " + userDefs + ", "),
                 qPrintable(said));

        QVERIFY(QDir().mkpath(userDefs));
        for (const QString& name : QDir(VINDELOR_SOURCE_DIR "/defs").entryList({"*.dat"}))
            QVERIFY(QFile::copy(VINDELOR_SOURCE_DIR "/defs/" + name, userDefs + "/" + name));
        QProcess found;
        found.setProcessEnvironment(env);
        found.setWorkingDirectory(home_->path());
        found.start(QStringLiteral(VINDELOR_APP), {"--self-test"});
        QVERIFY(found.waitForFinished(kStartMs));
        const QString out = QString::fromLocal8Bit(found.readAllStandardOutput());
        QVERIFY2(found.exitCode() == 0, qPrintable(out + found.readAllStandardError()));
        QVERIFY2(out.startsWith("Register definitions for VX20-95 from " + userDefs + ": "), qPrintable(out));
        QVERIFY2(out.contains(" 20:FIRMWARE "), qPrintable(out));
    }

    void aSecondInstanceEndsAtOnceWithoutAWindow() {
        QProcess first;
        startFirstInstance(first);

        QProcess second;
        start(second, {});
        QVERIFY2(second.waitForFinished(kStartMs), "the second instance kept running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QCOMPARE(first.state(), QProcess::Running);  // the first is left alone

        first.kill();
        QVERIFY(first.waitForFinished(kStartMs));
    }

    void anInstanceWithAnotherRuntimeFolderDoesNotStopThisOne() {
        // Two users share the temporary folder, each has a runtime folder of their own.
        QProcess other;
        startFirstInstance(other, QStringLiteral("runtime-other"));
        QProcess mine;
        startFirstInstance(mine);
        QVERIFY(!QFile::exists(home_->filePath("tmp/") + vindelor::app::SingleInstance::kLockName));
        for (QProcess* p : {&other, &mine}) {
            p->kill();
            QVERIFY(p->waitForFinished(kStartMs));
        }
    }

    // A signal that would end the program closes the window as "Exit" does (which stops a
    // rotation first): the program ends normally and lets go of its lock.
    void aSignalClosesTheWindow_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGQUIT") << SIGQUIT;
        QTest::newRow("SIGUSR1") << SIGUSR1;
    }

    void aSignalClosesTheWindow() {
        QFETCH(int, signal);
        QProcess p;
        startFirstInstance(p);
        ::kill(static_cast<pid_t>(p.processId()), signal);
        QVERIFY(p.waitForFinished(kStartMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFile::exists(lockFile()));
    }

    void theDemoShowsTheMotorEvenAfterAnInstanceWasKilled() {
        // A killed instance leaves its lock behind; the next start takes it over.
        QProcess killed;
        startFirstInstance(killed);
        killed.kill();
        QVERIFY(killed.waitForFinished(kStartMs));
        QVERIFY(QFile::exists(lockFile()));

        const QString shot = home_->filePath("shot.png");
        QProcess demo;
        start(demo, {"--demo", "--screenshot", shot});
        QVERIFY(demo.waitForFinished(2 * kStartMs));
        QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(demo.exitCode(), 0);
        const QImage image(shot);
        QVERIFY(!image.isNull());
        QCOMPARE(image.width(), 731);
        // The demo's settings are its own: nothing was written under the user's home.
        QVERIFY(!QFile::exists(home_->filePath("config/Kyvane/Tambrel.conf")));
    }
};

QTEST_MAIN(ProgramTest)
#include "Program_test.moc"
