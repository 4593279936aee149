#include "reports/report_preview.h"

#include "exchange/spreadsheet.h"
#include "reports/cups_job.h"
#include "reports/quickrep.h"
#include "reports/report_export.h"
#include "reports/report_renderer.h"
#include "store/app_error.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int SliceMs = 30;        // layout work between two looks at the event queue
constexpr int RecordsPerStep = 40; // about a page of detail lines
constexpr int MaxRecordsPerStep = 1 << 16;
constexpr int PageGap = 16; // pixels around the sheet

const QString PdfFilter = QStringLiteral("PDF 文件 (*.pdf)");
const QString OwnFilter = QStringLiteral("Vanterlo 报表 (*.vrp)");
const QString XlsxFilter = QStringLiteral("Excel 文件 (*.xlsx)");
const QString CsvFilter = QStringLiteral("CSV 文件 (*.csv)");

} // namespace

// The sheet of the current page on a grey desk.
class PageView : public QWidget
{
public:
    explicit PageView(ReportPreview *preview) : QWidget(preview), m_preview(preview)
    {
        setObjectName(QStringLiteral("PageView"));
        setAccessibleName(QStringLiteral("报表页面"));
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
        setPalette(p);
    }

    QSize sheetSize() const
    {
        const QSizeF mm = m_preview->document().paperMm;
        const double k = m_preview->pixelsPerMm();
        return QSize(qRound(mm.width() * k), qRound(mm.height() * k));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QSize sheet = sheetSize();
        const QPoint origin(qMax(PageGap, (width() - sheet.width()) / 2), PageGap);
        painter.fillRect(QRect(origin + QPoint(4, 4), sheet), QColor(0x40, 0x40, 0x40));
        painter.fillRect(QRect(origin, sheet), Qt::white);
        const ReportDocument &doc = m_preview->document();
        const int index = m_preview->pageIndex();
        if (index >= 0 && index < doc.pageCount())
            ReportRenderer::drawPage(painter, doc, doc.page(index), m_preview->pixelsPerMm(), origin);
    }

private:
    ReportPreview *m_preview;
};

