#include "app/form1.h"
#include "catalogue/catalogue.h"
#include "entry/memo_pad.h"
#include "entry/price_note.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/recycle_bin.h"
#include "store/text_forms.h"
#include "widgets/db_edit.h"
#include "widgets/db_grid.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"
#include "widgets/pixel_font.h"

#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace {

void setTextColour(QWidget *w, QPalette::ColorRole role, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

const QChar EnterKey(13);

// A number typed into the price or the quantity edit, for the automatic total.
double numberOf(const QString &text)
{
    const auto d = parseFloat(text);
    if (!d)
        throw AppError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return *d;
}

// Keeps a control's bottom edge inside its page: the page is lower than the layout's height leaves room for, and a
// grid that reached behind the status bar would hide its newest row and the end of its scroll bar.
class FitInPage : public QObject
{
public:
    FitInPage(QWidget *control, int height) : QObject(control), m_control(control), m_height(height)
    {
        control->parentWidget()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize) {
            const int room = m_control->parentWidget()->height() - m_control->y() - 2;
            m_control->resize(m_control->width(), qBound(0, room, m_height));
        }
        return false;
    }

private:
    QWidget *m_control;
    int m_height;
};

} // namespace

void TForm1::buildEntryPage()
{
    const QFont caption = pixelFont(QStringLiteral("宋体"), 16);

    GroupBox1 = new QGroupBox(QStringLiteral("货物信息"), TabSheet1);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(19, 67, 432, 151);
    GroupBox1->setFont(caption);

    const QFont editFont = pixelFont(QStringLiteral("黑体"), 16, true);
    const struct
    {
        DBEdit **edit;
        const char *name;
        const char *field;
        QLabel **label;
        const char *labelName;
        const char *caption;
        int x, y, w;
    } edits[] = {
        {&DBEdit1, "DBEdit1", "Name", &Label2, "Label2", "品名：", 100, 26, 60},
        {&DBEdit3, "DBEdit3", "Single_Price", &Label5, "Label5", "单价：", 99, 66, 60},
        {&DBEdit2, "DBEdit2", "Kount", &Label4, "Label4", "数量：", 304, 29, 58},
        {&DBEdit4, "DBEdit4", "ZongPrice", &Label6, "Label6", "总价：", 303, 66, 74},
        {&DBEdit5, "DBEdit5", "Sime", &Label7, "Label7", "时间：", 98, 106, 97},
    };
    for (const auto &e : edits) {
        auto *edit = new DBEdit(QString::fromLatin1(e.name), GroupBox1);
        edit->setGeometry(e.x, e.y, e.w, 24);
        edit->setFont(editFont);
        edit->setTextMargins(0, 0, 0, 0);
        setTextColour(edit, QPalette::Text, QColor(0, 0, 128));
        edit->setDataSource(DataSource1);
        edit->setDataField(QString::fromLatin1(e.field));
        *e.edit = edit;
        auto *label = new QLabel(QString::fromUtf8(e.caption), GroupBox1);
        label->setObjectName(QString::fromLatin1(e.labelName));
        label->setFont(caption);
        label->setGeometry(e.x - 50, e.y + 4, 48, 18);
        label->setBuddy(edit);
        edit->setAccessibleName(QString::fromUtf8(e.caption).chopped(1));
        *e.label = label;
    }
    DBEdit3->setAccepts(DBEdit::Accepts::Number);
    DBEdit2->setAccepts(DBEdit::Accepts::Number);
    DBEdit4->setAccepts(DBEdit::Accepts::Number);
    DBEdit1->setMaxTypedBytes(8);

    const struct
    {
        QLabel **label;
        const char *name;
        const char *text;
        DBEdit *edit;
    } units[] = {
        {&Label8, "Label8", "元/斤", DBEdit3}, {&Label3, "Label3", "斤", DBEdit2}, {&Label9, "Label9", "元", DBEdit4}};
    for (const auto &u : units) {
        auto *label = new QLabel(QString::fromUtf8(u.text), GroupBox1);
        label->setObjectName(QString::fromLatin1(u.name));
        label->setFont(caption);
        const QRect r = u.edit->geometry();
        label->setGeometry(r.right() + 5, r.top() + 4, 56, 18);
        *u.label = label;
    }
    m_priceNote = new PriceNote(DBEdit3, Label8, DataSource1);

    DBEdit1->onKeyPress = [this](QChar &k) { DBEdit1KeyPress(k); };
    DBEdit2->onKeyPress = [this](QChar &k) { DBEdit2KeyPress(k); };
    DBEdit3->onKeyPress = [this](QChar &k) { DBEdit3KeyPress(k); };
    DBEdit4->onKeyPress = [this](QChar &k) { DBEdit4KeyPress(k); };
    DBEdit5->onKeyPress = [this](QChar &k) { DBEdit5KeyPress(k); };
    DBEdit2->onKeyUp = [this](int k) { DBEdit2KeyUp(k); };
    DBEdit3->onKeyUp = [this](int k) { DBEdit3KeyUp(k); };
    DBEdit1->onClick = [this] { DBEdit1Click(); };
    DBEdit2->onClick = [this] { DBEdit2Click(); };
    DBEdit3->onClick = [this] { DBEdit3Click(); };
    DBEdit4->onClick = [this] { DBEdit4Click(); };
    DBEdit5->onClick = [this] { DBEdit5Click(); };
    DBEdit1->onChange = [this] { DBEdit1Change(); };
    DBEdit2->onChange = [this] { DBEdit2Change(); };
    DBEdit3->onChange = [this] { DBEdit3Change(); };
    DBEdit4->onChange = [this] { DBEdit4Change(); };
    DBEdit5->onChange = [this] { DBEdit5Change(); };

    const struct
    {
        QPushButton **button;
        const char *name;
        const char *text;
        int x, y, w, h;
        void (TForm1::*handler)();
    } buttons[] = {{&Button1, "Button1", "输入", 121, 237, 78, 28, &TForm1::Button1Click},
                   {&Button4, "Button4", "!删除!", 199, 237, 78, 28, &TForm1::Button4Click},
                   {&Button2, "Button2", "取消", 277, 237, 78, 28, &TForm1::Button2Click},
                   {&Button3, "Button3", "写入", 521, 238, 65, 28, &TForm1::Button3Click}};
    for (const auto &b : buttons) {
        auto *button = new QPushButton(QString::fromUtf8(b.text), TabSheet1);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setGeometry(b.x, b.y, b.w, b.h);
        button->setFont(caption);
        // Enter on a focused button clicks it, as Space does.
        button->setAutoDefault(true);
        connect(button, &QPushButton::clicked, this, guarded(this, b.handler));
        *b.button = button;
    }
    Button4->setFont(pixelFont(QStringLiteral("黑体"), 20, true));
    setTextColour(Button4, QPalette::ButtonText, Qt::red);
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);

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
                         {QStringLiteral("ZongPrice"), QStringLiteral("总价"), 95}, // "999999.99" in full
                         {QStringLiteral("Sime"), QStringLiteral("进货时间"), 135}});
    DBGrid1->setDataSource(DataSource1);
    new FitInPage(DBGrid1, 263);

    Label1 = new QLabel(QStringLiteral("备忘录"), TabSheet1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(pixelFont(QStringLiteral("MS Sans Serif"), 16));
    Label1->setGeometry(460, 12, 60, 20);

    auto *memo = new MemoPad(QStringLiteral("Memo1"), TabSheet1);
    memo->setGeometry(463, 33, 181, 185);
    memo->setFont(pixelFont(QStringLiteral("宋体"), 16, true));
    setTextColour(memo, QPalette::Text, QColor(0, 0, 128));
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setTabChangesFocus(true);
    memo->setAccessibleName(QStringLiteral("备忘录"));
    memo->setPlainText(QStringLiteral("Memo1"));
    memo->onKeyPress = [this](QChar &k) { Memo1KeyPress(k); };
    Memo1 = memo;
    Label1->setBuddy(memo);

    QWidget::setTabOrder(DBEdit1, DBEdit3);
    QWidget::setTabOrder(DBEdit3, DBEdit2);
    QWidget::setTabOrder(DBEdit2, DBEdit4);
    QWidget::setTabOrder(DBEdit4, DBEdit5);
    QWidget::setTabOrder(DBEdit5, Button1);
    QWidget::setTabOrder(Button1, Button4);
    QWidget::setTabOrder(Button4, Button2);
    QWidget::setTabOrder(Button2, DBGrid1);
    QWidget::setTabOrder(DBGrid1, Memo1);
    QWidget::setTabOrder(Memo1, Button3);
}

