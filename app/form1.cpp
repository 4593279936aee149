#include "app/form1.h"
#include "widgets/pixel_font.h"

#include "app/clock.h"
#include "catalogue/catalogue.h"
#include "store/dataset.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"

#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QShowEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

TForm1 *Form1 = nullptr;

namespace {

// The goods catalogue's tree: a double-click (or Enter, for the keyboard) anywhere in it picks the selected node.
class CatalogueTree : public QTreeWidget
{
public:
    using QTreeWidget::QTreeWidget;
    std::function<void()> onDoubleClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        QTreeWidget::mouseDoubleClickEvent(event);
        if (onDoubleClick)
            onDoubleClick();
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && onDoubleClick) {
            onDoubleClick();
            return;
        }
        QTreeWidget::keyPressEvent(event);
    }

    // Letters typed within a second of each other select the first node whose pinyin initials begin with them
    // ("dm" → "大  米"), opening its category; the labels' own characters cannot be typed without an input method.
    // Goods share initials ("dy": 豆  油 and 豆  芽): the same initials typed again, or their last letter repeated
    // (as Qt's own type-ahead steps on), go to the next node that has them, round to the first after the last.
    void keyboardSearch(const QString &text) override
    {
        const bool letters = !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                                            [](QChar c) { return c.unicode() < 128 && c.isLetter(); });
        if (!letters) {
            QTreeWidget::keyboardSearch(text);
            return;
        }
        if (!m_typed.isValid() || m_typed.elapsed() > 1000) {
            // A new search: what the last one opened stays open, as the user found it.
            m_prefix.clear();
            m_found.clear();
            m_openedBySearch = nullptr;
        }
        m_typed.start();
        const QString typed = m_prefix + text.toLower();
        Catalogue::Position at = Catalogue::findByInitials(typed);
        if (at.valid()) {
            m_prefix = typed;
            m_found = typed;
        } else if (!m_found.isEmpty() && isRepeatOf(typed, m_found)) {
            m_prefix = typed;
            if (typed.size() % m_found.size() != 0)
                return; // on the way through the initials again
            at = Catalogue::findByInitials(m_found, currentPosition());
        } else if (!m_found.isEmpty() && text.size() == 1 && text.at(0).toLower() == m_prefix.back()) {
            at = Catalogue::findByInitials(m_found, currentPosition());
        } else {
            m_prefix = typed;
            return; // no label fits: the selection stays where it was
        }
        select(at);
    }

private:
    // typed is found once or more over, the last time perhaps in part ("dyd" after "dy").
    static bool isRepeatOf(const QString &typed, const QString &found)
    {
        if (typed.size() <= found.size())
            return false;
        for (int i = 0; i < typed.size(); ++i) {
            if (typed.at(i) != found.at(i % found.size()))
                return false;
        }
        return true;
    }

    Catalogue::Position currentPosition() const
    {
        QTreeWidgetItem *item = currentItem();
        if (!item)
            return {};
        if (QTreeWidgetItem *parent = item->parent())
            return {indexOfTopLevelItem(parent), parent->indexOfChild(item)};
        return {indexOfTopLevelItem(item), -1};
    }

    void select(Catalogue::Position at)
    {
        if (!at.valid())
            return;
        QTreeWidgetItem *item = topLevelItem(at.top);
        if (!item)
            return;
        // A category opened for an earlier letter ("d" on the way to "dm") closes again when the match moves on.
        QTreeWidgetItem *category = at.child >= 0 ? item : nullptr;
        if (m_openedBySearch && m_openedBySearch != category)
            m_openedBySearch->setExpanded(false);
        if (category) {
            if (m_openedBySearch != category)
                m_openedBySearch = category->isExpanded() ? nullptr : category;
            category->setExpanded(true);
            item = category->child(at.child);
        } else {
            m_openedBySearch = nullptr;
        }
        if (!item)
            return;
        setCurrentItem(item);
        scrollToItem(item);
    }

    QString m_prefix; // what was typed in this search
    QString m_found;  // the longest part of it that some label's initials begin with
    QElapsedTimer m_typed;
    QTreeWidgetItem *m_openedBySearch = nullptr; // the category this search opened, while it holds the match
};

// The caption above the tree: only its top 20 pixels show, and the CJK face stands taller than the layout's font did,
// so the text is centred in that strip.
class CaptionLabel : public QLabel
{
public:
    using QLabel::QLabel;
    static constexpr int VisibleHeight = 20;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        p.setPen(palette().windowText().color());
        // The ink of the text, not the face's line, is centred in the strip, so that no stroke is clipped.
        const QRect ink = fontMetrics().tightBoundingRect(text());
        p.drawText(QPoint(0, (VisibleHeight - ink.height()) / 2 - ink.top()), text());
    }
};

