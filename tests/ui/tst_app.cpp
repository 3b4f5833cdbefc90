#include <QProcess>
#include <QTest>

// Starts the real program. Nothing can close its window from outside on the
// offscreen platform, so this only checks that it comes up and stays in its
// event loop instead of failing or returning at once.
class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void startsAndWaitsForTheUser();
};

void TestApp::startsAndWaitsForTheUser()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    // Two independent instances; the second one gets arguments it has no use for.
    QProcess first;
    QProcess second;
    first.setProcessEnvironment(env);
    second.setProcessEnvironment(env);
    first.start(QStringLiteral(SVODAR_APP_PATH), {});
    second.start(QStringLiteral(SVODAR_APP_PATH), {QStringLiteral("--unknown"), QStringLiteral("report.xml")});
    QVERIFY(first.waitForStarted());
    QVERIFY(second.waitForStarted());

    QTest::qWait(1000);
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(second.state(), QProcess::Running);

    first.kill();
    second.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(second.waitForFinished());
}

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
