// Two runs of svodar-cli that write into one output folder at the same time, and
// a run watched by another program that reads the folder while it is written.

#include "hostile.h"

#include <QtTest>

#include <atomic>
#include <thread>

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
        const Files expected = writeGroups(in, 30, 500);
        QCOMPARE(expected.size(), 30);
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

    // A program that lists the output folder while a run writes new files into
    // it, and opens every *.xml it sees, finds each one complete: a summed
    // report never shows under its name before all of it is there.
    void watchedWhileWritten()
    {
        QTemporaryDir base{scratch()};
        const QString in = base.filePath("in"), out = base.filePath("out");
        QVERIFY(QDir().mkpath(in));
        const Files expected = writeGroups(in, 12, 4000);
        QCOMPARE(expected.size(), 12);
        int opened = 0;
        for (int round = 0; round < 5; ++round) {
            QVERIFY(QDir(out).removeRecursively());
            std::atomic<bool> done = false;
            QStringList faults;
            std::thread watcher([&] {
                while (!done) {
                    const QStringList names = QDir(out).entryList({"*.xml"}, QDir::Files | QDir::Hidden);
                    for (const QString &name : names) {
                        QFile file(out + "/" + name);
                        if (!file.open(QIODevice::ReadOnly))
                            continue; // not there any more
                        ++opened;
                        const qint64 size = file.size();
                        const bool complete = size == expected.value(name).size() && file.seek(size - 10)
                                && file.read(10) == "</report>\n";
                        if (!complete)
                            faults << QStringLiteral("%1 (%2 bytes)").arg(name).arg(size);
                    }
                }
            });
            Child child;
            const bool started = child.start({cliPath(), in, out});
            const Result r = started ? child.wait(60000 * kSlowdown) : Result();
            done = true;
            watcher.join();
            QVERIFY(started);
            HOSTILE_COMPARE_RUN(r, 0, successText(), QString());
            QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(faults.join(", "))));
            QCOMPARE(entries(out), QStringList(expected.keys()));
        }
        QVERIFY(opened > 0);
    }
};

QTEST_GUILESS_MAIN(TestHostileConcurrent)
#include "tst_hostile_concurrent.moc"