ReportPreview::ReportPreview(std::unique_ptr<ReportRun> run, QWidget *parent)
    : QWidget(parent, Qt::Window), m_run(std::move(run)), m_printer(QPrinter::HighResolution)
{
    setObjectName(QStringLiteral("ReportPreview"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_doc = m_run ? m_run->document() : std::make_shared<ReportDocument>();
    setWindowTitle(QStringLiteral("打印预览 - %1").arg(m_doc->title));

    // The layouts' printer settings: one copy, one-sided, all pages, the automatic paper bin, A4.
    m_printer.setCopyCount(1);
    m_printer.setDuplex(QPrinter::DuplexNone);
    m_printer.setPrintRange(QPrinter::AllPages);
    m_printer.setPaperSource(QPrinter::Auto);
    m_printer.setPageSize(QPageSize(QPageSize::A4));
    m_printer.setPageOrientation(QPageLayout::Portrait);
    m_printer.setDocName(m_doc->title);

    auto button = [this](const char *name, const QString &text, const QString &tip) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        b->setAutoDefault(false);
        return b;
    };
    m_first = button("FirstPage", QStringLiteral("首页"), QStringLiteral("第一页 (Home)"));
    m_prior = button("PriorPage", QStringLiteral("上一页"), QStringLiteral("上一页 (PgUp)"));
    m_next = button("NextPage", QStringLiteral("下一页"), QStringLiteral("下一页 (PgDn)"));
    m_last = button("LastPage", QStringLiteral("末页"), QStringLiteral("最后一页 (End)"));
    m_pageBox = new QSpinBox(this);
    m_pageBox->setObjectName(QStringLiteral("PageNumber"));
    m_pageBox->setAccessibleName(QStringLiteral("页码"));
    m_pageBox->setMinimum(1);
    m_pageBox->setKeyboardTracking(false);
    m_pageOf = new QLabel(this);
    m_pageOf->setObjectName(QStringLiteral("PageCount"));
    m_whole = button("ZoomWholePage", QStringLiteral("整页"), QStringLiteral("显示整页"));
    m_actual = button("ZoomActual", QStringLiteral("100%"), QStringLiteral("实际大小"));
    m_width = button("ZoomPageWidth", QStringLiteral("页宽"), QStringLiteral("按页宽显示"));
    auto *zoomGroup = new QButtonGroup(this);
    for (QPushButton *b : {m_whole, m_actual, m_width}) {
        b->setCheckable(true);
        zoomGroup->addButton(b);
    }
    m_whole->setChecked(true);
    m_setup = button("PrinterSetup", QStringLiteral("打印设置"), QStringLiteral("选择打印机和打印选项"));
    m_print = button("Print", QStringLiteral("打印"), QStringLiteral("打印报表 (Ctrl+P)"));
    m_save = button("Save", QStringLiteral("保存"), QStringLiteral("保存为 PDF 或报表文件 (Ctrl+S)"));
    m_load = button("Load", QStringLiteral("打开"), QStringLiteral("打开保存的报表文件 (Ctrl+O)"));
    m_exportXlsx =
        button("ExportExcel", QStringLiteral("导出Excel"), QStringLiteral("把报表导出为 Excel 表格 (.xlsx)"));
    m_exportCsv = button("ExportCsv", QStringLiteral("导出CSV"), QStringLiteral("把报表导出为 CSV 文件 (UTF-8)"));
    if (m_run)
        m_export = std::make_unique<ReportExport>(m_run->report());
    m_close = button("ClosePreview", QStringLiteral("关闭"), QStringLiteral("关闭预览 (Esc)"));

    // Moving and zooming on one side, the report's actions on the other; on a narrow screen the two halves stand one
    // above the other.
    auto *moves = new QHBoxLayout;
    moves->setSpacing(4);
    for (QWidget *w : std::initializer_list<QWidget *>{m_first, m_prior, m_pageBox, m_pageOf, m_next, m_last})
        moves->addWidget(w);
    moves->addSpacing(16);
    for (QWidget *w : {m_whole, m_actual, m_width})
        moves->addWidget(w);
    auto *actions = new QHBoxLayout;
    actions->setSpacing(4);
    for (QWidget *w : {m_setup, m_print, m_save, m_exportXlsx, m_exportCsv, m_load})
        actions->addWidget(w);
    actions->addStretch(1);
    actions->addWidget(m_close);
    m_bar = new QBoxLayout(QBoxLayout::LeftToRight);
    m_bar->setSpacing(16);
    m_bar->addLayout(moves);
    m_bar->addLayout(actions, 1);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("PageArea"));
    m_view = new PageView(this);
    m_scroll->setWidget(m_view);
    m_scroll->setWidgetResizable(false);
    m_scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_scroll->viewport()->installEventFilter(this);
    m_scroll->setBackgroundRole(QPalette::Dark);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("PreviewStatus"));
    // A long line wraps rather than widening the window past the screen.
    m_status->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->addLayout(m_bar);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(m_status);

    connect(m_first, &QPushButton::clicked, this, [this] { showPage(0); });
    connect(m_prior, &QPushButton::clicked, this, [this] { showPage(m_page - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { showPage(m_page + 1); });
    connect(m_last, &QPushButton::clicked, this, [this] { showPage(pageCount() - 1); });
    connect(m_pageBox, &QSpinBox::valueChanged, this, [this](int v) { showPage(v - 1); });
    connect(m_whole, &QPushButton::clicked, this, [this] { setZoom(WholePage); });
    connect(m_actual, &QPushButton::clicked, this, [this] { setZoom(Actual); });
    connect(m_width, &QPushButton::clicked, this, [this] { setZoom(PageWidth); });
    connect(m_setup, &QPushButton::clicked, this, [this] { safely([this] { printerSetup(); }); });
    connect(m_print, &QPushButton::clicked, this, [this] {
        safely([this] { printReport(); });
        m_status->setText(statusText());
    });
    connect(m_save, &QPushButton::clicked, this, [this] { safely([this] { saveReport(); }); });
    connect(m_load, &QPushButton::clicked, this, [this] { safely([this] { loadReport(); }); });
    for (QPushButton *b : {m_exportXlsx, m_exportCsv}) {
        connect(b, &QPushButton::clicked, this, [this, csv = b == m_exportCsv] {
            QString done;
            safely([&] { done = exportReport(csv); });
            if (!done.isEmpty())
                m_status->setText(done);
        });
    }
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    auto shortcut = [this](const QKeySequence &keys, QPushButton *target) {
        auto *s = new QShortcut(keys, this);
        connect(s, &QShortcut::activated, target, [target] {
            if (target->isEnabled())
                target->click();
        });
    };
    shortcut(QKeySequence(Qt::Key_Home), m_first);
    shortcut(QKeySequence(Qt::Key_PageUp), m_prior);
    shortcut(QKeySequence(Qt::Key_PageDown), m_next);
    shortcut(QKeySequence(Qt::Key_End), m_last);
    shortcut(QKeySequence::Print, m_print);
    shortcut(QKeySequence::Save, m_save);
    shortcut(QKeySequence::Open, m_load);
    shortcut(QKeySequence(Qt::Key_Escape), m_close);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { produce(); });

    resize(900, 700);
    updateViewSize();
    updateState();
}

