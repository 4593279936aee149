#include "reports/form2.h"

#include "app/form1.h"
#include "reports/quickrep.h"
#include "store/dataset.h"

TForm2 *Form2 = nullptr;

namespace {

// The layouts' fonts; the face names are mapped to the machine's CJK faces at start-up.
const FontSpec TitleFont{QStringLiteral("黑体"), 26, true};
const FontSpec HeadingFont{QStringLiteral("黑体"), 16, false};
const FontSpec TextFont{QStringLiteral("宋体"), 16, false};
const FontSpec DataFont{QStringLiteral("宋体"), 15, false};
const FontSpec NoteFont{QStringLiteral("宋体"), 10, false};
const FontSpec PageNumberFont{QStringLiteral("Arial"), 20, false};

TQRLabel *label(TQRBand *band, const char *name, const QString &text, Anchor anchor, double x, double top,
                const FontSpec &font)
{
    return new TQRLabel(band, QString::fromLatin1(name), text, anchor, x, top, font);
}

TQRDBText *dbText(TQRBand *band, const char *name, const char *field, double centre, double top)
{
    return new TQRDBText(band, QString::fromLatin1(name), QString::fromLatin1(field), Anchor::Centre, centre, top,
                         DataFont);
}

} // namespace

TForm2::TForm2(TForm1 *form1, QWidget *parent) : TForm2(form1->Query1, form1->Table2, parent) {}

TForm2::TForm2(Dataset *purchases, Dataset *summary, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Form2"));
    buildPurchaseList(purchases);
    buildSummary(summary);
}

