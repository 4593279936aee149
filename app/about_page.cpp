#include "app/form1.h"
#include "app/jpeg_image.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QTreeWidget>

namespace {

// The features box: the focus entering it (a click or Tab) runs its enter handler.
class FeatureBox : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;
    std::function<void()> onEnter;

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QGroupBox::focusInEvent(event);
        if (onEnter)
            onEnter();
    }
};

QLabel *addLabel(QWidget *parent, const QString &name, const QString &text, int x, int y)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->move(x, y);
    l->adjustSize();
    return l;
}

} // namespace

void TForm1::buildAboutPage()
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(16);
    TabSheet6->setFont(font);

    auto *box5 = new FeatureBox(QStringLiteral("软件特点："), TabSheet6);
    GroupBox5 = box5;
    GroupBox5->setObjectName(QStringLiteral("GroupBox5"));
    GroupBox5->setGeometry(27, 21, 614, 182);
    GroupBox5->setFocusPolicy(Qt::StrongFocus);
    box5->onEnter = [this] { GroupBox5Enter(); };
    Label18 =
        addLabel(GroupBox5, QStringLiteral("Label18"),
                 QStringLiteral("本软件采用高效语言编写，应用当今的主流数据库技术，具有结构简单、使用方"), 43, 30);
    Label19 =
        addLabel(GroupBox5, QStringLiteral("Label19"),
                 QStringLiteral("便，功能强大、代码执行效率高等优点。软件经过多次改进升级现已趋于成熟，在功"), 11, 59);
    Label21 = addLabel(GroupBox5, QStringLiteral("Label21"),
                       QStringLiteral("能性、易用性、可靠性等方面较以往都有了较大提高。"), 11, 89);
    Label44 =
        addLabel(GroupBox5, QStringLiteral("Label44"),
                 QStringLiteral("软件采用人性化设计，特别设有智能导航提示系统，用户不需要专门学习即可正"), 42, 120);
    Label45 = addLabel(GroupBox5, QStringLiteral("Label45"), QStringLiteral("确使用。"), 11, 150);

    GroupBox6 = new QGroupBox(QStringLiteral("主要功能："), TabSheet6);
    GroupBox6->setObjectName(QStringLiteral("GroupBox6"));
    GroupBox6->setGeometry(25, 220, 615, 146);
    const struct
    {
        const char *text;
        int x, y;
    } features[] = {{"● 自动感应输入", 41, 37}, {"● 定时分类汇总", 238, 40}, {"● 备忘录随手记", 406, 38},
                    {"● 智能感应计算", 41, 72}, {"● 报表自生成", 238, 74},   {"● 打印输出", 406, 74},
                    {"● 按时统计", 41, 106},    {"● 智能导航", 238, 108},    {"● 两大类三种查询方式", 406, 107}};
    int n = 0;
    for (const auto &f : features)
        addLabel(GroupBox6, QStringLiteral("Feature%1").arg(++n), QString::fromUtf8(f.text), f.x, f.y);

    Image1 = new QLabel(TabSheet6);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setAccessibleName(QStringLiteral("标志"));
    QFile emblem(QStringLiteral(":/images/emblem.jpg"));
    if (emblem.open(QIODevice::ReadOnly))
        Image1->setPixmap(QPixmap::fromImage(decodeJpeg(emblem.readAll())));
    Image1->move(127, 452);
    Image1->adjustSize(); // the control takes the size of its picture

    Label38 = addLabel(TabSheet6, QStringLiteral("Label38"), QStringLiteral("版本：2.01"), 248, 481);
    QFont small(QStringLiteral("宋体"));
    small.setPixelSize(14);
    Label38->setFont(small);
    Label38->adjustSize();
}

void TForm1::TabSheet6Show()
{
    TreeView1->hide();
    setGuidance(QStringLiteral("欢迎使用！请切换到“进货输入”或“查询统计”框页中使用；"));
    Label10->hide();
}

void TForm1::GroupBox5Enter()
{
    setWindowState(windowState() | Qt::WindowMaximized);
}