ReportPreview::~ReportPreview() = default;

ReportPreview *ReportPreview::of(const TQuickRep *report)
{
    return qobject_cast<ReportPreview *>(report->viewer());
}

ReportPreview *ReportPreview::open(TQuickRep *report)
{
    if (ReportPreview *open = of(report)) {
        open->bringToFront();
        return open;
    }
    auto *w = new ReportPreview(std::make_unique<ReportRun>(report));
    report->setViewer(w);
    // Filling the screen first also covers desktops whose window manager ignores the maximised state.
    const QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        w->fitTo(screen->availableGeometry());
    w->showMaximized();
    w->start();
    return w;
}

void ReportPreview::fitTo(const QRect &available)
{
    m_bar->setDirection(QBoxLayout::LeftToRight);
    const QMargins margins = layout()->contentsMargins();
    const int frame = frameGeometry().width() - geometry().width();
    if (m_bar->minimumSize().width() + margins.left() + margins.right() + frame > available.width())
        m_bar->setDirection(QBoxLayout::TopToBottom);
    layout()->activate();
    setGeometry(available);
}

void ReportPreview::exec(TQuickRep *report)
{
    if (ReportPreview *open = of(report)) {
        open->bringToFront();
        return;
    }
    waitClosed(ReportPreview::open(report));
}

void ReportPreview::waitClosed(ReportPreview *window)
{
    QPointer<ReportPreview> w = window;
    QEventLoop loop;
    QObject::connect(w, &QObject::destroyed, &loop, &QEventLoop::quit);
    // Handlers run from this loop report their own errors; one that escapes anyway ends up here, is shown, and the
    // loop goes on, so the window stays usable.
    while (w) {
        if (Guard::atBoundary([&loop] { loop.exec(); }))
            break; // the window was closed, or the application is quitting
    }
}

int ReportPreview::pageCount() const
{
    return m_doc->pageCount();
}

void ReportPreview::start()
{
    if (m_run && !m_run->done())
        m_timer->start(0);
    else
        m_complete = m_run && m_run->finished();
    updateState();
}

void ReportPreview::bringToFront()
{
    if (isMinimized())
        showMaximized();
    raise();
    activateWindow();
}

double ReportPreview::pixelsPerMm() const
{
    const QSizeF mm = m_doc->paperMm;
    const QSize room = m_scroll->viewport()->size() - QSize(2 * PageGap, 2 * PageGap);
    switch (m_zoom) {
    case Actual:
        return logicalDpiX() / 25.4;
    case PageWidth:
        return qMax(0.5, room.width() / mm.width());
    case WholePage:
        break;
    }
    return qMax(0.5, qMin(room.width() / mm.width(), room.height() / mm.height()));
}