void TForm1::TabSheet1Show()
{
    setGuidance(QStringLiteral("在左边的“货物类别”中选择货物的名称，双击以输入；若无，则双击“其它”项；"));
    setSimplePanel(true);
    Table1->open();
    Button1->setEnabled(false);
    // A memo file that cannot be read is reported, but the page is still set up: otherwise the catalogue could stay
    // hidden (after the about page) until the file exists.
    std::optional<AppError> memoError;
    try {
        loadMemo();
    } catch (const AppError &e) {
        memoError = e;
    }
    Label10->show();
    TreeView1->show();
    Table3->close();
    Button3->setEnabled(false);
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    if (memoError)
        throw *memoError;
}

// The last price of goods: the price of its record with the highest ID, found through the index on (Name, ID).
// The first move settles a record still in entry, as every move does.
static QString lastPrice(Table *table, const QString &goods)
{
    table->last();
    if (table->recordCount() == 0 || !table->locateLast(QStringLiteral("Name"), goods))
        return QStringLiteral("0");
    Field *price = table->fieldByName(QStringLiteral("Single_Price"));
    return price->isNull() ? QStringLiteral("0") : formatGeneral(price->asFloat());
}

// ID is a 32-bit field: the number after the last one must still fit it, or no record is started.
static void refuseIdBeyondRange(qint64 last)
{
    if (last >= INT32_MAX)
        throw AppError(
            QStringLiteral("最后一条记录的流水号是 %1，下一个流水号会超出 2147483647，新记录没有开始").arg(last));
}

