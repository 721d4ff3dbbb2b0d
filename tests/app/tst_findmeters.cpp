// "Find meters…" on a window polling meter-sim: the dialog lists the devices on the line and what
// they are, puts them into the slots, has the line to itself while it scans, and stops at once
// when closed, after which the window polls again.

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include "app/findmetersdialog.h"
#include "app/form1.h"
#include "tests/support/metersimprocess.h"

using namespace meterlog;

namespace {

// Plain meters at 1 to 6, two of them of makers that say what they are.
const char *const simulatedLine = "--meters 6 --type 2:sdm630 --type 5:em24 --log";
// The window polls these in Auto mode, in this order.
const QStringList polledSlots {"1", "2", "3", "4"};
// Generous: another build may share the two cores.
constexpr int scanLimitMs = 10000;

struct Request
{
    enum class Kind {
        Poll, // the window's range, as the slots ask it
        Scan,
        // Unreadable: two requests ran into each other, so two masters were speaking at once.
        Garbled,
    };
    int address = 0;
    Kind kind = Kind::Scan;
};

// The requests meter-sim has seen, in the order they came, from its log on stderr.
class LineLog
{
public:
    explicit LineLog(MeterSimProcess &sim)
        : m_sim(sim)
    { }

    const QList<Request> &requests()
    {
        static const QRegularExpression request(
            QStringLiteral("addr=(-?\\d+) fc=-?\\d+ start=(-?\\d+) count=(-?\\d+) -> (.*)$"));
        m_pending += m_sim.errorOutput();
        qsizetype end = 0;
        while ((end = m_pending.indexOf(u'\n')) >= 0) {
            if (const auto match = request.match(m_pending.left(end)); match.hasMatch())
                m_requests << Request {match.captured(1).toInt(), kindOf(match)};
            m_pending.remove(0, end + 1);
        }
        return m_requests;
    }

private:
    static Request::Kind kindOf(const QRegularExpressionMatch &request)
    {
        const QString outcome = request.captured(4);
        if (outcome.startsWith(u"ignored:") && outcome != u"ignored: no meter at this address")
            return Request::Kind::Garbled;
        return request.captured(2).toInt() == createdStartAddress
                && request.captured(3).toInt() == createdRegisterCount
            ? Request::Kind::Poll
            : Request::Kind::Scan;
    }

