#include "app/form1.h"
#include "query/date_text.h"
#include "query/deletion.h"
#include "query/query_internal.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "widgets/db_grid.h"
#include "widgets/guard.h"
#include "widgets/mask_edit.h"
#include "widgets/message_boxes.h"
#include "widgets/pixel_font.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <QtMath>
#include <cmath>

namespace {

// A handler connected to a Qt signal: its errors end at the boundary and never travel through Qt's frames.
template <class T> auto fromSignal(T *object, void (T::*handler)())
{
    return [object, handler]() { Guard::atBoundary([object, handler] { (object->*handler)(); }); };
}

// The width a caption of the result box has in the layout; it never gets narrower.
const char *const LayoutWidth = "layoutWidth";

// A caption with blanks to hold a value: each blank is drawn half a character wide, as in the face the page was laid
// out for (the CJK face's own blank is much narrower), so that the value placed over the blanks fits between the
// words. A value wider than the blanks widens them, so that it never covers the words. The text itself stays as it is.
class BlankCaption : public QLabel
{
public:
    using QLabel::QLabel;

    int blanks() const { return int(text().count(u' ')); }
    qreal naturalRun() const { return blanks() * font().pixelSize() / 2.0; }
    // The width that the run of blanks takes: at least its natural width.
    void setRun(qreal width)
    {
        m_run = qMax(width, naturalRun());
        updateGeometry();
        update();
    }
    qreal run() const { return m_run < 0 ? naturalRun() : m_run; }

    qreal advance(qsizetype length) const
    {
        const QFontMetricsF fm(font());
        const qreal blank = blanks() > 0 ? run() / blanks() : 0;
        qreal x = 0;
        for (qsizetype i = 0; i < length && i < text().size(); ++i)
            x += text()[i] == u' ' ? blank : fm.horizontalAdvance(text()[i]);
        return x;
    }
    // Where the run of blanks begins.
    qreal runStart() const { return advance(text().indexOf(u' ')); }
    QSize sizeHint() const override { return QSize(qCeil(advance(text().size())), QFontMetrics(font()).height()); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setFont(font());
        p.setPen(palette().color(QPalette::WindowText));
        const QFontMetricsF fm(font());
        const qreal baseline = (height() - fm.height()) / 2 + fm.ascent();
        const qreal blank = blanks() > 0 ? run() / blanks() : 0;
        qreal x = 0;
        for (QChar c : text()) {
            if (c == u' ') {
                x += blank;
                continue;
            }
            p.drawText(QPointF(x, baseline), QString(c));
            x += fm.horizontalAdvance(c);
        }
    }

private:
    qreal m_run = -1;
};

// Where the last mode handler put the focus.
QPointer<QWidget> modeFocus;

// A mode button. An arrow key checks the neighbouring mode, whose handler puts the focus where that mode's input goes;
// Qt then moves the focus onto the newly checked button. The handler's focus is put back, as after a click, so that
// the next keys go into the mode's field.
class ModeButton : public QRadioButton
{
public:
    using QRadioButton::QRadioButton;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        modeFocus = nullptr;
        QRadioButton::keyPressEvent(event);
        if (modeFocus && modeFocus->isEnabled() && modeFocus->isVisible() && QApplication::focusWidget() != modeFocus)
            modeFocus->setFocus(Qt::OtherFocusReason);
        modeFocus = nullptr;
    }
};

} // namespace