void ReportPreview::showPage(int index)
{
    if (pageCount() == 0)
        return;
    index = qBound(0, index, pageCount() - 1);
    if (index != m_page) {
        m_page = index;
        m_scroll->verticalScrollBar()->setValue(0);
    }
    updateState();
    m_view->update();
}

void ReportPreview::setZoom(Zoom zoom)
{
    m_zoom = zoom;
    (zoom == WholePage ? m_whole : zoom == Actual ? m_actual : m_width)->setChecked(true);
    updateViewSize();
}

void ReportPreview::updateViewSize()
{
    const QSize sheet = m_view->sheetSize();
    const QSize room = m_scroll->viewport()->size();
    m_view->resize(qMax(room.width(), sheet.width() + 2 * PageGap), qMax(room.height(), sheet.height() + 2 * PageGap));
    m_view->update();
}

bool ReportPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize)
        updateViewSize();
    return QWidget::eventFilter(watched, event);
}

void ReportPreview::produce()
{
    if (!m_run || m_run->done())
        return;
    const int before = pageCount();
    QElapsedTimer clock;
    clock.start();
    try {
        while (!m_run->done() && clock.elapsed() < SliceMs) {
            if (m_run->waiting()) {
                // The user is editing the report's data: go on when the record is posted or cancelled.
                m_timer->start(200);
                updateState();
                return;
            }
            // Small steps until the first page is whole, then larger ones, grown while a step takes well under a
            // slice: every step ends by telling the grids where the dataset stands, which costs more than many lines.
            const bool firstPage = pageCount() <= 1;
            const qint64 started = clock.nsecsElapsed();
            m_run->step(firstPage ? RecordsPerStep : m_stepRecords);
            if (!firstPage && (clock.nsecsElapsed() - started) * 4 < qint64(SliceMs) * 1000000 &&
                m_stepRecords < MaxRecordsPerStep)
                m_stepRecords *= 2;
            // The first page goes on the screen as soon as it is whole, not at the end of a full slice.
            if (before <= 1 && pageCount() >= 2)
                break;
        }
    } catch (const AppError &e) {
        m_failed = true;
        m_run.reset();
        updateState();
        MessageBoxes::instance().error(e.message());
        return;
    }
    m_complete = m_run->finished();
    if (!m_run->done())
        m_timer->start(0);
    else
        m_run.reset(); // lets go of the dataset
    // The page on the screen may have been the one still being filled.
    if (m_page >= before - 1)
        m_view->update();
    updateState();
    emit produced();
}

void ReportPreview::updateState()
{
    const int n = pageCount();
    const bool running = m_run && !m_run->done() && !m_failed;
    m_first->setEnabled(m_page > 0);
    m_prior->setEnabled(m_page > 0);
    m_next->setEnabled(m_page + 1 < n);
    m_last->setEnabled(m_page + 1 < n);
    {
        const QSignalBlocker block(m_pageBox);
        m_pageBox->setMaximum(qMax(1, n));
        m_pageBox->setValue(m_page + 1);
        m_pageBox->setEnabled(n > 0);
    }
    m_pageOf->setText(running ? QStringLiteral("/ %1 页…").arg(n) : QStringLiteral("/ %1 页").arg(n));
    m_print->setEnabled(m_complete && n > 0 && !m_busy);
    m_save->setEnabled(m_complete && n > 0 && !m_busy);
    m_exportXlsx->setEnabled(m_complete && n > 0 && !m_busy && m_export);
    m_exportCsv->setEnabled(m_exportXlsx->isEnabled());
    m_load->setEnabled(!running && !m_busy);
    m_setup->setEnabled(m_complete && n > 0 && !m_busy);

    m_status->setText(statusText());
}

