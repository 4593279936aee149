#pragma once

#include "reports/report_document.h"
#include "store/exact_sum.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class Dataset;
class Field;
class TQRBand;
class TQuickRep;

// The report engine: banded reports over a dataset. A run lays the bands out into a ReportDocument (pages of text and
// lines in millimetres); the renderers and the preview window draw that document.

// Where an element's stated x lies: its left edge, its centre, or the middle of the band (x ignored).
enum class Anchor
{
    Left,
    Centre,
    BandCentre
};

// What an element prints from, while a run lays out one band.
struct PrintContext
{
    const class ReportRun *run = nullptr;
    bool blank = false; // the blank detail line of an empty report: data texts print nothing
};

// An element of a band. Created with its band as parent; the band keeps its elements in creation order, which is
// their drawing order.
class TQRPrintable : public QObject
{
    Q_OBJECT
public:
    TQRPrintable(TQRBand *band, const QString &name, Anchor anchor, double x, double top, const FontSpec &font);

    TQRBand *band() const;
    bool enabled() const { return m_enabled; }
    void setEnabled(bool on) { m_enabled = on; }
    Anchor anchor() const { return m_anchor; }
    double x() const { return m_x; }
    double top() const { return m_top; }
    const FontSpec &font() const { return m_font; }

    // The text printed now; a rule prints none.
    virtual QString printText(const PrintContext &context) const = 0;

private:
    Anchor m_anchor;
    double m_x;
    double m_top;
    FontSpec m_font;
    bool m_enabled = true;
};

class TQRLabel : public TQRPrintable
{
    Q_OBJECT
public:
    TQRLabel(TQRBand *band, const QString &name, const QString &caption, Anchor anchor, double x, double top,
             const FontSpec &font);
    QString text() const { return m_caption; }
    void setText(const QString &text) { m_caption = text; }
    QString printText(const PrintContext &) const override { return m_caption; }

private:
    QString m_caption;
};

// The text of a field of the current record of the report's dataset.
class TQRDBText : public TQRPrintable
{
    Q_OBJECT
public:
    TQRDBText(TQRBand *band, const QString &name, const QString &fieldName, Anchor anchor, double x, double top,
              const FontSpec &font);
    const QString &dataField() const { return m_field; }
    QString printText(const PrintContext &context) const override;

private:
    QString m_field;
};

// An aggregate over the detail lines printed so far in this run: "COUNT" or "SUM(field)".
class TQRExpr : public TQRPrintable
{
    Q_OBJECT
public:
    TQRExpr(TQRBand *band, const QString &name, const QString &expression, Anchor anchor, double x, double top,
            const FontSpec &font);
    const QString &expression() const { return m_expression; }
    // The field that a SUM adds up; empty for COUNT. Throws AppError for an expression the engine does not know.
    QString sumField() const;
    QString printText(const PrintContext &context) const override;

private:
    QString m_expression;
};

class TQRSysData : public TQRPrintable
{
    Q_OBJECT
public:
    enum Data
    {
        qrsDate,
        qrsTime,
        qrsPageNumber
    };
    TQRSysData(TQRBand *band, const QString &name, Data data, const QString &prefix, Anchor anchor, double x,
               double top, const FontSpec &font);
    Data data() const { return m_data; }
    QString printText(const PrintContext &context) const override;

private:
    Data m_data;
    QString m_prefix;
};

// A horizontal rule, from x1 to x2 at lineY below the band's top edge.
class TQRShape : public TQRPrintable
{
    Q_OBJECT
public:
    enum Pen
    {
        Thin,
        Heavy
    };
    TQRShape(TQRBand *band, const QString &name, double x1, double x2, double lineY, Pen pen);
    double x2() const { return m_x2; }
    Pen pen() const { return m_pen; }
    double penWidthMm() const;
    QString printText(const PrintContext &) const override { return QString(); }

private:
    double m_x2;
    Pen m_pen;
};

class TQRBand : public QObject
{
    Q_OBJECT
public:
    enum BandType
    {
        rbTitle,
        rbGroupHeader,
        rbDetail,
        rbGroupFooter,
        rbPageFooter
    };
    // Adds itself to the report in print order.
    TQRBand(TQuickRep *report, const QString &name, BandType type, double height);

    BandType bandType() const { return m_type; }
    double height() const { return m_height; }
    TQuickRep *report() const;
    const QList<TQRPrintable *> &elements() const { return m_elements; }

protected:
    TQRBand(TQuickRep *report, const QString &name, BandType type, double height, bool add);

private:
    friend class TQRPrintable;
    BandType m_type;
    double m_height;
    QList<TQRPrintable *> m_elements;
};