namespace QueryPage {

void setFieldEnabled(TForm1 *form, MaskEdit *field, bool on)
{
    field->setEnabled(on);
    QPalette p = field->palette();
    const QColor colour =
        on ? form->TreeView1->palette().color(QPalette::Base) : form->Label12->palette().color(QPalette::Window);
    p.setColor(QPalette::All, QPalette::Base, colour);
    field->setPalette(p);
}

void setCentredCaption(QLabel *label, const QString &text)
{
    label->setText(text);
    auto *box = label->parentWidget();
    auto *count = dynamic_cast<BlankCaption *>(box->findChild<QLabel *>(QStringLiteral("Label14")));
    auto *sum = dynamic_cast<BlankCaption *>(box->findChild<QLabel *>(QStringLiteral("Label15")));
    QLabel *countValue = box->findChild<QLabel *>(QStringLiteral("Label16"));
    QLabel *sumValue = box->findChild<QLabel *>(QStringLiteral("Label17"));
    if (!count || !sum || !countValue || !sumValue) {
        label->adjustSize();
        return;
    }
    // The count and the sum stand centred over the blanks of their captions, which keep the places of the layout as
    // long as the values fit the blanks. A longer value widens the blanks; a sum that then no longer fits beside the
    // count goes to the line below it.
    const auto place = [](BlankCaption *caption, QLabel *value, int x, int y) {
        const int width = value->text().isEmpty() ? 0 : value->fontMetrics().horizontalAdvance(value->text());
        caption->setRun(width + 4);
        caption->setGeometry(x, y, qMax(caption->sizeHint().width(), caption->property(LayoutWidth).toInt()),
                             caption->height());
        const qreal centre = x + caption->runStart() + caption->run() / 2;
        value->setGeometry(qRound(centre - width / 2.0), y - 1, width, value->height());
    };
    const QRect inside = box->contentsRect();
    const int top = 42;
    place(count, countValue, 11, top);
    const int x = qMax(132, count->geometry().right() + 9);
    sum->setRun(sumValue->text().isEmpty() ? 0 : sumValue->fontMetrics().horizontalAdvance(sumValue->text()) + 4);
    if (x + sum->sizeHint().width() <= inside.right() - 2) {
        place(sum, sumValue, x, top);
        return;
    }
    // Two lines, the count above the sum, both inside the box.
    const int first = qMax(inside.top(), qMin(top, inside.bottom() + 1 - count->height() - sum->height()));
    place(count, countValue, 11, first);
    place(sum, sumValue, 11, first + count->height());
}

} // namespace QueryPage