QString ReportPreview::statusText() const
{
    const int n = pageCount();
    const bool running = m_run && !m_run->done() && !m_failed;
    if (m_failed)
        return QStringLiteral("报表生成出错，未完成。");
    if (running && m_run->waiting())
        return QStringLiteral("数据正在编辑，保存或取消后继续生成报表…");
    if (running)
        return QStringLiteral("正在生成报表：已有 %1 页…").arg(n);
    if (!m_complete)
        return QStringLiteral("报表未完成：生成期间数据已改变，请关闭预览后重新打印。");
    if (!m_printNote.isEmpty())
        return m_printNote;
    return QStringLiteral("共 %1 页，可以打印或保存。").arg(n);
}

void ReportPreview::safely(const std::function<void()> &action)
{
    try {
        action();
    } catch (const AppError &e) {
        MessageBoxes::instance().error(e.message());
    } catch (const std::exception &e) {
        MessageBoxes::instance().error(QString::fromLocal8Bit(e.what()));
    }
    updateState();
}

void ReportPreview::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        // Printing or saving is under way: its progress box offers the way out.
        event->ignore();
        return;
    }
    m_timer->stop();
    m_run.reset();
    QWidget::closeEvent(event);
}

bool ReportPreview::renderWithProgress(const QString &label,
                                       const std::function<bool(const std::function<bool(int, int)> &)> &job)
{
    QProgressDialog progress(label, QStringLiteral("取消"), 0, pageCount(), this);
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    m_busy = true;
    updateState();
    struct Leave
    {
        ReportPreview *w;
        ~Leave()
        {
            w->m_busy = false;
            w->updateState();
        }
    } leave{this};
    // The document is held for the whole job, whatever the window does meanwhile.
    const std::shared_ptr<ReportDocument> keep = m_doc;
    return job([&progress](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
}

void ReportPreview::printerSetup()
{
    // Without a printer the dialog wants a file to print to: it is offered the report's name, and "打印" asks again.
    const QString before = m_printer.outputFileName();
    if (m_printer.outputFormat() == QPrinter::PdfFormat && before.isEmpty())
        m_printer.setOutputFileName(QDir::home().filePath(m_doc->title + QStringLiteral(".pdf")));
    QPrintDialog dialog(&m_printer, this);
    dialog.setWindowTitle(QStringLiteral("打印设置"));
    dialog.setMinMax(1, qMax(1, pageCount()));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    // Set-up only chooses the printer and its options; "打印" prints.
    if (auto *buttons = dialog.findChild<QDialogButtonBox *>()) {
        if (QPushButton *ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("确定"));
    }
    if (dialog.exec() != QDialog::Accepted)
        m_printer.setOutputFileName(before);
}

void ReportPreview::printReport()
{
    if (!m_complete)
        return;
    if (m_printer.outputFormat() != QPrinter::PdfFormat) {
        printToServer();
        return;
    }
    // Without a printer the output goes to a PDF file, which the user names each time; a file chosen in the set-up
    // is only offered, never written over unasked.
    const QString chosen = m_printer.outputFileName();
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("打印到文件"),
                                     chosen.isEmpty() ? m_doc->title + QStringLiteral(".pdf") : chosen, PdfFilter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    m_printer.setOutputFileName(path);
    const std::shared_ptr<ReportDocument> doc = m_doc;
    bool written = false;
    try {
        written = renderWithProgress(QStringLiteral("正在打印…"), [&](const auto &progress) {
            return ReportRenderer::print(m_printer, *doc, progress);
        });
    } catch (...) {
        m_printer.setOutputFileName(chosen);
        throw;
    }
    m_printer.setOutputFileName(chosen);
    m_printNote = written ? QStringLiteral("已打印到文件 %1").arg(QDir::toNativeSeparators(path))
                          : QStringLiteral("已取消打印，没有写入文件");
}

void ReportPreview::printToServer()
{
    // The pages go to the print server as one finished file: a cancel before the hand-over leaves nothing there.
    CupsJob::Request request;
    request.printer = m_printer.printerName();
    request.copies = m_printer.copyCount();
    if (m_printer.printRange() == QPrinter::PageRange && m_printer.fromPage() > 0) {
        request.from = m_printer.fromPage() - 1;
        request.to = m_printer.toPage() > 0 ? m_printer.toPage() - 1 : -1;
    }
    const std::shared_ptr<ReportDocument> doc = m_doc;
    CupsJob::Outcome outcome;
    renderWithProgress(QStringLiteral("正在打印…"), [&](const auto &progress) {
        outcome = CupsJob::print(*doc, request, progress);
        return outcome.state != CupsJob::Outcome::Cancelled;
    });
    m_printNote = outcome.message;
    if (outcome.state == CupsJob::Outcome::Failed) {
        m_status->setText(m_printNote);
        MessageBoxes::instance().error(outcome.message);
    }
}

void ReportPreview::saveTo(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0) {
        const std::shared_ptr<ReportDocument> doc = m_doc;
        renderWithProgress(QStringLiteral("正在保存…"),
                           [&](const auto &progress) { return ReportRenderer::writePdf(path, *doc, progress); });
    } else {
        m_doc->saveFile(path);
    }
}

void ReportPreview::saveReport()
{
    if (!m_complete)
        return;
    QString filter = PdfFilter;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存报表"), m_doc->title,
                                                PdfFilter + QStringLiteral(";;") + OwnFilter, &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += filter == OwnFilter ? QStringLiteral(".vrp") : QStringLiteral(".pdf");
    saveTo(path);
}

void ReportPreview::loadFrom(const QString &path)
{
    auto doc = std::make_shared<ReportDocument>(ReportDocument::loadFile(path));
    m_timer->stop();
    m_run.reset();
    m_failed = false;
    m_doc = std::move(doc);
    m_export.reset(); // a loaded file has pages, not the report's data
    m_printNote.clear();
    m_complete = true;
    m_page = 0;
    setWindowTitle(QStringLiteral("打印预览 - %1").arg(QFileInfo(path).fileName()));
    updateViewSize();
    updateState();
}

void ReportPreview::loadReport()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("打开报表"), QString(),
                                                      OwnFilter + QStringLiteral(";;所有文件 (*)"));
    if (!path.isEmpty())
        loadFrom(path);
}