// A group header without a group expression: printed once before the first detail line; its footer band once after
// the last.
class TQRGroup : public TQRBand
{
    Q_OBJECT
public:
    TQRGroup(TQuickRep *report, const QString &name, double height);
    TQRBand *footerBand() const { return m_footer; }
    void setFooterBand(TQRBand *footer) { m_footer = footer; }

private:
    TQRBand *m_footer = nullptr;
};

struct PageSetup
{
    double paperWidth = 210, paperHeight = 297;
    double topMargin = 15, bottomMargin = 10, leftMargin = 15, rightMargin = 15;
    double bandWidth() const { return paperWidth - leftMargin - rightMargin; }
};

class TQuickRep : public QObject
{
    Q_OBJECT
public:
    TQuickRep(QObject *parent, const QString &name, const QString &title);
    ~TQuickRep() override;

    Dataset *dataset() const { return m_dataset; }
    void setDataset(Dataset *dataset) { m_dataset = dataset; }
    const QString &reportTitle() const { return m_title; }
    PageSetup page;
    bool lastPageFooter = true;
    bool printIfEmpty = true;

    TQRBand *band(TQRBand::BandType type) const;
    const QList<TQRBand *> &bands() const { return m_bands; }

    // The clock of the print date and time; tests fix it.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

    // The labels that make up the report's date-range line, left to right, for exports of the report.
    QList<TQRLabel *> rangeLabels;

    // Lays the whole report out at once.
    ReportDocument prepare();

    // The window that shows this report while one is open (the preview); it is closed with the report.
    QObject *viewer() const { return m_viewer; }
    void setViewer(QObject *viewer) { m_viewer = viewer; }

private:
    friend class TQRBand;
    QString m_title;
    Dataset *m_dataset = nullptr;
    QList<TQRBand *> m_bands;
    QPointer<QObject> m_viewer;
};

// One run of a report over its dataset, laid out in steps so that a long report can be shown while it is produced.
// The dataset is walked from its first record to its last and left standing on the last. A run notices when its
// dataset is closed, reopened or loses or gains rows between steps, and then stops unfinished.
class ReportRun
{
public:
    explicit ReportRun(TQuickRep *report);
    ~ReportRun();
    ReportRun(const ReportRun &) = delete;
    ReportRun &operator=(const ReportRun &) = delete;

    // Lays out up to maxRecords more detail lines; true once the run is over (finished or stopped).
    bool step(int maxRecords);
    void runToEnd();

    bool done() const { return m_phase == Phase::Done || m_phase == Phase::Stopped; }
    bool finished() const { return m_phase == Phase::Done; }
    bool stopped() const { return m_phase == Phase::Stopped; }
    // True while the dataset is being edited by the user: the next step waits.
    bool waiting() const;

    const std::shared_ptr<ReportDocument> &document() const { return m_doc; }
    TQuickRep *report() const { return m_report; }

    // For the elements printing now.
    int pageNumber() const { return m_doc->pageCount(); }
    double count() const { return m_count; }
    double sum(const QString &field) const;
    const QDateTime &printMoment() const { return m_moment; }
    Dataset *dataset() const;

private:
    enum class Phase
    {
        Start,
        Details,
        Done,
        Stopped
    };
    class Watch;
    class RecordLines;
    struct Sum
    {
        QString name; // the field as the expressions write it
        Field *field = nullptr;
        int value = -1; // its place among a record's values read for the lines
        ExactSum total; // exact to the decimals shown, as the SQL sums
    };
    void startPage();
    void finishPage();
    double bandTop(TQRBand *band); // starts a new page when the band does not fit; then the band's top edge
    void printBand(TQRBand *band, bool blank = false);
    void placeBand(TQRBand *band, double top, bool blank);
    void printRecordLine(TQRBand *band, QVariant *values, size_t count); // moves the values into the page

    TQuickRep *m_report;
    std::shared_ptr<ReportDocument> m_doc;
    std::unique_ptr<Watch> m_watch;
    Phase m_phase = Phase::Start;
    double m_y = 0;
    bool m_pageOpen = false;
    bool m_pageFresh = true;
    int m_next = 0;  // 0-based index of the next record to print
    int m_total = 0; // records at the start of the run
    double m_count = 0;
    std::vector<Sum> m_sums;
    std::shared_ptr<const RecordLines> m_lines; // the detail band's lines, when their texts can wait for the page
    std::vector<QVariant> m_values;             // the values of a step's records
    QDateTime m_moment;
};