void TForm1::buildQueryPage()
{
    QWidget *page = TabSheet2;
    page->setFont(pixelFont(QStringLiteral("宋体"), 16));
    const QFont fieldFont = pixelFont(QStringLiteral("宋体"), 16, true);

    const auto label = [](QLabel *&l, const char *name, const QString &text, QWidget *parent) {
        l = new QLabel(text, parent);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    const auto button = [](auto *&b, const char *name, const QString &text, QWidget *parent) {
        using B = std::remove_reference_t<decltype(*b)>;
        b = new B(text, parent);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };

    // The result box: the count and the sum stand over the blanks of the two captions.
    GroupBox4 = new QGroupBox(QStringLiteral("查询结果"), page);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    GroupBox4->setGeometry(12, 29, 253, 86);
    auto *caption14 = new BlankCaption(QStringLiteral("记录数：   条"), GroupBox4);
    auto *caption15 = new BlankCaption(QStringLiteral("合计：      元"), GroupBox4);
    Label14 = caption14;
    Label15 = caption15;
    Label14->setObjectName(QStringLiteral("Label14"));
    Label15->setObjectName(QStringLiteral("Label15"));
    Label14->setGeometry(11, 42, 104, 16);
    Label15->setGeometry(132, 42, 112, 16);
    label(Label16, "Label16", QString(), GroupBox4)->setGeometry(66, 41, 0, 16);
    label(Label17, "Label17", QString(), GroupBox4)->setGeometry(170, 41, 0, 16);
    // The count and the sum are read as their values, labelled by their captions.
    Label14->setBuddy(Label16);
    Label15->setBuddy(Label17);
    for (QLabel *l : {Label16, Label17}) {
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(QStringLiteral("color: navy;"));
    }
    // The captions keep their layout widths as the least.
    caption14->setProperty(LayoutWidth, 104);
    caption15->setProperty(LayoutWidth, 112);
    for (QLabel *l : {Label14, Label15, Label16, Label17})
        l->setFixedHeight(qMax(16, l->sizeHint().height()));
    QueryPage::setCentredCaption(Label16, QString());

    // The criteria.
    GroupBox3 = new QGroupBox(QStringLiteral("查询*统计"), page);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setGeometry(13, 127, 251, 327);

    // The frame of the date modes lies below the radio buttons, which are siblings of the name mode's button so
    // that the three form one exclusive group.
    RadioGroup1 = new QGroupBox(QStringLiteral("按时间"), GroupBox3);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setGeometry(37, 120, 180, 56);

    const auto modeButton = [](QRadioButton *&b, const char *name, const QString &text, QWidget *parent) {
        b = new ModeButton(text, parent);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    modeButton(RadioButton3, "RadioButton3", QStringLiteral("按品名"), GroupBox3)->setGeometry(48, 47, 73, 17);
    RadioButton3->setChecked(true);
    MaskEdit3 = new MaskEdit(QStringLiteral("MaskEdit3"), MaskEdit::Mask::None, GroupBox3);
    MaskEdit3->setGeometry(134, 44, 71, 24);
    MaskEdit3->setAccessibleName(QStringLiteral("品名"));

    Bevel1 = new QFrame(GroupBox3);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setGeometry(9, 88, 230, 2);

    modeButton(RadioButton1, "RadioButton1", QStringLiteral("一天"), GroupBox3)->setGeometry(61, 148, 65, 17);
    modeButton(RadioButton2, "RadioButton2", QStringLiteral("几天"), GroupBox3)->setGeometry(143, 148, 57, 17);

    label(Label12, "Label12", QStringLiteral("时间："), GroupBox3)->setGeometry(9, 228, 48, 16);
    Label12->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    MaskEdit1 = new MaskEdit(QStringLiteral("MaskEdit1"), MaskEdit::Mask::Date, GroupBox3);
    MaskEdit1->setGeometry(49, 224, 80, 24);
    MaskEdit1->setAccessibleName(QStringLiteral("起始日期"));
    label(Label13, "Label13", QString(), GroupBox3)->setGeometry(134, 228, 32, 16);
    MaskEdit2 = new MaskEdit(QStringLiteral("MaskEdit2"), MaskEdit::Mask::Date, GroupBox3);
    MaskEdit2->setGeometry(156, 224, 85, 24);
    MaskEdit2->setAccessibleName(QStringLiteral("结束日期"));
    // Label12 sits partly under the start date field; keep the field on top.
    MaskEdit1->raise();

    for (MaskEdit *e : {MaskEdit1, MaskEdit2, MaskEdit3}) {
        e->setFont(fieldFont);
        QPalette p = e->palette();
        p.setColor(QPalette::Active, QPalette::Text, QColor(Qt::darkBlue));
        p.setColor(QPalette::Inactive, QPalette::Text, QColor(Qt::darkBlue));
        e->setPalette(p);
    }
    QueryPage::setFieldEnabled(this, MaskEdit3, true);
    QueryPage::setFieldEnabled(this, MaskEdit1, false);
    QueryPage::setFieldEnabled(this, MaskEdit2, false);
    {
        // At start the end date field has the scroll-bar colour.
        QPalette p = MaskEdit2->palette();
        p.setColor(QPalette::All, QPalette::Base, QColor(0xc8, 0xc8, 0xc8));
        MaskEdit2->setPalette(p);
    }

    button(CheckBox1, "CheckBox1", QStringLiteral("统计汇总"), GroupBox3)->setGeometry(24, 286, 87, 17);
    CheckBox1->setEnabled(false);
    button(CheckBox2, "CheckBox2", QStringLiteral("删除所有"), GroupBox3)->setGeometry(149, 286, 88, 17);

    // Labels and choices need the height of the CJK face, which is taller than the layout's 16 pixels.
    for (QWidget *w : std::initializer_list<QWidget *>{RadioButton1, RadioButton2, RadioButton3, CheckBox1, CheckBox2,
                                                       Label12, Label13}) {
        const int h = qMax(w->height(), w->sizeHint().height());
        w->setGeometry(w->x(), w->y() - (h - w->height()) / 2, qMax(w->width(), w->sizeHint().width()), h);
    }
    // The caption of the start date ends where the field begins, so that none of its texts ("时间：", "时间:", "从：")
    // is drawn under the field.
    {
        const QFontMetrics fm(Label12->font());
        int w = 0;
        for (const QString &t : {QStringLiteral("时间："), QStringLiteral("时间:"), QStringLiteral("从：")})
            w = qMax(w, fm.horizontalAdvance(t));
        const int right = MaskEdit1->x() - 1;
        Label12->setGeometry(qMax(0, right - w), Label12->y(), right - qMax(0, right - w), Label12->height());
    }

    // The commands.
    button(Button5, "Button5", QStringLiteral("打印"), page)->setGeometry(25, 478, 76, 28);
    button(Button6, "Button6", QStringLiteral("!删除!"), page)->setGeometry(101, 478, 76, 28);
    button(Button7, "Button7", QStringLiteral("确定"), page)->setGeometry(177, 478, 76, 28);
    Button6->setFont(pixelFont(QStringLiteral("黑体"), 16, true));
    Button6->setStyleSheet(QStringLiteral("QPushButton { color: red; } QPushButton:disabled { color: #b08080; }"));
    for (QPushButton *b : {Button5, Button6, Button7}) {
        b->setEnabled(false);
        b->setAutoDefault(true); // Enter on a focused button clicks it
    }

    // The grids. Their captions stand just above them.
    label(Label36, "Label36", QStringLiteral("查询详单："), page);
    label(Label37, "Label37", QStringLiteral("分类汇总："), page);
    DBGrid2 = new DBGrid(QStringLiteral("DBGrid2"), page);
    DBGrid2->setGeometry(281, 37, 368, 299);
    DBGrid3 = new DBGrid(QStringLiteral("DBGrid3"), page);
    DBGrid3->setGeometry(280, 368, 367, 150);
    Label36->adjustSize();
    Label37->adjustSize();
    Label36->move(288, qMin(19, DBGrid2->y() - Label36->height()));
    Label37->move(291, qMin(350, DBGrid3->y() - Label37->height()));
    // Six columns of a realistic ledger (a six-digit serial number, four-character names, totals of six digits before
    // the point, ten-character dates) do not fit the detail grid's width in the CJK face: its digits are wider than
    // the ones the layout was made for. The detail grid keeps the face's size and draws it condensed.
    QFont detailCells = fieldFont;
    detailCells.setStretch(74);
    QFont detailTitles = pixelFont(QStringLiteral("宋体"), 16);
    detailTitles.setStretch(74);
    DBGrid2->setFont(detailCells);
    DBGrid2->horizontalHeader()->setFont(detailTitles);
    DBGrid3->setFont(fieldFont);
    DBGrid3->horizontalHeader()->setFont(pixelFont(QStringLiteral("宋体"), 16));
    for (DBGrid *g : {DBGrid2, DBGrid3}) {
        g->setStyleSheet(QStringLiteral("QTableView { color: navy; }"));
        g->horizontalHeader()->setStretchLastSection(true);
        // The last column takes the room that is left, also when that is less than the style's least section width.
        g->horizontalHeader()->setMinimumSectionSize(8);
    }
    Label36->setBuddy(DBGrid2);
    Label37->setBuddy(DBGrid3);
    DBGrid2->setAccessibleName(QStringLiteral("查询详单"));
    DBGrid3->setAccessibleName(QStringLiteral("分类汇总"));
    // Each column of the detail grid is as wide as its title or its widest realistic value; the date, the last
    // column, gets whatever room is left.
    // The condensed face's advances have fractions, which the view rounds up when it lays out a cell's text.
    const QFontMetricsF cells(detailCells);
    const QFontMetricsF titles(detailTitles);
    const int margins = 2 * (DBGrid2->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, DBGrid2) + 1) + 1;
    const auto widthFor = [&](const QString &title, const QString &sample) {
        return int(std::ceil(qMax(titles.horizontalAdvance(title), cells.horizontalAdvance(sample)))) + margins + 1;
    };
    DBGrid2->setColumns(
        {{QStringLiteral("ID"), QStringLiteral("流水号"), widthFor(QStringLiteral("流水号"), QStringLiteral("999999"))},
         {QStringLiteral("Name"), QStringLiteral("品名"), widthFor(QStringLiteral("品名"), QStringLiteral("鸡、鸭、"))},
         {QStringLiteral("Single_Price"), QStringLiteral("单价"),
          widthFor(QStringLiteral("单价"), QStringLiteral("9999.99"))},
         {QStringLiteral("Kount"), QStringLiteral("数量"), widthFor(QStringLiteral("数量"), QStringLiteral("9999"))},
         {QStringLiteral("ZongPrice"), QStringLiteral("总价"),
          widthFor(QStringLiteral("总价"), QStringLiteral("999999.99"))},
         {QStringLiteral("Sime"), QStringLiteral("进货时间"),
          widthFor(QStringLiteral("进货时间"), QStringLiteral("2026-12-10"))}});
    // The summary's subtotals add up many totals: the serial number and the count give up what they do not need to
    // the subtotal, which takes the room they leave beside a vertical scroll bar.
    const QFontMetrics summaryCells(fieldFont);
    const QFontMetrics summaryTitles(DBGrid3->horizontalHeader()->font());
    const auto summaryWidth = [&](const QString &title, const QString &sample) {
        return qMax(summaryTitles.horizontalAdvance(title), summaryCells.horizontalAdvance(sample)) + margins;
    };
    const int serialWidth = summaryWidth(QStringLiteral("序号"), QStringLiteral("9999"));
    const int countWidth = summaryWidth(QStringLiteral("次数"), QStringLiteral("999999"));
    DBGrid3->setColumns({{QStringLiteral("ID"), QStringLiteral("序号"), serialWidth},
                         {QStringLiteral("Name"), QStringLiteral("品名"), 84},
                         {QStringLiteral("Kount"), QStringLiteral("次数"), countWidth},
                         {QStringLiteral("ZongPrice"), QStringLiteral("小计"), 0}});
    DBGrid3->setColumnWidth(3, DBGrid3->width() - 2 * DBGrid3->frameWidth() - DBGrid3->verticalHeader()->width() -
                                   DBGrid3->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, DBGrid3) -
                                   serialWidth - 84 - countWidth);
    DBGrid2->setDataSource(DataSource3);
    DBGrid3->setDataSource(DataSource2);

    // Tab order: the detail grid, the criteria, the commands, the summary grid.
    const QList<QWidget *> order{DBGrid2,   MaskEdit1, RadioButton3, RadioButton1, RadioButton2, MaskEdit2, MaskEdit3,
                                 CheckBox1, CheckBox2, Button7,      Button6,      Button5,      DBGrid3};
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    // Handlers.
    MaskEdit1->onChange = [this] { MaskEdit1Change(); };
    MaskEdit2->onChange = [this] { MaskEdit2Change(); };
    MaskEdit3->onChange = [this] { MaskEdit3Change(); };
    MaskEdit1->onKeyPress = [this](QChar &key) { MaskEdit1KeyPress(key); };
    MaskEdit2->onKeyPress = [this](QChar &key) { MaskEdit2KeyPress(key); };
    MaskEdit3->onKeyPress = [this](QChar &key) { MaskEdit3KeyPress(key); };
    const auto onChecked = [this](QRadioButton *radio, void (TForm1::*handler)()) {
        const auto run = fromSignal(this, handler);
        connect(radio, &QRadioButton::toggled, this, [run](bool checked) {
            if (checked) {
                run();
                modeFocus = QApplication::focusWidget();
            }
        });
    };
    onChecked(RadioButton1, &TForm1::RadioButton1Click);
    onChecked(RadioButton2, &TForm1::RadioButton2Click);
    onChecked(RadioButton3, &TForm1::RadioButton3Click);
    connect(CheckBox1, &QCheckBox::toggled, this, fromSignal(this, &TForm1::CheckBox1Click));
    connect(CheckBox2, &QCheckBox::toggled, this, fromSignal(this, &TForm1::CheckBox2Click));
    connect(Button5, &QPushButton::clicked, this, fromSignal(this, &TForm1::Button5Click));
    connect(Button6, &QPushButton::clicked, this, fromSignal(this, &TForm1::Button6Click));
    connect(Button7, &QPushButton::clicked, this, fromSignal(this, &TForm1::Button7Click));
}

