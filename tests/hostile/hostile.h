#ifndef SVODAR_HOSTILE_H
#define SVODAR_HOSTILE_H

// Shared by the hostile-input tests: running svodar-cli as a child process with a
// wall-clock limit and its peak memory, writing big inputs to disk piece by piece,
// the expected bytes of a summed report, and a picture of a folder tree to show
// that a run wrote nothing where it must not.

#include "testfiles.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hostile {

#ifdef SVODAR_SANITIZED
constexpr int kSlowdown = 6;     // the sanitized build is that much slower at most
constexpr int kMemoryFactor = 4; // and needs room for shadow memory and quarantine
#else
constexpr int kSlowdown = 1;
constexpr int kMemoryFactor = 1;
#endif

constexpr qint64 MiB = 1024 * 1024;

inline QString cliPath()
{
    return QStringLiteral(SVODAR_CLI_PATH);
}

inline QString successText()
{
    return QStringLiteral("Отчеты были успешно просуммированны\n");
}

struct Result
{
    int exitCode = -1;    // -1 unless the child exited normally
    int signal = 0;       // the signal that ended it
    bool timedOut = false;
    QByteArray out;
    QByteArray err;
    // bytes: the largest of the child and the children it waited for; a forked
    // child starts out with the test's own pages, a few MiB
    qint64 peakRss = 0;
    qint64 elapsedMs = 0;

    QString describe() const
    {
        return QStringLiteral("exit %1, signal %2%3, %4 ms, peak %5 MiB, stdout [%6], stderr [%7]")
                .arg(exitCode)
                .arg(signal)
                .arg(timedOut ? QStringLiteral(", TIMED OUT") : QString())
                .arg(elapsedMs)
                .arg(peakRss / MiB)
                .arg(QString::fromUtf8(out.left(2000)), QString::fromUtf8(err.left(2000)));
    }
};

// One child process: command line, a wall-clock limit after which its whole
// process group is killed, and its output gathered while it runs.
class Child
{
public:
    // argv[0] is looked up in PATH when it has no slash.
    bool start(const QStringList &argv)
    {
        clock.start();
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0)
            return false;
        if (pipe2(errPipe, O_CLOEXEC) != 0) {
            ::close(outPipe[0]);
            ::close(outPipe[1]);
            return false;
        }
        // Everything the child needs is made before fork: only async-signal-safe
        // calls happen between fork and exec.
        std::vector<QByteArray> args;
        for (const QString &a : argv)
            args.push_back(a.toLocal8Bit());
        std::vector<char *> raw;
        for (QByteArray &a : args)
            raw.push_back(a.data());
        raw.push_back(nullptr);

        childPid = fork();
        if (childPid == 0) {
            setpgid(0, 0);
            const int devNull = ::open("/dev/null", O_RDONLY);
            dup2(devNull, 0);
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            signal(SIGPIPE, SIG_DFL);
            execvp(raw[0], raw.data());
            _exit(127);
        }
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        if (childPid < 0) {
            ::close(outPipe[0]);
            ::close(errPipe[0]);
            return false;
        }
        setpgid(childPid, childPid); // no race with the child's own call
        pipes[0] = outPipe[0];
        pipes[1] = errPipe[0];
        return true;
    }

    // Sends sig to the child's whole process group.
    void sendSignal(int sig) { ::kill(-childPid, sig); }

    Result wait(int timeoutMs)
    {
        Result r;
        QByteArray *sinks[2] = {&r.out, &r.err};
        int status = 0;
        rusage usage{};
        bool exited = false;
        while (!exited) {
            pollfd fds[2];
            int n = 0;
            for (int i = 0; i < 2; ++i) {
                if (pipes[i] >= 0)
                    fds[n++] = {pipes[i], POLLIN, 0};
            }
            if (n > 0)
                poll(fds, nfds_t(n), 20);
            else
                usleep(20000);
            for (int i = 0; i < 2; ++i)
                drain(i, sinks[i], false);
            exited = wait4(childPid, &status, WNOHANG, &usage) == childPid;
            if (!exited && clock.elapsed() > timeoutMs) {
                kill(-childPid, SIGKILL);
                exited = wait4(childPid, &status, 0, &usage) == childPid;
                r.timedOut = true;
            }
        }
        kill(-childPid, SIGKILL); // anything the child left behind
        for (int i = 0; i < 2; ++i) {
            drain(i, sinks[i], true);
            ::close(pipes[i]);
            pipes[i] = -1;
        }
        r.elapsedMs = clock.elapsed();
        if (WIFEXITED(status))
            r.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            r.signal = WTERMSIG(status);
        r.peakRss = qint64(usage.ru_maxrss) * 1024;
        return r;
    }