void ReportPreview::exportTo(const QString &path)
{
    if (!m_export)
        throw AppError(QStringLiteral("打开的报表文件只有页面，没有可导出的数据"));
    Exchange::ReportSheet sheet = m_export->sheet();
    // A long report is written with a progress box that can cancel it; the windows stay responsive meanwhile.
    QProgressDialog progress(QStringLiteral("正在导出…"), QStringLiteral("取消"), 0, int(sheet.rowCount), this);
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    m_busy = true;
    updateState();
    struct Leave
    {
        ReportPreview *w;
        ~Leave()
        {
            w->m_busy = false;
            w->updateState();
        }
    } leave{this};
    const auto read = sheet.readRows;
    sheet.readRows = [&progress, read](qint64 first, int count, std::vector<QVariant> &out) {
        progress.setValue(int(first));
        QCoreApplication::processEvents();
        if (progress.wasCanceled())
            throw AppError(QStringLiteral("导出已取消，没有写入文件"));
        read(first, count, out);
    };
    if (QFileInfo(path).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0)
        Exchange::writeCsv(sheet, path);
    else
        Exchange::writeXlsx(sheet, path);
}

QString ReportPreview::exportReport(bool csv)
{
    if (!m_complete || !m_export)
        return QString();
    const QString suffix = csv ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    QString path = QFileDialog::getSaveFileName(this, csv ? QStringLiteral("导出CSV") : QStringLiteral("导出Excel"),
                                                m_doc->title + suffix, csv ? CsvFilter : XlsxFilter);
    if (path.isEmpty())
        return QString();
    if (QFileInfo(path).suffix().isEmpty())
        path += suffix;
    exportTo(path);
    return QStringLiteral("已导出到 %1").arg(QDir::toNativeSeparators(path));
}
