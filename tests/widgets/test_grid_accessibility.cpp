// What assistive technology sees of a data grid over a large table. The test runs on its own X server and session
// bus (see CMakeLists.txt) with accessibility always on, so Qt's AT-SPI bridge starts a real accessibility bus and
// answers on it; the checks read Qt's accessibility interfaces in process and, as a screen reader does, the bus.

#include "store/dataset.h"
#include "tests/fixture.h"
#include "tools/generate.h"
#include "widgets/db_grid.h"

#include <QAccessible>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QTest>

namespace {

constexpr int Rows = 100000;

// Keeps what the bridge would send: the event's kind and the interface it names, resolved at once.
struct Notice
{
    QAccessible::Event type;
    QString name;
    int row = -1;
};
QList<Notice> &notices()
{
    static QList<Notice> list;
    return list;
}

void recordNotice(QAccessibleEvent *event)
{
    if (event->type() != QAccessible::Focus && event->type() != QAccessible::SelectionAdd)
        return;
    QAccessibleInterface *iface = event->accessibleInterface();
    Notice n{event->type(), iface ? iface->text(QAccessible::Name) : QString()};
    if (iface && iface->tableCellInterface())
        n.row = iface->tableCellInterface()->rowIndex();
    notices().append(n);
}

// The accessibility bus as a client reaches it: its address from the session bus, and this program's name on it.
struct AccessibilityBus
{
    QDBusConnection client{QString()};
    QString program;

    static QString address()
    {
        const QDBusReply<QString> reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                           QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
        return reply.isValid() ? reply.value() : QString();
    }
    static AccessibilityBus open()
    {
        AccessibilityBus bus;
        bus.client = QDBusConnection::connectToBus(address(), QStringLiteral("screen reader"));
        // Qt's bridge names its connection to that bus "a11y".
        bus.program = QDBusConnection(QStringLiteral("a11y")).baseService();
        return bus;
    }
    static QString pathOf(QAccessibleInterface *iface)
    {
        return QStringLiteral("/org/a11y/atspi/accessible/") + QString::number(QAccessible::uniqueId(iface));
    }
    // Calls the program without blocking it (it answers from this thread's event loop) and waits for the answer.
    QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                      const QVariantList &args = {}) const
    {
        QDBusMessage m = QDBusMessage::createMethodCall(program, path, interface, method);
        m.setArguments(args);
        QDBusPendingCallWatcher watcher(client.asyncCall(m, 60000));
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!watcher.isFinished())
            loop.exec();
        return watcher.reply();
    }
    QString name(const QString &path) const
    {
        const QDBusMessage reply = call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                        {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    }
};

// The object paths in an AT-SPI answer of object references, a(so).
QStringList objectPaths(const QDBusArgument &arg)
{
    QStringList paths;
    arg.beginArray();
    while (!arg.atEnd()) {
        QString service;
        QDBusObjectPath path;
        arg.beginStructure();
        arg >> service >> path;
        arg.endStructure();
        paths << path.path();
    }
    arg.endArray();
    return paths;
}

} // namespace

class TestGridAccessibility : public QObject
{
    Q_OBJECT