// The note below the tree is covered whenever the tree shows: it takes the focus only while the tree is hidden.
class CoveredNote : public QObject
{
public:
    CoveredNote(QWidget *tree, QWidget *note) : QObject(tree), m_tree(tree), m_note(note)
    {
        tree->installEventFilter(this);
        update();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_tree && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
            update();
        return false;
    }

private:
    void update()
    {
        const bool covered = !m_tree->isHidden();
        m_note->setFocusPolicy(covered ? Qt::NoFocus : Qt::StrongFocus);
        if (covered && m_note->hasFocus())
            m_tree->setFocus(Qt::OtherFocusReason);
    }
    QWidget *m_tree;
    QWidget *m_note;
};

} // namespace

TabSheet::TabSheet(const QString &name, QWidget *parent) : QWidget(parent)
{
    setObjectName(name);
}

void TabSheet::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous() && onShow)
        Guard::run(onShow);
}

// The main window reads as a window (a frame) for assistive technology, not as a plain area of another window.
static QAccessibleInterface *mainWindowAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("TForm1") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

TForm1::TForm1(QWidget *parent) : QWidget(parent)
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(mainWindowAccessible);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    Q_INIT_RESOURCE(images);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vanterlo"));
    // Datasets first: they are destroyed first, before the controls that follow them.
    Table1 = new Table(QStringLiteral("Table1"), this);
    Table1->setTableName(QStringLiteral("JHB"));
    Table2 = new Table(QStringLiteral("Table2"), this);
    Table2->setTableName(QStringLiteral("huizong"));
    Table3 = new Table(QStringLiteral("Table3"), this);
    Table3->setTableName(QStringLiteral("JHB"));
    Query1 = new Query(QStringLiteral("Query1"), this);
    Query1->setRequestLive(true);
    Query2 = new Query(QStringLiteral("Query2"), this);
    Query3 = new Query(QStringLiteral("Query3"), this);
    DataSource1 = new DataSource(QStringLiteral("DataSource1"), this);
    DataSource1->setDataset(Table1);
    DataSource2 = new DataSource(QStringLiteral("DataSource2"), this);
    DataSource2->setDataset(Table2);
    DataSource3 = new DataSource(QStringLiteral("DataSource3"), this);
    Table3->afterDelete = [this] { Table3AfterDelete(); };
    // A new record whose number another PC took meanwhile is stored under the next free one: the user is told which.
    Dataset::setNotice([](const QString &text) { MessageBoxes::instance().message(text); });
    Query1->afterDelete = [this] { Query1AfterDelete(); };

    buildFrame();
    buildEntryPage();
    buildQueryPage();
    buildAnalysisPage();
    buildAboutPage();
    buildMaintenancePage();
    buildClock();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, guarded(this, &TForm1::Timer1Timer));
    Timer1->start();
    // The date panel is the date of a new record, so it holds today's date from the start, not only after a tick.
    Timer1Timer();

    Table1->open();
    Table2->open();
}

