#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Every file and folder under `root`, with its size and time of change.
QStringList tree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << QString("%1 %2 %3")
                       .arg(info.filePath())
                       .arg(info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

}  // namespace

// Starts the installed program twice as one user, the first with a runtime
// folder and the second without one (su, ssh, cron): they share the data
// folder, so the second must see the first, stop at its message and touch
// nothing.
class SecondCopyTest : public QObject {
    Q_OBJECT
private slots:
    void second_start_in_another_session_touches_nothing() {
        QTemporaryDir home, runtime;
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
            env.remove(name);
        }
        env.insert("HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcessEnvironment with_runtime = env;
        with_runtime.insert("XDG_RUNTIME_DIR", runtime.path());

        QProcess first;
        first.setProcessEnvironment(with_runtime);
        first.start(OSTREL_INSTALLED_BINARY, {});
        const QDir data(home.filePath(".local/share/ostrel"));
        QTRY_VERIFY_WITH_TIMEOUT(data.exists("general.cfg"), 20000);
        QTest::qWait(300);
        // A start that went on would make this file again.
        QVERIFY(QFile::remove(data.filePath("general.cfg")));
        QVERIFY(data.exists("ostrel.lock"));
        const QStringList before = tree(home.path());

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(OSTREL_INSTALLED_BINARY, {});
        QVERIFY(second.waitForStarted());
        // The second copy now waits on its message box (nobody answers it offscreen).
        QTest::qWait(2000);
        QCOMPARE(second.state(), QProcess::Running);
        QCOMPARE(tree(home.path()), before);
        QCOMPARE(first.state(), QProcess::Running);

        second.kill();
        second.waitForFinished();
        first.kill();
        first.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(SecondCopyTest)
#include "second_copy_test.moc"
