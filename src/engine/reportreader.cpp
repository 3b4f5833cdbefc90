// Reading one report file: the file is fed to the parser a block at a time (by
// table when it is in a single-byte encoding), the walk gathers what it holds,
// and a file that is not well-formed is told apart as an XML error or a file
// without a report element.

#include "reportreader.h"

#include "failedtag.h"
#include "reportwalk.h"
#include "singlebyte.h"

#include <QFile>

#include <algorithm>
#include <string_view>

using namespace reading;

namespace {

bool encodingProblem(XML_Error code)
{
    return code == XML_ERROR_UNKNOWN_ENCODING || code == XML_ERROR_INCORRECT_ENCODING;
}

} // namespace

ReportReader::ReportReader()
    : walk(new ReportWalk)
{
}

ReportReader::~ReportReader() = default;

ParsedReport ReportReader::read(const QString &path, const PartSink &sink,
                                const std::atomic<bool> *cancel)
{
    ParsedReport report;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        report.status = ParsedReport::Status::AccessError;
        return report;
    }
    // Room for the cells at once (a cell takes 25 bytes of text at the least),
    // so that the list is not copied over and over while it grows; and for the
    // rows of a usual file, which hold some ten cells each.
    report.cells.reserve(std::size_t(std::clamp<qint64>(file.size() / 25, 0, PartCells)));
    report.rows.reserve(std::size_t(std::clamp<qint64>(file.size() / 250, 0, PartCells / 8)));

    // The declaration at the start tells whether the file is turned into UTF-8
    // by table on its way to the parser.
    char headBytes[1024];
    const qint64 headSize = file.read(headBytes, sizeof headBytes);
    if (headSize < 0 || !file.seek(0)) {
        report.status = ParsedReport::Status::AccessError;
        return report;
    }
    const std::string_view head(headBytes, std::size_t(headSize));
    const ByteTable *table = headSize > 0 ? byteTable(declaredEncoding(headBytes, headSize)) : nullptr;

    walk->start(&report, &sink, keptMax);
    const XML_Parser xml = walk->parser();
    if (table) {
        // The parser reads UTF-8, whatever the declaration says.
        XML_SetEncoding(xml, "UTF-8");
        if (!raw)
            raw.reset(new char[RawBlock]);
    }
    FedStream stream(&file, table, raw.get());
    bool wellFormed = true;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            report.status = ParsedReport::Status::AccessError;
            return report;
        }
        void *buffer = XML_GetBuffer(xml, BlockSize);
        if (!buffer) {
            wellFormed = false;
            break;
        }
        const qint64 n = stream.read(static_cast<char *>(buffer), BlockSize);
        if (n < 0) {
            report.status = ParsedReport::Status::AccessError;
            return report;
        }
        // The last block is handed over as such: after any other the parser
        // goes over the whole block again to count its lines.
        const bool last = n == 0 || file.atEnd();
        if (XML_ParseBuffer(xml, int(n), last) != XML_STATUS_OK) {
            wellFormed = false;
            break;
        }
        if (last)
            break;
    }

    const XML_Error error = XML_GetErrorCode(xml);
    const qint64 errorAt = qint64(XML_GetCurrentByteIndex(xml));
    // Asked only of a failed file: the parser finds them by going over the file again.
    const qint64 errorLine = wellFormed ? 0 : qint64(XML_GetCurrentLineNumber(xml));
    const qint64 errorColumn = wellFormed ? 0 : qint64(XML_GetCurrentColumnNumber(xml)) + 1;
    walk->trim();

    // A file is a report when the parser reached its report element before any
    // error. One whose encoding cannot be read at all might be one: an XML error.
    if (!walk->reportFound() && !walk->draftFound()
        && (wellFormed
            || !(encodingProblem(error) || failedInReportTag(&file, table, head, errorAt)))) {
        report = ParsedReport();
        report.status = ParsedReport::Status::NoReportElement;
        return report;
    }
    if (!wellFormed) {
        report.status = ParsedReport::Status::XmlError;
        report.errorLine = errorLine;
        report.errorColumn = errorColumn;
        return report;
    }
    if (!walk->reportFound()) {
        report.key = walk->draftKey();
        report.isDraft = true;
    }
    walk->finish();
    return report;
}
