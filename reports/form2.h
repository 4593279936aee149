#pragma once

#include <QWidget>

class Dataset;
class TForm1;
class TQuickRep;
class TQRBand;
class TQRGroup;
class TQRLabel;
class TQRDBText;
class TQRExpr;
class TQRSysData;
class TQRShape;

// The report form: never shown; it holds the two report layouts over the main window's datasets. Created once, so the
// texts and enabled flags that the print command writes stay until it writes them again.
class TForm2 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm2(TForm1 *form1, QWidget *parent = nullptr);
    // The layouts over any two datasets: the purchase list's and the summary report's.
    TForm2(Dataset *purchases, Dataset *summary, QWidget *parent = nullptr);

    // The purchase list, over Query1.
    TQuickRep *QuickRep1 = nullptr;
    TQRBand *TitleBand1 = nullptr;
    TQRLabel *QRLabel1 = nullptr;
    TQRSysData *QRSysData1 = nullptr, *QRSysData2 = nullptr;
    TQRLabel *QRLabel3 = nullptr, *QRLabel4 = nullptr, *QRLabel5 = nullptr, *QRLabel6 = nullptr;
    TQRGroup *QRGroup2 = nullptr;
    TQRLabel *QRLabel2 = nullptr;
    TQRShape *QRShape1 = nullptr;
    TQRLabel *QRLabel7 = nullptr, *QRLabel8 = nullptr, *QRLabel9 = nullptr, *QRLabel10 = nullptr, *QRLabel11 = nullptr,
             *QRLabel14 = nullptr, *QRLabel26 = nullptr, *QRLabel27 = nullptr;
    TQRBand *DetailBand1 = nullptr;
    TQRDBText *QRDBText1 = nullptr, *QRDBText2 = nullptr, *QRDBText3 = nullptr, *QRDBText4 = nullptr,
              *QRDBText5 = nullptr, *QRDBText6 = nullptr;
    TQRBand *QRBand2 = nullptr;
    TQRShape *QRShape2 = nullptr;
    TQRLabel *QRLabel12 = nullptr, *QRLabel13 = nullptr;
    TQRExpr *QRExpr3 = nullptr, *QRExpr4 = nullptr;
    TQRBand *PageFooterBand1 = nullptr;
    TQRSysData *QRSysData3 = nullptr;

    // The summary report, over Table2.
    TQuickRep *QuickRep2 = nullptr;
    TQRBand *TitleBand2 = nullptr;
    TQRLabel *QRLabel15 = nullptr;
    TQRGroup *QRGroup1 = nullptr;
    TQRLabel *QRLabel16 = nullptr;
    TQRSysData *QRSysData4 = nullptr, *QRSysData5 = nullptr;
    TQRLabel *QRLabel17 = nullptr, *QRLabel18 = nullptr, *QRLabel19 = nullptr;
    TQRShape *QRShape4 = nullptr;
    TQRLabel *QRLabel20 = nullptr, *QRLabel21 = nullptr, *QRLabel22 = nullptr, *QRLabel23 = nullptr;
    TQRBand *DetailBand2 = nullptr;
    TQRDBText *QRDBText7 = nullptr, *QRDBText8 = nullptr, *QRDBText9 = nullptr, *QRDBText10 = nullptr;
    TQRBand *QRBand1 = nullptr;
    TQRShape *QRShape3 = nullptr;
    TQRLabel *QRLabel24 = nullptr, *QRLabel25 = nullptr;
    TQRExpr *QRExpr1 = nullptr, *QRExpr2 = nullptr;
    TQRBand *PageFooterBand2 = nullptr;
    TQRSysData *QRSysData6 = nullptr;

private:
    void buildPurchaseList(Dataset *dataset);
    void buildSummary(Dataset *dataset);
};

extern TForm2 *Form2;
