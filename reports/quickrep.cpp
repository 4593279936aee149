#include "reports/quickrep.h"

#include "reports/text_metrics.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/text_forms.h"
#include "widgets/message_boxes.h"

#include <QRegularExpression>

namespace {
constexpr double Epsilon = 1e-6; // mm; sums of band heights must not push an exact fit onto a new page

// A rule of a band whose left edge is at left and top edge at top, all in mm on the sheet.
PageItem lineItem(double left, double top, double x1, double x2, double lineY, double pen)
{
    PageItem line;
    line.kind = PageItem::Line;
    line.x = float(left + x1);
    line.w = float(x2 - x1);
    line.y = float(top + lineY);
    line.h = float(pen);
    return line;
}

// A text of a band, placed by its anchor: its left edge, its centre, or the middle of the band.
PageItem textItem(double left, double bandWidth, double top, Anchor anchor, double x, double textTop,
                  const FontSpec &font, quint16 fontIndex, const QString &text)
{
    const double w = TextMetrics::width(font, text, false);
    PageItem item;
    item.kind = PageItem::Text;
    item.font = fontIndex;
    item.x = float(anchor == Anchor::Centre       ? left + x - w / 2
                   : anchor == Anchor::BandCentre ? left + bandWidth / 2 - w / 2
                                                  : left + x);
    item.y = float(top + textTop);
    item.w = float(w);
    item.h = float(TextMetrics::height(font));
    item.text = text;
    return item;
}
bool sameLine(const PageItem &a, const PageItem &b)
{
    return a.y < b.y + b.h && b.y < a.y + a.h;
}

// A caption with a run of blanks that a later text of its band is printed over: "记录数:   条" with the count drawn
// over its blanks. The caption is set on half-width cells, as the layout was drawn. A value that fits the blanks
// stays where the layout puts it; a longer one starts no further left than the blanks, the caption's unit moves to
// follow it, and the texts to its right on the line move along, so no value ever hides a unit or a caption. A line
// that then runs past the band's right edge moves left as far as the band allows.
void fitOverprints(std::vector<PageItem> &items, const std::vector<const TQRPrintable *> &from, double bandLeft,
                   double bandRight)
{
    constexpr double Tol = 1e-3;
    struct Group
    {
        std::vector<size_t> members; // indices into items
        double left = 0, right = 0;
        double gap = 0; // the room kept before a text pushed to the right of it: a blank of its caption
    };
    std::vector<int> groupOf(items.size(), -1);
    std::vector<Group> groups;
    std::vector<std::pair<size_t, PageItem>> units; // a moved unit, to be drawn right after the value it follows
    bool moved = false;

    for (size_t j = 0; j < items.size(); ++j) {
        PageItem &value = items[j];
        if (value.kind != PageItem::Text || groupOf[j] >= 0)
            continue;
        for (size_t i = 0; i < j; ++i) {
            PageItem &caption = items[i];
            const auto *label = qobject_cast<const TQRLabel *>(from[i]);
            if (!label || groupOf[i] >= 0 || !TextMetrics::onGrid(label->font()) || !sameLine(caption, value))
                continue;
            const FontSpec &font = label->font();
            // The caption's place on cells: a centred caption keeps its centre.
            const double cellsWidth = TextMetrics::width(font, caption.text, true);
            const double cellsLeft =
                label->anchor() == Anchor::Left ? caption.x : caption.x + (caption.w - cellsWidth) / 2;
            const QList<TextMetrics::Run> runs = TextMetrics::runs(font, caption.text, true);
            for (int r = 0; r + 1 < runs.size(); ++r) {
                const double gapStart = cellsLeft + runs[r].x + runs[r].width;
                const double gapEnd = cellsLeft + runs[r + 1].x;
                const double centre = value.x + value.w / 2;
                if (gapEnd - gapStart < Tol ||
                    !((value.x >= gapStart - Tol && value.x < gapEnd) || (centre >= gapStart && centre <= gapEnd)))
                    continue;
                caption.cells = true;
                caption.x = float(cellsLeft);
                caption.w = float(cellsWidth);
                const double em = TextMetrics::emMm(font);
                if (value.x < gapStart - Tol) {
                    value.x = float(gapStart);
                    moved = true;
                }
                Group g;
                g.members = {i, j};
                g.gap = em / 2;
                if (value.x + value.w > gapEnd + Tol) {
                    // The unit follows the value after a blank.
                    PageItem unit = caption;
                    unit.text = caption.text.mid(runs[r + 1].start);
                    unit.x = float(std::max(gapEnd, value.x + value.w + em / 2));
                    unit.w = float(TextMetrics::width(font, unit.text, true));
                    caption.text = caption.text.left(runs[r + 1].start);
                    caption.w = float(TextMetrics::width(font, caption.text, true));
                    units.emplace_back(j, std::move(unit));
                    moved = true;
                }
                groupOf[i] = groupOf[j] = int(groups.size());
                groups.push_back(std::move(g));
                break;
            }
            if (groupOf[j] >= 0)
                break;
        }
    }
    if (!moved)
        return;

    // Every other text is a group of its own; units join their value's group.
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == PageItem::Text && groupOf[i] < 0) {
            groupOf[i] = int(groups.size());
            groups.push_back(Group{{i}, 0, 0, TextMetrics::emMm(from[i]->font()) / 2});
        }
    }
    std::vector<PageItem> unitItems;
    std::vector<int> unitGroup;
    for (auto &[after, unit] : units) {
        unitGroup.push_back(groupOf[after]);
        unitItems.push_back(std::move(unit));
    }
    const auto extent = [&](Group &g, int index) {
        g.left = 1e9;
        g.right = -1e9;
        for (size_t m : g.members) {
            g.left = std::min(g.left, double(items[m].x));
            g.right = std::max(g.right, double(items[m].x + items[m].w));
        }
        for (size_t u = 0; u < unitItems.size(); ++u) {
            if (unitGroup[u] == index)
                g.right = std::max(g.right, double(unitItems[u].x + unitItems[u].w));
        }
    };
    std::vector<int> order(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
        order[g] = int(g);
        extent(groups[g], int(g));
    }
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return groups[size_t(a)].left < groups[size_t(b)].left; });
    // Left to right along each line: a group that the one before it now reaches is moved clear of it.
    for (size_t k = 0; k < order.size(); ++k) {
        Group &g = groups[size_t(order[k])];
        const PageItem &first = items[g.members.front()];
        for (size_t before = 0; before < k; ++before) {
            Group &b = groups[size_t(order[before])];
            if (!sameLine(items[b.members.front()], first) || b.right <= g.left + Tol)
                continue;
            const float shift = float(b.right + b.gap - g.left);
            for (size_t m : g.members)
                items[m].x += shift;
            for (size_t u = 0; u < unitItems.size(); ++u) {
                if (unitGroup[u] == order[k])
                    unitItems[u].x += shift;
            }
            extent(g, order[k]);
        }
    }

    const auto shiftGroup = [&](int index, float shift) {
        for (size_t m : groups[size_t(index)].members)
            items[m].x += shift;
        for (size_t u = 0; u < unitItems.size(); ++u) {
            if (unitGroup[u] == index)
                unitItems[u].x += shift;
        }
        extent(groups[size_t(index)], index);
    };
    for (size_t g = 0; g < groups.size(); ++g) {
        if (groups[g].right <= bandRight + Tol)
            continue;
        std::vector<int> line;
        double left = 1e9;
        for (size_t o = 0; o < groups.size(); ++o) {
            if (sameLine(items[groups[o].members.front()], items[groups[g].members.front()])) {
                line.push_back(int(o));
                left = std::min(left, groups[o].left);
            }
        }
        const double shift = std::min(groups[g].right - bandRight, std::max(0.0, left - bandLeft));
        for (int o : line)
            shiftGroup(o, float(-shift));
    }

    // The units go in right after the values they follow.
    for (size_t u = unitItems.size(); u-- > 0;) {
        const size_t after = units[u].first;
        items.insert(items.begin() + std::ptrdiff_t(after) + 1, std::move(unitItems[u]));
    }
}
} // namespace

