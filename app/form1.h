#pragma once

#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QTreeWidget;
class QTabWidget;
class QStatusBar;
class QTimer;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QCheckBox;
class QFrame;
class QTreeWidgetItem;

class Dataset;
class Table;
class Query;
class DataSource;
class DBGrid;
class DBEdit;
class MaskEdit;
class AnalysisPage;
class PriceNote;
class QTableView;
class DeletedRecordsModel;
class BackupScheduler;
class PendingBackup;

// A page of the page control; its show handler runs each time the page becomes visible.
class TabSheet : public QWidget
{
    Q_OBJECT
public:
    explicit TabSheet(const QString &name, QWidget *parent = nullptr);
    std::function<void()> onShow;

protected:
    void showEvent(QShowEvent *event) override;
};

// The main window. It owns every control, dataset and handler of the program. Its pages are built, and their handlers
// defined, in the folder of their subsystem (entry/, query/, reports/); the frame, the clock and the about page here.
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr); // opens Table1 and Table2; throws AppError when they cannot be opened
    ~TForm1() override;

    // ---- the frame ----
    QLabel *Label10 = nullptr;
    QLabel *Label40 = nullptr, *Label41 = nullptr, *Label42 = nullptr, *Label43 = nullptr;
    QPlainTextEdit *Memo2 = nullptr;
    QTreeWidget *TreeView1 = nullptr;
    QTabWidget *PageControl1 = nullptr;
    TabSheet *TabSheet1 = nullptr, *TabSheet2 = nullptr, *TabSheet6 = nullptr;
    TabSheet *TabSheetAnalysis = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QTimer *Timer1 = nullptr;

    // ---- datasets ----
    Table *Table1 = nullptr, *Table2 = nullptr, *Table3 = nullptr;
    Query *Query1 = nullptr, *Query2 = nullptr, *Query3 = nullptr;
    DataSource *DataSource1 = nullptr, *DataSource2 = nullptr, *DataSource3 = nullptr;

    // ---- entry page: clock ----
    QLabel *Label34 = nullptr, *Label35 = nullptr;
    QLabel *Panel1 = nullptr, *Panel2 = nullptr;

    // ---- entry page ----
    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr, *Label6 = nullptr,
           *Label7 = nullptr, *Label8 = nullptr, *Label9 = nullptr;
    DBEdit *DBEdit1 = nullptr, *DBEdit2 = nullptr, *DBEdit3 = nullptr, *DBEdit4 = nullptr, *DBEdit5 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button4 = nullptr;
    DBGrid *DBGrid1 = nullptr;
    QLabel *Label1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QPushButton *Button3 = nullptr;

    // ---- query page ----
    QGroupBox *GroupBox4 = nullptr;
    QLabel *Label14 = nullptr, *Label15 = nullptr, *Label16 = nullptr, *Label17 = nullptr;
    QGroupBox *GroupBox3 = nullptr;
    QRadioButton *RadioButton1 = nullptr, *RadioButton2 = nullptr, *RadioButton3 = nullptr;
    MaskEdit *MaskEdit1 = nullptr, *MaskEdit2 = nullptr, *MaskEdit3 = nullptr;
    QFrame *Bevel1 = nullptr;
    QGroupBox *RadioGroup1 = nullptr;
    QLabel *Label12 = nullptr, *Label13 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr;
    QPushButton *Button5 = nullptr, *Button6 = nullptr, *Button7 = nullptr;
    QLabel *Label36 = nullptr, *Label37 = nullptr;
    DBGrid *DBGrid2 = nullptr, *DBGrid3 = nullptr;

    // ---- about page ----
    QGroupBox *GroupBox5 = nullptr, *GroupBox6 = nullptr;
    QLabel *Label18 = nullptr, *Label19 = nullptr, *Label21 = nullptr, *Label44 = nullptr, *Label45 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label38 = nullptr;

    // ---- maintenance page: recycle bin and backups ----
    TabSheet *TabSheetMaintenance = nullptr;
    QLabel *LabelDeleted = nullptr, *LabelBackups = nullptr, *LabelRestoreHint = nullptr;
    QTableView *GridDeleted = nullptr;
    QPushButton *ButtonRestore = nullptr, *ButtonRestoreDeletion = nullptr, *ButtonEmptyBin = nullptr;
    QTreeWidget *ListBackups = nullptr;
    QPushButton *ButtonBackupNow = nullptr;

    // ---- the guidance line ----
    // Replaces the whole single text of the status bar.
    void setGuidance(const QString &text);
    QString guidance() const;
    // Switches the status bar to its single-text mode (until then it shows nothing).
    void setSimplePanel(bool on);

    // ---- handlers: frame, clock, about page (app/) ----
    void Timer1Timer();
    void TabSheet6Show();
    void GroupBox5Enter();
    void TreeView1DblClick();
    // The label of the selected node, or a null string when no node is selected.
    QString pickedGoodsName() const;

    // ---- handlers: entry page (entry/) ----
    void TabSheet1Show();
    void TreeView1DblClickEntry(const QString &goods);
    void DBEdit1KeyPress(QChar &key);
    void DBEdit2KeyPress(QChar &key);
    void DBEdit3KeyPress(QChar &key);
    void DBEdit4KeyPress(QChar &key);
    void DBEdit5KeyPress(QChar &key);
    void DBEdit2KeyUp(int key);
    void DBEdit3KeyUp(int key);
    void DBEdit1Click();
    void DBEdit2Click();
    void DBEdit3Click();
    void DBEdit4Click();
    void DBEdit5Click();
    void DBEdit1Change();
    void DBEdit2Change();
    void DBEdit3Change();
    void DBEdit4Change();
    void DBEdit5Change();
    void Button1Click();
    void Button2Click();
    void Button4Click();
    void Button3Click();
    void Memo1KeyPress(QChar &key);
    void loadMemo();

    // ---- handlers: query page (query/) ----
    void TabSheet2Show();
    void TreeView1DblClickQuery(const QString &goods);
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void MaskEdit1Change();
    void MaskEdit2Change();
    void MaskEdit3Change();
    void MaskEdit1KeyPress(QChar &key);
    void MaskEdit2KeyPress(QChar &key);
    void MaskEdit3KeyPress(QChar &key);
    void CheckBox1Click();
    void CheckBox2Click();
    void Button7Click();
    void Button6Click();
    void Table3AfterDelete();
    void Query1AfterDelete();

    // ---- handlers: analysis page (analysis/) ----
    void TabSheetAnalysisShow();
    void TreeView1DblClickAnalysis(const QString &goods);
    AnalysisPage *analysisPage() const { return m_analysis; }

    // ---- handlers: maintenance page (maintenance/) ----
    void TabSheetMaintenanceShow();
    void ButtonRestoreClick();
    void ButtonRestoreDeletionClick();
    void ButtonEmptyBinClick();
    void ButtonBackupNowClick();
    // A copy of the files as they are right before a deletion of many records, written once the returned object is
    // gone (after the deletion); it never holds up or stops the deletion.
    std::unique_ptr<PendingBackup> backupBeforeDeletion();

    // ---- handlers: print command (reports/) ----
    void Button5Click();

    // ---- record store ----
    // Closes the query and makes text its only SQL line; the caller prepares, sets parameters and opens it.
    void RunQuery(Query *query, const QString &text);

private:
    void buildFrame();
    void buildAboutPage();
    void buildClock();
    void buildEntryPage();       // entry/
    void buildQueryPage();       // query/
    void buildAnalysisPage();    // analysis/
    void buildMaintenancePage(); // maintenance/
    void refreshMaintenancePage();
    void layoutFrame();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *m_guidance = nullptr;
    bool m_simplePanel = false;

    // ---- entry page state (entry/) ----
    PriceNote *m_priceNote = nullptr;

    // ---- query page state (query/) ----

    // ---- analysis page (analysis/) ----
    AnalysisPage *m_analysis = nullptr;

    // ---- maintenance page state (maintenance/) ----
    DeletedRecordsModel *m_deleted = nullptr;
    BackupScheduler *m_backups = nullptr;

    // ---- print command state (reports/) ----
    bool m_printing = false;
    QWidget *m_preview = nullptr;
};

extern TForm1 *Form1;
