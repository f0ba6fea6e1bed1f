// Internal to the .xlsx reader: the caps that keep a damaged or hostile workbook from exhausting
// memory or the stack, and the archive member extraction. Tests lower the caps to reach them cheaply.
#pragma once

#include <QByteArray>
#include <QString>

namespace Tarvin {

struct XlsxLimits {
    // Bytes actually inflated from one archive member (the declared sizes are not trusted).
    qint64 maxMemberBytes = 256LL * 1024 * 1024;
    // Once this much has been inflated, a member may not have inflated to more than maxRatio times
    // its compressed size (a ZIP bomb does about 1000; sheets about 10 to 100).
    qint64 ratioFloor = 16LL * 1024 * 1024;
    qint64 maxRatio = 500;
    // Element nesting; an ordinary part needs 6 levels.
    int maxDepth = 64;
    // One row or one shared string as XML text; each is parsed into a DOM of its own.
    qint64 maxElementBytes = 16LL * 1024 * 1024;
    // Fields of the whole set, padding included (the format allows 1,048,576 rows of 16,384 columns).
    qint64 maxFields = 16LL * 1024 * 1024;
};

XlsxLimits& xlsxLimits();

const int xlsxMaxColumn = 16384;  // XFD
const unsigned xlsxMaxRow = 1048576;

// The whole content of a member of an open archive (an unzFile; null when opening failed), or an
// empty buffer and one of the extraction error texts in *error. *tooLarge (when given) tells whether the
// member was refused for exceeding maxMemberBytes or maxRatio.
QByteArray extractMember(void* archive, const QString& member, qint64 archiveBytes, QString* error,
                         bool* tooLarge = nullptr);

} // namespace Tarvin
