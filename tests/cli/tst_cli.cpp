// svodar-cli as a user runs it: exit codes, the texts on stdout and stderr, and the
// summed files of a small fixture folder compared byte for byte.

#include "testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString kDataDir = QStringLiteral(SVODAR_TEST_DATA_DIR "/cli");
const QByteArray kSuccess = QStringLiteral("Отчеты были успешно просуммированны\n").toUtf8();

struct Result
{
    int exitCode = -1;
    bool normalExit = false;
    QByteArray out;
    QByteArray err;
};

Result runProgram(const QString &program, const QStringList &args, const QString &workDir = QString(),
                  const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start();
    Result r;
    if (!p.waitForStarted(30000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.normalExit = p.exitStatus() == QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

Result runCli(const QStringList &args, const QString &workDir = QString(),
              const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    return runProgram(QStringLiteral(SVODAR_CLI_PATH), args, workDir, env);
}

// The text of stderr without one final line end.
QString errorText(const Result &r)
{
    QByteArray e = r.err;
    if (e.endsWith('\n'))
        e.chop(1);
    return QString::fromUtf8(e);
}

QString describe(const Result &r)
{
    return QStringLiteral("exit %1, stdout [%2], stderr [%3]")
            .arg(r.exitCode)
            .arg(QString::fromUtf8(r.out), QString::fromUtf8(r.err));
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    int cases = 0;
    QString fresh() { return work.filePath(QStringLiteral("case%1").arg(++cases)); }

    void compareWithExpected(const QString &out, const QByteArray &okpoAttr)
    {
        const QString expectedDir = kDataDir + "/expected";
        QCOMPARE(tu::entries(out), tu::entries(expectedDir));
        for (const QString &name : tu::entries(expectedDir)) {
            QByteArray expected = tu::readFile(expectedDir + "/" + name);
            expected.replace("<item name=\"okpo\" value=\"12345678\"/>", "<item name=\"okpo\" " + okpoAttr + "/>");
            QCOMPARE(tu::readFile(out + "/" + name), expected);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QVERIFY2(QFileInfo(QStringLiteral(SVODAR_CLI_PATH)).isExecutable(), SVODAR_CLI_PATH);
        QVERIFY(QFileInfo(kDataDir + "/input").isDir());
    }

    void sumsFixtureFolder()
    {
        const QString out = fresh() + "/summed";
        const Result r = runCli({"--okpo", "12345678", kDataDir + "/input", out});
        QVERIFY2(r.normalExit && r.exitCode == 0, qPrintable(describe(r)));
        QCOMPARE(r.out, kSuccess);
        QCOMPARE(r.err, QByteArray());
        compareWithExpected(out, "value=\"12345678\"");
    }

    void okpoOption_data()
    {
        QTest::addColumn<QStringList>("okpoArgs");
        QTest::addColumn<QByteArray>("okpoAttr");
        QTest::newRow("default is empty") << QStringList() << QByteArray("value=\"\"");
        QTest::newRow("empty value") << QStringList{"--okpo", ""} << QByteArray("value=\"\"");
        QTest::newRow("untrimmed with specials") << QStringList{"--okpo", " 0012 & \"x\" "}
                                                 << QByteArray("value=\" 0012 &amp; &quot;x&quot; \"");
        QTest::newRow("cyrillic") << QStringList{"--okpo", QStringLiteral("ОКПО-7")}
                                  << QStringLiteral("value=\"ОКПО-7\"").toUtf8();
        QTest::newRow("after the folders") << QStringList{"--okpo", "55"} << QByteArray("value=\"55\"");
    }
    void okpoOption()
    {
        QFETCH(QStringList, okpoArgs);
        QFETCH(QByteArray, okpoAttr);
        const QString out = fresh();
        QStringList args;
        if (QString::fromLatin1(QTest::currentDataTag()) == QLatin1String("after the folders"))
            args << kDataDir + "/input" << out << okpoArgs;
        else
            args << okpoArgs << kDataDir + "/input" << out;
        const Result r = runCli(args);
        QVERIFY2(r.normalExit && r.exitCode == 0, qPrintable(describe(r)));
        QCOMPARE(r.out, kSuccess);
        compareWithExpected(out, okpoAttr);
    }

    void readErrors_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing folder") << "missing" << QStringLiteral("Не удаётся нейти исходную папку");
        QTest::newRow("no xml files") << "empty" << QStringLiteral("В исходной папке нет xml-файлов");
        QTest::newRow("file without report")
                << "noreport" << QStringLiteral("Не удалось прочитать файл x.xml : не найден тег <report> или <draft>");
        QTest::newRow("mismatched tag")
                << "badxml" << QStringLiteral("Не удалось прочитать файл y.xml : ошибка XML в строке 2, столбце ");
    }
    void readErrors()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        const QString base = fresh();
        const QString in = base + "/in";
        QVERIFY(QDir().mkpath(base));
        if (setup != "missing")
            QVERIFY(QDir().mkpath(in));
        if (setup == "noreport")
            QVERIFY(tu::writeFile(in + "/x.xml", "<root/>"));
        if (setup == "badxml")
            QVERIFY(tu::writeFile(in + "/y.xml", "<report>\n<a></b></report>"));
        const QString out = base + "/out";
        const Result r = runCli({"--okpo", "1", in, out});
        QVERIFY2(r.normalExit && r.exitCode == 1, qPrintable(describe(r)));
        QCOMPARE(r.out, QByteArray());
        const QString expected = QStringLiteral("Ошибка чтения: ") + message;
        if (setup == "badxml")
            QVERIFY2(errorText(r).startsWith(expected), qPrintable(describe(r)));
        else
            QCOMPARE(errorText(r), expected);
        QVERIFY2(!QFileInfo::exists(out), "nothing may be created after a read error");
    }

    void writeErrors_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("output below a file") << "belowfile" << QStringLiteral("Не получается открыть файл для записи");
        QTest::newRow("bad file name") << "badname" << QStringLiteral("Недопустимое имя файла: a:b_1_1.xml");
        QTest::newRow("names clash") << "clash" << QStringLiteral("Разные отчеты дают одно имя файла: f_1_1.xml");
    }
    void writeErrors()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        const QString base = fresh();
        QVERIFY(QDir().mkpath(base + "/in"));
        QString in = kDataDir + "/input";
        QString out = base + "/out";
        if (setup == "belowfile") {
            QVERIFY(tu::writeFile(base + "/file", "x"));
            out = base + "/file/out";
        } else if (setup == "badname") {
            in = base + "/in";
            QVERIFY(tu::writeFile(in + "/a.xml", "<report code=\"a:b\" year=\"1\" period=\"1\">"
                                                 + tu::cell("1", "1", "1", "1") + "</report>"));
        } else {
            in = base + "/in";
            QVERIFY(tu::writeFile(in + "/a.xml", "<report code=\"F\" year=\"1\" period=\"1\">"
                                                 + tu::cell("1", "1", "1", "1") + "</report>"));
            QVERIFY(tu::writeFile(in + "/b.xml", "<report code=\"f\" year=\"1\" period=\"1\">"
                                                 + tu::cell("1", "1", "1", "1") + "</report>"));
        }
        const Result r = runCli({"--okpo", "1", in, out});
        QVERIFY2(r.normalExit && r.exitCode == 2, qPrintable(describe(r)));
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(errorText(r), QStringLiteral("Ошибка записи: ") + message);
        if (setup != "belowfile")
            QCOMPARE(tu::entries(out), QStringList());
    }

    // The register, the list of values passed over and the warnings of a folder
    // with a report sent twice, a lost number and a sub-folder named like a report.
    void runRecords_data()
    {
        QTest::addColumn<QStringList>("options"); // R, P and W stand for the two tables and the workbook
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("written"); // R, P, W and S (summed reports) that exist after
        QTest::addColumn<QString>("message"); // the last line on stderr

        const QString lost = QStringLiteral("Предупреждение: в файле a.xml не учтено чисел: 1");
        QTest::newRow("warnings, run goes on") << QStringList() << 0 << "S" << lost;
        QTest::newRow("both tables") << QStringList{"--register", "R", "--passed-over", "P"} << 0 << "RPS" << lost;
        QTest::newRow("tables and workbook")
            << QStringList{"--workbook", "W", "--register", "R", "--passed-over", "P"} << 0 << "RPWS" << lost;
        QTest::newRow("strict") << QStringList{"--strict", "--register", "R", "--workbook", "W"} << 3 << "RW" << lost;
        QTest::newRow("workbook cannot be written")
            << QStringList{"--register", "R", "--workbook", "no/W"} << 2 << "R"
            << QStringLiteral("Ошибка записи: Не удалось записать файл no/W.xlsx");
        QTest::newRow("register cannot be written")
            << QStringList{"--register", "no/R", "--passed-over", "P"} << 2 << ""
            << QStringLiteral("Ошибка записи: Не удалось записать файл no/R");
        QTest::newRow("register named empty: given, so tried")
            << QStringList{"--register", "", "--passed-over", "P"} << 2 << ""
            << QStringLiteral("Ошибка записи: Не удалось записать файл ");
        QTest::newRow("passed-over list cannot be written")
            << QStringList{"--register", "R", "--passed-over", "no/P"} << 2 << "R"
            << QStringLiteral("Ошибка записи: Не удалось записать файл no/P");
        QTest::newRow("reading fails: nothing written")
            << QStringList{"--register", "R", "--passed-over", "P", "--strict"} << 1 << ""
            << QStringLiteral("Ошибка чтения: Не удалось прочитать файл z.xml : не найден тег <report> или <draft>");
    }
    void runRecords()
    {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, written);
        QFETCH(QString, message);

        const QString base = fresh();
        QVERIFY(QDir().mkpath(base + "/in/c.xml"));
        const QByteArray attrs = "code=\"F\" year=\"1\" period=\"1\"";
        QVERIFY(tu::writeFile(base + "/in/a.xml", tu::report(attrs, "<item name=\"okpo\" value=\"7\"/>"
                                                                 + tu::cell("1", "1", "1", "1 234")
                                                                 + tu::cell("1", "x", "2", "a;\"b\"")
                                                                 + tu::cell("1", "1", "3", "=1+1"))));
        QVERIFY(tu::writeFile(base + "/in/b.xml", tu::report(attrs, "<item name=\"okpo\" value=\"7\"/>"
                                                                 + tu::cell("1", "1", "1", "5"))));
        if (exitCode == 1)
            QVERIFY(tu::writeFile(base + "/in/z.xml", "<other/>"));
        options.replaceInStrings(QRegularExpression("^(R|P)$"), "\\1.csv");
        options.replaceInStrings(QRegularExpression("W$"), "W.xlsx");
        const Result r = runCli(options + QStringList{"in", "out"}, base);
        QVERIFY2(r.normalExit && r.exitCode == exitCode, qPrintable(describe(r)));
        QCOMPARE(r.out, exitCode == 0 ? kSuccess : QByteArray());
        const QStringList err = errorText(r).split('\n');
        QCOMPARE(err.last(), message);
        if (exitCode != 1) {
            QCOMPARE(err.first(), QStringLiteral("Предупреждение: ОКПО 7 входит в сводный отчет F_1_1.xml "
                                                 "несколько раз: a.xml, b.xml"));
        }
        QCOMPARE(QFileInfo::exists(base + "/R.csv"), written.contains('R'));
        QCOMPARE(QFileInfo::exists(base + "/P.csv"), written.contains('P'));
        QCOMPARE(QFileInfo::exists(base + "/W.xlsx"), written.contains('W'));
        QCOMPARE(QFileInfo::exists(base + "/out/F_1_1.xml"), written.contains('S'));
        if (written.contains('R')) {
            QCOMPARE(tu::readFile(base + "/R.csv"),
                     QStringLiteral("\ufeffФайл;Сводный отчет;Элемент;ОКПО;Учтено значений;Пропущено значений;"
                                    "Потеряно чисел;Тот же ОКПО в файле\r\n"
                                    "a.xml;F_1_1.xml;report;7;0;3;1;\r\n"
                                    "b.xml;F_1_1.xml;report;7;1;0;0;a.xml\r\n"
                                    "c.xml;;;;0;0;0;\r\n").toUtf8());
        }
        if (written.contains('P')) {
            QCOMPARE(tu::readFile(base + "/P.csv"),
                     QStringLiteral("\ufeffФайл;Номер строки в файле;Код раздела;Код строки;s1;s2;s3;Код графы;"
                                    "Текст;Причина;Потерянное число\r\n"
                                    "a.xml;3;1;1;;;;1;1 234;значение;да\r\n"
                                    "a.xml;3;1;x;;;;2;\"a;\"\"b\"\"\";строка;нет\r\n"
                                    "a.xml;3;1;1;;;;3;'=1+1;значение;нет\r\n").toUtf8());
        }
    }

    // A run that reads its own output: summed reports written into the folder
    // read, and read back by the next run. Each run but the last is a plain
    // one; a branch's report a.xml (okpo 2) and the head office's own report
    // 1_F_1_1.xml are summed under the head organisation's code 1.
    void ownOutput_data()
    {
        QTest::addColumn<QByteArrayList>("files"); // name, okpo, value ("" for none)
        QTest::addColumn<QStringList>("options");  // of the last run
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("warnings"); // of the last run
        QTest::addColumn<QByteArray>("total");     // in the summed report after it, "" for none

        const QByteArrayList files{"a.xml", "2", "5", "1_F_1_1.xml", "1", "7"};
        const QString into = QStringLiteral("Предупреждение: сводные отчеты записаны в папку с отчетами; при "
                                            "следующем запуске они будут просуммированы вместе с отчетами");
        const QStringList second{
            QStringLiteral("Предупреждение: ОКПО 1 входит в сводный отчет F_1_1.xml несколько раз: 1_F_1_1.xml, "
                           "F_1_1.xml"),
            QStringLiteral("Предупреждение: файл F_1_1.xml похож на сводный отчет прошлого запуска (имя сводного "
                           "отчета, ОКПО головной организации 1): его числа учтены еще раз"),
            into};
        QTest::newRow("a head office's own report, strict")
            << files << QStringList{"--strict"} << 1 << "out" << 0 << QStringList() << QByteArray("12");
        QTest::newRow("into the folder read") << files << QStringList() << 1 << "in" << 0 << QStringList{into}
                                              << QByteArray("12");
        QTest::newRow("into the folder read, strict")
            << files << QStringList{"--strict"} << 1 << "in" << 3 << QStringList{into} << QByteArray();
        QTest::newRow("into the folder read twice: summed again, said so")
            << files << QStringList() << 2 << "in" << 0 << second << QByteArray("24");
        QTest::newRow("into the folder read twice, strict: left as it was")
            << files << QStringList{"--strict"} << 2 << "in" << 3 << second << QByteArray("12");
        QTest::newRow("into the folder read, nothing to sum")
            << QByteArrayList{"a.xml", "2", ""} << QStringList{"--strict"} << 1 << "in" << 0 << QStringList()
            << QByteArray();
    }
    void ownOutput()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(QStringList, options);
        QFETCH(int, runs);
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(QStringList, warnings);
        QFETCH(QByteArray, total);

        const QString base = fresh();
        QVERIFY(QDir().mkpath(base + "/in"));
        QVERIFY(tu::writeOkpoReports(base + "/in", files));
        Result r;
        for (int run = 1; run <= runs; ++run) {
            r = runCli((run == runs ? options : QStringList()) + QStringList{"--okpo", "1", "in", output}, base);
            QVERIFY2(r.normalExit && r.exitCode == (run == runs ? exitCode : 0), qPrintable(describe(r)));
        }
        QCOMPARE(r.out, exitCode == 0 ? kSuccess : QByteArray());
        QCOMPARE(r.err.isEmpty() ? QStringList() : errorText(r).split('\n'), warnings);
        const QByteArray summed = tu::readFile(base + "/" + output + "/F_1_1.xml");
        const QRegularExpression col("<col code=\"1\">([^<]*)</col>");
        QCOMPARE(col.match(QString::fromUtf8(summed)).captured(1).toUtf8(), total);
    }

    // Where a table or the workbook goes: standard output ("-"), a device or a
    // FIFO, which are written as they are, a device that takes nothing, and a
    // file in the folder read that is no report.
    void targets_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("register on stdout") << "--register" << "-" << 0;
        QTest::newRow("workbook on stdout") << "--workbook" << "-" << 0;
        QTest::newRow("register to /dev/stdout") << "--register" << "/dev/stdout" << 0;
        QTest::newRow("register to a .csv in the folder read") << "--register" << "in/r.csv" << 0;
        QTest::newRow("workbook to a .xlsx in the folder read") << "--workbook" << "in/w.xlsx" << 0;