void TForm2::buildPurchaseList(Dataset *dataset)
{
    QuickRep1 = new TQuickRep(this, QStringLiteral("QuickRep1"), QStringLiteral("进货清单"));
    QuickRep1->setDataset(dataset);
    const auto L = Anchor::Left;
    const auto C = Anchor::Centre;

    TitleBand1 = new TQRBand(QuickRep1, QStringLiteral("TitleBand1"), TQRBand::rbTitle, 41.01);
    QRLabel1 = label(TitleBand1, "QRLabel1", QStringLiteral("进货清单"), Anchor::BandCentre, 0, 6.28, TitleFont);
    QRSysData1 = new TQRSysData(TitleBand1, QStringLiteral("QRSysData1"), TQRSysData::qrsDate,
                                QStringLiteral("打印日期："), L, 6.95, 26.13, TextFont);
    QRSysData2 = new TQRSysData(TitleBand1, QStringLiteral("QRSysData2"), TQRSysData::qrsTime,
                                QStringLiteral("打印时间："), L, 6.95, 33.07, TextFont);
    QRLabel3 = label(TitleBand1, "QRLabel3", QStringLiteral("时间范围:"), L, 98.23, 32.08, TextFont);
    QRLabel4 = label(TitleBand1, "QRLabel4", QString(), L, 123.03, 32.08, TextFont);
    QRLabel5 = label(TitleBand1, "QRLabel5", QString(), L, 146.18, 32.08, TextFont);
    QRLabel6 = label(TitleBand1, "QRLabel6", QString(), L, 152.47, 32.08, TextFont);
    QuickRep1->rangeLabels = {QRLabel3, QRLabel4, QRLabel5, QRLabel6};

    QRGroup2 = new TQRGroup(QuickRep1, QStringLiteral("QRGroup2"), 24.80);
    QRLabel2 = label(QRGroup2, "QRLabel2", QStringLiteral("流水号"), C, 17.36, 17.53, HeadingFont);
    QRShape1 = new TQRShape(QRGroup2, QStringLiteral("QRShape1"), 1.76, 178.15, 0.66, TQRShape::Heavy);
    QRLabel7 = label(QRGroup2, "QRLabel7", QStringLiteral("品名"), C, 40.02, 17.53, HeadingFont);
    QRLabel8 = label(QRGroup2, "QRLabel8", QStringLiteral("单价"), C, 62.51, 17.53, HeadingFont);
    QRLabel9 = label(QRGroup2, "QRLabel9", QStringLiteral("数量"), C, 99.88, 17.53, HeadingFont);
    QRLabel10 = label(QRGroup2, "QRLabel10", QStringLiteral("总价"), C, 133.61, 17.53, HeadingFont);
    QRLabel11 = label(QRGroup2, "QRLabel11", QStringLiteral("进货时间"), C, 161.07, 17.53, HeadingFont);
    QRLabel14 = label(QRGroup2, "QRLabel14", QStringLiteral("（元/斤.个.袋）"), L, 67.14, 19.51, NoteFont);
    QRLabel26 = label(QRGroup2, "QRLabel26", QStringLiteral("（斤.个.袋）"), L, 104.84, 19.51, NoteFont);
    QRLabel27 = label(QRGroup2, "QRLabel27", QStringLiteral("（元）"), L, 138.91, 19.51, NoteFont);

    DetailBand1 = new TQRBand(QuickRep1, QStringLiteral("DetailBand1"), TQRBand::rbDetail, 6.95);
    QRDBText1 = dbText(DetailBand1, "QRDBText1", "ID", 17.03, 0.66);
    QRDBText2 = dbText(DetailBand1, "QRDBText2", "Name", 39.52, 0.33);
    QRDBText3 = dbText(DetailBand1, "QRDBText3", "Single_Price", 63.33, 0.66);
    QRDBText4 = dbText(DetailBand1, "QRDBText4", "Kount", 100.38, 0.66);
    QRDBText5 = dbText(DetailBand1, "QRDBText5", "ZongPrice", 134.77, 0.66);
    QRDBText6 = dbText(DetailBand1, "QRDBText6", "Sime", 161.56, 0.66);

    QRBand2 = new TQRBand(QuickRep1, QStringLiteral("QRBand2"), TQRBand::rbGroupFooter, 15.88);
    QRGroup2->setFooterBand(QRBand2);
    QRShape2 = new TQRShape(QRBand2, QStringLiteral("QRShape2"), 3.64, 174.29, 2.98, TQRShape::Thin);
    QRLabel12 = label(QRBand2, "QRLabel12", QStringLiteral("记录数:   条"), L, 75.74, 6.61, TextFont);
    QRExpr3 = new TQRExpr(QRBand2, QStringLiteral("QRExpr3"), QStringLiteral("COUNT"), L, 97.57, 6.61, TextFont);
    QRLabel13 = label(QRBand2, "QRLabel13", QStringLiteral("合计:        元"), C, 135.60, 6.61, TextFont);
    QRExpr4 =
        new TQRExpr(QRBand2, QStringLiteral("QRExpr4"), QStringLiteral("SUM(ZongPrice)"), L, 128.65, 6.61, TextFont);

    PageFooterBand1 = new TQRBand(QuickRep1, QStringLiteral("PageFooterBand1"), TQRBand::rbPageFooter, 14.55);
    QRSysData3 = new TQRSysData(PageFooterBand1, QStringLiteral("QRSysData3"), TQRSysData::qrsPageNumber, QString(),
                                Anchor::BandCentre, 0, 4.30, PageNumberFont);
}