// ---- elements ----

TQRPrintable::TQRPrintable(TQRBand *band, const QString &name, Anchor anchor, double x, double top,
                           const FontSpec &font)
    : QObject(band), m_anchor(anchor), m_x(x), m_top(top), m_font(font)
{
    setObjectName(name);
    band->m_elements.append(this);
}

TQRBand *TQRPrintable::band() const
{
    return static_cast<TQRBand *>(parent());
}

TQRLabel::TQRLabel(TQRBand *band, const QString &name, const QString &caption, Anchor anchor, double x, double top,
                   const FontSpec &font)
    : TQRPrintable(band, name, anchor, x, top, font), m_caption(caption)
{
}

TQRDBText::TQRDBText(TQRBand *band, const QString &name, const QString &fieldName, Anchor anchor, double x, double top,
                     const FontSpec &font)
    : TQRPrintable(band, name, anchor, x, top, font), m_field(fieldName)
{
}

QString TQRDBText::printText(const PrintContext &context) const
{
    if (context.blank || !context.run || !context.run->dataset())
        return QString();
    return context.run->dataset()->fieldByName(m_field)->asString();
}

TQRExpr::TQRExpr(TQRBand *band, const QString &name, const QString &expression, Anchor anchor, double x, double top,
                 const FontSpec &font)
    : TQRPrintable(band, name, anchor, x, top, font), m_expression(expression)
{
}