    DataFolder *m_data = nullptr;
    Table *m_table = nullptr;
    DataSource *m_source = nullptr;
    DBGrid *m_grid = nullptr;

private slots:
    void initTestCase()
    {
        // Asking the session bus for the accessibility bus starts it, as a desktop's session does at log-in; Qt's
        // bridge then connects to it.
        QVERIFY(QAccessible::queryAccessibleInterface(qApp));
        QVERIFY(!AccessibilityBus::address().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 10000);
        m_data = new DataFolder;
        generatePurchases(Session::database(), Rows, QDate(2026, 12, 10));
        m_table = new Table(QStringLiteral("Table3"));
        m_table->setTableName(QStringLiteral("JHB"));
        m_source = new DataSource(QStringLiteral("DataSource3"));
        m_source->setDataset(m_table);
        m_grid = new DBGrid(QStringLiteral("DBGrid2"));
        m_grid->setAccessibleName(QStringLiteral("查询详单"));
        m_grid->setColumns({{QStringLiteral("ID"), QStringLiteral("流水号"), 60},
                            {QStringLiteral("Name"), QStringLiteral("品名"), 60},
                            {QStringLiteral("Kount"), QStringLiteral("数量"), 50},
                            {QStringLiteral("Sime"), QStringLiteral("进货时间"), 90}});
        m_grid->setDataSource(m_source);
        m_grid->resize(300, 260);
        m_grid->show();
        m_grid->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_grid));
        m_table->open();
        QCOMPARE(m_grid->model()->rowCount(), Rows);
    }
    void cleanupTestCase()
    {
        delete m_grid;
        delete m_source;
        delete m_table;
        delete m_data;
    }

    // A client that lists the grid's children (as tree browsers and some screen readers do) gets the column headers
    // and the rows on screen, each reading its value, not one object for every cell of 100,000 rows, which held the
    // accessibility bus for seconds and had to be deleted again at every refill of the grid.
    void childrenAreTheRowsOnScreen()
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(m_grid);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::Table);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("查询详单"));
        const int columns = m_grid->model()->columnCount();
        const int onScreen = m_grid->rowAt(m_grid->viewport()->height() - 1) - m_grid->rowAt(0) + 1;
        QVERIFY(onScreen > 3);
        QCOMPARE(iface->childCount(), columns + onScreen * columns);

        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface *child = iface->child(i);
            QVERIFY2(child, qPrintable(QString::number(i)));
            QCOMPARE(iface->indexOfChild(child), i);
            QCOMPARE(child->parent(), iface);
            if (i < columns) {
                QCOMPARE(child->role(), QAccessible::ColumnHeader);
                QCOMPARE(child->text(QAccessible::Name), m_grid->model()->headerData(i, Qt::Horizontal).toString());
                continue;
            }
            QCOMPARE(child->role(), QAccessible::Cell);
            QAccessibleTableCellInterface *cell = child->tableCellInterface();
            QVERIFY(cell);
            const QModelIndex index = m_grid->model()->index(cell->rowIndex(), cell->columnIndex());
            QCOMPARE(cell->rowIndex(), m_grid->rowAt(0) + (i - columns) / columns);
            QCOMPARE(child->text(QAccessible::Name), index.data().toString());
            QVERIFY(!child->text(QAccessible::Name).isEmpty());
            QVERIFY(!child->state().invisible);
            const QPoint centre = m_grid->visualRect(index).center();
            QCOMPARE(child->rect().center(), m_grid->viewport()->mapToGlobal(centre));
            if (m_grid->viewport()->rect().contains(centre))
                QCOMPARE(iface->childAt(child->rect().center().x(), child->rect().center().y()), child);
        }
    }

    // Every value stays readable: any cell of any row is made on demand through the table interface, with its column
    // header; the current row is a child wherever it is scrolled.
    void everyCellReadsOnDemand()
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(m_grid);
        QAccessibleTableInterface *table = iface->tableInterface();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), Rows);
        QCOMPARE(table->columnCount(), 4);
        QCOMPARE(table->columnDescription(3), QStringLiteral("进货时间"));
        for (int row : {0, 4321, Rows - 1}) {
            for (int column = 0; column < 4; ++column) {
                QAccessibleInterface *cell = table->cellAt(row, column);
                QVERIFY(cell);
                QCOMPARE(cell->text(QAccessible::Name), m_grid->model()->index(row, column).data().toString());
                QCOMPARE(cell->tableCellInterface()->rowIndex(), row);
                QCOMPARE(cell->tableCellInterface()->columnIndex(), column);
                const QList<QAccessibleInterface *> headers = cell->tableCellInterface()->columnHeaderCells();
                QCOMPARE(headers.size(), 1);
                QCOMPARE(headers.first()->text(QAccessible::Name), table->columnDescription(column));
            }
        }
        QVERIFY(!table->cellAt(Rows, 0));
        QVERIFY(table->cellAt(4321, 0)->state().invisible); // not on screen

        // The last record, reached by the keyboard: its cells are children and the focused one is the current cell.
        m_grid->setFocus();
        QTest::keyClick(m_grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(m_table->recNo(), Rows);
        QAccessibleInterface *focused = iface->focusChild();
        QVERIFY(focused);
        QCOMPARE(focused->tableCellInterface()->rowIndex(), Rows - 1);
        QVERIFY(focused->state().focused);
        QVERIFY(focused->state().selected);
        QVERIFY(iface->indexOfChild(focused) >= 0);
        QCOMPARE(iface->child(iface->indexOfChild(focused)), focused);
        QCOMPARE(table->selectedRows(), QList<int>{Rows - 1});
        // A grid left behind keeps its current cell but not the keyboard focus.
        m_grid->clearFocus();
        QVERIFY(!focused->state().focused);
        QVERIFY(!iface->focusChild());

        // Selecting a row or a cell through accessibility makes it the current record, as a click does.
        QVERIFY(table->selectRow(7));
        QCOMPARE(m_table->recNo(), 8);
        QAccessibleActionInterface *action = table->cellAt(12, 1)->actionInterface();
        QVERIFY(action);
        action->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(m_table->recNo(), 13);
        QVERIFY(table->cellAt(12, 3)->state().selected);
    }

    // Reading many cells one by one keeps only a bounded number of objects, and a refill of the grid (a new result)
    // forgets them: nothing per row is left for the next refill to walk.
    void cellObjectsStayBounded()
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(m_grid);
        QAccessibleTableInterface *table = iface->tableInterface();
        QList<std::pair<QAccessible::Id, int>> read; // the object's id and its row
        for (int row = 0; row < Rows; row += 20)
            read.append({QAccessible::uniqueId(table->cellAt(row, 1)), row});
        QCoreApplication::processEvents();
        // Still there: the id names a cell of that row (a freed id may be given to a new object).
        const auto alive = [&read] {
            return std::count_if(read.cbegin(), read.cend(), [](const std::pair<QAccessible::Id, int> &r) {
                QAccessibleInterface *iface = QAccessible::accessibleInterface(r.first);
                return iface && iface->tableCellInterface() && iface->tableCellInterface()->rowIndex() == r.second &&
                       iface->tableCellInterface()->columnIndex() == 1;
            });
        };
        QVERIFY2(alive() <= 600, qPrintable(QString::number(alive())));

        m_table->close();
        m_table->open();
        QCOMPARE(alive(), 0);
        QCOMPARE(table->rowCount(), Rows);
        QCOMPARE(iface->child(iface->childCount() - 1)->text(QAccessible::Name),
                 m_grid->model()->index(m_grid->rowAt(m_grid->viewport()->height() - 1), 3).data().toString());
    }

    // Over the accessibility bus, as a screen reader asks: listing the grid's children answers with the rows on
    // screen (Qt's own table answered 700,007 object references, made one object per cell and held the bus for
    // seconds), and any cell is still read by row and column.
    void screenReaderOverTheBus()
    {
        const AccessibilityBus bus = AccessibilityBus::open();
        QVERIFY(bus.client.isConnected());
        QVERIFY(!bus.program.isEmpty());
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(m_grid);
        const QString grid = AccessibilityBus::pathOf(iface);
        QCOMPARE(bus.name(grid), QStringLiteral("查询详单"));

        const QDBusMessage children =
            bus.call(grid, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
        QCOMPARE(children.type(), QDBusMessage::ReplyMessage);
        const QStringList paths = objectPaths(children.arguments().at(0).value<QDBusArgument>());
        QCOMPARE(paths.size(), iface->childCount());
        QVERIFY2(paths.size() < 100, qPrintable(QString::number(paths.size())));
        QCOMPARE(bus.name(paths.last()), iface->child(iface->childCount() - 1)->text(QAccessible::Name));

        const QDBusMessage rows =
            bus.call(grid, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                     {QStringLiteral("org.a11y.atspi.Table"), QStringLiteral("NRows")});
        QCOMPARE(rows.arguments().value(0).value<QDBusVariant>().variant().toInt(), Rows);
        const QDBusMessage last =
            bus.call(grid, QStringLiteral("org.a11y.atspi.Table"), QStringLiteral("GetAccessibleAt"), {Rows - 1, 3});
        QCOMPARE(last.type(), QDBusMessage::ReplyMessage);
        QString service;
        QDBusObjectPath path;
        const QDBusArgument ref = last.arguments().at(0).value<QDBusArgument>();
        ref.beginStructure();
        ref >> service >> path;
        ref.endStructure();
        QCOMPARE(bus.name(path.path()), m_grid->model()->index(Rows - 1, 3).data().toString());
        QCOMPARE(bus.name(path.path()), QStringLiteral("2026-12-10"));

        // A refill of the grid (a new result) leaves the bus answering at once.
        m_table->close();
        m_table->open();
        QCOMPARE(bus.name(grid), QStringLiteral("查询详单"));
    }

    // The screen reader hears of a new current cell only while the grid has the keyboard, and then hears the cell
    // with its value; a selection names the selected cell.
    void focusNoticesNameTheCell()
    {
        notices().clear();
        const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(recordNotice);
        m_grid->clearFocus();
        m_table->moveTo(100);
        QVERIFY(std::none_of(notices().cbegin(), notices().cend(),
                             [](const Notice &n) { return n.type == QAccessible::Focus; }));
        QVERIFY(std::any_of(notices().cbegin(), notices().cend(),
                            [](const Notice &n) { return n.type == QAccessible::SelectionAdd && n.row == 99; }));

        notices().clear();
        m_grid->activateWindow();
        m_grid->setFocus();
        QTest::keyClick(m_grid, Qt::Key_Down);
        QCOMPARE(m_table->recNo(), 101);
        QAccessible::installUpdateHandler(previous);
        const auto focus = std::find_if(notices().cbegin(), notices().cend(),
                                        [](const Notice &n) { return n.type == QAccessible::Focus && n.row == 100; });
        QVERIFY(focus != notices().cend());
        QCOMPARE(focus->name, m_grid->model()->index(100, m_grid->currentIndex().column()).data().toString());
    }
};

QTEST_MAIN(TestGridAccessibility)
#include "test_grid_accessibility.moc"