private:
    // Reads what is there; at the end, until the pipe is closed or empty.
    void drain(int i, QByteArray *sink, bool final)
    {
        if (pipes[i] < 0)
            return;
        char buf[65536];
        for (;;) {
            pollfd p{pipes[i], POLLIN, 0};
            if (poll(&p, 1, 0) <= 0)
                return;
            const ssize_t got = ::read(pipes[i], buf, sizeof buf);
            if (got <= 0) {
                if (!final && got == 0) {
                    ::close(pipes[i]);
                    pipes[i] = -1;
                }
                return;
            }
            sink->append(buf, qsizetype(got));
        }
    }

    pid_t childPid = -1;
    int pipes[2] = {-1, -1};
    QElapsedTimer clock;
};

// Runs svodar-cli with args, behind an optional wrapper command (prlimit,
// setpriv, ...) that ends by running the command given after it.
inline Result runCli(const QStringList &args, const QStringList &wrapper = {},
                     int timeoutMs = 60000)
{
    Child child;
    if (!child.start(wrapper + QStringList{cliPath()} + args)) {
        Result r;
        r.err = "cannot start the child";
        return r;
    }
    return child.wait(timeoutMs * kSlowdown);
}

// Runs a shell script (for the cases that need a mount namespace).
inline Result runShell(const QStringList &wrapper, const QString &script, int timeoutMs = 60000)
{
    Child child;
    if (!child.start(wrapper + QStringList{"sh", "-c", script})) {
        Result r;
        r.err = "cannot start the shell";
        return r;
    }
    return child.wait(timeoutMs * kSlowdown);
}

// The stderr text of a failed run: the phase and the message.
inline QString readError(const QString &message)
{
    return QStringLiteral("Ошибка чтения: ") + message + '\n';
}
inline QString writeError(const QString &message)
{
    return QStringLiteral("Ошибка записи: ") + message + '\n';
}
inline QString xmlError(const QString &file, int line, int column)
{
    return QStringLiteral("Не удалось прочитать файл %1 : ошибка XML в строке %2, столбце %3")
            .arg(file)
            .arg(line)
            .arg(column);
}
inline QString noReportElement(const QString &file)
{
    return QStringLiteral("Не удалось прочитать файл ") + file
            + QStringLiteral(" : не найден тег <report> или <draft>");
}

// A file written piece by piece, so that a big input never sits in memory whole.
class Writer
{
public:
    explicit Writer(const QString &path)
        : file(path)
    {
        good = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    Writer &operator<<(const QByteArray &bytes)
    {
        good = good && file.write(bytes) == bytes.size();
        return *this;
    }
    // piece written count times, in blocks of about 1 MiB
    Writer &repeat(const QByteArray &piece, qint64 count)
    {
        if (count <= 0 || piece.isEmpty())
            return *this;
        const qint64 perBlock = std::max<qint64>(1, MiB / std::max<qint64>(1, piece.size()));
        const QByteArray block = piece.repeated(qsizetype(std::min(perBlock, count)));
        const qint64 blockCount = std::min(perBlock, count);
        for (; count >= blockCount && good; count -= blockCount)
            *this << block;
        return *this << piece.repeated(qsizetype(count));
    }
    bool close()
    {
        file.close();
        return good && file.error() == QFileDevice::NoError;
    }

private:
    QFile file;
    bool good = false;
};

using tu::readFile;
using tu::writeFile;

// The start of a report of group code_year_period, up to its sections.
inline QByteArray head(const QByteArray &code = "F", const QByteArray &extra = {})
{
    return "<report code=\"" + code + "\" year=\"2014\" period=\"1\"" + extra + ">\n<sections>\n";
}
inline QByteArray tail()
{
    return "</sections>\n</report>\n";
}
inline QByteArray cell(int section, int row, int col, const QByteArray &value)
{
    return QStringLiteral("<section code=\"%1\"><row code=\"%2\"><col code=\"%3\">")
                   .arg(section)
                   .arg(row)
                   .arg(col)
                   .toUtf8()
            + value + "</col></row></section>\n";
}
inline QByteArray report(const QByteArray &code, const QByteArray &body)
{
    return head(code) + body + tail();
}

// The bytes of a summed report, built up cell by cell, with an empty okpo code.
struct Summed
{
    QByteArray code = "F";
    QByteArray year = "2014";
    QByteArray period = "1";
    QMap<QString, QString> items; // title items besides okpo
    // section -> row -> col -> number text; keys compare as numbers
    QMap<quint32, QMap<quint32, QMap<quint32, QByteArray>>> cells;