TForm1::~TForm1()
{
    // The datasets go while the form is still whole: their end reaches the bound edits, whose change handlers are
    // this form's. Left to QObject's clean-up, they would run on a form already taken apart.
    delete Table1;
    Table1 = nullptr;
    delete Table2;
    Table2 = nullptr;
    delete Table3;
    Table3 = nullptr;
    delete Query1;
    Query1 = nullptr;
    delete Query2;
    Query2 = nullptr;
    delete Query3;
    Query3 = nullptr;
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::buildFrame()
{
    resize(800, 581);
    setAutoFillBackground(true);

    Label10 = new CaptionLabel(QStringLiteral("   货物类别"), this);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setFont(pixelFont(QStringLiteral("宋体"), 19));
    Label10->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label10->setAutoFillBackground(true);

    const struct
    {
        QLabel **label;
        const char *name;
        const char *text;
        int x, y, w, h, px;
    } big[] = {{&Label40, "Label40", "欢", 4, 22, 77, 64, 64},
               {&Label41, "Label41", "迎", 60, 98, 63, 47, 48},
               {&Label42, "Label42", "使", 2, 170, 79, 62, 56},
               {&Label43, "Label43", "用", 37, 259, 94, 87, 80}};
    for (const auto &b : big) {
        auto *l = new QLabel(QString::fromUtf8(b.text), this);
        l->setObjectName(QString::fromLatin1(b.name));
        l->setGeometry(b.x, b.y, b.w, b.h);
        l->setFont(pixelFont(QStringLiteral("宋体"), b.px, true, true));
        l->setStyleSheet(QStringLiteral("color: navy;"));
        *b.label = l;
    }

    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setGeometry(12, 356, 113, 186);
    Memo2->setFrameStyle(QFrame::NoFrame);
    Memo2->setFont(pixelFont(QStringLiteral("宋体"), 12));
    Memo2->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #c8c8c8; color: navy; }"));
    Memo2->setReadOnly(true);
    Memo2->setPlainText(QStringLiteral("本系统记录食堂的每一笔进货，可查询、汇总和打印。\n"
                                       "请切换到“进货输入”或“查询统计”框页使用。"));
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo2->setAccessibleName(QStringLiteral("说明"));

    auto *tree = new CatalogueTree(this);
    TreeView1 = tree;
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setAccessibleName(QStringLiteral("货物类别"));
    TreeView1->setGeometry(0, 20, 134, 542);
    TreeView1->setFont(pixelFont(QStringLiteral("宋体"), 15));
    TreeView1->setIndentation(19);
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setExpandsOnDoubleClick(true);
    for (const Catalogue::Node &node : Catalogue::nodes()) {
        auto *top = new QTreeWidgetItem(TreeView1, QStringList{node.label});
        for (const QString &child : node.children)
            new QTreeWidgetItem(top, QStringList{child});
    }
    TreeView1->collapseAll();
    tree->onDoubleClick = guarded(this, &TForm1::TreeView1DblClick);
    new CoveredNote(TreeView1, Memo2);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(133, -3, 691, 565);
    PageControl1->setFont(pixelFont(QStringLiteral("宋体"), 16));
    TabSheet1 = new TabSheet(QStringLiteral("TabSheet1"));
    TabSheet2 = new TabSheet(QStringLiteral("TabSheet2"));
    TabSheet6 = new TabSheet(QStringLiteral("TabSheet6"));
    TabSheetAnalysis = new TabSheet(QStringLiteral("TabSheetAnalysis"));
    PageControl1->addTab(TabSheet1, QStringLiteral("进货输入"));
    PageControl1->addTab(TabSheet2, QStringLiteral("查询统计"));
    PageControl1->addTab(TabSheetAnalysis, QStringLiteral("统计分析"));
    PageControl1->addTab(TabSheet6, QStringLiteral("关  于"));
    TabSheet1->onShow = [this] { TabSheet1Show(); };
    TabSheet2->onShow = [this] { TabSheet2Show(); };
    TabSheet6->onShow = [this] { TabSheet6Show(); };
    TabSheetAnalysis->onShow = [this] { TabSheetAnalysisShow(); };

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(true);
    m_guidance = new QLabel(StatusBar1);
    m_guidance->setObjectName(QStringLiteral("StatusBar1Text"));
    m_guidance->setAccessibleName(QStringLiteral("操作提示"));
    StatusBar1->addWidget(m_guidance, 1);
    m_guidance->setVisible(false); // shows nothing until switched to its single-text mode

    layoutFrame();
}

void TForm1::layoutFrame()
{
    const int w = width();
    const int h = height();
    StatusBar1->setGeometry(0, h - 21, w, 21);
    Label10->setGeometry(0, 0, 106, h - 21);
    // The tree and the page control keep their distance to the bottom edge as the window grows.
    TreeView1->setGeometry(0, 20, 134, h - 20 - 19);
    PageControl1->setGeometry(133, -3, 691, h + 3 - 19);
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutFrame();
}

void TForm1::setGuidance(const QString &text)
{
    m_guidance->setText(text);
    m_guidance->setAccessibleDescription(text);
}

QString TForm1::guidance() const
{
    return m_simplePanel ? m_guidance->text() : QString();
}

void TForm1::setSimplePanel(bool on)
{
    m_simplePanel = on;
    m_guidance->setVisible(on);
}

QString TForm1::pickedGoodsName() const
{
    const QList<QTreeWidgetItem *> selected = TreeView1->selectedItems();
    if (selected.isEmpty())
        return QString();
    return selected.first()->text(0);
}

void TForm1::TreeView1DblClick()
{
    const QString goods = pickedGoodsName();
    if (goods.isNull())
        return; // no node selected: there is nothing to pick
    if (PageControl1->currentWidget() == TabSheet1)
        TreeView1DblClickEntry(goods);
    else if (PageControl1->currentWidget() == TabSheet2)
        TreeView1DblClickQuery(goods);
    else if (PageControl1->currentWidget() == TabSheetAnalysis)
        TreeView1DblClickAnalysis(goods);
}

void TForm1::RunQuery(Query *query, const QString &text)
{
    query->close();
    query->clearSql();
    query->addSql(text);
}

void TForm1::buildClock()
{
    Label34 = new QLabel(QStringLiteral("日期："), TabSheet1);
    Label34->setObjectName(QStringLiteral("Label34"));
    Label34->setGeometry(24, 31, 48, 16);
    Label35 = new QLabel(QStringLiteral("时间："), TabSheet1);
    Label35->setObjectName(QStringLiteral("Label35"));
    Label35->setGeometry(257, 31, 48, 16);
    for (QLabel *l : {Label34, Label35})
        l->setFont(pixelFont(QStringLiteral("宋体"), 16));
    Panel1 = new QLabel(TabSheet1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(66, 24, 168, 33);

    Panel2 = new QLabel(TabSheet1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(302, 24, 145, 33);

    // A panel's value is what assistive technology reads as its name; its caption labels it.
    Label34->setBuddy(Panel1);
    Label35->setBuddy(Panel2);
    for (QLabel *p : {Panel1, Panel2}) {
        p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        p->setAlignment(Qt::AlignCenter);
        p->setFont(pixelFont(QStringLiteral("Arial"), 29));
        p->setStyleSheet(QStringLiteral("color: purple;"));
    }
}

void TForm1::Timer1Timer()
{
    const ClockTexts texts = clockTexts(QDateTime::currentDateTime());
    Panel1->setText(texts.date);
    Panel2->setText(texts.time);
}
