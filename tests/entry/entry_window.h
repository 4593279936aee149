#pragma once

// The main window over a temporary data folder, shown offscreen with the entry page active. The current directory
// is the data folder while it lives: the memo file lies there.

#include "app/form1.h"
#include "store/dataset.h"
#include "tests/entry/keys.h"
#include "tests/fixture.h"
#include "widgets/db_edit.h"
#include "widgets/message_boxes.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <optional>

struct EntryWindow
{
    // prepare adds records before the window opens; memo, when given, is written to bwl.sys first.
    explicit EntryWindow(const std::function<void(DataFolder &)> &prepare = {},
                         const std::optional<QByteArray> &memo = QByteArray())
        : oldDir(QDir::currentPath())
    {
        QDir::setCurrent(data.path());
        if (memo)
            writeMemo(*memo);
        if (prepare)
            prepare(data);
        form = std::make_unique<TForm1>();
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("main window not active");
    }
    ~EntryWindow()
    {
        form.reset();
        QDir::setCurrent(oldDir);
    }

    static void writeMemo(const QByteArray &bytes)
    {
        QFile f(QStringLiteral("bwl.sys"));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qWarning("cannot write bwl.sys");
    }
    static QByteArray memoFile()
    {
        QFile f(QStringLiteral("bwl.sys"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // Double-clicks a goods in the catalogue, as the mouse does.
    void pick(const QString &goods)
    {
        QTreeWidget *tree = form->TreeView1;
        const auto items = tree->findItems(goods, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY2(!items.isEmpty(), qPrintable(goods));
        QTreeWidgetItem *item = items.first();
        if (item->parent())
            item->parent()->setExpanded(true);
        tree->scrollToItem(item);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    }

    void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }

    Field *field(const QString &name) const { return form->Table1->fieldByName(name); }

    // The stored purchase record with the given ID, as text: name|price|count|total|date.
    QString stored(int id) const
    {
        Statement st(Session::database(),
                     QStringLiteral("SELECT Name, Single_Price, Kount, ZongPrice, Sime FROM JHB WHERE ID=?"));
        st.bind(0, id);
        if (!st.step())
            return QStringLiteral("<none>");
        QStringList parts;
        for (int i = 0; i < 5; ++i)
            parts << st.column(i).toString();
        return parts.join(QLatin1Char('|'));
    }

    QString oldDir;
    DataFolder data;
    ScriptedMessageBoxes boxes;
    std::unique_ptr<TForm1> form;
};
