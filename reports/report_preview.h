#pragma once

#include "reports/report_document.h"

#include <QPrinter>
#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTimer;
class ReportExport;
class ReportRun;
class TQuickRep;
class PageView;

// The preview window of a report: shows its pages while they are produced, pages and zooms, prints, saves the
// report as PDF or in the program's own file form, and loads such a file again. Not modal; deletes itself when closed.
class ReportPreview : public QWidget
{
    Q_OBJECT
public:
    enum Zoom
    {
        WholePage,
        Actual,
        PageWidth
    };

    explicit ReportPreview(std::unique_ptr<ReportRun> run, QWidget *parent = nullptr);
    ~ReportPreview() override;

    // Opens the preview of a report, producing its pages as it goes, and returns it at once (the window deletes
    // itself when closed). When a preview of the report is already open, that one comes to the front.
    static ReportPreview *open(TQuickRep *report);
    // The report's open preview, or null.
    static ReportPreview *of(const TQuickRep *report);
    // Shows the preview and returns when it is closed, dispatching events meanwhile; when one is already open it is
    // brought to the front and the call returns at once.
    static void exec(TQuickRep *report);
    // Dispatches events until the window is closed.
    static void waitClosed(ReportPreview *window);

    // Starts producing the pages, a slice at a time between events.
    void start();
    void bringToFront();

    const ReportDocument &document() const { return *m_doc; }
    bool complete() const { return m_complete; }
    int pageIndex() const { return m_page; } // 0-based
    int pageCount() const;
    Zoom zoom() const { return m_zoom; }
    double pixelsPerMm() const;

    void showPage(int index);
    void setZoom(Zoom zoom);

    // Without dialogs; they throw AppError when the file cannot be written or read.
    void saveTo(const QString &path);
    void loadFrom(const QString &path);
    // Exports the report's table: CSV for a name ending in .csv, else .xlsx.
    void exportTo(const QString &path);

    QPrinter &printer() { return m_printer; }
    // The line under the pages: what the preview is doing, or how the last print ended.
    QString statusText() const;

    // Lays the window out for a screen area: the tool row takes two rows where one does not fit.
    void fitTo(const QRect &available);

signals:
    void produced(); // more pages were laid out, or the run ended

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void produce();
    void updateState();
    void printerSetup();
    void printReport();
    void printToServer();
    void saveReport();
    void loadReport();
    QString exportReport(bool csv); // what was done, for the status line
    void updateViewSize();
    bool renderWithProgress(const QString &label,
                            const std::function<bool(const std::function<bool(int, int)> &)> &job);
    // Runs a button's action: an error ends it and is shown; the window goes on.
    void safely(const std::function<void()> &action);

    std::unique_ptr<ReportRun> m_run;
    std::shared_ptr<ReportDocument> m_doc;
    bool m_complete = false;
    bool m_failed = false;
    bool m_busy = false;
    int m_stepRecords = 1000; // records a step after the first page
    int m_page = 0;
    Zoom m_zoom = WholePage;
    QPrinter m_printer;
    QTimer *m_timer = nullptr;

    QPushButton *m_first, *m_prior, *m_next, *m_last;
    QSpinBox *m_pageBox;
    QLabel *m_pageOf;
    QPushButton *m_whole, *m_actual, *m_width;
    QPushButton *m_setup, *m_print, *m_save, *m_load, *m_close;
    QPushButton *m_exportXlsx, *m_exportCsv;
    std::unique_ptr<ReportExport> m_export; // the report's data, while the preview shows the report itself
    QScrollArea *m_scroll;
    PageView *m_view;
    QLabel *m_status;
    QString m_printNote; // how the last print ended
    class QBoxLayout *m_bar;
};
