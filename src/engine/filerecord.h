#ifndef FILERECORD_H
#define FILERECORD_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <string_view>

// What a run did with one listed entry of the input folder: which summed report
// it went into, whose it is (its okpo item), how many values it added, and the
// values it passed over. The user vouches for the totals with these.

// A col whose first child is text, not blanks alone, that added to no total.
struct PassedOverValue
{
    // Why, the first that applies.
    enum class Reason {
        Section, // no enclosing section has a valid code
        Row,     // no row with a valid code lies below a valid section around it
        Col,     // the col's own code is not valid
        Value,   // the text is not a number
    };

    // Where it is: the code attributes of the innermost enclosing section and
    // row, the row's s1, s2 and s3, and the col's code, as the file has them
    // (empty when absent); and the col's text, blanks trimmed, a long one cut
    // to TextMax characters and "…".
    enum Field { SectionCode, RowCode, S1, S2, S3, ColCode, Text, FieldCount };

    qint64 line = 0; // of the col's start tag, from 1
    Reason reason = Reason::Value;
    // The text is a number, or one once spaces and apostrophes inside it are
    // left out ("1 234"): a value the sender meant to count.
    bool lostNumber = false;

    QString field(Field field) const;
    // Each field's UTF-8 text, in the order of Field.
    void setFields(const std::array<std::string_view, FieldCount> &fields);

    QString sectionCode() const { return field(SectionCode); }
    QString rowCode() const { return field(RowCode); }
    QString s1() const { return field(S1); }
    QString s2() const { return field(S2); }
    QString s3() const { return field(S3); }
    QString colCode() const { return field(ColCode); }
    QString text() const { return field(Text); }

    static constexpr int TextMax = 200; // Unicode code points

    // "раздел", "строка", "графа" or "значение"
    static QString reasonText(Reason reason);

private:
    // The fields in UTF-8, each ended by a NUL, which no XML text holds: a
    // file may have thousands of values passed over, and this keeps each in
    // one small block.
    QByteArray fieldBytes;
};

struct FileRecord
{
    enum class Element { None, Report, Draft };

    QString name;       // the bare entry name
    QString outputName; // the summed report its key gives; empty when not read
    Element element = Element::None; // None: not read, as it is no regular file
    bool hasOkpo = false;
    QString okpo; // the last okpo title item of the file
    qint64 valuesAdded = 0;      // one per value added to a total
    qint64 valuesPassedOver = 0; // all of them, kept or not
    qint64 lostNumbers = 0;      // of those passed over
    QList<PassedOverValue> passedOver; // the first KeptMax, in document order
    // The first earlier entry of the same summed report with the same non-empty
    // okpo: a report sent twice.
    QString sameOkpoAs;
    // Named as its own summed report (letter case aside) and carrying the head
    // organisation's code as its okpo: almost surely an earlier run's output,
    // read back as a report. Only when the run was told that code.
    bool looksSummed = false;

    static constexpr int KeptMax = 1000;

    // "report", "draft" or empty
    QString elementText() const;
};

#endif // FILERECORD_H
