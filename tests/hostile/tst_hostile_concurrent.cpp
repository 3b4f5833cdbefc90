// Two runs of svodar-cli that write into one output folder at the same time.

#include "hostile.h"

#include <QtTest>

using namespace hostile;

class TestHostileConcurrent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(cliPath()).isExecutable(), qPrintable(cliPath())); }

    // Two runs started together into one folder, again and again: each one's
    // files replace the other's whole, so every file ends complete, and neither
    // leaves a temporary file behind.
    void concurrentRuns()
    {
        QTemporaryDir base{scratch()};
        const QString in = base.filePath("in"), out = base.filePath("out");
        QVERIFY(QDir().mkpath(in));
        Files expected;
        for (int g = 0; g < 30; ++g) {
            const QByteArray code = "G" + QByteArray::number(g);
            Summed s;
            s.code = code;
            Writer w(in + "/" + code + ".xml");
            w << head(code);
            for (int row = 0; row < 500; ++row) {
                w << cell(1, row, 2, QByteArray::number(g + row));
                s.add(1, row, 2, QByteArray::number(g + row));
            }
            QVERIFY((w << tail()).close());
            expected.insert(one(s));
        }
        for (int round = 0; round < 20; ++round) {
            Child first, second;
            QVERIFY(first.start({cliPath(), in, out}));
            QVERIFY(second.start({cliPath(), in, out}));
            const Result a = first.wait(60000 * kSlowdown), b = second.wait(60000 * kSlowdown);
            HOSTILE_COMPARE_RUN(a, 0, successText(), QString());
            HOSTILE_COMPARE_RUN(b, 0, successText(), QString());
            QCOMPARE(entries(out), QStringList(expected.keys()));
            for (auto e = expected.cbegin(); e != expected.cend(); ++e)
                QVERIFY2(readFile(out + "/" + e.key()) == e.value(), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(e.key())));
        }
    }
};

QTEST_GUILESS_MAIN(TestHostileConcurrent)
#include "tst_hostile_concurrent.moc"