void TForm1::TabSheet2Show()
{
    setGuidance(QStringLiteral("选择查询方式：或双击左边输入品名，或直接输入品名；"));
    Table1->close(); // a record still being entered is dropped
    DataSource3->setDataset(Table3);
    Label10->show();
    TreeView1->show();
    QueryPage::setChecked(this, CheckBox2, false, &TForm1::CheckBox2Click);
    deleteEveryRecord(this, Table2, QString());
    Table3->open();
    if (Table3->recordCount() > 0) {
        Button6->setEnabled(true);
        CheckBox2->setEnabled(true);
    }
}

void TForm1::RadioButton3Click()
{
    MaskEdit1->clear();
    QueryPage::setFieldEnabled(this, MaskEdit1, false);
    MaskEdit2->clear();
    QueryPage::setFieldEnabled(this, MaskEdit2, false);
    QueryPage::setFieldEnabled(this, MaskEdit3, true);
    QueryPage::setChecked(this, CheckBox1, false, &TForm1::CheckBox1Click);
    CheckBox1->setEnabled(false);
    MaskEdit3->setFocus();
    Button7->setEnabled(false);
    setGuidance(QStringLiteral("在左边双击要查询的货物品名，或直接输入品名；"));
}

void TForm1::RadioButton1Click()
{
    Label12->setText(QStringLiteral("时间:"));
    Label13->setText(QString());
    QueryPage::setFieldEnabled(this, MaskEdit1, true);
    MaskEdit2->clear();
    QueryPage::setFieldEnabled(this, MaskEdit2, false);
    MaskEdit3->clear();
    QueryPage::setFieldEnabled(this, MaskEdit3, false);
    CheckBox1->setEnabled(false);
    MaskEdit1->setFocus();
    Button7->setEnabled(!DateText::blankAt(MaskEdit1->text(), 8));
    setGuidance(QStringLiteral("请输入时间；"));
}

