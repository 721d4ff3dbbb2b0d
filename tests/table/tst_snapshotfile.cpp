#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "table/snapshotfile.h"

#include <csignal>
#include <sys/resource.h>

using namespace meterlog;

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class SnapshotFileTest : public QObject
{
    Q_OBJECT

private slots:
    void holdsExactlyOneLineEndingInCrLf();
    void othersCanReadIt();
    void leavesNoTemporaryFilesBehind();
    void failedWriteKeepsTheOldContent();
    void folderInTheFilesPlaceIsLeftAlone();
};

void SnapshotFileTest::holdsExactlyOneLineEndingInCrLf()
{
    QTemporaryDir dir;
    const auto path = snapshotPath(dir.path());
    QCOMPARE(path, dir.filePath("datamirab.txt"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("other\r\ncontent\r\nof several lines\r\n");
    old.close();

    QVERIFY(writeSnapshotFile(dir.path(), " 5000,65538,0,0,0,0"));
    QCOMPARE(contentOf(path), QByteArray(" 5000,65538,0,0,0,0\r\n"));
    QVERIFY(writeSnapshotFile(dir.path(), ",0,0,0,0,0"));
    QCOMPARE(contentOf(path), QByteArray(",0,0,0,0,0\r\n"));
}

void SnapshotFileTest::othersCanReadIt()
{
    QTemporaryDir dir;
    QVERIFY(writeSnapshotFile(dir.path(), "1"));
    QVERIFY(QFile::permissions(snapshotPath(dir.path())) & QFile::ReadOther);
}

void SnapshotFileTest::leavesNoTemporaryFilesBehind()
{
    QTemporaryDir dir;
    for (int i = 0; i < 20; ++i)
        QVERIFY(writeSnapshotFile(dir.path(), QString::number(i)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"datamirab.txt"});
}

void SnapshotFileTest::failedWriteKeepsTheOldContent()
{
    QTemporaryDir dir;
    QVERIFY(writeSnapshotFile(dir.path(), "old"));
    // A disk that takes no more than a few bytes: the write fails, even for root.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit tiny {4, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &tiny);
    const auto written = writeSnapshotFile(dir.path(), "a line longer than the disk allows");
    setrlimit(RLIMIT_FSIZE, &limit);
    QVERIFY(!written);
    QCOMPARE(contentOf(snapshotPath(dir.path())), QByteArray("old\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"datamirab.txt"});
}

void SnapshotFileTest::folderInTheFilesPlaceIsLeftAlone()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("datamirab.txt"));
    QVERIFY(!writeSnapshotFile(dir.path(), "line"));
    QVERIFY(QFileInfo(snapshotPath(dir.path())).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(SnapshotFileTest)
#include "tst_snapshotfile.moc"
