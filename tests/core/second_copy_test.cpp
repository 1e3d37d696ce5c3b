#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Starts the real program twice and checks that the second copy stops at its
// message without touching any file.
class SecondCopyTest : public QObject {
    Q_OBJECT
private slots:
    void second_process_touches_no_file() {
        QTemporaryDir first_folder, second_folder, runtime, config;
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString first_program = first_folder.filePath("Ostrel");
        const QString second_program = second_folder.filePath("Ostrel");
        QVERIFY(QFile::copy(OSTREL_BINARY, first_program));
        QVERIFY(QFile::copy(OSTREL_BINARY, second_program));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("XDG_CONFIG_HOME", config.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(first_program, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(first_folder.filePath("general.cfg")), 20000);
        QTest::qWait(300);
        const QStringList first_files = QDir(first_folder.path()).entryList(QDir::Files);

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(second_program, {});
        QVERIFY(second.waitForStarted());
        // The second copy now waits on its message box (nobody answers it offscreen).
        QTest::qWait(2000);
        QCOMPARE(QDir(second_folder.path()).entryList(QDir::Files), QStringList{"Ostrel"});
        QCOMPARE(QDir(first_folder.path()).entryList(QDir::Files), first_files);
        QCOMPARE(first.state(), QProcess::Running);

        second.kill();
        second.waitForFinished();
        first.kill();
        first.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(SecondCopyTest)
#include "second_copy_test.moc"