    Summed &item(const QString &name, const QString &value)
    {
        items.insert(name, value);
        return *this;
    }
    Summed &add(quint32 section, quint32 row, quint32 col, const QByteArray &total)
    {
        cells[section][row][col] = total;
        return *this;
    }
    QString fileName() const { return QString::fromUtf8(code + '_' + year + '_' + period + ".xml"); }
    QByteArray bytes() const
    {
        const QString c = QString::fromUtf8(code);
        const QByteArray form = c.size() >= 9 ? c.mid(6, 3).toUtf8() : QByteArray("1");
        QByteArray t = "<report code=\"" + code + "\" year=\"" + year + "\" period=\"" + period
                + "\" form=\"" + form + "\">\n <title>\n  <item name=\"okpo\" value=\"\"/>\n";
        for (auto i = items.cbegin(); i != items.cend(); ++i)
            t += "  <item name=\"" + i.key().toUtf8() + "\" value=\"" + i.value().toUtf8() + "\"/>\n";
        t += " </title>\n <sections>\n";
        for (auto s = cells.cbegin(); s != cells.cend(); ++s) {
            t += "  <section code=\"" + QByteArray::number(s.key()) + "\">\n";
            for (auto r = s->cbegin(); r != s->cend(); ++r) {
                t += "   <row code=\"" + QByteArray::number(r.key()) + "\">\n";
                for (auto c = r->cbegin(); c != r->cend(); ++c)
                    t += "    <col code=\"" + QByteArray::number(c.key()) + "\">" + c.value() + "</col>\n";
                t += "   </row>\n";
            }
            t += "  </section>\n";
        }
        return t + " </sections>\n</report>\n";
    }
};

// Reports G0 ... of groups G<g>_2014_1 in folder in, one each with the given
// number of rows, and a report title.xml with only title items, which every
// summed report repeats; returns the summed files they give.
inline QMap<QString, QByteArray> writeGroups(const QString &in, int groups, int rows, int items = 0)
{
    QMap<QString, QByteArray> expected;
    Summed title;
    if (items > 0) {
        Writer w(in + "/title.xml");
        w << "<report code=\"G0\" year=\"2014\" period=\"1\">\n<title>\n";
        for (int i = 0; i < items; ++i) {
            const QString name = QStringLiteral("item%1").arg(i, 6, 10, QLatin1Char('0'));
            w << "<item name=\"" + name.toUtf8() + "\" value=\"value of " + name.toUtf8() + "\"/>\n";
            title.item(name, "value of " + name);
        }
        if (!(w << "</title>\n</report>\n").close())
            return {};
    }
    for (int g = 0; g < groups; ++g) {
        const QByteArray code = "G" + QByteArray::number(g);
        Summed s = title;
        s.code = code;
        Writer w(in + "/" + code + ".xml");
        w << head(code);
        for (int row = 0; row < rows; ++row) {
            w << cell(1, row, 2, QByteArray::number(g + row));
            s.add(1, row, 2, QByteArray::number(g + row));
        }
        if (!(w << tail()).close())
            return {};
        expected.insert(s.fileName(), s.bytes());
    }
    return expected;
}

// Every entry below root, by relative path: its type, size, mode, owner, time
// of last change and, for small files, a hash of the content. Folders named in
// skip are left out with all they hold.
inline QMap<QString, QString> snapshot(const QString &root, const QStringList &skip = {})
{
    QMap<QString, QString> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        bool skipped = false;
        for (const QString &s : skip)
            skipped = skipped || rel == s || rel.startsWith(s + '/');
        if (skipped)
            continue;
        struct stat st;
        if (lstat(QFile::encodeName(path).constData(), &st) != 0) {
            out.insert(rel, QStringLiteral("gone"));
            continue;
        }
        QString d = QStringLiteral("mode %1 uid %2 size %3 mtime %4.%5")
                            .arg(st.st_mode, 0, 8)
                            .arg(st.st_uid)
                            .arg(st.st_size)
                            .arg(st.st_mtim.tv_sec)
                            .arg(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode) && st.st_size < 4 * MiB)
            d += ' ' + QString::fromLatin1(
                           QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1).toHex());
        out.insert(rel, d);
    }
    return out;
}


using tu::entries;

// Where the cases make their folders: memory-backed when the machine has it, as
// the inputs run to hundreds of megabytes and tens of thousands of files.
inline QString scratch()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString base = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return base + QStringLiteral("/svodar-test-XXXXXX");
}

// One case's own folder: the input folder "in" and the output folder "out" (not
// made beforehand) side by side, and a picture of all but "out" to show later
// that the run changed nothing else.
struct Case
{
    QTemporaryDir root{scratch()};
    QString in = root.filePath(QStringLiteral("in"));
    QString out = root.filePath(QStringLiteral("out"));
    QMap<QString, QString> before;