void TForm1::RadioButton2Click()
{
    Label12->setText(QStringLiteral("从："));
    Label13->setText(QStringLiteral("到："));
    QueryPage::setFieldEnabled(this, MaskEdit1, true);
    QueryPage::setFieldEnabled(this, MaskEdit2, true);
    MaskEdit3->clear();
    QueryPage::setFieldEnabled(this, MaskEdit3, false);
    CheckBox1->setEnabled(true);
    if (DateText::blankAt(MaskEdit1->text(), 8))
        MaskEdit1->setFocus();
    else
        MaskEdit2->setFocus();
    Button7->setEnabled(false);
    setGuidance(QStringLiteral("输入起始时间；"));
}

void TForm1::MaskEdit3Change()
{
    const bool empty = MaskEdit3->text().isEmpty();
    // Any character, a blank too, makes this a query by name: the date modes are locked until the field is empty.
    Button7->setEnabled(!empty);
    RadioButton1->setEnabled(empty);
    RadioButton2->setEnabled(empty);
    setGuidance(QStringLiteral("按回车结束输入，或单击“确定”；"));
}

void TForm1::MaskEdit3KeyPress(QChar &key)
{
    if (key == QChar(13) && !MaskEdit3->text().isEmpty())
        Button7->setFocus();
    setGuidance(QStringLiteral("按回车键或单击“确定”进行查询；"));
}

void TForm1::TreeView1DblClickQuery(const QString &goods)
{
    if (!RadioButton3->isChecked()) {
        MessageBoxes::instance().message(QStringLiteral("请先选择按品名查询"));
        return;
    }
    MaskEdit3->setText(goods);
    Button7->setFocus();
}

void TForm1::CheckBox1Click()
{
    setGuidance(QStringLiteral("进行分类统计汇总或打印分类统计汇总统计表，单击“确定”或“打印”进行下一步操作；"));
}

void TForm1::CheckBox2Click()
{
    setGuidance(QStringLiteral("删除所有查询详单中的数据记录，单击“删除”开始操作；"));
}
