#include "app/form1.h"
#include "store/dataset.h"

#include <QLabel>
#include <QTreeWidget>

// The query page; built by the query subsystem.
void TForm1::buildQueryPage() {}

void TForm1::TabSheet2Show()
{
    setGuidance(QStringLiteral("选择查询方式：或双击左边输入品名，或直接输入品名；"));
    Table1->close();
    DataSource3->setDataset(Table3);
    Label10->show();
    TreeView1->show();
    Table3->open();
}

void TForm1::TreeView1DblClickQuery(const QString &) {}
void TForm1::RadioButton1Click() {}
void TForm1::RadioButton2Click() {}
void TForm1::RadioButton3Click() {}
void TForm1::MaskEdit1Change() {}
void TForm1::MaskEdit2Change() {}
void TForm1::MaskEdit3Change() {}
void TForm1::MaskEdit1KeyPress(QChar &) {}
void TForm1::MaskEdit2KeyPress(QChar &) {}
void TForm1::MaskEdit3KeyPress(QChar &) {}
void TForm1::CheckBox1Click() {}
void TForm1::CheckBox2Click() {}
void TForm1::Button7Click() {}
void TForm1::Button6Click() {}
void TForm1::Table3AfterDelete() {}
void TForm1::Query1AfterDelete() {}