    MeterSimProcess &m_sim;
    QString m_pending;
    QList<Request> m_requests;
};

bool isScan(const Request &request)
{
    return request.kind == Request::Kind::Scan;
}

bool polledAfterTheScan(const QList<Request> &requests)
{
    return !requests.isEmpty() && requests.constLast().kind == Request::Kind::Poll
        && std::any_of(requests.begin(), requests.end(), isScan);
}

// Why the requests do not show the scan's in one run, after a poll of `lastSlotAddress` (the cycle
// under way when the dialog opened ran to its end first) and before polls again, with none amid
// it and none garbled; empty when they do.
QString scanNotAlone(const QList<Request> &requests, int lastSlotAddress)
{
    const auto first = std::find_if(requests.begin(), requests.end(), isScan);
    if (first == requests.end())
        return QStringLiteral("no scan request");
    const auto last = std::find_if(requests.rbegin(), requests.rend(), isScan).base();
    if (first == requests.begin() || last == requests.end())
        return QStringLiteral("no poll before or after the scan");
    for (const auto &request : requests) {
        if (request.kind == Request::Kind::Garbled)
            return QStringLiteral("two requests at once, near address %1").arg(request.address);
    }
    const auto before = std::prev(first);
    if (before->address != lastSlotAddress)
        return QStringLiteral("the scan began after a poll of address %1").arg(before->address);
    const auto poll = std::find_if_not(first, last, isScan);
    if (poll != last)
        return QStringLiteral("a poll of address %1 amid the scan").arg(poll->address);
    return {};
}

int lastScannedAddress(const QList<Request> &requests)
{
    const auto last = std::find_if(requests.rbegin(), requests.rend(), isScan);
    return last == requests.rend() ? 0 : last->address;
}

QPushButton *buttonCalled(const QWidget &dialog, const QString &text)
{
    for (auto *button : dialog.findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// "2: sdm630" for each row; a row without evidence says so, so that it cannot match.
QStringList tableRows(const QTableWidget &table)
{
    QStringList rows;
    for (int row = 0; row < table.rowCount(); ++row) {
        if (table.item(row, 2)->text().isEmpty())
            rows << QStringLiteral("row %1 without evidence").arg(row);
        rows << table.item(row, 0)->text() + QStringLiteral(": ") + table.item(row, 1)->text();
    }
    return rows;
}

// Each slot's address when it is ticked, else "".
QStringList tickedSlots(const Form1 &form)
{
    QStringList ticked;
    for (int slot = 0; slot < slotCount; ++slot)
        ticked << (form.cheAID[slot]->isChecked() ? form.txtaID[slot]->text() : QString());
    return ticked;
}

QList<int> addressesFrom(int first, int last)
{
    QList<int> addresses;
    for (int address = first; address <= last; ++address)
        addresses << address;
    return addresses;
}

} // namespace

class FindMetersTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void findsTheDevicesAndPutsThemInTheSlots_data();
    void findsTheDevicesAndPutsThemInTheSlots();
    void closingMidScanStopsItAndPollingGoesOn();

private:
    bool openWhileACycleWaits(
        const QList<int> &addresses, const std::function<void(FindMetersDialog &)> &prepare);
    QString scanNotAlone() { return ::scanNotAlone(m_log->requests(), polledSlots.last().toInt()); }

    std::unique_ptr<MeterSimProcess> m_sim;
    std::unique_ptr<LineLog> m_log;
    std::unique_ptr<Form1> m_form;
    // What a test schedules dies with it.
    std::unique_ptr<QObject> m_scheduled;
};

void FindMetersTest::init()
{
    m_sim = std::make_unique<MeterSimProcess>(simOptions(simulatedLine));
    QVERIFY(m_sim->start());
    m_log = std::make_unique<LineLog>(*m_sim);
    // On com9 of the simulator's folder.
    StartValues start;
    start.addresses = polledSlots;
    m_form = std::make_unique<Form1>(m_sim->folder(), start);
    m_form->Form_Load();
    QVERIFY(m_form->link().isOpen());
    QTRY_VERIFY(!m_log->requests().isEmpty());
    m_scheduled = std::make_unique<QObject>();
}

void FindMetersTest::cleanup()
{
    m_scheduled.reset();
    m_form.reset();
    m_log.reset();
    m_sim.reset();
}

// Opens the dialog as an operator would, while a scan cycle of the window waits for address 2,
// and waits until it has been opened; `prepare` has it before its scan can begin.
bool FindMetersTest::openWhileACycleWaits(
    const QList<int> &addresses, const std::function<void(FindMetersDialog &)> &prepare)
{
    QObject opener; // its connections and timer go when this returns
    bool scheduled = false, opened = false;
    connect(m_form.get(), &Form1::registersRead, &opener, [&](const RegisterBlock &block) {
        if (block.address != 1 || scheduled)
            return;
        scheduled = true;
        QTimer::singleShot(0, &opener, [&] {
            auto *dialog = new FindMetersDialog(*m_form, addresses);
            prepare(*dialog);
            dialog->show();
            opened = true;
        });
    });
    return QTest::qWaitFor([&] { return opened; }, scanLimitMs);
}

void FindMetersTest::findsTheDevicesAndPutsThemInTheSlots_data()
{
    QTest::addColumn<QList<int>>("addresses");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("ticked"); // after "Put in the slots"

    const QString unknown = QStringLiteral("present, model unknown");
    QTest::newRow("makers' meters among plain ones")
        << QList<int> {2, 5, 6, 7, 8} << QStringList {"2: sdm630", "5: em24", "6: " + unknown}
        << QStringList {"2", "5", "6", "", ""};
    QTest::newRow("six found, the first five go in")
        << addressesFrom(1, 7)
        << QStringList {"1: " + unknown, "2: sdm630", "3: " + unknown, "4: " + unknown, "5: em24",
               "6: " + unknown}
        << QStringList {"1", "2", "3", "4", "5"};
    // Nothing to put in: the slots are not offered.
    QTest::newRow("nobody there") << QList<int> {7, 8, 9} << QStringList {} << QStringList {};
}

void FindMetersTest::findsTheDevicesAndPutsThemInTheSlots()
{
    QFETCH(QList<int>, addresses);
    QFETCH(QStringList, found);
    QFETCH(QStringList, ticked);

    QPointer<FindMetersDialog> dialog;
    QVERIFY(openWhileACycleWaits(addresses, [&](FindMetersDialog &opened) {
        dialog = &opened;
        // A Scan click during the second address's wait must ask nothing either: with three
        // addresses or more in every row, a poll then would come amid the scan's requests.
        connect(opened.findChild<QProgressBar *>(), &QProgressBar::valueChanged, m_scheduled.get(),
            [this](int asked) {
                if (asked == 1)
                    QTimer::singleShot(0, m_scheduled.get(), [this] { m_form->cmdTest->click(); });
            });
    }));
    auto *save = buttonCalled(*dialog, QStringLiteral("Save line file…"));
    auto *putInSlots = buttonCalled(*dialog, QStringLiteral("Put in the slots"));
    QVERIFY(save && putInSlots);
    QTRY_VERIFY_WITH_TIMEOUT(save->isVisible(), scanLimitMs);

    QCOMPARE(tableRows(*dialog->findChild<QTableWidget *>()), found);
    QTRY_VERIFY(polledAfterTheScan(m_log->requests()));
    const QString notAlone = scanNotAlone();
    QVERIFY2(notAlone.isEmpty(), qPrintable(notAlone));

    QCOMPARE(putInSlots->isVisible(), !found.isEmpty());
    if (found.isEmpty())
        return;
    putInSlots->click();
    QCOMPARE(tickedSlots(*m_form), ticked);
}

void FindMetersTest::closingMidScanStopsItAndPollingGoesOn()
{
    // 40 addresses: past the six meters, each empty one costs a full reply limit.
    constexpr int closedAfter = 8;
    QPointer<FindMetersDialog> dialog;
    QVERIFY(openWhileACycleWaits(addressesFrom(1, 40), [&](FindMetersDialog &opened) {
        dialog = &opened;
        // Closed as an operator would, while it waits for the next address's answer.
        connect(opened.findChild<QProgressBar *>(), &QProgressBar::valueChanged, m_scheduled.get(),
            [&opened](int asked) {
                if (asked == closedAfter)
                    QTimer::singleShot(0, &opened, &FindMetersDialog::close);
            });
    }));
    // It goes once its scan has returned.
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), scanLimitMs);

    QTRY_VERIFY(polledAfterTheScan(m_log->requests()));
    const QString notAlone = scanNotAlone();
    QVERIFY2(notAlone.isEmpty(), qPrintable(notAlone));
    // Nothing asked past the address in hand when it closed.
    const int last = lastScannedAddress(m_log->requests());
    QVERIFY2(last >= closedAfter && last <= closedAfter + 1, qPrintable(QString::number(last)));
}

QTEST_MAIN(FindMetersTest)
#include "tst_findmeters.moc"