void TForm2::buildSummary(Dataset *dataset)
{
    QuickRep2 = new TQuickRep(this, QStringLiteral("QuickRep2"), QStringLiteral("分类统计汇总表"));
    QuickRep2->setDataset(dataset);
    const auto L = Anchor::Left;
    const auto C = Anchor::Centre;

    TitleBand2 = new TQRBand(QuickRep2, QStringLiteral("TitleBand2"), TQRBand::rbTitle, 27.78);
    QRLabel15 =
        label(TitleBand2, "QRLabel15", QStringLiteral("分类统计汇总表"), Anchor::BandCentre, 0, 11.02, TitleFont);

    QRGroup1 = new TQRGroup(QuickRep2, QStringLiteral("QRGroup1"), 37.04);
    QRLabel16 = label(QRGroup1, "QRLabel16", QStringLiteral("时间范围："), L, 94.37, 13.23, TextFont);
    QRSysData4 = new TQRSysData(QRGroup1, QStringLiteral("QRSysData4"), TQRSysData::qrsDate,
                                QStringLiteral("打印日期："), L, 7.06, 6.17, TextFont);
    QRSysData5 = new TQRSysData(QRGroup1, QStringLiteral("QRSysData5"), TQRSysData::qrsTime,
                                QStringLiteral("打印时间："), L, 7.06, 12.79, TextFont);
    QRLabel17 = label(QRGroup1, "QRLabel17", QString(), L, 119.94, 13.23, TextFont);
    QRLabel18 = label(QRGroup1, "QRLabel18", QString(), L, 144.64, 13.23, TextFont);
    QRLabel19 = label(QRGroup1, "QRLabel19", QString(), L, 149.05, 13.23, TextFont);
    QuickRep2->rangeLabels = {QRLabel16, QRLabel17, QRLabel18, QRLabel19};
    QRShape4 = new TQRShape(QRGroup1, QStringLiteral("QRShape4"), 0.66, 179.92, 21.00, TQRShape::Heavy);
    QRLabel20 = label(QRGroup1, "QRLabel20", QStringLiteral("序号"), C, 24.25, 27.34, HeadingFont);
    QRLabel21 = label(QRGroup1, "QRLabel21", QStringLiteral("品名"), C, 65.70, 27.34, HeadingFont);
    QRLabel22 = label(QRGroup1, "QRLabel22", QStringLiteral("次数"), C, 109.36, 27.34, HeadingFont);
    QRLabel23 = label(QRGroup1, "QRLabel23", QStringLiteral("小计"), C, 153.90, 27.34, HeadingFont);

    DetailBand2 = new TQRBand(QuickRep2, QStringLiteral("DetailBand2"), TQRBand::rbDetail, 7.94);
    QRDBText7 = dbText(DetailBand2, "QRDBText7", "ID", 23.15, 1.76);
    QRDBText8 = dbText(DetailBand2, "QRDBText8", "Name", 66.37, 1.76);
    QRDBText9 = dbText(DetailBand2, "QRDBText9", "Kount", 108.26, 1.76);
    QRDBText10 = dbText(DetailBand2, "QRDBText10", "ZongPrice", 155.00, 1.76);

    QRBand1 = new TQRBand(QuickRep2, QStringLiteral("QRBand1"), TQRBand::rbGroupFooter, 18.52);
    QRGroup1->setFooterBand(QRBand1);
    QRShape3 = new TQRShape(QRBand1, QStringLiteral("QRShape3"), 12.24, 171.32, 3.31, TQRShape::Thin);
    QRLabel24 = label(QRBand1, "QRLabel24", QStringLiteral("记录数:    条"), L, 81.14, 9.26, TextFont);
    QRLabel25 = label(QRBand1, "QRLabel25", QStringLiteral("合计:          元"), L, 128.76, 9.26, TextFont);
    QRExpr1 = new TQRExpr(QRBand1, QStringLiteral("QRExpr1"), QStringLiteral("COUNT"), C, 108.04, 9.70, TextFont);
    QRExpr2 =
        new TQRExpr(QRBand1, QStringLiteral("QRExpr2"), QStringLiteral("SUM(ZongPrice)"), L, 145.96, 8.82, TextFont);

    PageFooterBand2 = new TQRBand(QuickRep2, QStringLiteral("PageFooterBand2"), TQRBand::rbPageFooter, 15.88);
    QRSysData6 = new TQRSysData(PageFooterBand2, QStringLiteral("QRSysData6"), TQRSysData::qrsPageNumber, QString(),
                                Anchor::BandCentre, 0, 4.41, PageNumberFont);
}
