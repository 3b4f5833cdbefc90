// Twenty thousand small reports in one folder, also with only 64 open files
// allowed.

#include "hostile.h"

#include <QtTest>

using namespace hostile;

class TestHostileLoad : public QObject
{
    Q_OBJECT

    QTemporaryDir root{scratch()};
    QString inputFolder = root.filePath(QStringLiteral("in"));
    QMap<QString, QString> inputsBefore; // snapshot of inputFolder
    Files expected;

private slots:
    // Report i adds i % 7 to cell 1/1/1 of a group of its own when i is a
    // multiple of 200, of one of ten shared groups otherwise.
    void initTestCase()
    {
        QVERIFY2(QFileInfo(cliPath()).isExecutable(), qPrintable(cliPath()));
        QVERIFY(root.isValid() && QDir().mkpath(inputFolder));
        QMap<QByteArray, qint64> totals;
        for (int i = 0; i < 20000; ++i) {
            const QByteArray code = i % 200 == 0 ? "D" + QByteArray::number(i) : "S" + QByteArray::number(i % 10);
            QVERIFY(writeFile(inputFolder + QStringLiteral("/r%1.xml").arg(i), report(code, cell(1, 1, 1, QByteArray::number(i % 7)))));
            totals[code] += i % 7;
        }
        for (auto t = totals.cbegin(); t != totals.cend(); ++t) {
            Summed s;
            s.code = t.key();
            expected.insert(one(s.add(1, 1, 1, QByteArray::number(t.value()))));
        }
        QCOMPARE(expected.size(), 110);
        inputsBefore = snapshot(inputFolder);
    }

    void manyReports_data()
    {
        QTest::addColumn<QStringList>("wrapper");
        QTest::newRow("no limit") << QStringList();
        QTest::newRow("64 open files") << QStringList{"prlimit", "--nofile=64"};
    }
    void manyReports()
    {
        QFETCH(QStringList, wrapper);
        QTemporaryDir out{scratch()};
        const Result r = runCli({inputFolder, out.path()}, wrapper);
        qInfo("peak RSS %lld MiB, %lld ms", r.peakRss / MiB, r.elapsedMs);
        HOSTILE_COMPARE_RUN(r, 0, successText(), QString());
        QCOMPARE(entries(out.path()), QStringList(expected.keys()));
        for (auto e = expected.cbegin(); e != expected.cend(); ++e)
            QVERIFY2(readFile(out.filePath(e.key())) == e.value(), qPrintable(e.key()));
        QCOMPARE(snapshot(inputFolder), inputsBefore);
    }
};

QTEST_GUILESS_MAIN(TestHostileLoad)
#include "tst_hostile_load.moc"
