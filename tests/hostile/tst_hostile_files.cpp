// Hostile folders and file systems: entries that are not regular files, group
// codes that would lead out of the output folder, files the user may not touch,
// and a disk that fills up while a summed report is written.

#include "hostile.h"

#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>

using namespace hostile;

namespace {

const QString kOpenError = QStringLiteral("Не получается открыть файл для записи");
const QStringList kAsNobody = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};

// A report of group code_2014_1 with one cell 1/1/1.
bool writeReport(const QString &path, const QByteArray &code, const QByteArray &value = "1")
{
    return writeFile(path, report(code, cell(1, 1, 1, value)));
}

Files summedOnes(const QList<QByteArray> &codes)
{
    Files files;
    for (const QByteArray &code : codes) {
        Summed s;
        s.code = code;
        files.insert(one(s.add(1, 1, 1, "1")));
    }
    return files;
}

bool setMode(const QString &path, mode_t mode)
{
    return chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// An entry of the given kind named path: anything but a regular file.
bool makeSpecial(const QString &kind, const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    if (kind == "fifo")
        return mkfifo(p.constData(), 0666) == 0;
    if (kind == "socket") {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (fd < 0 || p.size() >= qsizetype(sizeof addr.sun_path))
            return false;
        std::memcpy(addr.sun_path, p.constData(), std::size_t(p.size()));
        const bool ok = bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }
    if (kind == "/dev/zero")
        return symlink("/dev/zero", p.constData()) == 0;
    if (kind == "loop")
        return symlink(QFile::encodeName(QFileInfo(path).fileName()).constData(), p.constData()) == 0;
    if (kind == "dangling")
        return symlink("no-such-file.xml", p.constData()) == 0;
    return false;
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(cliPath()).isExecutable(), qPrintable(cliPath())); }

    // Only regular files are read; other entries named *.xml are passed over at
    // once, without blocking, and a folder of nothing else sums nothing.
    void specialEntries_data()
    {
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<bool>("withReport");
        for (const char *kind : {"fifo", "socket", "/dev/zero", "loop", "dangling"})
            QTest::newRow(kind) << QStringList{kind} << true;
        QTest::newRow("all of them, no report")
                << QStringList{"fifo", "socket", "/dev/zero", "loop", "dangling"} << false;
    }
    void specialEntries()
    {
        QFETCH(QStringList, kinds);
        QFETCH(bool, withReport);
        Case c;
        for (int i = 0; i < kinds.size(); ++i)
            QVERIFY2(makeSpecial(kinds[i], c.in + QStringLiteral("/%1.xml").arg(char('b' + i))), qPrintable(kinds[i]));
        if (withReport)
            QVERIFY(writeReport(c.in + "/a.xml", "F"));
        c.freeze();
        const Result r = runCli({c.in, c.out}, {}, 20000);
        HOSTILE_COMPARE_RUN(r, 0, successText(), QString());
        HOSTILE_COMPARE_OUTPUT(c, withReport ? summedOnes({"F"}) : Files());
        QVERIFY(QFileInfo(c.out).isDir());
    }

    // Group codes become file names: none may lead out of the output folder or
    // overwrite another group's file; such runs fail before writing anything.
    // A name the file system refuses fails like any file that cannot be opened,
    // after the groups before it are written.
    void groupNames_data()
    {
        QTest::addColumn<QList<QByteArray>>("codes"); // as XML attribute text
        QTest::addColumn<QString>("message");
        QTest::addColumn<Files>("files");
        const QString bad = QStringLiteral("Недопустимое имя файла: ");
        const QString clash = QStringLiteral("Разные отчеты дают одно имя файла: ");
        QTest::newRow("parent folder") << QList<QByteArray>{"A", "../x"} << bad + "../x_2014_1.xml" << Files();
        QTest::newRow("sub-folder") << QList<QByteArray>{"A", "a/b"} << bad + "a/b_2014_1.xml" << Files();
        QTest::newRow("backslash") << QList<QByteArray>{"A", "..\\x"} << bad + "..\\x_2014_1.xml" << Files();
        QTest::newRow("tab") << QList<QByteArray>{"A", "a&#9;b"} << bad + "a\tb_2014_1.xml" << Files();
        QTest::newRow("letter case") << QList<QByteArray>{"F", "f"} << clash + "f_2014_1.xml" << Files();
        QTest::newRow("cyrillic letter case") << QList<QByteArray>{"A", QStringLiteral("Ф").toUtf8(), QStringLiteral("ф").toUtf8()}
                                              << clash + QStringLiteral("ф_2014_1.xml") << Files();
        const QByteArray longCode(300, 'x');
        QTest::newRow("name too long")
                << QList<QByteArray>{"A", longCode} << kOpenError << summedOnes({"A"});
    }
    void groupNames()
    {
        QFETCH(QList<QByteArray>, codes);
        QFETCH(QString, message);
        QFETCH(Files, files);
        Case c;
        for (int i = 0; i < codes.size(); ++i)
            QVERIFY(writeReport(c.in + QStringLiteral("/r%1.xml").arg(i), codes[i]));
        c.freeze();
        const Result r = runCli({c.in, c.out});
        HOSTILE_COMPARE_RUN(r, 2, QString(), writeError(message));
        HOSTILE_COMPARE_OUTPUT(c, files);
    }

    // Year and period may hold "_": two groups that compose one name.
    void underscoreClash()
    {
        Case c;
        QVERIFY(writeFile(c.in + "/a.xml", "<report code=\"a_b\" year=\"c\" period=\"1\">" + cell(1, 1, 1, "1") + "</report>"));
        QVERIFY(writeFile(c.in + "/b.xml", "<report code=\"a\" year=\"b_c\" period=\"1\">" + cell(1, 1, 1, "1") + "</report>"));
        c.freeze();
        const Result r = runCli({c.in, c.out});
        HOSTILE_COMPARE_RUN(r, 2, QString(), writeError(QStringLiteral("Разные отчеты дают одно имя файла: a_b_c_1.xml")));
        HOSTILE_COMPARE_OUTPUT(c, Files());
    }

    void outputBelowRegularFile()
    {
        Case c;
        QVERIFY(writeReport(c.in + "/a.xml", "F"));
        QVERIFY(writeFile(c.path("file"), "keep"));
        c.freeze();
        const Result r = runCli({c.in, c.path("file/out")});
        HOSTILE_COMPARE_RUN(r, 2, QString(), writeError(kOpenError));
        HOSTILE_COMPARE_OUTPUT(c, Files());
    }

    // A summed file's name that is a link (to a file outside, or nowhere) is not
    // followed: nothing is written through it, and the link stays.
    void outputNameIsALink_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("link to a file outside") << QStringLiteral("../outside");
        QTest::newRow("dangling link") << QStringLiteral("../nowhere");
    }
    void outputNameIsALink()
    {
        QFETCH(QString, target);
        Case c;
        QVERIFY(writeReport(c.in + "/a.xml", "F"));
        QVERIFY(writeFile(c.path("outside"), "keep"));
        QVERIFY(QDir().mkpath(c.out));
        QVERIFY(QFile::link(target, c.out + "/F_2014_1.xml"));
        c.freeze();
        const Result r = runCli({c.in, c.out});
        HOSTILE_COMPARE_RUN(r, 2, QString(), writeError(kOpenError));
        QCOMPARE(entries(c.out), QStringList{"F_2014_1.xml"});
        QCOMPARE(QFileInfo(c.out + "/F_2014_1.xml").symLinkTarget(), QFileInfo(c.path(target.mid(3))).absoluteFilePath());
        QCOMPARE(c.now(), c.before);
    }

    // As an ordinary user: a summed file that exists read-only is left as it is
    // (the groups before it are written), a read-only output folder gets nothing,
    // and an input file that cannot be read stops the run before any writing.
    void asNobody_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("read-only existing output file") << "file";
        QTest::newRow("read-only output folder") << "folder";
        QTest::newRow("unreadable input file") << "input";
    }
    void asNobody()
    {
        QFETCH(QString, setup);
        if (geteuid() != 0)
            QSKIP("needs root to act as nobody");
        Case c;
        QVERIFY(setMode(c.root.path(), 0777) && setMode(c.in, 0777));
        QVERIFY(writeReport(c.in + "/a.xml", "A"));
        QVERIFY(writeReport(c.in + "/b.xml", "F"));
        Files expected;
        if (setup == "input") {
            QVERIFY(setMode(c.in + "/b.xml", 0));
        } else {
            QVERIFY(QDir().mkpath(c.out));
            QVERIFY(setMode(c.out, setup == "file" ? 0777 : 0555));
        }
        if (setup == "file") {
            QVERIFY(writeFile(c.out + "/F_2014_1.xml", "old summed report\n"));
            QVERIFY(setMode(c.out + "/F_2014_1.xml", 0444));
            expected = summedOnes({"A"});
            expected.insert("F_2014_1.xml", "old summed report\n");
        }
        c.freeze();
        const Result r = runCli({c.in, c.out}, kAsNobody);
        if (setup == "input") {
            HOSTILE_COMPARE_RUN(r, 1, QString(), readError(QStringLiteral("Не удалось прочитать файл b.xml : нет доступа к файлу")));
            QVERIFY(!QFileInfo::exists(c.out));
        } else {
            HOSTILE_COMPARE_RUN(r, 2, QString(), writeError(kOpenError));
        }
        HOSTILE_COMPARE_OUTPUT(c, expected);
    }

    // A disk that fills up while a summed report is written: the groups before
    // it stay, the older file of that name stays as it was, and no temporary
    // file is left. The small file system lives in a mount namespace of its own,
    // so what is left on it is copied out before the namespace goes.
    void diskFull()
    {
        if (geteuid() != 0)
            QSKIP("needs root to mount a file system");
        if (runShell({"unshare", "-m"}, "mount -t tmpfs tmpfs /mnt").exitCode != 0)
            QSKIP("no mount namespaces here");
        Case c;
        QVERIFY(writeReport(c.in + "/a.xml", "A"));
        Writer big(c.in + "/f.xml");
        big << head("F");
        Summed f; // far more than the 64 KiB the disk holds
        for (int row = 0; row < 20000; ++row) {
            big << cell(1, row, 1, "2");
            f.add(1, row, 1, "2");
        }
        QVERIFY((big << tail()).close());
        QVERIFY(QDir().mkpath(c.out));
        QVERIFY(QDir().mkpath(c.path("seen/copy")));
        c.before = snapshot(c.root.path(), {"out", "seen"});

        const QByteArray old = "older summed report\n";
        const QString script = QStringLiteral(
                "mount -t tmpfs -o size=64k tmpfs '%1' && printf '%2' > '%1/F_2014_1.xml' || exit 99; "
                "'%3' '%4' '%1' > '%5/stdout' 2> '%5/stderr'; echo $? > '%5/rc'; cp -a '%1/.' '%5/copy/'")
                .arg(c.out, QString::fromLatin1(old).replace("\n", "\\n"), cliPath(), c.in, c.path("seen"));
        const Result r = runShell({"unshare", "-m"}, script);
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(r.describe()));
        QCOMPARE(readFile(c.path("seen/rc")), QByteArray("2\n"));
        QCOMPARE(readFile(c.path("seen/stdout")), QByteArray());
        QCOMPARE(QString::fromUtf8(readFile(c.path("seen/stderr"))),
                 writeError(QStringLiteral("Не удалось записать файл F_2014_1.xml")));
        const QString copy = c.path("seen/copy");
        QCOMPARE(entries(copy), QStringList({"A_2014_1.xml", "F_2014_1.xml"}));
        QCOMPARE(readFile(copy + "/A_2014_1.xml"), summedOnes({"A"}).value("A_2014_1.xml"));
        QCOMPARE(readFile(copy + "/F_2014_1.xml"), old);
        QCOMPARE(entries(c.out), QStringList());
        QCOMPARE(snapshot(c.root.path(), {"out", "seen"}), c.before);
    }

    // A run killed at moments spread over its writing: each summed report's name
    // holds its old file, nothing where there was none, or the whole new file.
    // The only other entry it may leave is a whole new file under a temporary
    // name (name.XXXXXX), if killed between linking it in and renaming it over
    // the old one. The reports repeat many title items, so that writing takes
    // most of a run.
    void killedWhileWriting()
    {
        Case c;
        const Files expected = writeGroups(c.in, 12, 100, 12000);
        QCOMPARE(expected.size(), 12);
        Files old;
        for (const QString &name : expected.keys())
            if (old.size() < expected.size() / 2)
                old.insert(name, "old " + name.toUtf8() + "\n");
        const auto reset = [&] {
            if (!QDir(c.out).removeRecursively() || !QDir().mkpath(c.out))
                return false;
            for (auto o = old.cbegin(); o != old.cend(); ++o)
                if (!writeFile(c.out + "/" + o.key(), o.value()))
                    return false;
            return true;
        };
        c.freeze();
        // A whole run, to know how long one takes here.
        QVERIFY(reset());
        const Result whole = runCli({c.in, c.out});
        HOSTILE_COMPARE_RUN(whole, 0, successText(), QString());
        HOSTILE_COMPARE_OUTPUT(c, expected);

        const QRegularExpression temporary(QStringLiteral("^(.*\\.xml)\\..{6}$"));
        constexpr int kMoments = 10;
        for (int k = 0; k < kMoments; ++k) {
            QVERIFY(reset());
            Child child;
            QVERIFY(child.start({cliPath(), c.in, c.out}));
            QTest::qSleep(int(whole.elapsedMs * (k + 3) / (kMoments + 2)));
            child.sendSignal(SIGKILL);
            const Result r = child.wait(60000 * kSlowdown);
            QVERIFY2(r.signal == SIGKILL || r.exitCode == 0, qPrintable(r.describe()));
            int fresh = 0;
            for (const QString &name : entries(c.out)) {
                const QByteArray bytes = readFile(c.out + "/" + name);
                const QString tag = QStringLiteral("kill %1: %2").arg(k).arg(name);
                if (expected.contains(name)) {
                    QVERIFY2(bytes == expected.value(name) || bytes == old.value(name, "-"), qPrintable(tag));
                    fresh += bytes == expected.value(name);
                } else {
                    const QString target = temporary.match(name).captured(1);
                    QVERIFY2(old.contains(target) && bytes == expected.value(target), qPrintable(tag));
                }
            }
            for (auto o = old.cbegin(); o != old.cend(); ++o)
                QVERIFY2(QFileInfo::exists(c.out + "/" + o.key()), qPrintable(o.key()));
            qInfo("kill %d of a %lld ms run: %s, %d of %lld files new", k, whole.elapsedMs,
                  r.signal ? "killed" : "finished", fresh, qlonglong(expected.size()));
        }
        QCOMPARE(c.now(), c.before);
    }
};

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostile_files.moc"
