// Reading a folder of reports: which entries are read and in which order, the
// messages that stop a run, and how the elements, codes and values of a report
// reach the store.

#include "summer.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString kNoFolder = QStringLiteral("Не удаётся нейти исходную папку");
const QString kNoXmlFiles = QStringLiteral("В исходной папке нет xml-файлов");

QString noReportMessage(const QString &name)
{
    return QStringLiteral("Не удалось прочитать файл ") + name
            + QStringLiteral(" : не найден тег <report> или <draft>");
}

QString noAccessMessage(const QString &name)
{
    return QStringLiteral("Не удалось прочитать файл ") + name + QStringLiteral(" : нет доступа к файлу");
}

// A report of the usual group with one item "who" naming the file it came from.
QByteArray signedReport(const QByteArray &who, const QByteArray &cells = QByteArray())
{
    return "<report code=\"F\" year=\"2014\" period=\"1\"><title><item name=\"who\" value=\"" + who
            + "\"/></title><sections>" + cells + "</sections></report>";
}

// Encodes text as UTF-16 with a byte-order mark.
QByteArray utf16(const QString &text, bool bigEndian)
{
    QByteArray out;
    auto put = [&](char16_t u) {
        const char hi = char(u >> 8), lo = char(u & 0xff);
        if (bigEndian)
            out.append(hi).append(lo);
        else
            out.append(lo).append(hi);
    };
    put(0xfeff);
    for (QChar c : text)
        put(c.unicode());
    return out;
}

// Cells of one section 1, row 1: col code -> value text.
QByteArray oneRow(const QByteArray &cols)
{
    return "<section code=\"1\"><row code=\"1\">" + cols + "</row></section>";
}

} // namespace

class TestReading : public QObject
{
    Q_OBJECT

private:
    QString startDir;

    // Reads a folder holding only the given document, named a.xml unless told.
    bool readOne(Summer &summer, const QByteArray &document,
                 const QString &name = QStringLiteral("a.xml"))
    {
        QTemporaryDir dir;
        if (!dir.isValid() || !tu::writeFile(dir.filePath(name), document))
            return false;
        return summer.readReports(dir.path());
    }

private slots:
    void initTestCase() { startDir = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(startDir); }

    // ---- The folder ----------------------------------------------------------------