    Case() { QDir().mkpath(in); }
    QString path(const QString &name) const { return root.filePath(name); }
    void freeze() { before = snapshot(root.path(), {QStringLiteral("out")}); }
    QMap<QString, QString> now() const { return snapshot(root.path(), {QStringLiteral("out")}); }
};

} // namespace hostile

// The exit code and the exact texts on stdout and stderr.
#define HOSTILE_COMPARE_RUN(r, code, outText, errText)                                  \
    do {                                                                                 \
        QVERIFY2((r).exitCode == (code) && !(r).timedOut, qPrintable((r).describe()));   \
        QCOMPARE(QString::fromUtf8((r).out), QString(outText));                          \
        QCOMPARE(QString::fromUtf8((r).err), QString(errText));                          \
    } while (false)

// The output folder holds exactly the given files with exactly these bytes, and
// nothing outside it has changed.
#define HOSTILE_COMPARE_OUTPUT(c, files)                                                 \
    do {                                                                                 \
        const QMap<QString, QByteArray> expected_ = (files);                             \
        QCOMPARE(hostile::entries((c).out), QStringList(expected_.keys()));              \
        for (auto e_ = expected_.cbegin(); e_ != expected_.cend(); ++e_)                 \
            QVERIFY2(hostile::readFile((c).out + '/' + e_.key()) == e_.value(),          \
                     qPrintable(e_.key() + ": " + hostile::readFile((c).out + '/' + e_.key()).left(600))); \
        QCOMPARE((c).now(), (c).before);                                                 \
    } while (false)


namespace hostile {

// Cases that read one hostile file a.xml. The maker writes it (and anything it
// refers to) given the case's folder and the file's path. Nothing of a file named
// secret* may ever reach an output: each holds the marker 97531.
using Maker = std::function<bool(const QString &root, const QString &file)>;
using Files = QMap<QString, QByteArray>;

} // namespace hostile

Q_DECLARE_METATYPE(hostile::Maker)

namespace hostile {

// A maker for a small document; @ROOT@ stands for the case's folder.
inline Maker fixed(const QByteArray &document)
{
    return [document](const QString &root, const QString &file) {
        QByteArray d = document;
        return writeFile(file, d.replace("@ROOT@", QFile::encodeName(root)));
    };
}

inline Files one(const Summed &s)
{
    return {{s.fileName(), s.bytes()}};
}

// A read failure whose message must match pattern exactly.
inline QString readErrorPattern(const QString &pattern)
{
    return QRegularExpression::anchoredPattern(QRegularExpression::escape(QStringLiteral("Ошибка чтения: "))
                                               + pattern + QStringLiteral("\\n"));
}
inline QString readErrorExactly(const QString &message)
{
    return readErrorPattern(QRegularExpression::escape(message));
}

inline void addDocumentColumns()
{
    QTest::addColumn<Maker>("maker");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stderrPattern"); // empty on success
    QTest::addColumn<Files>("files");
    QTest::addColumn<int>("memoryMiB"); // peak RSS limit in the normal build
}

inline void documentCase()
{
    QFETCH(Maker, maker);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrPattern);
    QFETCH(Files, files);
    QFETCH(int, memoryMiB);

    Case c;
    QVERIFY(c.root.isValid());
    QVERIFY(writeFile(c.path(QStringLiteral("secret.txt")), "97531"));
    QVERIFY(writeFile(c.path(QStringLiteral("secret.dtd")),
                      "<!ENTITY m \"97531\">\n<!ENTITY % q \"<!ENTITY n '97531'>\">\n"));
    QVERIFY(maker(c.root.path(), c.in + QStringLiteral("/a.xml")));
    c.freeze();

    const Result r = runCli({c.in, c.out});
    qInfo("%s: peak RSS %lld MiB, %lld ms", QTest::currentDataTag(), r.peakRss / MiB, r.elapsedMs);
    if (stderrPattern.isEmpty()) {
        HOSTILE_COMPARE_RUN(r, 0, successText(), QString());
    } else {
        QVERIFY2(r.exitCode == exitCode && !r.timedOut, qPrintable(r.describe()));
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(QRegularExpression(stderrPattern).match(QString::fromUtf8(r.err)).hasMatch(),
                 qPrintable(r.describe()));
    }
    QVERIFY2(!r.out.contains("97531") && !r.err.contains("97531"), qPrintable(r.describe()));
    if (files.isEmpty())
        QVERIFY2(!QFileInfo::exists(c.out), "a failed read must not create the output folder");
    else
        HOSTILE_COMPARE_OUTPUT(c, files);
    QCOMPARE(c.now(), c.before);
    QVERIFY2(r.peakRss < qint64(memoryMiB) * kMemoryFactor * MiB, qPrintable(r.describe()));
}

} // namespace hostile

#endif // SVODAR_HOSTILE_H
