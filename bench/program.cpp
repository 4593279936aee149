// The program under the bench: its main window made and destroyed for the actions, its handlers run as the event loop
// runs them, the boxes it showed, and the steps that bring its pages to where an action starts.

#include "bench/bench.h"

#include "app/form1.h"
#include "reports/form2.h"
#include "store/database.h"
#include "widgets/db_edit.h"
#include "widgets/db_grid.h"
#include "widgets/guard.h"
#include "widgets/mask_edit.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <stdexcept>

namespace {

QString kindName(MessageBoxes::Kind kind)
{
    switch (kind) {
    case MessageBoxes::Kind::Message:
        return QStringLiteral("message box");
    case MessageBoxes::Kind::Question:
        return QStringLiteral("question");
    case MessageBoxes::Kind::Error:
        return QStringLiteral("ERROR box");
    case MessageBoxes::Kind::Beep:
        return QStringLiteral("beep");
    }
    return QString();
}

} // namespace

QString dateFieldText(const QDate &date)
{
    return QStringLiteral("%1-%2-%3")
        .arg(date.year() % 100, 2, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'));
}

void Bench::createForm()
{
    qputenv("BCDEMOS", alias().toLocal8Bit());
    Session::reset();
    m_boxes.clear();
    Form1 = new TForm1;
    Form2 = new TForm2(Form1);
    Form1->show();
    Form1->activateWindow();
    if (!QTest::qWaitForWindowActive(Form1, 2000))
        std::printf("  (the main window did not become active)\n");
    settle();
    const QStringList boxes = unexpectedBoxes();
    if (!boxes.isEmpty())
        throw std::runtime_error("the main window showed: " + boxes.join(QStringLiteral("; ")).toStdString());
    // The rows a grid shows at once: its screenful.
    const int rowHeight = std::max(1, Form1->DBGrid1->verticalHeader()->defaultSectionSize());
    m_visibleRows = size_t(Form1->DBGrid1->viewport()->height() / rowHeight + 1);
}

void Bench::destroyForm()
{
    delete Form2;
    Form2 = nullptr;
    delete Form1;
    Form1 = nullptr;
    Session::reset();
}

void Bench::settle()
{
    QCoreApplication::processEvents();
    if (Form1)
        Form1->repaint();
}

void Bench::handler(const Step &step)
{
    Guard::run(step);
    settle();
}

QStringList Bench::unexpectedBoxes() const
{
    QStringList out;
    for (const MessageBoxes::Record &r : m_boxes.records) {
        if (r.kind == MessageBoxes::Kind::Question)
            continue; // the delete command's confirmation, answered OK
        out << QStringLiteral("%1 \"%2\"").arg(kindName(r.kind), r.text);
    }
    return out;
}

void Bench::showPage(int page)
{
    QWidget *target = page == 1 ? static_cast<QWidget *>(Form1->TabSheet1) : Form1->TabSheet2;
    if (Form1->PageControl1->currentWidget() != target)
        handler([&] { Form1->PageControl1->setCurrentWidget(target); });
}

void Bench::endEntry()
{
    if (Form1->Table1->active() && (Form1->Button1->isEnabled() || Form1->Table1->state() != Dataset::Browse))
        handler([] { Form1->Button2Click(); });
}

void Bench::selectGoods(const QString &goods)
{
    const auto items = Form1->TreeView1->findItems(goods, Qt::MatchExactly | Qt::MatchRecursive);
    if (items.isEmpty())
        throw std::runtime_error("the catalogue has no " + goods.toStdString());
    if (items.first()->parent())
        items.first()->parent()->setExpanded(true);
    Form1->TreeView1->setCurrentItem(items.first());
}

// mode: 3 by goods, 1 one day, 2 a range of days.
void Bench::setQuery(int mode, const QString &goods, const QDate &from, const QDate &to, bool summary)
{
    showPage(2);
    handler([&] {
        if (mode == 3) {
            Form1->RadioButton3->setChecked(true);
            Form1->MaskEdit3->setText(goods);
            return;
        }
        // The date modes are locked while the name field holds text; choosing one empties it.
        Form1->MaskEdit3->clear();
        if (mode == 1) {
            Form1->RadioButton1->setChecked(true);
            Form1->MaskEdit1->setText(dateFieldText(from));
        } else {
            Form1->RadioButton2->setChecked(true);
            Form1->MaskEdit1->setText(dateFieldText(from));
            Form1->MaskEdit2->setText(dateFieldText(to));
            Form1->CheckBox1->setChecked(summary);
        }
    });
}