void TForm1::TreeView1DblClickEntry(const QString &goods)
{
    if (Button1->isEnabled()) {
        MessageBoxes::instance().message(QStringLiteral("上次输入的数据还没处理,或当前选中的记录还没结束编辑；\n \n"
                                                        "         请输入或编辑数据，或删除，取消；"));
        return;
    }
    const QString price = lastPrice(Table1, goods);
    if (Table1->recordCount() > 0) {
        Table1->last();
        const qint64 n = Table1->fieldByName(QStringLiteral("ID"))->asLargeInt();
        refuseIdBeyondRange(n);
        Table1->append();
        Table1->fieldByName(QStringLiteral("ID"))->setAsInteger(n + 1);
        DBEdit::moveFocus(DBEdit3);
        DBEdit3->setText(price);
        DBEdit3->selectAll();
    } else {
        Table1->append();
        Table1->fieldByName(QStringLiteral("ID"))->setAsInteger(10000);
    }
    DBEdit1->setText(goods);
    DBEdit5->setText(Panel1->text());
    const Catalogue::Units units = Catalogue::unitsFor(DBEdit1->text());
    Label3->setText(units.quantity);
    Label8->setText(units.price);
    if (goods == QString::fromUtf8(Catalogue::OtherGoods))
        DBEdit::moveFocus(DBEdit1);
    m_priceNote->start(price);
    Button2->setEnabled(true);
    setGuidance(QStringLiteral("输入货物的品名或单价，按回车结束；"));
}

// ---- field entry ----

void TForm1::DBEdit1KeyPress(QChar &key)
{
    if (key != EnterKey)
        return;
    if (DBEdit1->text().isEmpty())
        MessageBoxes::instance().message(QStringLiteral("请输入品名！"));
    DBEdit::moveFocus(DBEdit3);
    setGuidance(QStringLiteral("输入该货物的单价，按回车结束；"));
}

void TForm1::DBEdit3KeyPress(QChar &key)
{
    if (key != EnterKey)
        return;
    setGuidance(QStringLiteral("输入货物的数量，按回车结束；"));
    if (!DBEdit3->text().isEmpty())
        DBEdit::moveFocus(DBEdit2);
}

void TForm1::DBEdit2KeyPress(QChar &key)
{
    if (key != EnterKey)
        return;
    DBEdit::moveFocus(Button1);
    setGuidance(QStringLiteral("按回车输入数据；按取消则本条记录不输入；有错误可修改或删除重输；"));
}