    void missingFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("no such path") << "missing";
        QTest::newRow("path names a file") << "file";
        QTest::newRow("path with a trailing blank") << "blank";
        QTest::newRow("link to a file") << "filelink";
        QTest::newRow("dangling link") << "dangling";
    }
    void missingFolder()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir("in"));
        QVERIFY(tu::writeFile(dir.filePath("in/a.xml"), signedReport("a")));
        QVERIFY(tu::writeFile(dir.filePath("file.xml"), signedReport("file")));
        QString path;
        if (kind == "missing")
            path = dir.filePath("nothing/here");
        else if (kind == "file")
            path = dir.filePath("file.xml");
        else if (kind == "filelink")
            path = dir.filePath("filelink");
        else if (kind == "dangling")
            path = dir.filePath("dangling");
        else
            path = dir.filePath("in ");
        QVERIFY(QFile::link(dir.filePath("file.xml"), dir.filePath("filelink")));
        QVERIFY(QFile::link(dir.filePath("gone"), dir.filePath("dangling")));

        Summer summer;
        QVERIFY(!summer.readReports(path));
        QCOMPARE(summer.lastError(), kNoFolder);
        QVERIFY(summer.reportMap().isEmpty());
        QVERIFY(summer.titleItemMap().isEmpty());
    }

    void noXmlEntries_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("empty folder") << QStringList() << QStringList();
        QTest::newRow("only a text file") << QStringList{"a.txt"} << QStringList();
        QTest::newRow("similar names") << QStringList{"b.xml.bak", "xml", "a.xm", "a.xmll", "a.xml~"}
                                       << QStringList{"sub"};
        QTest::newRow("hidden files") << QStringList{".c.xml", ".xml"} << QStringList{".d.xml"};
    }
    void noXmlEntries()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QString &f : files)
            QVERIFY(tu::writeFile(dir.filePath(f), signedReport(f.toUtf8(), tu::cell("1", "1", "1", "1"))));
        for (const QString &f : folders) {
            QVERIFY(QDir(dir.path()).mkdir(f));
            QVERIFY(tu::writeFile(dir.filePath(f + "/a.xml"), signedReport("inner")));
        }
        Summer summer;
        QVERIFY(!summer.readReports(dir.path()));
        QCOMPARE(summer.lastError(), kNoXmlFiles);
        QVERIFY(summer.reportMap().isEmpty());
        QVERIFY(summer.titleItemMap().isEmpty());
    }

    void hiddenFileIsLeftOut()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("a.xml"), signedReport("a", tu::cell("1", "1", "1", "1"))));
        QVERIFY(tu::writeFile(dir.filePath(".c.xml"), signedReport("c", tu::cell("1", "1", "1", "100"))));
        Summer summer;
        QVERIFY(summer.readReports(dir.path()));
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"who=a"});
        QCOMPARE(tu::dump(summer.reportMap()), QStringList{tu::line(1, 1, 1, 1)});
    }

    void extensionCaseIsIgnored()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("B.XML"), signedReport("B", tu::cell("1", "1", "1", "1"))));
        QVERIFY(tu::writeFile(dir.filePath("c.Xml"), signedReport("c", tu::cell("1", "1", "1", "2"))));
        QVERIFY(tu::writeFile(dir.filePath("d.xml.bak"), signedReport("d", tu::cell("1", "1", "1", "4"))));
        Summer summer;
        QVERIFY(summer.readReports(dir.path()));
        QCOMPARE(tu::dump(summer.reportMap()), QStringList{tu::line(1, 1, 1, 3)});
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"who=c"});
    }

    void listingOrderIgnoresCase_data()
    {
        // Every file sets the item "who"; the file read last decides its value.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("readLast");
        QTest::newRow("A b C") << QStringList{"C.xml", "A.xml", "b.xml"} << "C.xml";
        QTest::newRow("upper case against underscore") << QStringList{"aB.xml", "a_.xml"} << "aB.xml";
        QTest::newRow("cyrillic") << QStringList{QStringLiteral("Б.xml"), QStringLiteral("а.xml")}
                                  << QStringLiteral("Б.xml");
        QTest::newRow("digits as text") << QStringList{"9.xml", "10.xml"} << "9.xml";
        QTest::newRow("dot before letters") << QStringList{"a_b.xml", "a.xml", "a.b.xml"} << "a_b.xml";
    }
    void listingOrderIgnoresCase()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, readLast);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QString &f : files)
            QVERIFY(tu::writeFile(dir.filePath(f), signedReport(f.toUtf8())));
        Summer summer;
        QVERIFY(summer.readReports(dir.path()));
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"who=" + readLast});
    }

    void filesAreSummedInListingOrder()
    {
        // 1 + 1 + 1e16 keeps both ones; 1 + 1e16 + 1 loses them. A, b, C is the
        // order with letter case ignored.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("C.xml"), tu::plainReport(tu::cell("1", "1", "1", "1e16"))));
        QVERIFY(tu::writeFile(dir.filePath("A.xml"), tu::plainReport(tu::cell("1", "1", "1", "1"))));
        QVERIFY(tu::writeFile(dir.filePath("b.xml"), tu::plainReport(tu::cell("1", "1", "1", "1"))));
        Summer summer;
        QVERIFY(summer.readReports(dir.path()));
        QCOMPARE(tu::dump(summer.reportMap()), QStringList{tu::line(1, 1, 1, 1e16 + 2)});
    }

    void relativeAndEmptyPaths()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        QVERIFY(QDir(dir.path()).mkdir(" sub"));
        QVERIFY(tu::writeFile(dir.filePath("top.xml"), signedReport("top")));
        QVERIFY(tu::writeFile(dir.filePath("sub/s.xml"), signedReport("sub")));
        QVERIFY(tu::writeFile(dir.filePath(" sub/s.xml"), signedReport("blank sub")));
        QVERIFY(QDir::setCurrent(dir.path()));

        Summer empty;
        QVERIFY(empty.readReports(QString()));
        QCOMPARE(tu::titleDump(empty.titleItemMap()), QStringList{"who=top"});

        Summer relative;
        QVERIFY(relative.readReports("sub"));
        QCOMPARE(tu::titleDump(relative.titleItemMap()), QStringList{"who=sub"});

        Summer untrimmed;
        QVERIFY(untrimmed.readReports(" sub"));
        QCOMPARE(tu::titleDump(untrimmed.titleItemMap()), QStringList{"who=blank sub"});

        QVERIFY(QFile::link(dir.filePath("sub"), dir.filePath("linked")));
        Summer linked;
        QVERIFY(linked.readReports(dir.filePath("linked")));
        QCOMPARE(tu::titleDump(linked.titleItemMap()), QStringList{"who=sub"});
    }

    // ---- Entries that are not regular files ------------------------------------------

    void subFolderAloneGivesEmptyStore()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir("old.xml"));
        QVERIFY(tu::writeFile(dir.filePath("old.xml/a.xml"), signedReport("inner", tu::cell("1", "1", "1", "1"))));
        Summer summer;
        QVERIFY(summer.readReports(dir.path()));
        QVERIFY(summer.reportMap().isEmpty());
        QVERIFY(summer.titleItemMap().isEmpty());
        QCOMPARE(summer.lastError(), QString());
    }

    void fifoOrDanglingLinkAloneGivesEmptyStore()
    {
        // They match *.xml, so the folder has xml entries; none of them is read.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("pipe.xml")).constData(), 0644), 0);
        QVERIFY(QFile::link(dir.filePath("gone.txt"), dir.filePath("link.xml")));
        Summer summer;
        QVERIFY2(summer.readReports(dir.path()), qPrintable(summer.lastError()));
        QVERIFY(summer.reportMap().isEmpty());
        QVERIFY(summer.titleItemMap().isEmpty());
    }

    void nonRegularEntriesAreSkipped()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString d = dir.path();
        QVERIFY(tu::writeFile(dir.filePath("a.xml"), signedReport("a", tu::cell("1", "1", "1", "1"))));
        QVERIFY(QDir(d).mkdir("b.xml"));
        QVERIFY(tu::writeFile(dir.filePath("b.xml/x.xml"), signedReport("b", tu::cell("1", "1", "1", "100"))));
        const QByteArray fifo = QFile::encodeName(dir.filePath("c.xml"));
        QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
        QVERIFY(QFile::link(dir.filePath("nowhere.txt"), dir.filePath("d.xml")));
        QVERIFY(QFile::link(dir.filePath("b.xml"), dir.filePath("e.xml")));
        QVERIFY(QFile::link(dir.filePath("g.xml"), dir.filePath("g.xml")));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), dir.filePath("h.xml")));
        // A link to a regular file is read like the file itself.
        QVERIFY(tu::writeFile(dir.filePath("data.txt"), signedReport("f", tu::cell("1", "1", "1", "2"))));
        QVERIFY(QFile::link(dir.filePath("data.txt"), dir.filePath("f.xml")));

        Summer summer;
        auto run = std::async(std::launch::async, [&] { return summer.readReports(d); });
        if (run.wait_for(60s) != std::future_status::ready) {
            // Wake a reader that hangs in open() or read() on the pipe, then fail.
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            run.wait();
            QFAIL("reading blocked on a FIFO named c.xml");
        }
        QVERIFY2(run.get(), qPrintable(summer.lastError()));
        QCOMPARE(summer.lastError(), QString());
        QCOMPARE(tu::dump(summer.reportMap()), QStringList{tu::line(1, 1, 1, 3)});
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"who=f"});
    }

    void unreadableFileStopsRun_data()
    {
        QTest::addColumn<int>("threads");
        QTest::newRow("one thread") << 1;
        QTest::newRow("four threads") << 4;
    }
    void unreadableFileStopsRun()
    {
        // /proc/self/mem opens but every read at offset 0 fails, even for root.
        QFETCH(int, threads);
        if (!QFileInfo(QStringLiteral("/proc/self/mem")).exists())
            QSKIP("/proc/self/mem is not available");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("a.xml"), signedReport("a", tu::cell("1", "1", "1", "1"))));
        QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), dir.filePath("bad.xml")));
        QVERIFY(tu::writeFile(dir.filePath("c.xml"), signedReport("c", tu::cell("1", "1", "1", "2"))));
        Summer summer;
        summer.setReaderThreads(threads);
        QVERIFY(!summer.readReports(dir.path()));
        QCOMPARE(summer.lastError(), noAccessMessage("bad.xml"));
        QCOMPARE(summer.titleItemMap().value("who"), QStringLiteral("a"));
    }

    void fileWithoutReadPermission()
    {
        if (::geteuid() == 0)
            QSKIP("running as root: file permissions do not prevent reading");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("locked.xml"), signedReport("x", tu::cell("1", "1", "1", "1"))));
        QVERIFY(QFile::setPermissions(dir.filePath("locked.xml"), QFileDevice::Permissions()));
        Summer summer;
        QVERIFY(!summer.readReports(dir.path()));
        QCOMPARE(summer.lastError(), noAccessMessage("locked.xml"));
        QFile::setPermissions(dir.filePath("locked.xml"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    // ---- The report element --------------------------------------------------------------

    void noReportElement_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("zero bytes") << QByteArray();
        QTest::newRow("other root") << QByteArray("<root><sections/></root>");
        QTest::newRow("declaration and comment only")
                << QByteArray("<?xml version=\"1.0\"?>\n<!-- <report code=\"1\"/> -->\n<x>report draft</x>\n");
        QTest::newRow("names differ in case") << QByteArray("<Report code=\"1\"/>");
        QTest::newRow("names with a prefix")
                << QByteArray("<x:report xmlns:x=\"urn:x\" code=\"1\"><x:draft/></x:report>");
        QTest::newRow("report only as attribute or text")
                << QByteArray("<root report=\"1\" draft=\"2\">report</root>");
        QTest::newRow("item and sections but no report")
                << QByteArray("<root><title><item name=\"a\" value=\"b\"/></title><sections>"
                              "<section code=\"1\"><row code=\"1\"><col code=\"1\">5</col></row></section>"
                              "</sections></root>");
        // Broken before its report element was reached: nothing shows it is a report.
        QTest::newRow("error before the report element")
                << QByteArray("<root>&undefined;<report code=\"1\"/></root>");
        QTest::newRow("garbage") << QByteArray("hello");
    }
    void noReportElement()
    {
        QFETCH(QByteArray, content);
        Summer summer;
        QVERIFY(!readOne(summer, content, QStringLiteral("x.xml")));
        QCOMPARE(summer.lastError(), noReportMessage("x.xml"));
        QVERIFY(summer.reportMap().isEmpty());
        QVERIFY(summer.titleItemMap().isEmpty());
    }

    void messageNamesFileAsListed()
    {
        const QString name = QStringLiteral("Отчёт 1.XML");
        Summer summer;
        QVERIFY(!readOne(summer, "<root/>", name));
        QCOMPARE(summer.lastError(), noReportMessage(name));
    }

    void fileWithoutReportStopsRun_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<bool>("xmlErrorFirst");
        for (int threads : {1, 2, 4, 0}) {
            QTest::addRow("%d threads, missing report first", threads) << threads << false;
            QTest::addRow("%d threads, xml error first", threads) << threads << true;
        }
    }
    void fileWithoutReportStopsRun()
    {
        // a.xml is kept, b.xml stops the run, c.xml and the rest are not read;
        // d.xml is broken in the other way, but b.xml comes first.
        QFETCH(int, threads);
        QFETCH(bool, xmlErrorFirst);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("a.xml"), signedReport("a", tu::cell("1", "1", "1", "1"))));
        const QByteArray noReport = "<root><title><item name=\"who\" value=\"b\"/><item name=\"bonly\"/></title>"
                + tu::cell("1", "1", "1", "10") + "</root>";
        const QByteArray xmlError = "<report code=\"F\" year=\"2014\" period=\"1\"><title><item name=\"who\" value=\"b\"/>"
                "</title>\n" + tu::cell("1", "1", "1", "10") + "\n</sections></report>";
        QVERIFY(tu::writeFile(dir.filePath("b.xml"), xmlErrorFirst ? xmlError : noReport));
        QVERIFY(tu::writeFile(dir.filePath("d.xml"), xmlErrorFirst ? noReport : xmlError));
        QVERIFY(tu::writeFile(dir.filePath("c.xml"),
                              "<report code=\"G\"><title><item name=\"conly\"/></title>"
                                      + tu::cell("1", "1", "1", "100") + "</report>"));
        for (int i = 0; i < 20; ++i)
            QVERIFY(tu::writeFile(dir.filePath(QStringLiteral("e%1.xml").arg(i)),
                                  signedReport("e", tu::cell("1", "1", "1", "1000"))));
        Summer summer;
        summer.setReaderThreads(threads);
        QVERIFY(!summer.readReports(dir.path()));
        if (xmlErrorFirst)
            QVERIFY2(summer.lastError().startsWith(
                             QStringLiteral("Не удалось прочитать файл b.xml : ошибка XML в строке 3, столбце ")),
                     qPrintable(summer.lastError()));
        else
            QCOMPARE(summer.lastError(), noReportMessage("b.xml"));
        QCOMPARE(tu::dump(summer.reportMap()), QStringList{tu::line(1, 1, 1, 1)});
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"who=a"});
    }

    void reportElementChoice_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QStringList>("expected");
        const QByteArray c1 = tu::cell("1", "1", "1", "5");
        QTest::newRow("report attributes") << QByteArray("<report code=\"A\" year=\"1\" period=\"2\" form=\"x\">" + c1 + "</report>")
                                           << QStringList{"A|1|2 s1 r1[||] c1=5"};
        QTest::newRow("absent attributes") << QByteArray("<report>" + c1 + "</report>")
                                           << QStringList{"|| s1 r1[||] c1=5"};
        QTest::newRow("untrimmed attributes")
                << QByteArray("<report code=\" A \" year=\"2014 \" period=\"\">" + c1 + "</report>")
                << QStringList{" A |2014 | s1 r1[||] c1=5"};
        QTest::newRow("draft alone") << QByteArray("<draft code=\"D\" year=\"1\">" + c1 + "</draft>")
                                     << QStringList{"D|1| s1 r1[||] c1=5"};
        QTest::newRow("report after a draft")
                << QByteArray("<root><draft code=\"D\">" + c1 + "</draft><report code=\"R\"/></root>")
                << QStringList{"R|| s1 r1[||] c1=5"};
        QTest::newRow("report inside a draft")
                << QByteArray("<draft code=\"D\"><x><report code=\"R\"/></x>" + c1 + "</draft>")
                << QStringList{"R|| s1 r1[||] c1=5"};
        QTest::newRow("first of two reports")
                << QByteArray("<root><report code=\"1\">" + c1 + "</report><report code=\"2\">" + c1 + "</report></root>")
                << QStringList{"1|| s1 r1[||] c1=10"};
        QTest::newRow("outer of nested reports")
                << QByteArray("<report code=\"1\"><report code=\"2\"/>" + c1 + "</report>")
                << QStringList{"1|| s1 r1[||] c1=5"};
        QTest::newRow("first of two drafts")
                << QByteArray("<root><draft code=\"1\"/><draft code=\"2\">" + c1 + "</draft></root>")
                << QStringList{"1|| s1 r1[||] c1=5"};
        QTest::newRow("deep report") << QByteArray("<a><b><c><report code=\"X\"/></c></b>" + c1 + "</a>")
                                     << QStringList{"X|| s1 r1[||] c1=5"};
        QTest::newRow("sections before the report element")
                << QByteArray("<root><sections>" + c1 + "</sections><report code=\"R\" year=\"Y\"/></root>")
                << QStringList{"R|Y| s1 r1[||] c1=5"};
        QTest::newRow("sections before a late report, draft first")
                << QByteArray("<root><draft code=\"D\"/>" + c1 + "<x><report code=\"R\"/></x>" + c1 + "</root>")
                << QStringList{"R|| s1 r1[||] c1=10"};
        QTest::newRow("wrongly cased report does not beat a draft")
                << QByteArray("<root><REPORT code=\"U\"/><draft code=\"D\"/>" + c1 + "</root>")
                << QStringList{"D|| s1 r1[||] c1=5"};
        QTest::newRow("prefixed report does not beat a draft")
                << QByteArray("<root xmlns:x=\"urn:x\"><x:report code=\"U\"/><draft code=\"D\"/>" + c1 + "</root>")
                << QStringList{"D|| s1 r1[||] c1=5"};
        QTest::newRow("default namespace does not change names")
                << QByteArray("<report xmlns=\"urn:x\" code=\"N\">" + c1 + "</report>")
                << QStringList{"N|| s1 r1[||] c1=5"};
        QTest::newRow("prefixed attributes do not count")
                << QByteArray("<report xmlns:x=\"urn:x\" x:code=\"U\" code=\"C\">" + c1 + "</report>")
                << QStringList{"C|| s1 r1[||] c1=5"};
        QTest::newRow("entities in attributes")
                << QByteArray("<report code=\"a&amp;b&lt;c&gt;&quot;&apos;&#1060;&#x42f;\">" + c1 + "</report>")
                << QStringList{QStringLiteral("a&b<c>\"'ФЯ|| s1 r1[||] c1=5")};
    }
    void reportElementChoice()
    {
        QFETCH(QByteArray, document);
        QFETCH(QStringList, expected);
        Summer summer;
        QVERIFY2(readOne(summer, document), qPrintable(summer.lastError()));
        QCOMPARE(tu::dump(summer.reportMap()), expected);
    }

    // ---- XML errors ----------------------------------------------------------------

    void xmlErrors_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("line");     // 0: any
        QTest::addColumn<int>("firstColumn");
        QTest::addColumn<int>("lastColumn"); // 0: any

        QTest::newRow("mismatched end tag")
                << QByteArray("<report code=\"1\">\n<sections>\n</section>\n</report>\n") << 3 << 1 << 3;
        QTest::newRow("mismatched end tag after crlf line ends")
                << QByteArray("<report code=\"1\">\r\n<title><item name=\"x\"/></title>\r\n<sections>\r\n</section>\r\n") << 4 << 1 << 3;
        QTest::newRow("invalid byte")
                << QByteArray("<report code=\"1\">\nabcd\xff</report>\n") << 2 << 5 << 5;
        QTest::newRow("cut off in the sections")
                << QByteArray("<report code=\"1\"><sections><section code=\"1\"><row code=\"1\">"
                              "<col code=\"1\">5</col></row></section>\n<section code=\"2\"><row co")
                << 0 << 1 << 0;
        QTest::newRow("cut off after a complete cell")
                << QByteArray("<report code=\"1\">\n<sections>\n" + tu::cell("1", "1", "1", "5") + "\n") << 0 << 1 << 0;
        QTest::newRow("bad utf-8 in an attribute")
                << QByteArray("<report code=\"\xc3(\"/>") << 1 << 1 << 0;
        QTest::newRow("byte above ascii in us-ascii")
                << QByteArray("<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<report code=\"\xc4\"/>\n") << 2 << 1 << 0;
        QTest::newRow("utf-8 encoded surrogate") << QByteArray("<report code=\"1\">\xed\xa0\x80</report>") << 1 << 1 << 0;
        QTest::newRow("overlong utf-8") << QByteArray("<report code=\"1\">\xc0\xaf</report>") << 1 << 1 << 0;
        QTest::newRow("control character") << QByteArray("<report code=\"1\">\x01</report>") << 1 << 1 << 0;
        QTest::newRow("two root elements") << QByteArray("<report code=\"1\"/>\n<report code=\"2\"/>\n") << 2 << 1 << 0;
        QTest::newRow("undefined entity") << QByteArray("<report code=\"1\">&nbsp;</report>") << 1 << 1 << 0;
        QTest::newRow("duplicate attribute") << QByteArray("<report code=\"1\" code=\"2\"/>") << 1 << 1 << 0;
        QTest::newRow("cut off in the report start tag")
                << QByteArray("<?xml version=\"1.0\"?>\n<report code=\"06010") << 2 << 1 << 0;
        QTest::newRow("cut off in the draft start tag") << QByteArray("<draft") << 1 << 1 << 0;
        QTest::newRow("unsupported encoding")
                << QByteArray("<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?>\n<report code=\"1\"/>\n")
                << 0 << 1 << 0;

        QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE report [\n <!ENTITY e0 \"0123456789\">\n";
        for (int i = 1; i <= 12; ++i) {
            bomb += " <!ENTITY e" + QByteArray::number(i) + " \"";
            for (int k = 0; k < 10; ++k)
                bomb += "&e" + QByteArray::number(i - 1) + ";";
            bomb += "\">\n";
        }
        bomb += "]>\n<report code=\"1\"><sections>" + tu::cell("1", "1", "1", "&e12;") + "</sections></report>\n";
        QTest::newRow("entity expansion bomb") << bomb << 0 << 1 << 0;
        // Each open element costs the parser memory: a limit of about two million.
        const int depth = (1 << 21) + 1;
        QByteArray deep = "<report code=\"1\">";
        const int column = int(deep.size()) + 3 * (depth - 1) + 1;
        deep += QByteArray("<a>").repeated(depth) + "</report>";
        QTest::newRow("elements nested too deep") << deep << 1 << column << column;
        // 2,100 sections around 2,100 rows: one value would count 4,410,000 times.
        const QByteArray pairs = "<report code=\"1\">" + QByteArray("<section code=\"1\">").repeated(2100)
                + QByteArray("<row code=\"1\">").repeated(2100) + "<col code=\"1\">5</col>";
        QTest::newRow("nesting multiplies a value too often")
                << pairs << 1 << int(pairs.size()) - 5 << int(pairs.size()) + 1; // at </col>
    }
    void xmlErrors()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, line);
        QFETCH(int, firstColumn);
        QFETCH(int, lastColumn);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("a.xml"), signedReport("a", tu::cell("1", "1", "1", "1"))));
        QVERIFY(tu::writeFile(dir.filePath("bad.xml"), content));
        QVERIFY(tu::writeFile(dir.filePath("c.xml"), signedReport("c", tu::cell("1", "1", "1", "2"))));
        Summer summer;
        QVERIFY(!summer.readReports(dir.path()));
        static const QRegularExpression form(QStringLiteral(
                "^Не удалось прочитать файл bad\\.xml : ошибка XML в строке ([1-9][0-9]*), столбце ([1-9][0-9]*)$"));
        const QRegularExpressionMatch m = form.match(summer.lastError());
        QVERIFY2(m.hasMatch(), qPrintable(summer.lastError()));
        if (line)
            QCOMPARE(m.captured(1).toInt(), line);
        const int column = m.captured(2).toInt();
        QVERIFY2(column >= firstColumn && (lastColumn == 0 || column <= lastColumn),
                 qPrintable(summer.lastError()));
        // Nothing of the broken file is kept, and c.xml is not read.
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"who=a"});
        QCOMPARE(tu::dump(summer.reportMap()), QStringList{tu::line(1, 1, 1, 1)});
    }

    // An error inside a report or draft start tag makes an XML error; an error
    // anywhere else before one is "no report element", whatever text looks like a
    // tag in attribute values, comments or CDATA.
    void errorAtTheReportTag_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message"); // after "... bad.xml : "
        const QString notFound = QStringLiteral("не найден тег <report> или <draft>");
        auto at = [](int line, int column) {
            return QStringLiteral("ошибка XML в строке %1, столбце %2").arg(line).arg(column);
        };
        auto utf16 = [](const QString &text, bool littleEndian) {
            QByteArray bytes = littleEndian ? QByteArray("\xff\xfe") : QByteArray("\xfe\xff");
            for (const QChar c : text) {
                const char low = char(c.unicode() & 0xff), high = char(c.unicode() >> 8);
                bytes += littleEndian ? QByteArray{&low, 1} + QByteArray{&high, 1}
                                      : QByteArray{&high, 1} + QByteArray{&low, 1};
            }
            return bytes;
        };

        QTest::newRow("'<' in a report attribute") << QByteArray("<report bad=\"<\">") << at(1, 14);
        QTest::newRow("control character right after the name") << QByteArray("<report\x01>") << at(1, 8);
        QTest::newRow("bad utf-8 right after the name") << QByteArray("<draft\xff code=\"1\"/>") << at(1, 7);
        QTest::newRow("no-break space after the name") << QByteArray("<report\xc2\xa0/>") << at(1, 8);
        QTest::newRow("report tag after a megabyte of comment")
                << "<!--" + QByteArray(1536 * 1024, 'x') + "-->\n<report a=\"1\" a=\"2\"/>" << at(2, 15);
        QTest::newRow("windows-1251")
                << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1251\"?><report bad=\"<\"/>") << at(1, 59);
        QTest::newRow("utf-16le, duplicate attribute")
                << utf16(QStringLiteral("<report a=\"1\" a=\"2\"/>"), true) << at(1, 16);
        QTest::newRow("utf-16be, cut off") << utf16(QStringLiteral("<report code=\"1\""), false) << at(1, 2);

        QTest::newRow("longer name") << QByteArray("<reportx bad=\"<\"/>") << notFound;
        QTest::newRow("longer name, cyrillic letter") << QByteArray("<report\xd0\xb9 bad=\"<\"/>") << notFound;
        QTest::newRow("tag text in an attribute") << QByteArray("<doc a=\"<report x\">") << notFound;
        QTest::newRow("tag text in a comment") << QByteArray("<doc><!-- <report --> &u;</doc>") << notFound;
        QTest::newRow("tag text in cdata") << QByteArray("<doc><![CDATA[<report ]]>&u;</doc>") << notFound;
    }
    void errorAtTheReportTag()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        Summer summer;
        QVERIFY(!readOne(summer, content, QStringLiteral("bad.xml")));
        QCOMPARE(summer.lastError(), QStringLiteral("Не удалось прочитать файл bad.xml : ") + message);
    }

    // ---- Title items -----------------------------------------------------------------

    void titleItems_data()
    {
        QTest::addColumn<QList<QByteArray>>("documents");
        QTest::addColumn<QStringList>("expected");
        auto doc = [](const QByteArray &items) {
            return "<report code=\"F\"><title>" + items + "</title></report>";
        };
        QTest::newRow("last file wins")
                << QList<QByteArray>{doc("<item name=\"n\" value=\"1\"/><item name=\"m\" value=\"x\"/>"),
                                     doc("<item name=\"n\" value=\"2\"/>")}
                << QStringList{"m=x", "n=2"};
        QTest::newRow("last in a file wins")
                << QList<QByteArray>{doc("<item name=\"n\" value=\"1\"/><item name=\"n\" value=\"2\"/>")}
                << QStringList{"n=2"};
        QTest::newRow("absent name and value")
                << QList<QByteArray>{doc("<item value=\"v\"/><item name=\"noval\"/>")}
                << QStringList{"=v", "noval="};
        QTest::newRow("okpo is an ordinary item")
                << QList<QByteArray>{doc("<item name=\"okpo\" value=\"999\"/><item name=\"OKPO\" value=\"1\"/>")}
                << QStringList{"OKPO=1", "okpo=999"};
        QTest::newRow("items anywhere in the document")
                << QList<QByteArray>{"<root><item name=\"before\" value=\"1\"/><report code=\"F\"/>"
                                     "<x><y><item name=\"deep\" value=\"2\"/></y></x></root>"}
                << QStringList{"before=1", "deep=2"};
        QTest::newRow("other element names are ignored")
                << QList<QByteArray>{doc("<Item name=\"a\" value=\"1\"/><items name=\"b\" value=\"2\"/>"
                                         "<x:item xmlns:x=\"urn:x\" name=\"c\" value=\"3\"/>")}
                << QStringList();
        QTest::newRow("values kept verbatim")
                << QList<QByteArray>{doc("<item name=\" n \" value=\" a&amp;b &lt;&gt; &quot;q&quot; &#1087;&#x9;\"/>")}
                << QStringList{QStringLiteral(" n = a&b <> \"q\" п\t")};
    }
    void titleItems()
    {
        QFETCH(QList<QByteArray>, documents);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (int i = 0; i < documents.size(); ++i)
            QVERIFY(tu::writeFile(dir.filePath(QStringLiteral("%1.xml").arg(i)), documents.at(i)));
        Summer summer;
        QVERIFY2(summer.readReports(dir.path()), qPrintable(summer.lastError()));
        QCOMPARE(tu::titleDump(summer.titleItemMap()), expected);
        QVERIFY(summer.reportMap().isEmpty());
    }

    // ---- Codes and values --------------------------------------------------------------

    void codes_data()
    {
        QTest::addColumn<QByteArray>("attribute"); // the whole code attribute, may be empty
        QTest::addColumn<qint64>("expected");      // -1: rejected
        QTest::newRow("0") << QByteArray("code=\"0\"") << qint64(0);
        QTest::newRow("7") << QByteArray("code=\"7\"") << qint64(7);
        QTest::newRow("leading zeros") << QByteArray("code=\"0007\"") << qint64(7);
        QTest::newRow("blanks around") << QByteArray("code=\" 7 \"") << qint64(7);
        QTest::newRow("tab and line feed around") << QByteArray("code=\"&#9;7&#10;\"") << qint64(7);
        QTest::newRow("largest") << QByteArray("code=\"4294967295\"") << qint64(4294967295LL);
        QTest::newRow("too large") << QByteArray("code=\"4294967296\"") << qint64(-1);
        QTest::newRow("far too large") << QByteArray("code=\"99999999999999999999\"") << qint64(-1);
        QTest::newRow("negative") << QByteArray("code=\"-1\"") << qint64(-1);
        QTest::newRow("fraction") << QByteArray("code=\"1.0\"") << qint64(-1);
        QTest::newRow("empty") << QByteArray("code=\"\"") << qint64(-1);
        QTest::newRow("blank") << QByteArray("code=\" \"") << qint64(-1);
        QTest::newRow("absent") << QByteArray() << qint64(-1);
        QTest::newRow("letters first") << QByteArray("code=\"x1\"") << qint64(-1);
        QTest::newRow("letters last") << QByteArray("code=\"1x\"") << qint64(-1);
        QTest::newRow("hex") << QByteArray("code=\"0x10\"") << qint64(-1);
        QTest::newRow("inner blank") << QByteArray("code=\"1 2\"") << qint64(-1);
        QTest::newRow("wrong attribute case") << QByteArray("CODE=\"3\"") << qint64(-1);
    }
    void codes()
    {
        QFETCH(QByteArray, attribute);
        QFETCH(qint64, expected);
        const bool ok = expected >= 0;
        const quint32 c = ok ? quint32(expected) : 0;
        struct Position
        {
            QByteArray body;
            QString line;
        };
        const Position positions[] = {
            {"<section " + attribute + "><row code=\"2\"><col code=\"3\">1</col></row></section>",
             tu::line(c, 2, 3, 1)},
            {"<section code=\"4\"><row " + attribute + "><col code=\"5\">2</col></row></section>",
             tu::line(4, c, 5, 2)},
            {"<section code=\"6\"><row code=\"7\"><col " + attribute + ">4</col></row></section>",
             tu::line(6, 7, c, 4)},
        };
        for (const Position &p : positions) {
            Summer summer;
            QVERIFY(readOne(summer, tu::plainReport(p.body)));
            QCOMPARE(tu::dump(summer.reportMap()), ok ? QStringList{p.line} : QStringList());
        }
    }

    void values_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("expected");
        QTest::newRow("integer") << QByteArray("12") << true << 12.0;
        QTest::newRow("blanks around") << QByteArray("  12  ") << true << 12.0;
        QTest::newRow("own line") << QByteArray("\n    12\n   ") << true << 12.0;
        QTest::newRow("crlf and tabs") << QByteArray("\r\n\t12\t\r\n") << true << 12.0;
        QTest::newRow("trailing zero fraction") << QByteArray("12.0") << true << 12.0;
        QTest::newRow("leading zeros") << QByteArray("0012") << true << 12.0;
        QTest::newRow("negative fraction") << QByteArray("-3.5") << true << -3.5;
        QTest::newRow("exponent") << QByteArray("1e3") << true << 1000.0;
        QTest::newRow("negative exponent") << QByteArray("-2.5E-2") << true << -0.025;
        QTest::newRow("comma decimal") << QByteArray("12,5") << true << 12.5;
        QTest::newRow("negative comma decimal") << QByteArray("-0,25") << true << -0.25;
        QTest::newRow("comma decimal with blanks") << QByteArray(" 12,5 ") << true << 12.5;
        QTest::newRow("one comma is a decimal point") << QByteArray("1,000") << true << 1.0;
        QTest::newRow("large") << QByteArray("1e300") << true << 1e300;
        QTest::newRow("small") << QByteArray("2.5e-300") << true << 2.5e-300;
        QTest::newRow("empty") << QByteArray() << false << 0.0;
        QTest::newRow("blanks only") << QByteArray("   \n\t ") << false << 0.0;
        QTest::newRow("letters") << QByteArray("abc") << false << 0.0;
        QTest::newRow("trailing letters") << QByteArray("12abc") << false << 0.0;
        QTest::newRow("inner blank") << QByteArray("1 2") << false << 0.0;
        QTest::newRow("two points") << QByteArray("1.2.3") << false << 0.0;
        QTest::newRow("group and decimal") << QByteArray("1,000.5") << false << 0.0;
        QTest::newRow("point and comma") << QByteArray("1.000,5") << false << 0.0;
        QTest::newRow("two commas") << QByteArray("1,2,3") << false << 0.0;
        QTest::newRow("inf") << QByteArray("inf") << false << 0.0;
        QTest::newRow("-INF") << QByteArray("-INF") << false << 0.0;
        QTest::newRow("+Inf") << QByteArray("+Inf") << false << 0.0;
        QTest::newRow("nan") << QByteArray("nan") << false << 0.0;
        QTest::newRow("NaN") << QByteArray("NaN") << false << 0.0;
        QTest::newRow("-nan") << QByteArray("-nan") << false << 0.0;
        QTest::newRow("overflow") << QByteArray("1e400") << false << 0.0;
        QTest::newRow("negative overflow") << QByteArray("-1e400") << false << 0.0;
        QTest::newRow("underflow") << QByteArray("1e-400") << false << 0.0;
        QTest::newRow("escaped ampersand") << QByteArray("1&amp;2") << false << 0.0;
    }
    void values()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, accepted);
        QFETCH(double, expected);
        Summer summer;
        QVERIFY(readOne(summer, tu::plainReport(oneRow("<col code=\"1\">" + text + "</col><col code=\"2\">1</col>"))));
        QStringList want;
        if (accepted)
            want << tu::line(1, 1, 1, expected);
        want << tu::line(1, 1, 2, 1);
        QCOMPARE(tu::dump(summer.reportMap()), want);
    }

    void firstChildOfCol_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("expected");
        QTest::newRow("text, comment, text") << QByteArray("5<!--c-->7") << true << 5.0;
        QTest::newRow("text, processing instruction, text") << QByteArray("5<?pi x?>7") << true << 5.0;
        QTest::newRow("text, element, text") << QByteArray("5<b>7</b>9") << true << 5.0;
        QTest::newRow("text before a comment with blanks") << QByteArray("  5  <!--c-->") << true << 5.0;
        QTest::newRow("comment first") << QByteArray("<!--c-->5") << false << 0.0;
        QTest::newRow("blanks, then comment") << QByteArray("  \n <!--c-->5") << false << 0.0;
        QTest::newRow("processing instruction first") << QByteArray("<?pi x?>5") << false << 0.0;
        QTest::newRow("element first") << QByteArray("<b>5</b>") << false << 0.0;
        QTest::newRow("blanks, then element") << QByteArray("  <b/>5") << false << 0.0;
        QTest::newRow("empty element") << QByteArray() << false << 0.0;
        QTest::newRow("cdata") << QByteArray("<![CDATA[5]]>") << true << 5.0;
        QTest::newRow("blanks, then cdata") << QByteArray("  \n<![CDATA[ 6 ]]>") << true << 6.0;
        QTest::newRow("text, then cdata") << QByteArray("1<![CDATA[2]]>") << true << 1.0;
        QTest::newRow("cdata, then text") << QByteArray("<![CDATA[1]]>2") << true << 1.0;
        QTest::newRow("character reference inside") << QByteArray("1&#50;3") << true << 123.0;
        QTest::newRow("character reference first") << QByteArray("&#49;2") << true << 12.0;
        QTest::newRow("hex reference last") << QByteArray("1&#x32;") << true << 12.0;
        QTest::newRow("references for sign and point") << QByteArray("&#45;1&#46;5") << true << -1.5;
        // Texts far longer than any number: kept to a bounded size, same meaning.
        const QByteArray blanks(3 << 20, ' '), mib(1 << 20, '0');
        QTest::newRow("number between long blanks") << blanks + "5" + blanks << true << 5.0;
        QTest::newRow("number, long blanks, more text") << "5" + blanks + "6" << false << 0.0;
        QTest::newRow("a MiB of digits") << mib.chopped(1) + "7" + blanks << true << 7.0;
        QTest::newRow("more than a MiB of digits") << mib + "7" << false << 0.0;
        QTest::newRow("long text, then cdata") << QByteArray(3 << 20, 'x') + "<![CDATA[6]]>" << false << 0.0;
    }
    void firstChildOfCol()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, accepted);
        QFETCH(double, expected);
        Summer summer;
        QVERIFY(readOne(summer, tu::plainReport(oneRow("<col code=\"1\">" + content + "</col><col code=\"2\">1</col>"))));
        QStringList want;
        if (accepted)
            want << tu::line(1, 1, 1, expected);
        want << tu::line(1, 1, 2, 1);
        QCOMPARE(tu::dump(summer.reportMap()), want);
    }

    void referenceToUndeclaredEntityIsLeftOut()
    {
        // With an external DTD that is never loaded, an unknown entity cannot be
        // resolved; it is dropped and the text around it stays one text.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(tu::writeFile(dir.filePath("a.xml"),
                              "<!DOCTYPE report SYSTEM \"report.dtd\"><report code=\"F\" year=\"2014\" period=\"1\"><section code=\"1\">"
                              "<row code=\"1\"><col code=\"1\">1&undeclared;2</col><col code=\"2\">&undeclared;3</col>"
                              "</row></section></report>"));
        Summer summer;
        QVERIFY(summer.readReports(dir.path()));
        QCOMPARE(tu::dump(summer.reportMap()), QStringList({tu::line(1, 1, 1, 12), tu::line(1, 1, 2, 3)}));
    }

    void longTextsAcrossReadBuffers()
    {
        // Many values with varying padding, so that values, blanks and references
        // fall across whatever chunk boundaries the reader uses.
        QByteArray body = "<section code=\"1\">";
        const int rows = 3000;
        for (int r = 0; r < rows; ++r) {
            body += "<row code=\"" + QByteArray::number(r) + "\">";
            for (int c = 0; c < 4; ++c) {
                const int pad = (r * 7 + c * 13) % 37;
                body += "<col code=\"" + QByteArray::number(c) + "\">" + QByteArray(pad, ' ')
                        + (c == 3 ? "12345&#54;7.25" : "1234567.25") + QByteArray(pad % 5, '\n') + "</col>";
            }
            body += "</row>";
        }
        body += "</section>";
        QByteArray longBlank = "<section code=\"2\"><row code=\"1\"><col code=\"1\">" + QByteArray(200000, ' ')
                + "-42.5" + QByteArray(200000, '\n') + "</col>"
                + "<col code=\"2\">" + QByteArray(300000, ' ') + "<!--x-->5</col></row></section>";
        Summer summer;
        QVERIFY(readOne(summer, tu::plainReport(body + longBlank)));
        const ReportMap &reports = summer.reportMap();
        QCOMPARE(reports.size(), 1);
        const SectionMap &sections = reports.first();
        QCOMPARE(sections.size(), 2);
        QCOMPARE(sections.value(1).size(), rows);
        int cells = 0;
        const RowMap firstRows = sections.value(1);
        for (const ColMap &cols : firstRows) {
            for (const auto &e : cols) {
                QCOMPARE(tu::number(e.total), QStringLiteral("1234567.25"));
                ++cells;
            }
        }
        QCOMPARE(cells, rows * 4);
        const RowMap lastRows = sections.value(2);
        QCOMPARE(lastRows.size(), 1);
        const ColMap last = lastRows.first();
        QCOMPARE(last.size(), std::size_t(1));
        QCOMPARE(last.value(1), -42.5);
    }

    // ---- Structure -------------------------------------------------------------------

    void structure_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("sections without wrapper")
                << QByteArray("</sections>" + tu::cell("1", "1", "1", "5") + "<sections>")
                << QStringList{tu::line(1, 1, 1, 5)};
        QTest::newRow("same address twice adds")
                << QByteArray(tu::cell("1", "1", "1", "5") + tu::cell("01", "1", "001", "2.5"))
                << QStringList{tu::line(1, 1, 1, 7.5)};
        QTest::newRow("nested sections count twice")
                << QByteArray("<section code=\"1\"><section code=\"2\"><row code=\"3\"><col code=\"4\">5</col></row></section></section>")
                << QStringList{tu::line(1, 3, 4, 5), tu::line(2, 3, 4, 5)};
        QTest::newRow("nested sections with the same code")
                << QByteArray("<section code=\"1\"><section code=\"1\"><row code=\"3\"><col code=\"4\">5</col></row></section></section>")
                << QStringList{tu::line(1, 3, 4, 10)};
        QTest::newRow("nested rows count twice")
                << QByteArray("<section code=\"1\"><row code=\"2\"><row code=\"3\"><col code=\"4\">5</col></row></row></section>")
                << QStringList{tu::line(1, 2, 4, 5), tu::line(1, 3, 4, 5)};
        QTest::newRow("row deep below its section")
                << QByteArray("<section code=\"1\"><g><h><row code=\"2\"><col code=\"3\">5</col></row></h></g></section>")
                << QStringList{tu::line(1, 2, 3, 5)};
        QTest::newRow("col deep below its row")
                << QByteArray("<section code=\"1\"><row code=\"2\"><x><y><col code=\"3\">5</col></y></x></row></section>")
                << QStringList{tu::line(1, 2, 3, 5)};
        QTest::newRow("col inside a col")
                << QByteArray("<section code=\"1\"><row code=\"2\"><col code=\"3\"><col code=\"4\">5</col></col></row></section>")
                << QStringList{tu::line(1, 2, 4, 5)};
        QTest::newRow("col with text inside a col")
                << QByteArray("<section code=\"1\"><row code=\"2\"><col code=\"3\">1<col code=\"4\">5</col></col></row></section>")
                << QStringList{tu::line(1, 2, 3, 1), tu::line(1, 2, 4, 5)};
        QTest::newRow("section inside a row")
                << QByteArray("<section code=\"1\"><row code=\"1\"><section code=\"2\"><col code=\"1\">5</col></section></row></section>")
                << QStringList{tu::line(1, 1, 1, 5)};
        QTest::newRow("section with a row inside a row")
                << QByteArray("<section code=\"1\"><row code=\"1\"><section code=\"2\"><row code=\"2\"><col code=\"1\">5</col>"
                              "</row></section></row></section>")
                << QStringList{tu::line(1, 1, 1, 5), tu::line(1, 2, 1, 5), tu::line(2, 2, 1, 5)};
        QTest::newRow("row inside a col")
                << QByteArray("<section code=\"1\"><row code=\"1\"><col code=\"1\">5<row code=\"2\"><col code=\"2\">6</col></row>"
                              "</col></row></section>")
                << QStringList{tu::line(1, 1, 1, 5), tu::line(1, 1, 2, 6), tu::line(1, 2, 2, 6)};
        QTest::newRow("row outside any section")
                << QByteArray("<row code=\"1\"><col code=\"1\">5</col></row>") << QStringList();
        QTest::newRow("col outside any row")
                << QByteArray("<section code=\"1\"><col code=\"1\">5</col></section>") << QStringList();
        QTest::newRow("bad section code skips its rows")
                << QByteArray("<section code=\"x1\"><row code=\"1\"><col code=\"1\">5</col></row></section>")
                << QStringList();
        QTest::newRow("bad inner section, good outer")
                << QByteArray("<section code=\"1\"><section code=\"x\"><row code=\"2\"><col code=\"3\">5</col></row></section></section>")
                << QStringList{tu::line(1, 2, 3, 5)};
        QTest::newRow("bad outer section, good inner")
                << QByteArray("<section code=\"x\"><section code=\"2\"><row code=\"2\"><col code=\"3\">5</col></row></section></section>")
                << QStringList{tu::line(2, 2, 3, 5)};
        QTest::newRow("bad outer row, good inner")
                << QByteArray("<section code=\"1\"><row code=\"-1\"><row code=\"2\"><col code=\"3\">5</col></row>"
                              "<col code=\"4\">6</col></row></section>")
                << QStringList{tu::line(1, 2, 3, 5)};
        QTest::newRow("bad col code, good inner col")
                << QByteArray("<section code=\"1\"><row code=\"2\"><col code=\"1.5\">7<col code=\"3\">5</col></col></row></section>")
                << QStringList{tu::line(1, 2, 3, 5)};
        QTest::newRow("other names are ignored")
                << QByteArray("<Section code=\"1\"><row code=\"1\"><col code=\"1\">5</col></row></Section>"
                              "<section code=\"2\" xmlns:x=\"urn:x\"><x:row code=\"1\"><col code=\"1\">5</col></x:row>"
                              "<row code=\"2\"><x:col code=\"1\">5</x:col><COL code=\"2\">5</COL><col code=\"3\">6</col></row></section>")
                << QStringList{tu::line(2, 2, 3, 6)};
        QTest::newRow("s attributes verbatim")
                << QByteArray("<section code=\"1\"><row code=\"2\" s1=\" a&amp;b \" s2=\"&lt;&quot;\" s3=\"&#1092;&#9;\">"
                              "<col code=\"3\">5</col></row></section>")
                << QStringList{QStringLiteral("F|2014|1 s1 r2[ a&b |<\"|ф\t] c3=5")};
    }
    void structure()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, expected);
        Summer summer;
        QVERIFY2(readOne(summer, tu::plainReport(body)), qPrintable(summer.lastError()));
        QCOMPARE(tu::dump(summer.reportMap()), expected);
    }

    void walkOrder_data()
    {
        // Adding 1, 1e16, 1 gives 1e16; adding 1, 1, 1e16 gives 1e16 + 2. So the total
        // shows whether each section's rows, and each row's columns, are walked one
        // after the other (the expected order), or the file is taken in plain
        // document order.
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nested sections")
                << QByteArray("<section code=\"1\"><section code=\"1\"><row code=\"1\"><col code=\"1\">1</col></row></section>"
                              "<row code=\"1\"><col code=\"1\">1e16</col></row></section>")
                << QStringList{tu::line(1, 1, 1, 1e16)};
        QTest::newRow("nested rows")
                << QByteArray("<section code=\"1\"><row code=\"1\"><row code=\"1\"><col code=\"1\">1</col></row>"
                              "<col code=\"1\">1e16</col></row></section>")
                << QStringList{tu::line(1, 1, 1, 1e16)};
        QTest::newRow("sections in document order")
                << QByteArray(tu::cell("1", "1", "1", "1") + tu::cell("1", "1", "1", "1") + tu::cell("1", "1", "1", "1e16"))
                << QStringList{tu::line(1, 1, 1, 1e16 + 2)};
        QTest::newRow("document order within a row")
                << QByteArray("<section code=\"1\"><row code=\"1\"><col code=\"1\">1e16</col><col code=\"1\">1</col>"
                              "<col code=\"1\">1</col></row></section>")
                << QStringList{tu::line(1, 1, 1, 1e16)};
    }
    void walkOrder()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, expected);
        Summer summer;
        QVERIFY(readOne(summer, tu::plainReport(body)));
        QCOMPARE(tu::dump(summer.reportMap()), expected);
    }

    // ---- Encodings ---------------------------------------------------------------------

    void encodings_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expectedCode");
        QTest::addColumn<QString>("expectedItem");

        const QString cyr = QStringLiteral("Фыё№");
        const QString body = QStringLiteral("<report code=\"%1\"><title><item name=\"n\" value=\"%2\"/></title>"
                                            "<sections>%3</sections></report>\n")
                                     .arg(cyr, QStringLiteral("é ü"), QString::fromLatin1(tu::cell("1", "1", "1", "5")));
        QTest::newRow("utf-8 without declaration") << body.toUtf8() << cyr << QStringLiteral("é ü");
        QTest::newRow("utf-8 with bom") << QByteArray("\xef\xbb\xbf" + body.toUtf8()) << cyr << QStringLiteral("é ü");
        QTest::newRow("utf-8 declared")
                << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body.toUtf8()) << cyr << QStringLiteral("é ü");
        QTest::newRow("utf-16le with bom") << utf16(body, false) << cyr << QStringLiteral("é ü");
        QTest::newRow("utf-16be with bom") << utf16(body, true) << cyr << QStringLiteral("é ü");
        QTest::newRow("utf-16le with bom and declaration")
                << utf16(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n") + body, false) << cyr
                << QStringLiteral("é ü");

        // "Фыё№" and "Жж" in windows-1251 and in KOI8-R; "é ü" in ISO-8859-1.
        const QByteArray cells = tu::cell("1", "1", "1", "5");
        QTest::newRow("windows-1251")
                << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<report code=\"\xd4\xfb\xb8\xb9\">"
                              "<title><item name=\"n\" value=\"\xc6\xe6\"/></title><sections>" + cells + "</sections></report>\n")
                << cyr << QStringLiteral("Жж");
        QTest::newRow("Windows-1251 in upper case")
                << QByteArray("<?xml version='1.0' encoding='WINDOWS-1251'?>\n<report code=\"\xd4\xfb\xb8\xb9\">"
                              "<title><item name=\"n\" value=\"\xc6\xe6\"/></title><sections>" + cells + "</sections></report>\n")
                << cyr << QStringLiteral("Жж");
        QTest::newRow("koi8-r")
                << QByteArray("<?xml version=\"1.0\" encoding=\"KOI8-R\"?>\n<report code=\"\xe6\xd9\xa3\">"
                              "<title><item name=\"n\" value=\"\xf6\xd6\"/></title><sections>" + cells + "</sections></report>\n")
                << QStringLiteral("Фыё") << QStringLiteral("Жж");
        QTest::newRow("iso-8859-1")
                << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<report code=\"\xc4\">"
                              "<title><item name=\"n\" value=\"\xe9 \xfc\"/></title><sections>" + cells + "</sections></report>\n")
                << QStringLiteral("Ä") << QStringLiteral("é ü");
    }
    void encodings()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expectedCode);
        QFETCH(QString, expectedItem);
        Summer summer;
        QVERIFY2(readOne(summer, content), qPrintable(summer.lastError()));
        QCOMPARE(tu::dump(summer.reportMap()), QStringList{expectedCode + QStringLiteral("|| s1 r1[||] c1=5")});
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"n=" + expectedItem});
    }

    // ---- What a run records ------------------------------------------------------

    // Each value passed over in a.xml, one line each; the body starts on line 3.
    void passedOver_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("added");
        QTest::addColumn<QStringList>("passed"); // line|section|row|s1|s2|s3|col|text|reason|lost

        const QByteArray nbsp = "\xc2\xa0", narrow = "\xe2\x80\xaf", rsquo = "\xe2\x80\x99";
        const QString ya300(300, QChar(0x44f));
        QTest::newRow("counted values are not listed")
            << oneRow("<col code=\"1\">5</col><col code=\"2\"> 1,5 </col>") << qint64(2) << QStringList();
        QTest::newRow("bad section code") << tu::cell("x1", "1", "2", "5") << qint64(0)
                                          << QStringList{"3|x1|1||||2|5|раздел|да"};
        QTest::newRow("no section at all") << QByteArray("<row code=\"1\" s1=\"a\"><col code=\"2\">abc</col></row>")
                                           << qint64(0) << QStringList{"3||1|a|||2|abc|раздел|нет"};
        QTest::newRow("bad row code, codes as written")
            << QByteArray("<section code=\" 07\"><row code=\"-1\" s1=\"a\" s2=\"b\" s3=\"c\"><col code=\"01\">7</col></row></section>")
            << qint64(0) << QStringList{"3| 07|-1|a|b|c|01|7|строка|да"};
        QTest::newRow("row outside the valid section")
            << QByteArray("<row code=\"1\"><section code=\"2\"><col code=\"3\">7</col></section></row>") << qint64(0)
            << QStringList{"3|2|1||||3|7|строка|да"};
        QTest::newRow("section reason before col reason") << tu::cell("x", "1", "y", "z") << qint64(0)
                                                          << QStringList{"3|x|1||||y|z|раздел|нет"};
        QTest::newRow("bad col code") << oneRow("<col code=\"\">8</col><col>9</col><col code=\"2\">1</col>")
                                      << qint64(1) << QStringList{"3|1|1|||||8|графа|да", "3|1|1|||||9|графа|да"};
        QTest::newRow("grouped by a blank") << oneRow("<col code=\"1\">1 234</col>") << qint64(0)
                                            << QStringList{"3|1|1||||1|1 234|значение|да"};
        QTest::newRow("no-break space and comma") << oneRow("<col code=\"1\">1" + nbsp + "234,5</col>") << qint64(0)
                                                  << QStringList{"3|1|1||||1|1\u00a0234,5|значение|да"};
        QTest::newRow("narrow space, point")
            << oneRow("<col code=\"1\">-12" + narrow + "345.6</col>") << qint64(0)
            << QStringList{"3|1|1||||1|-12\u202f345.6|значение|да"};
        QTest::newRow("apostrophes") << oneRow("<col code=\"1\">1'234</col><col code=\"2\">1" + rsquo + "234</col>")
                                     << qint64(0)
                                     << QStringList{"3|1|1||||1|1'234|значение|да", "3|1|1||||2|1\u2019234|значение|да"};
        QTest::newRow("not numbers even ungrouped")
            << oneRow("<col code=\"1\">1\t234</col><col code=\"2\">1 2,3,4</col><col code=\"3\">1 2 a</col>"
                      "<col code=\"4\">' '</col><col code=\"5\">inf</col>")
            << qint64(0)
            << QStringList{"3|1|1||||1|1\t234|значение|нет", "3|1|1||||2|1 2,3,4|значение|нет",
                           "3|1|1||||3|1 2 a|значение|нет", "3|1|1||||4|' '|значение|нет",
                           "3|1|1||||5|inf|значение|нет"};
        QTest::newRow("no text first: nothing to pass over")
            << oneRow("<col code=\"1\"> \n </col><col code=\"2\"/><col code=\"3\"><!--c-->5</col><col code=\"4\"><b>5</b></col>")
            << qint64(0) << QStringList();
        QTest::newRow("blank or empty cdata first: no value")
            << oneRow("<col code=\"1\"><![CDATA[ \n\t ]]></col><col code=\"2\"><![CDATA[]]>x</col>"
                      "<col code=\"x\"><![CDATA[  ]]>5</col>")
            << qint64(0) << QStringList();
        QTest::newRow("cdata, trimmed, with markup characters")
            << oneRow("<col code=\"1\"><![CDATA[ x;\"y\" ]]></col><col code=\"2\">\n  a&amp;b \r\n</col>") << qint64(0)
            << QStringList{"3|1|1||||1|x;\"y\"|значение|нет", "3|1|1||||2|a&b|значение|нет"};
        QTest::newRow("long text cut at 200 characters")
            << oneRow("<col code=\"1\">" + ya300.toUtf8() + "</col><col code=\"2\">" + QByteArray(200, 'x') + "</col>")
            << qint64(0)
            << QStringList{"3|1|1||||1|" + ya300.left(200) + "\u2026|значение|нет",
                           "3|1|1||||2|" + QString(200, 'x') + "|значение|нет"};
        QTest::newRow("line of the start tag")
            << QByteArray("<section code=\"1\">\n<row code=\"1\">\n<col\ncode=\"a\">\n5\n</col></row></section>")
            << qint64(0) << QStringList{"5|1|1||||a|5|графа|да"};
        QTest::newRow("innermost section and row")
            << QByteArray("<section code=\"1\"><row code=\"1\"><section code=\"s\"><row code=\"r\" s1=\"z\">"
                          "<col code=\"1\">5</col></row></section></row></section>")
            << qint64(1) << QStringList();
        QTest::newRow("innermost names a bad one")
            << QByteArray("<section code=\"1\"><row code=\"1\"><section code=\"s\"><row code=\"r\" s1=\"z\">"
                          "<col code=\"c\">5</col></row></section></row></section>")
            << qint64(0) << QStringList{"3|s|r|z|||c|5|графа|да"};
        QTest::newRow("nested pairs each add") << QByteArray("<section code=\"1\"><section code=\"2\"><row code=\"1\">"
                                                             "<col code=\"1\">5</col></row></section></section>")
                                               << qint64(2) << QStringList();
    }
    void passedOver()
    {
        QFETCH(QByteArray, body);
        QFETCH(qint64, added);
        QFETCH(QStringList, passed);

        Summer summer;
        QVERIFY(readOne(summer, tu::plainReport(body)));
        QCOMPARE(summer.fileRecords().size(), 1);
        const FileRecord &r = summer.fileRecords().first();
        QStringList seen;
        qint64 lost = 0;
        for (const PassedOverValue &v : r.passedOver) {
            seen << QStringList{QString::number(v.line), v.sectionCode(), v.rowCode(), v.s1(), v.s2(), v.s3(),
                                v.colCode(), v.text(), PassedOverValue::reasonText(v.reason),
                                v.lostNumber ? "да" : "нет"}
                            .join('|');
            lost += v.lostNumber ? 1 : 0;
        }
        QCOMPARE(seen, passed);
        QCOMPARE(r.valuesAdded, added);
        QCOMPARE(r.valuesPassedOver, qint64(passed.size()));
        QCOMPARE(r.lostNumbers, lost);
    }

    // Every value passed over is counted; a file keeps the first KeptMax of its
    // own, the run the first PassedOverKeptMax in list order, and none when
    // keeping is off.
    void passedOverValuesKeptUpToTheCap_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("values"); // passed over in each file, every second a lost number
        QTest::addColumn<bool>("keep");
        QTest::addColumn<int>("kept");     // by each file but the last
        QTest::addColumn<int>("keptLast"); // by the last
        QTest::addColumn<QString>("note");
        const QString note = QStringLiteral("Примечание: в перечень пропущенных значений вошли первые 100 000 из %1");
        QTest::newRow("one file past its own cap") << 1 << 2500 << true << 1000 << 1000 << QString();
        QTest::newRow("the run's cap reached exactly") << 100 << 1000 << true << 1000 << 1000 << QString();
        QTest::newRow("the run's cap passed by one file") << 101 << 1001 << true << 1000 << 0 << note.arg("101 101");
        QTest::newRow("not kept") << 101 << 1001 << false << 0 << 0 << QString();
    }
    void passedOverValuesKeptUpToTheCap()
    {
        QFETCH(int, files);
        QFETCH(int, values);
        QFETCH(bool, keep);
        QFETCH(int, kept);
        QFETCH(int, keptLast);
        QFETCH(QString, note);
        QByteArray cols;
        for (int i = 0; i < values; ++i)
            cols += "<col code=\"" + QByteArray::number(i) + "\">" + (i % 2 ? "1 000" : "x") + "</col>";
        const QByteArray document = tu::plainReport(oneRow(cols));
        QTemporaryDir dir;
        for (int f = 0; f < files; ++f)
            QVERIFY(tu::writeFile(dir.filePath(QStringLiteral("r%1.xml").arg(f, 3, 10, QLatin1Char('0'))), document));
        Summer summer;
        summer.setKeepPassedOver(keep);
        QVERIFY(summer.readReports(dir.path()));
        QCOMPARE(summer.fileRecords().size(), files);
        for (int f = 0; f < files; ++f) {
            const FileRecord &r = summer.fileRecords().at(f);
            const int want = f + 1 < files ? kept : keptLast;
            QCOMPARE(r.valuesPassedOver, qint64(values));
            QCOMPARE(r.lostNumbers, qint64(values / 2));
            QCOMPARE(r.passedOver.size(), want);
            if (want > 0)
                QCOMPARE(r.passedOver.last().colCode(), QString::number(want - 1));
        }
        QCOMPARE(summer.passedOverNote(), note);
    }

    // The register's fields of each entry and the warnings: okpo items decide
    // which files are one branch's report sent twice into one summed report,
    // and, with the output told, which look like an earlier run's summed
    // report; the output folder, whether the summed reports go among the reports.
    void registerAndWarnings_data()
    {
        QTest::addColumn<QByteArrayList>("files"); // name, root attributes, okpo item or "-" for none
        QTest::addColumn<QStringList>("records");  // name|output|element|okpo|same okpo as[|looks summed]
        QTest::addColumn<QStringList>("warnings");
        // The output folder, beside the folder read "in", and the head
        // organisation's code, given to setOutput(); none when empty.
        QTest::addColumn<QStringList>("output");

        const QByteArray g1 = "code=\"0601012\" year=\"2014\" period=\"3\"", g2 = "code=\"0609007\" year=\"2014\" period=\"3\"";
        const QString twice = QStringLiteral("Предупреждение: ОКПО %1 входит в сводный отчет %2 несколько раз: %3");
        QTest::newRow("different branches") << QByteArrayList{"a.xml", g1, "1", "b.xml", g1, "2"}
                                            << QStringList{"a.xml|0601012_2014_3.xml|report|1|", "b.xml|0601012_2014_3.xml|report|2|"}
                                            << QStringList() << QStringList();
        QTest::newRow("same branch, other forms") << QByteArrayList{"a.xml", g1, "1", "b.xml", g2, "1"}
                                                  << QStringList{"a.xml|0601012_2014_3.xml|report|1|", "b.xml|0609007_2014_3.xml|report|1|"}
                                                  << QStringList() << QStringList();
        QTest::newRow("empty and absent okpo") << QByteArrayList{"a.xml", g1, "", "b.xml", g1, "", "c.xml", g1, "-", "d.xml", g1, "-"}
                                               << QStringList{"a.xml|0601012_2014_3.xml|report||", "b.xml|0601012_2014_3.xml|report||",
                                                              "c.xml|0601012_2014_3.xml|report||", "d.xml|0601012_2014_3.xml|draft||"}
                                               << QStringList() << QStringList();
        QTest::newRow("three files, a draft among them, two groups interleaved")
            << QByteArrayList{"a.xml", g2, "7", "b.xml", g1, "5", "c.xml", g1, " 5", "d.xml", g2, "7", "e.xml", g1, "5", "f.xml", g1, "5"}
            << QStringList{"a.xml|0609007_2014_3.xml|report|7|", "b.xml|0601012_2014_3.xml|report|5|",
                           "c.xml|0601012_2014_3.xml|report| 5|", "d.xml|0609007_2014_3.xml|draft|7|a.xml",
                           "e.xml|0601012_2014_3.xml|report|5|b.xml", "f.xml|0601012_2014_3.xml|report|5|b.xml"}
            << QStringList{twice.arg("7", "0609007_2014_3.xml", "a.xml, d.xml"),
                           twice.arg("5", "0601012_2014_3.xml", "b.xml, e.xml, f.xml")} << QStringList();
        QTest::newRow("lost numbers in a file named with %2")
            << QByteArrayList{"a%2.xml", g1, "1"} << QStringList{"a%2.xml|0601012_2014_3.xml|report|1|"}
            << QStringList{QStringLiteral("Предупреждение: в файле a%2.xml не учтено чисел: 1")} << QStringList();

        const QString earlier = QStringLiteral("Предупреждение: файл %1 похож на сводный отчет прошлого запуска "
                                               "(имя сводного отчета, ОКПО головной организации %2): его числа "
                                               "учтены еще раз");
        const QString into = QStringLiteral("Предупреждение: сводные отчеты записаны в папку с отчетами; при "
                                            "следующем запуске они будут просуммированы вместе с отчетами");
        const QStringList head{"out", "01000001"};
        QTest::newRow("an earlier run's summed report read back")
            << QByteArrayList{"a.xml", g1, "5", "0601012_2014_3.xml", g1, "01000001"}
            << QStringList{"0601012_2014_3.xml|0601012_2014_3.xml|report|01000001||looks summed", "a.xml|0601012_2014_3.xml|report|5|"}
            << QStringList{earlier.arg("0601012_2014_3.xml", "01000001")} << head;
        QTest::newRow("its name in upper case")
            << QByteArrayList{"0601012_2014_3.XML", g1, "01000001"}
            << QStringList{"0601012_2014_3.XML|0601012_2014_3.xml|report|01000001||looks summed"}
            << QStringList{earlier.arg("0601012_2014_3.XML", "01000001")} << head;
        QTest::newRow("a head office's own report")
            << QByteArrayList{"01000001_0601012_2014_3.xml", g1, "01000001"}
            << QStringList{"01000001_0601012_2014_3.xml|0601012_2014_3.xml|report|01000001|"} << QStringList() << head;
        QTest::newRow("summed names, but not its okpo or not its own group's")
            << QByteArrayList{"0601012_2014_3.xml", g1, " 01000001", "0609007_2014_3.xml", g1, "01000001"}
            << QStringList{"0601012_2014_3.xml|0601012_2014_3.xml|report| 01000001|",
                           "0609007_2014_3.xml|0601012_2014_3.xml|report|01000001|"}
            << QStringList() << head;
        QTest::newRow("no head organisation's code")
            << QByteArrayList{"0601012_2014_3.xml", g1, "", "0609007_2014_3.xml", g2, "01000001"}
            << QStringList{"0601012_2014_3.xml|0601012_2014_3.xml|report||", "0609007_2014_3.xml|0609007_2014_3.xml|report|01000001|"}
            << QStringList() << QStringList{"out", ""};
        QTest::newRow("output not told")
            << QByteArrayList{"0601012_2014_3.xml", g1, "01000001"}
            << QStringList{"0601012_2014_3.xml|0601012_2014_3.xml|report|01000001|"} << QStringList() << QStringList();
        QTest::newRow("into the folder read, the second time: the last warning")
            << QByteArrayList{"0601012_2014_3.xml", g1, "01000001", "a.xml", g1, "5", "b.xml", g1, "5"}
            << QStringList{"0601012_2014_3.xml|0601012_2014_3.xml|report|01000001||looks summed",
                           "a.xml|0601012_2014_3.xml|report|5|", "b.xml|0601012_2014_3.xml|report|5|a.xml"}
            << QStringList{twice.arg("5", "0601012_2014_3.xml", "a.xml, b.xml"),
                           earlier.arg("0601012_2014_3.xml", "01000001"), into}
            << QStringList{"in", "01000001"};
        const QByteArrayList one{"a.xml", g1, "5"};
        const QStringList oneRecord{"a.xml|0601012_2014_3.xml|report|5|"};
        QTest::newRow("into the folder read, through a link")
            << one << oneRecord << QStringList{into} << QStringList{"link/", "1"};
        QTest::newRow("into the folder read, named by a folder yet to be made")
            << one << oneRecord << QStringList{into} << QStringList{"in/new/..", "1"};
        QTest::newRow("into a new folder inside the folder read")
            << one << oneRecord << QStringList() << QStringList{"link/new", "1"};
    }
    void registerAndWarnings()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(QStringList, records);
        QFETCH(QStringList, warnings);
        QFETCH(QStringList, output);

        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QDir dir(base.filePath("in"));
        QVERIFY(QDir().mkpath(dir.path()));
        QVERIFY(QFile::link(dir.path(), base.filePath("link")));
        for (qsizetype i = 0; i < files.size(); i += 3) {
            const QByteArray root = files[i] == "d.xml" ? "draft" : "report";
            // The last okpo item of a file is its own.
            const QByteArray items = files[i + 2] == "-" ? ""
                    : "<item name=\"okpo\" value=\"x\"/><item name=\"okpo\" value=\"" + files[i + 2] + "\"/>";
            // A file named with a '%' loses a number too, for its warning.
            const QByteArray cols = files[i].contains('%') ? "<col code=\"1\">1</col><col code=\"2\">1 234</col>"
                                                           : "<col code=\"1\">1</col>";
            QVERIFY(tu::writeFile(dir.filePath(files[i]), "<" + root + " " + files[i + 1] + ">" + items
                                                                + oneRow(cols) + "</" + root + ">"));
        }
        Summer summer;
        if (!output.isEmpty())
            summer.setOutput(base.filePath(output.first()), output.last());
        QVERIFY(summer.readReports(dir.path()));
        QStringList seen;
        for (const FileRecord &r : summer.fileRecords()) {
            QCOMPARE(r.hasOkpo, files[files.indexOf(r.name.toUtf8()) + 2] != "-");
            QStringList fields{r.name, r.outputName, r.elementText(), r.okpo, r.sameOkpoAs};
            if (r.looksSummed)
                fields << "looks summed";
            seen << fields.join('|');
        }
        QCOMPARE(seen, records);
        QCOMPARE(summer.warnings(), warnings);
    }

    // ---- Threads ---------------------------------------------------------------------

    void resultDoesNotDependOnThreadCount()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // Order-sensitive totals (tiny values next to huge ones) and title items
        // that several files overwrite.
        for (int i = 0; i < 60; ++i) {
            QByteArray cells;
            for (int s = 0; s < 3; ++s)
                for (int r = 0; r < 5; ++r)
                    for (int c = 0; c < 3; ++c) {
                        const double v = ((i * 31 + s * 7 + r * 3 + c) % 5 == 0) ? 1e16 : 1.0 / (1 + (i + r + c) % 7);
                        cells += tu::cell(QByteArray::number(s), QByteArray::number(r), QByteArray::number(c),
                                          QByteArray::number(v, 'g', 17));
                    }
            const QByteArray attrs = "code=\"G" + QByteArray::number(i % 4) + "\" year=\"2014\" period=\"" + QByteArray::number(i % 3) + "\"";
            const QByteArray doc = "<report " + attrs + "><title><item name=\"t" + QByteArray::number(i % 7)
                    + "\" value=\"" + QByteArray::number(i) + "\"/></title><sections>" + cells + "</sections></report>";
            QVERIFY(tu::writeFile(dir.filePath(QStringLiteral("r%1.xml").arg(i)), doc));
        }
        QStringList firstDump, firstTitles;
        for (int threads : {1, 2, 4, 0, 7}) {
            Summer summer;
            summer.setReaderThreads(threads);
            QVERIFY(summer.readReports(dir.path()));
            const QStringList d = tu::dump(summer.reportMap());
            const QStringList t = tu::titleDump(summer.titleItemMap());
            if (firstDump.isEmpty()) {
                firstDump = d;
                firstTitles = t;
                QCOMPARE(t.size(), 7);
                continue;
            }
            QCOMPARE(d, firstDump);
            QCOMPARE(t, firstTitles);
        }
    }
};

QTEST_GUILESS_MAIN(TestReading)
#include "tst_reading.moc"
