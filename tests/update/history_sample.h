// A history record of two calculators and two files, and whole files read and written, for the
// tests of the history and of the command line that lists it.
#pragma once

#include "update/update_history.h"

#include <QFile>
#include <QtTest>

inline HistoryRecord record()
{
    HistoryRecord r = beginHistoryRecord("test", "1.2.3", "/updates",
                                         {{"ZENTA_OS.ROM", 10, QByteArray(32, '\x01')},
                                          {"ZENTA_APP.DAT", 20, QByteArray(32, '\x02')}});
    DiskResult disks[2] = {};
    const char16_t* serials[2] = {u"a1", u"b2"};
    for (int i = 0; i < 2; ++i) {
        for (int c = 0; serials[i][c] != 0; ++c) {
            disks[i].serial[c] = serials[i][c];
            disks[i].devicePath[c] = serials[i][c];
        }
        disks[i].result = i == 0 ? 0 : 112;
    }
    noteTransferResults(&r, 0, disks, 2);
    // Fixed, so that two records built a second apart still compare equal.
    r.time = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    r.outcome = "failed";
    r.result = 112;
    return r;
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}
