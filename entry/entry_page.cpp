#include "app/form1.h"
#include "store/dataset.h"
#include "widgets/db_grid.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

// The entry page. For now: the grid of all purchase records and the page's first guidance text.
void TForm1::buildEntryPage()
{
    DBGrid1 = new DBGrid(QStringLiteral("DBGrid1"), TabSheet1);
    DBGrid1->setGeometry(14, 277, 634, 263);
    QFont cells(QStringLiteral("黑体"));
    cells.setPixelSize(16);
    cells.setBold(true);
    DBGrid1->setFont(cells);
    DBGrid1->setStyleSheet(QStringLiteral("QTableView { color: navy; }"));
    QFont titles(QStringLiteral("宋体"));
    titles.setPixelSize(19);
    DBGrid1->horizontalHeader()->setFont(titles);
    DBGrid1->setColumns({{QStringLiteral("ID"), QStringLiteral("流水号"), 90},
                         {QStringLiteral("Name"), QStringLiteral("品名"), 90},
                         {QStringLiteral("Single_Price"), QStringLiteral("单价"), 100},
                         {QStringLiteral("Kount"), QStringLiteral("数量"), 93},
                         {QStringLiteral("ZongPrice"), QStringLiteral("总价"), 85},
                         {QStringLiteral("Sime"), QStringLiteral("进货时间"), 135}});
    DBGrid1->setDataSource(DataSource1);
}

void TForm1::TabSheet1Show()
{
    setGuidance(QStringLiteral("在左边的“货物类别”中选择货物的名称，双击以输入；若无，则双击“其它”项；"));
    setSimplePanel(true);
    Table1->open();
    Label10->show();
    TreeView1->show();
    Table3->close();
}

void TForm1::TreeView1DblClickEntry(const QString &) {}
void TForm1::DBEdit1KeyPress(QChar &) {}
void TForm1::DBEdit2KeyPress(QChar &) {}
void TForm1::DBEdit3KeyPress(QChar &) {}
void TForm1::DBEdit4KeyPress(QChar &) {}
void TForm1::DBEdit5KeyPress(QChar &) {}
void TForm1::DBEdit2KeyUp(int) {}
void TForm1::DBEdit3KeyUp(int) {}
void TForm1::DBEdit1Click() {}
void TForm1::DBEdit2Click() {}
void TForm1::DBEdit3Click() {}
void TForm1::DBEdit4Click() {}
void TForm1::DBEdit5Click() {}
void TForm1::DBEdit1Change() {}
void TForm1::DBEdit2Change() {}
void TForm1::DBEdit3Change() {}
void TForm1::DBEdit4Change() {}
void TForm1::DBEdit5Change() {}
void TForm1::Button1Click() {}
void TForm1::Button2Click() {}
void TForm1::Button4Click() {}
void TForm1::Button3Click() {}
void TForm1::Memo1KeyPress(QChar &) {}
void TForm1::loadMemo() {}