QString TQRExpr::sumField() const
{
    const QString e = m_expression.trimmed();
    if (e.compare(QStringLiteral("COUNT"), Qt::CaseInsensitive) == 0)
        return QString();
    static const QRegularExpression sum(QStringLiteral("^SUM\\s*\\(\\s*(\\w+)\\s*\\)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = sum.match(e);
    if (!m.hasMatch())
        throw AppError(QStringLiteral("报表表达式“%1”无法计算").arg(m_expression));
    return m.captured(1);
}

QString TQRExpr::printText(const PrintContext &context) const
{
    if (!context.run)
        return QString();
    const QString field = sumField();
    return formatGeneral(field.isEmpty() ? context.run->count() : context.run->sum(field));
}

TQRSysData::TQRSysData(TQRBand *band, const QString &name, Data data, const QString &prefix, Anchor anchor, double x,
                       double top, const FontSpec &font)
    : TQRPrintable(band, name, anchor, x, top, font), m_data(data), m_prefix(prefix)
{
}

QString TQRSysData::printText(const PrintContext &context) const
{
    if (!context.run)
        return m_prefix;
    switch (m_data) {
    case qrsDate:
        return m_prefix + formatShortDate(context.run->printMoment().date());
    case qrsTime:
        return m_prefix + formatShortTime(context.run->printMoment().time());
    case qrsPageNumber:
        return m_prefix + QString::number(context.run->pageNumber());
    }
    return m_prefix;
}

TQRShape::TQRShape(TQRBand *band, const QString &name, double x1, double x2, double lineY, Pen pen)
    : TQRPrintable(band, name, Anchor::Left, x1, lineY, FontSpec{}), m_x2(x2), m_pen(pen)
{
}

// Pen width 2 and 1 of the layouts: a heavier and a thinner hairline, as technical pens draw them.
double TQRShape::penWidthMm() const
{
    return m_pen == Heavy ? 0.35 : 0.18;
}

// ---- bands and reports ----

TQRBand::TQRBand(TQuickRep *report, const QString &name, BandType type, double height)
    : TQRBand(report, name, type, height, true)
{
}

TQRBand::TQRBand(TQuickRep *report, const QString &name, BandType type, double height, bool add)
    : QObject(report), m_type(type), m_height(height)
{
    setObjectName(name);
    if (add)
        report->m_bands.append(this);
}

TQuickRep *TQRBand::report() const
{
    return static_cast<TQuickRep *>(parent());
}

TQRGroup::TQRGroup(TQuickRep *report, const QString &name, double height) : TQRBand(report, name, rbGroupHeader, height)
{
}

TQuickRep::TQuickRep(QObject *parent, const QString &name, const QString &title) : QObject(parent), m_title(title)
{
    setObjectName(name);
}

TQuickRep::~TQuickRep()
{
    if (m_viewer)
        delete m_viewer.data();
}

TQRBand *TQuickRep::band(TQRBand::BandType type) const
{
    for (TQRBand *b : m_bands) {
        if (b->bandType() == type)
            return b;
    }
    return nullptr;
}

ReportDocument TQuickRep::prepare()
{
    ReportRun run(this);
    run.runToEnd();
    run.document()->completeAll();
    return *run.document();
}

// ---- a run ----

// Follows the dataset between steps: a close, a reopen or rows added or removed mean the rest of the run would print
// other data than the part already laid out.
class ReportRun::Watch : public DataLink
{
public:
    bool own = false; // the run itself is moving the dataset
    bool changed = false;

protected:
    void dataEvent(DataEvent event, int) override
    {
        if (own)
            return;
        switch (event) {
        case DataEvent::ActiveChanged:
        case DataEvent::LayoutReset:
        case DataEvent::RowsInserted:
        case DataEvent::RowsRemoved:
            changed = true;
            break;
        default:
            break;
        }
    }
};

// A detail band of fields, labels and rules: all that differs from one record's line to the next is the values of
// the fields, so the layout keeps those and the line's items are made when its page is used. A band with running
// totals or system data is laid out in full as it prints.
class ReportRun::RecordLines : public LineMaker
{
public:
    // Null when the band holds anything else.
    static std::shared_ptr<const RecordLines> of(TQRBand *band, Dataset *ds, ReportDocument &doc, double left,
                                                 double bandWidth)
    {
        auto lines = std::make_shared<RecordLines>();
        for (TQRPrintable *e : band->elements()) {
            if (!e->enabled())
                continue;
            Element element;
            element.anchor = e->anchor();
            element.x = e->x();
            element.top = e->top();
            if (auto *shape = qobject_cast<TQRShape *>(e)) {
                element.kind = Element::Line;
                element.x2 = shape->x2();
                element.pen = shape->penWidthMm();
            } else if (auto *label = qobject_cast<TQRLabel *>(e)) {
                element.kind = Element::Text;
                element.text = label->text();
                if (element.text.isEmpty())
                    continue;
            } else if (auto *text = qobject_cast<TQRDBText *>(e)) {
                element.kind = Element::FieldText;
                element.type = ds->fieldByName(text->dataField())->dataType();
                element.value = int(lines->m_fields.size());
                lines->m_fields.push_back(text->dataField());
            } else {
                return nullptr;
            }
            if (element.kind != Element::Line) {
                element.fontSpec = e->font();
                element.font = doc.fontIndex(e->font());
            }
            lines->m_elements.push_back(std::move(element));
        }
        lines->m_left = left;
        lines->m_bandWidth = bandWidth;
        return lines;
    }

    // The fields whose values each line keeps, by name.
    const QStringList &fields() const { return m_fields; }
    int valuesPerLine() const override { return int(m_fields.size()); }

    void make(float top, const QVariant *values, std::vector<PageItem> &out) const override
    {
        for (const Element &e : m_elements) {
            if (e.kind == Element::Line) {
                out.push_back(lineItem(m_left, top, e.x, e.x2, e.top, e.pen));
                continue;
            }
            const QString text = e.kind == Element::Text ? e.text : Field::textOf(e.type, values[e.value]);
            if (!text.isEmpty())
                out.push_back(textItem(m_left, m_bandWidth, top, e.anchor, e.x, e.top, e.fontSpec, e.font, text));
        }
    }

private:
    struct Element
    {
        enum Kind
        {
            Text,
            FieldText,
            Line
        };
        Kind kind = Text;
        Anchor anchor = Anchor::Left;
        double x = 0, top = 0;
        double x2 = 0, pen = 0; // a line's end and pen
        QString text;           // a label's caption
        FontSpec fontSpec;
        quint16 font = 0;
        FieldType type = FieldType::Unknown;
        int value = 0; // the field's place among the line's values
    };
    std::vector<Element> m_elements;
    QStringList m_fields;
    double m_left = 0, m_bandWidth = 0;
};

ReportRun::ReportRun(TQuickRep *report) : m_report(report), m_doc(std::make_shared<ReportDocument>())
{
    m_doc->title = report->reportTitle();
    m_doc->paperMm = QSizeF(report->page.paperWidth, report->page.paperHeight);
}

ReportRun::~ReportRun()
{
    if (m_watch) {
        DataSource *source = m_watch->dataSource();
        m_watch->setDataSource(nullptr);
        delete source;
    }
}

Dataset *ReportRun::dataset() const
{
    return m_report->dataset();
}

bool ReportRun::waiting() const
{
    Dataset *ds = dataset();
    return m_phase == Phase::Details && ds && (ds->state() == Dataset::Edit || ds->state() == Dataset::Insert);
}

void ReportRun::runToEnd()
{
    while (!step(1000)) {
        if (waiting())
            throw AppError(QStringLiteral("数据正在编辑，无法生成报表"));
    }
}

double ReportRun::sum(const QString &field) const
{
    for (const Sum &s : m_sums) {
        if (s.name == field)
            return s.total.value();
    }
    return 0;
}

void ReportRun::startPage()
{
    m_doc->addPage();
    m_y = m_report->page.topMargin;
    m_pageOpen = true;
    m_pageFresh = true;
}

void ReportRun::finishPage()
{
    if (!m_pageOpen)
        return;
    TQRBand *footer = m_report->band(TQRBand::rbPageFooter);
    const bool last = m_phase == Phase::Done;
    if (footer && (!last || m_report->lastPageFooter)) {
        const PageSetup &p = m_report->page;
        placeBand(footer, p.paperHeight - p.bottomMargin - footer->height(), false);
    }
    m_pageOpen = false;
}

double ReportRun::bandTop(TQRBand *band)
{
    const PageSetup &p = m_report->page;
    TQRBand *footer = m_report->band(TQRBand::rbPageFooter);
    const double limit = p.paperHeight - p.bottomMargin - (footer ? footer->height() : 0);
    if (!m_pageOpen) {
        startPage();
    } else if (m_y + band->height() > limit + Epsilon && !m_pageFresh) {
        finishPage();
        startPage();
    }
    return m_y;
}

void ReportRun::printBand(TQRBand *band, bool blank)
{
    if (!band)
        return;
    placeBand(band, bandTop(band), blank);
    m_y += band->height();
    m_pageFresh = false;
}

void ReportRun::printRecordLine(TQRBand *band, QVariant *values, size_t count)
{
    const double top = bandTop(band);
    ReportPage &page = m_doc->lastPage();
    if (!page.maker) {
        page.maker = m_lines;
        const PageSetup &p = m_report->page;
        const size_t lines = size_t((p.paperHeight - p.topMargin - p.bottomMargin) / std::max(band->height(), 1.0)) + 1;
        page.pending.reserve(lines);
        page.values.reserve(lines * count);
    }
    page.pending.push_back({float(top), quint32(page.items.size())});
    page.values.insert(page.values.end(), std::make_move_iterator(values), std::make_move_iterator(values + count));
    m_y += band->height();
    m_pageFresh = false;
}

void ReportRun::placeBand(TQRBand *band, double top, bool blank)
{
    const PageSetup &p = m_report->page;
    const double left = p.leftMargin;
    // System data take the time when their band prints; reading the clock (and the time zone) for every detail line
    // would cost more than the line itself.
    for (TQRPrintable *e : band->elements()) {
        if (qobject_cast<TQRSysData *>(e)) {
            m_moment = m_report->clock();
            break;
        }
    }
    PrintContext context{this, blank};
    std::vector<PageItem> items;
    std::vector<const TQRPrintable *> from;
    for (TQRPrintable *e : band->elements()) {
        if (!e->enabled())
            continue;
        if (auto *shape = qobject_cast<TQRShape *>(e)) {
            items.push_back(lineItem(left, top, shape->x(), shape->x2(), shape->top(), shape->penWidthMm()));
            from.push_back(e);
            continue;
        }
        const QString text = e->printText(context);
        if (!text.isEmpty()) {
            items.push_back(textItem(left, p.bandWidth(), top, e->anchor(), e->x(), e->top(), e->font(),
                                     m_doc->fontIndex(e->font()), text));
            from.push_back(e);
        }
    }
    fitOverprints(items, from, left, left + p.bandWidth());
    ReportPage &page = m_doc->lastPage();
    page.items.insert(page.items.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
}

bool ReportRun::step(int maxRecords)
{
    if (done())
        return true;
    Dataset *ds = dataset();

    if (m_phase == Phase::Start) {
        // Unknown expressions fail before anything is laid out.
        for (TQRBand *b : m_report->bands()) {
            for (TQRPrintable *e : b->elements()) {
                if (auto *expr = qobject_cast<TQRExpr *>(e)) {
                    const QString f = expr->sumField();
                    const bool known =
                        std::any_of(m_sums.begin(), m_sums.end(), [&f](const Sum &s) { return s.name == f; });
                    if (!f.isEmpty() && !known)
                        m_sums.push_back({f, nullptr, 0, {}});
                }
            }
        }
        m_total = (ds && ds->active()) ? ds->recordCount() : 0;
        printBand(m_report->band(TQRBand::rbTitle));
        if (m_total == 0) {
            // An empty or closed dataset: the title, one blank detail line and the page footer.
            if (m_report->printIfEmpty) {
                printBand(m_report->band(TQRBand::rbDetail), true);
                m_phase = Phase::Done;
                finishPage();
            } else {
                m_doc->removePages();
                m_phase = Phase::Done;
            }
            return true;
        }
        if (TQRBand *detail = m_report->band(TQRBand::rbDetail)) {
            const PageSetup &p = m_report->page;
            m_lines = RecordLines::of(detail, ds, *m_doc, p.leftMargin, p.bandWidth());
        }
        m_watch = std::make_unique<Watch>();
        m_watch->setDataSource(new DataSource(QStringLiteral("ReportRunSource")));
        m_watch->own = true;
        m_watch->dataSource()->setDataset(ds);
        m_watch->own = false;
        m_phase = Phase::Details;
    }

    if (m_watch->changed || !ds->active() || ds->recordCount() != m_total) {
        m_phase = Phase::Stopped;
        return true;
    }
    if (waiting())
        return false;

    m_watch->own = true;
    ds->disableControls();
    struct Restore
    {
        ReportRun *run;
        Dataset *ds;
        ~Restore()
        {
            ds->enableControls();
            run->m_watch->own = false;
        }
    } restore{this, ds};

    for (Sum &s : m_sums)
        s.field = ds->fieldByName(s.name);

    if (m_next == 0) {
        ds->first();
        printBand(m_report->band(TQRBand::rbGroupHeader));
    } else if (!m_lines) {
        ds->moveTo(m_next + 1);
    }
    TQRBand *detail = m_report->band(TQRBand::rbDetail);
    if (m_lines) {
        // The values of the lines and of the totals, read for the whole step at once.
        std::vector<int> fields;
        for (const QString &name : m_lines->fields())
            fields.push_back(ds->fieldByName(name)->index());
        const size_t perLine = fields.size();
        for (Sum &s : m_sums) {
            const auto at = std::find(fields.begin(), fields.end(), s.field->index());
            s.value = int(at - fields.begin());
            if (at == fields.end())
                fields.push_back(s.field->index());
        }
        const int n = std::min(maxRecords, m_total - m_next);
        m_values.clear();
        ds->readRecords(m_next, n, fields, m_values);
        for (int i = 0; i < n; ++i) {
            QVariant *values = m_values.data() + size_t(i) * fields.size();
            for (Sum &s : m_sums)
                s.total.add(Field::floatOf(values[s.value]));
            printRecordLine(detail, values, perLine); // takes the values
            m_count += 1;
            ++m_next;
        }
        // Standing on the next record to print; at the end on the last one.
        ds->moveTo(std::min(m_next + 1, m_total));
    } else {
        for (int n = 0; n < maxRecords && m_next < m_total; ++n) {
            printBand(detail);
            m_count += 1;
            for (Sum &s : m_sums)
                s.total.add(s.field->asFloat());
            ++m_next;
            ds->next(); // at the last record this only sets eof: the run ends standing on it
        }
    }
    if (m_next >= m_total) {
        auto *group = qobject_cast<TQRGroup *>(m_report->band(TQRBand::rbGroupHeader));
        printBand(group ? group->footerBand() : m_report->band(TQRBand::rbGroupFooter));
        m_phase = Phase::Done;
        finishPage();
        return true;
    }
    return false;
}