void TForm1::DBEdit4KeyPress(QChar &key)
{
    if (key == EnterKey)
        DBEdit::moveFocus(Button1);
}

void TForm1::DBEdit5KeyPress(QChar &key)
{
    if (key == EnterKey)
        DBEdit::moveFocus(Button1);
}

// The automatic total after a key in one of the two factors: an emptied factor becomes "0", selected.
static void automaticTotal(DBEdit *typedIn, DBEdit *other, DBEdit *total)
{
    if (typedIn->text().isEmpty()) {
        typedIn->setText(QStringLiteral("0"));
        typedIn->selectAll();
    }
    if (!other->text().isEmpty())
        total->setText(formatGeneral(numberOf(other->text()) * numberOf(typedIn->text())));
}

void TForm1::DBEdit3KeyUp(int)
{
    automaticTotal(DBEdit3, DBEdit2, DBEdit4);
    Button1->setEnabled(true);
}

void TForm1::DBEdit2KeyUp(int)
{
    automaticTotal(DBEdit2, DBEdit3, DBEdit4);
    Button1->setEnabled(true);
}

void TForm1::DBEdit1Click()
{
    Button2->setEnabled(true);
}

void TForm1::DBEdit2Click()
{
    DBEdit2->selectAll();
    Button2->setEnabled(true);
}

void TForm1::DBEdit3Click()
{
    Button2->setEnabled(true);
}

void TForm1::DBEdit4Click()
{
    // Unlike the key-up total, the click does not look for empty factors: an empty one cannot be converted.
    const auto factor = [](const QString &text) {
        if (text.isEmpty())
            throw AppError(QStringLiteral("Could not convert variant of type (String) into type (Double)"));
        return numberOf(text);
    };
    const double quantity = factor(DBEdit2->text());
    const double price = factor(DBEdit3->text());
    DBEdit4->setText(formatGeneral(quantity * price));
    Button2->setEnabled(true);
}

void TForm1::DBEdit5Click()
{
    Button2->setEnabled(true);
}

void TForm1::DBEdit1Change()
{
    Button1->setEnabled(true);
    Button2->setEnabled(true);
}

void TForm1::DBEdit2Change()
{
    Button1->setEnabled(true);
    Button2->setEnabled(true);
}

void TForm1::DBEdit3Change()
{
    Button1->setEnabled(true);
    Button2->setEnabled(true);
}

void TForm1::DBEdit4Change()
{
    Button1->setEnabled(true);
    Button2->setEnabled(true);
}

void TForm1::DBEdit5Change()
{
    Button1->setEnabled(true);
    Button2->setEnabled(true);
}

// ---- record buttons ----

// A record button that has done its work hands the focus to the catalogue's selected goods, where the guidance line
// sends the user next. It does so before the button disables itself: Qt would pass the focus on to the next button,
// "!删除!", where two more Enters delete the record just posted.
static void handFocusToCatalogue(TForm1 *form)
{
    if (form->TreeView1->isVisible())
        form->TreeView1->setFocus(Qt::OtherFocusReason);
}

void TForm1::Button1Click()
{
    DBEdit::editRecord(Table1);
    if (DBEdit1->text().isEmpty() || DBEdit4->text().isEmpty()) {
        MessageBoxes::instance().message(QStringLiteral("数据不完善，请补全输入！"));
        return;
    }
    Table1->post();
    handFocusToCatalogue(this);
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    setGuidance(QStringLiteral("请输入下一条记录或删除某条记录；"));
}

void TForm1::Button2Click()
{
    Table1->cancel();
    handFocusToCatalogue(this);
    Button2->setEnabled(false);
    Button1->setEnabled(false);
    setGuidance(QStringLiteral("输入下一条记录或删除记录；"));
}

void TForm1::Button4Click()
{
    if (MessageBoxes::instance().question(QString::fromUtf8(DeleteCaption), QStringLiteral("确实要删除这条记录吗？"))) {
        const RecycleBin::Deletion binned(RecycleBin::Way::EntryPage);
        Table1->deleteRecord();
    }
    handFocusToCatalogue(this);
    Button1->setEnabled(false);
    setGuidance(QStringLiteral("选择下一条记录删除或输入一条新记录；"));
}