#ifdef Q_OS_UNIX
        QTest::newRow("passed-over list to a FIFO") << "--passed-over" << "fifo" << 0;
        QTest::newRow("workbook to a FIFO") << "--workbook" << "fifo" << 0;
        QTest::newRow("register to a full disk") << "--register" << "/dev/full" << 2;
        QTest::newRow("workbook to a full disk") << "--workbook" << "/dev/full" << 2;
#endif
    }
    void targets()
    {
        QFETCH(QString, option);
        QFETCH(QString, target);
        QFETCH(int, exitCode);
        const QString base = fresh();
        QVERIFY(QDir().mkpath(base + "/in"));
        QVERIFY(tu::writeFile(base + "/in/a.xml",
                              tu::plainReport(tu::cell("1", "1", "1", "5") + tu::cell("1", "1", "2", "x"))));
        // The same run into a regular file gives the bytes expected.
        const Result plain = runCli({option, "expected", "in", "plain"}, base);
        QVERIFY2(plain.normalExit && plain.exitCode == 0, qPrintable(describe(plain)));
        const QByteArray expected = tu::readFile(base + "/expected");

        Result r;
        QByteArray received;
        if (target == "fifo") {
#ifdef Q_OS_UNIX
            const QByteArray fifo = QFile::encodeName(base + "/fifo");
            QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
            // Opened without waiting for the writer, and read while it writes.
            const int fd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QProcess p;
            p.setWorkingDirectory(base);
            p.start(QStringLiteral(SVODAR_CLI_PATH), {option, "fifo", "in", "out"});
            char block[4096];
            for (bool done = false; !done;) {
                done = p.waitForFinished(10);
                for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;)
                    received.append(block, n);
            }
            ::close(fd);
            r.normalExit = p.exitStatus() == QProcess::NormalExit;
            r.exitCode = p.exitCode();
            r.out = p.readAllStandardOutput();
            r.err = p.readAllStandardError();
            QVERIFY2(QFileInfo(base + "/fifo").exists() && !QFileInfo(base + "/fifo").isFile(),
                     "the FIFO is left as it was");
#endif
        } else {
            r = runCli({option, target, "in", "out"}, base);
            received = r.out;
            if (!target.startsWith('/') && target != "-")
                received.prepend(tu::readFile(base + "/" + target));
        }
        QVERIFY2(r.normalExit && r.exitCode == exitCode, qPrintable(describe(r)));
        if (exitCode != 0) {
            QCOMPARE(errorText(r), QStringLiteral("Ошибка записи: Не удалось записать файл ") + target);
            QVERIFY(!QFileInfo::exists(base + "/out/F_2014_1.xml"));
            return;
        }
        QVERIFY(QFileInfo::exists(base + "/out/F_2014_1.xml"));
        if (target == "-") {
            // Standard output holds the file alone, the success line goes to stderr.
            QCOMPARE(received, expected);
            QCOMPARE(r.err, kSuccess);
        } else if (target == "fifo") {
            QCOMPARE(received, expected);
            QCOMPARE(r.out, kSuccess);
        } else {
            QCOMPARE(received, expected + kSuccess);
        }
    }

    // More values passed over than a run keeps: listed, the first 100,000 and a
    // note that is no warning; not listed, none kept and no note.
    void passedOverNote_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("err");
        QTest::addColumn<int>("listed");
        QTest::newRow("listed, strict")
            << QStringList{"--strict", "--passed-over", "P.csv"}
            << QStringLiteral("Примечание: в перечень пропущенных значений вошли первые 100 000 из 101 000") << 100000;
        QTest::newRow("not listed") << QStringList{"--strict"} << QString() << 0;
        QTest::newRow("workbook")
            << QStringList{"--workbook", "W.xlsx"}
            << QStringLiteral("Примечание: в перечень пропущенных значений вошли первые 100 000 из 101 000") << 0;
    }
    void passedOverNote()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, err);
        QFETCH(int, listed);
        const QString base = fresh();
        QVERIFY(QDir().mkpath(base + "/in"));
        QByteArray cols;
        for (int c = 0; c < 1000; ++c)
            cols += "<col code=\"" + QByteArray::number(c) + "\">x</col>";
        const QByteArray report = tu::report("code=\"F\" year=\"1\" period=\"1\"",
                                             "<section code=\"1\"><row code=\"1\">" + cols + "</row></section>");
        for (int f = 0; f < 101; ++f)
            QVERIFY(tu::writeFile(base + QStringLiteral("/in/r%1.xml").arg(f, 3, 10, QLatin1Char('0')), report));
        const Result r = runCli(options + QStringList{"in", "out"}, base);
        QVERIFY2(r.normalExit && r.exitCode == 0, qPrintable(describe(r)));
        QCOMPARE(errorText(r), err);
        if (listed > 0)
            QCOMPARE(tu::readFile(base + "/P.csv").count("\r\n"), listed + 1);
        if (options.contains("--workbook")) {
            // The workbook's list ends with the same note, in a row of its own.
            QProcess unzip;
            unzip.start(QStringLiteral("unzip"), {"-p", base + "/W.xlsx", "xl/worksheets/sheet2.xml"});
            QVERIFY(unzip.waitForFinished(30000));
            const QByteArray sheet = unzip.readAllStandardOutput();
            const qsizetype note = sheet.indexOf(err.toUtf8());
            QVERIFY2(note > sheet.lastIndexOf("<row "), "the note stands in the last row");
        }
    }

    // Refused before anything is read. Beside the folder "in" with its report
    // a.xml stand "link", a link to it, and "r.csv", a link to the report.
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message"); // the line on stderr; any when empty
        QTest::newRow("no arguments") << QStringList() << QString();
        QTest::newRow("one folder") << QStringList{"in"} << QString();
        QTest::newRow("three folders") << QStringList{"in", "out", "more"} << QString();
        QTest::newRow("unknown option") << QStringList{"--frobnicate", "in", "out"} << QString();
        QTest::newRow("okpo without value") << QStringList{"in", "out", "--okpo"} << QString();
        QTest::newRow("one file for two options")
            << QStringList{"--register", "t.csv", "--workbook", "in/../t.csv", "in", "out"} << QString();
        QTest::newRow("one file for two options, through a link into a folder not made yet")
            << QStringList{"--register", "link/new/t.csv", "--passed-over", "in/new/t.csv", "in", "out"}
            << QStringLiteral("Параметры --register и --passed-over указывают на один и тот же файл: "
                              "in/new/t.csv");
        QTest::newRow("two options on standard output")
            << QStringList{"--passed-over", "-", "--workbook", "-", "in", "out"} << QString();

        const QString reports = QStringLiteral("Нельзя записать %1: файлы *.xml в папке с отчетами и в папке для "
                                               "сводных отчетов — это отчеты");
        QTest::newRow("register over a report read")
            << QStringList{"--register", "in/a.xml", "in", "out"} << reports.arg("in/a.xml");
        QTest::newRow("passed-over list as a summed report in the folder to be made")
            << QStringList{"--passed-over", "out/F_1_1.xml", "in", "out"} << reports.arg("out/F_1_1.xml");
        QTest::newRow("workbook as a report in upper case")
            << QStringList{"--workbook", "in/A.XML", "in", "out"} << reports.arg("in/A.XML");
        QTest::newRow("register as a new report, after a table allowed")
            << QStringList{"--passed-over", "p.csv", "--register", "./in/new.xml", "in", "out"}
            << reports.arg("./in/new.xml");
        QTest::newRow("workbook through a link to the folder read")
            << QStringList{"--workbook", "link/a.xml", "in", "out"} << reports.arg("link/a.xml");
        QTest::newRow("register into the output folder, named through a link")
            << QStringList{"--register", "in/s.xml", "out", "link"} << reports.arg("in/s.xml");
        QTest::newRow("passed-over list to a link to a report")
            << QStringList{"--passed-over", "r.csv", "in", "out"} << reports.arg("r.csv");
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const QString base = fresh();
        QVERIFY(QDir().mkpath(base + "/in"));
        const QByteArray report = "<report code=\"F\" year=\"1\" period=\"1\">" + tu::cell("1", "1", "1", "1")
                                  + "</report>";
        QVERIFY(tu::writeFile(base + "/in/a.xml", report));
        QVERIFY(QFile::link("in", base + "/link"));
        QVERIFY(QFile::link("in/a.xml", base + "/r.csv"));
        const Result r = runCli(args, base);
        QVERIFY2(r.normalExit && r.exitCode == 64, qPrintable(describe(r)));
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(!r.err.trimmed().isEmpty(), "a usage error explains itself on stderr");
        if (!message.isEmpty())
            QCOMPARE(errorText(r), message);
        QCOMPARE(tu::entries(base), (QStringList{"in", "link", "r.csv"}));
        QCOMPARE(tu::entries(base + "/in"), QStringList{"a.xml"});
        QCOMPARE(tu::readFile(base + "/in/a.xml"), report);
    }

    void helpAndVersion()
    {
        const Result help = runCli({"--help"});
        QVERIFY2(help.normalExit && help.exitCode == 0, qPrintable(describe(help)));
        for (const char *option : {"--okpo", "--register", "--passed-over", "--workbook", "--strict"})
            QVERIFY2(help.out.contains(option), help.out.constData());
        QVERIFY2(help.out.contains(QStringLiteral("Код ОКПО головной организации.").toUtf8()),
                 help.out.constData());
        QVERIFY2(help.out.endsWith("\n") && !help.out.endsWith("\n\n"), help.out.constData());
        QCOMPARE(help.err, QByteArray());
        const Result version = runCli({"--version"});
        QVERIFY2(version.normalExit && version.exitCode == 0, qPrintable(describe(version)));
        QVERIFY2(version.out.startsWith("svodar-cli ") && version.out.endsWith("\n")
                         && version.out.count('\n') == 1,
                 version.out.constData());
    }

    // Qt's own words in the help are Russian too, whatever the system's
    // language: from Qt's translations folder, or from translations/ beside
    // the program, as the Windows packages carry it. Without either the
    // program still runs, in Qt's English.
    void qtTextsInRussian_data()
    {
        QTest::addColumn<bool>("copied");  // a copy of svodar-cli in a folder of its own
        QTest::addColumn<bool>("beside");  // with translations/qtbase_ru.qm next to it
        QTest::addColumn<bool>("qtFolder"); // Qt's own translations folder in sight
        QTest::addColumn<bool>("russian");

        QTest::newRow("build tree") << false << false << true << true;
        QTest::newRow("beside the program") << true << true << false << true;
        QTest::newRow("beside the program and in Qt's folder") << true << true << true << true;
        QTest::newRow("nowhere") << true << false << false << false;
    }

    void qtTextsInRussian()
    {
        QFETCH(bool, copied);
        QFETCH(bool, beside);
        QFETCH(bool, qtFolder);
        QFETCH(bool, russian);
        const QString qm = QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath("qtbase_ru.qm");
        if (!QFileInfo::exists(qm))
            QSKIP("Qt's Russian translation is not installed (Debian: qt6-translations-l10n)");

        QString program = QStringLiteral(SVODAR_CLI_PATH);
        QTemporaryDir tmp;
        if (copied) {
            // An installed layout of its own: qt.conf beside the program
            // tells Qt where its translations are, here nowhere.
            QVERIFY(tmp.isValid());
            program = tmp.filePath("svodar-cli");
            QVERIFY(QFile::copy(QStringLiteral(SVODAR_CLI_PATH), program));
            if (beside) {
                QVERIFY(QDir(tmp.path()).mkdir("translations"));
                QVERIFY(QFile::copy(qm, tmp.filePath("translations/qtbase_ru.qm")));
            }
            if (!qtFolder)
                QVERIFY(tu::writeFile(tmp.filePath("qt.conf"), "[Paths]\nTranslations=" + tmp.filePath("none").toUtf8() + "\n"));
        }
        QProcessEnvironment english = QProcessEnvironment::systemEnvironment();
        english.insert("LANG", "C.UTF-8");
        english.insert("LC_ALL", "C.UTF-8");
        english.insert("LANGUAGE", "en");
        const Result help = runProgram(program, {"--help"}, QString(), english);
        QVERIFY2(help.normalExit && help.exitCode == 0, qPrintable(describe(help)));
        const QString text = QString::fromUtf8(help.out);
        for (const char *english : {"Usage:", "Options:", "Arguments:", "Displays"})
            QVERIFY2(text.contains(QLatin1String(english)) != russian, qPrintable(text));
        for (const QString &russianWord : {QStringLiteral("Использование:"), QStringLiteral("Параметры:")})
            QVERIFY2(text.contains(russianWord) == russian, qPrintable(text));
        // Our own texts are Russian either way.
        QVERIFY(text.contains(QStringLiteral("Код ОКПО головной организации.")));
    }

    void emptyArgumentsMeanCurrentFolder()
    {
        const QString base = fresh();
        QVERIFY(QDir().mkpath(base));
        QVERIFY(tu::writeFile(base + "/a.xml", "<report code=\"F\" year=\"1\" period=\"1\">"
                                               + tu::cell("1", "1", "1", "2") + "</report>"));
        const Result toSub = runCli({"--okpo", "1", "", "sub"}, base);
        QVERIFY2(toSub.normalExit && toSub.exitCode == 0, qPrintable(describe(toSub)));
        QCOMPARE(tu::entries(base + "/sub"), QStringList{"F_1_1.xml"});

        const QString other = fresh();
        QVERIFY(QDir().mkpath(other));
        const Result toCwd = runCli({"--okpo", "1", base, ""}, other);
        QVERIFY2(toCwd.normalExit && toCwd.exitCode == 0, qPrintable(describe(toCwd)));
        QCOMPARE(tu::entries(other), QStringList{"F_1_1.xml"});
        QCOMPARE(tu::readFile(other + "/F_1_1.xml"), tu::readFile(base + "/sub/F_1_1.xml"));
    }

    void pathsAreNotTrimmed()
    {
        const QString base = fresh();
        QVERIFY(QDir().mkpath(base + "/ in"));
        QVERIFY(tu::writeFile(base + "/ in/a.xml", "<report code=\"F\" year=\"1\" period=\"1\">"
                                                    + tu::cell("1", "1", "1", "2") + "</report>"));
        const Result ok = runCli({" in", "out "}, base);
        QVERIFY2(ok.normalExit && ok.exitCode == 0, qPrintable(describe(ok)));
        QCOMPARE(tu::entries(base + "/out "), QStringList{"F_1_1.xml"});

        const Result missing = runCli({"in", "out2"}, base);
        QVERIFY2(missing.normalExit && missing.exitCode == 1, qPrintable(describe(missing)));
        QCOMPARE(errorText(missing), QStringLiteral("Ошибка чтения: Не удаётся нейти исходную папку"));
    }

    void outputIsUtf8WhateverTheLocale()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C");
        env.insert("LANG", "C");
        const QString out = fresh();
        const Result ok = runCli({"--okpo", "12345678", kDataDir + "/input", out}, QString(), env);
        QVERIFY2(ok.normalExit && ok.exitCode == 0, qPrintable(describe(ok)));
        QCOMPARE(ok.out, kSuccess);
        compareWithExpected(out, "value=\"12345678\"");

        const Result bad = runCli({fresh(), fresh()}, QString(), env);
        QVERIFY2(bad.normalExit && bad.exitCode == 1, qPrintable(describe(bad)));
        QVERIFY2(bad.err.contains(QStringLiteral("Ошибка чтения: Не удаётся нейти исходную папку").toUtf8()),
                 bad.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
