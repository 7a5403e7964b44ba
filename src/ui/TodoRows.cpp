#include "ui/TodoRows.h"
#include "model/LocaleFormats.h"

#include "ui/ClickableArea.h"
#include "ui/FocusCards.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

} // namespace

// ---------------------------------------------------------------------------------------------
// QuietTodoRow

QuietTodoRow::QuietTodoRow(const TaskItem& todo, qreal size, qreal height, QWidget* parent)
    : QWidget(parent), m_todo(todo), m_size(size)
{
    setMinimumHeight(int(std::ceil(height)));
    auto* layout = rowLayout(this, 6);

    auto* check = new ClickableArea(this);
    check->setObjectName(QStringLiteral("checkButton"));
    check->setFixedSize(32, 32);
    auto* checkLayout = new QVBoxLayout(check);
    checkLayout->setContentsMargins(0, 0, 0, 0);
    m_circle = new PriorityCheckCircle(todo.priority, todo.isCompleted, size + 3, check);
    checkLayout->addWidget(m_circle, 0, Qt::AlignCenter);
    connect(check, &QAbstractButton::clicked, this, &QuietTodoRow::toggleClicked);
    m_check = check;
    layout->addWidget(check, 0, Qt::AlignVCenter);

    m_titleArea = new ClickableArea(this);
    m_titleArea->setObjectName(QStringLiteral("titleArea"));
    m_titleArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* titleLayout = new QVBoxLayout(m_titleArea);
    titleLayout->setContentsMargins(0, 6, 0, 6);
    m_title = new WrappingLabel(QString(), m_titleArea);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setFont(faces(size, false).front());
    titleLayout->addWidget(m_title);
    connect(m_titleArea, &QAbstractButton::clicked, this, &QuietTodoRow::openClicked);
    layout->addWidget(m_titleArea, 1, Qt::AlignVCenter);

    m_meta = plainLabel(QString(), faces(size, true).back(), FocusColor::textSecondary(), this);
    m_meta->setObjectName(QStringLiteral("metaLabel"));
    layout->addWidget(m_meta, 0, Qt::AlignVCenter);

    refresh();
}

QList<QFont> QuietTodoRow::faces(qreal size, bool withMeta)
{
    QList<QFont> faces{Theme::font(size, QFont::DemiBold)};
    if (withMeta)
        faces.append(Theme::font(size - 2.5));
    return faces;
}

void QuietTodoRow::setTodo(const TaskItem& todo)
{
    if (todo == m_todo)
        return;
    m_todo = todo;
    refresh();
}

void QuietTodoRow::refresh()
{
    const bool done = m_todo.isCompleted;
    m_circle->setState(m_todo.priority, done);
    m_check->setToolTip(done ? tr("Mark not done") : tr("Mark done"));
    m_check->setAccessibleName(done ? tr("Mark %1 not done").arg(m_todo.title) : tr("Mark %1 done").arg(m_todo.title));

    m_title->setText(m_todo.title);
    m_title->setColor(done ? FocusColor::textTertiary() : FocusColor::text());
    m_title->setStrikeOut(done);
    m_titleArea->setAccessibleName(m_todo.title);

    const std::optional<QString> meta = m_todo.focusMetaText();
    m_meta->setText(meta.value_or(QString()));
    m_meta->setVisible(meta.has_value());
}

void QuietTodoRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(QRect(0, height() - 1, width(), 1), FocusColor::hairline());
}

// ---------------------------------------------------------------------------------------------
// QuietRowMeter

namespace {

// Titles that take up to this many lines are laid out to the line; longer ones are estimated.
constexpr int maxLaidOutLines = 2;

} // namespace

QuietRowMeter::QuietRowMeter(qreal size, qreal height) : m_titleMetrics(QFont())
{
    // Wide enough that every part gets what it asks for and the title takes the rest.
    constexpr int wide = 1000;
    struct Laid {
        int titleWidth = 0;
        int height = 0;
    };
    const auto layOut = [&](const TaskItem& todo) {
        QuietTodoRow row(todo, size, height);
        row.ensurePolished();
        if (m_metaLabel == nullptr) {
            m_titleFont = row.m_title->font();
            m_titleMetrics = QFontMetricsF(m_titleFont);
            m_narrowest = row.m_title->minimumSizeHint().width();
            m_metaLabel.reset(plainLabel(QString(), row.m_meta->font(), FocusColor::textSecondary(), nullptr));
        }
        Laid laid;
        laid.height = std::max({row.heightForWidth(wide), row.minimumHeight(), row.minimumSizeHint().height()});
        row.resize(wide, laid.height);
        row.layout()->activate();
        row.m_titleArea->layout()->activate();
        laid.titleWidth = row.m_title->width();
        return laid;
    };
    TaskItem plain;
    plain.time = TaskItem::anytime;
    const Laid bare = layOut(plain);
    m_besideTitle = wide - bare.titleWidth;
    m_floor[0] = bare.height;

    TaskItem timed = plain;
    timed.time = QStringLiteral("9:41 AM");
    const Laid withMeta = layOut(timed);
    m_besideMeta = bare.titleWidth - withMeta.titleWidth - textWidth(timed.focusMetaText().value_or(QString()));
    m_floor[1] = withMeta.height;

    TaskItem tall = plain;
    tall.title = QStringLiteral("M\nM\nM\nM\nM\nM");
    const Laid tallRow = layOut(tall);
    m_aroundTitle = tallRow.height - WrappingLabel::heightFor(tall.title, m_titleFont, tallRow.titleWidth);
    m_oneLine = WrappingLabel::heightFor(QStringLiteral("M"), m_titleFont, wide);
    m_charAdvances.fill(-1);
    const QString sample = QStringLiteral("Call Ana about the quarterly report, then fix the WAVE-7 bug (2 hours)");
    m_shapedPerSum = m_titleMetrics.horizontalAdvance(sample) / quickAdvance(sample).value_or(1);
}

QuietRowMeter::~QuietRowMeter() = default;

std::optional<int> QuietRowMeter::metaWidth(const TaskItem& todo)
{
    // A set time is the meta text, formatted for the locale: the stored text stands for it, so
    // that a long list is not formatted again at every width.
    const bool timed = todo.time != TaskItem::anytime && !todo.time.isEmpty();
    if (timed)
        if (const auto it = m_timeWidths.constFind(todo.time); it != m_timeWidths.cend())
            return *it;
    const std::optional<QString> meta = todo.focusMetaText();
    if (!meta)
        return std::nullopt;
    const int width = textWidth(*meta);
    if (timed) {
        if (m_timeWidths.size() > 4096)
            m_timeWidths.clear();
        m_timeWidths.insert(todo.time, width);
    }
    return width;
}

int QuietRowMeter::textWidth(const QString& meta)
{
    auto it = m_metaWidths.constFind(meta);
    if (it == m_metaWidths.cend()) {
        if (m_metaWidths.size() > 4096)
            m_metaWidths.clear();
        // A label without a parent asks no layout to update: nothing is queued.
        m_metaLabel->setText(meta);
        it = m_metaWidths.insert(meta, m_metaLabel->sizeHint().width());
    }
    return *it;
}

qreal QuietRowMeter::titleAdvance(const QString& title)
{
    // Shaping the text is most of a measurement, and the layouts ask at several widths.
    auto it = m_titleAdvances.constFind(title);
    if (it == m_titleAdvances.cend()) {
        if (m_titleAdvances.size() > 65536)
            m_titleAdvances.clear();
        it = m_titleAdvances.insert(title, m_titleMetrics.horizontalAdvance(title));
    }
    return *it;
}

std::optional<qreal> QuietRowMeter::quickAdvance(const QString& title)
{
    // Shaping twenty thousand titles is most of a long list's first layout. A title in Latin
    // letters is about as wide as its letters one by one (kerning moves it by a few per cent);
    // any other script, and combining marks, are shaped.
    qreal sum = 0;
    for (const QChar c : title) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u >= m_charAdvances.size() || (u >= 0x300 && u < 0x370))
            return std::nullopt;
        qreal& advance = m_charAdvances[u];
        if (advance < 0)
            advance = m_titleMetrics.horizontalAdvance(c);
        sum += advance;
    }
    return sum * m_shapedPerSum;
}

int QuietRowMeter::height(const TaskItem& todo, int width)
{
    const std::optional<int> meta = metaWidth(todo);
    // The meta label keeps the width it asks for; the title takes what is left.
    const int titleWidth = std::max(m_narrowest, width - m_besideTitle - (meta ? m_besideMeta + *meta : 0));
    const QString& title = todo.title;
    const bool breaks =
        title.contains(u'\n') || title.contains(QChar::LineSeparator) || title.contains(QChar::ParagraphSeparator);
    if (breaks || title.isEmpty())
        return std::max(m_floor[meta ? 1 : 0],
                        WrappingLabel::heightFor(title, m_titleFont, titleWidth) + m_aroundTitle);
    // Latin titles by the quick sum, within a tenth either way; others shaped.
    const std::optional<qreal> quick = quickAdvance(title);
    const qreal advance = quick ? *quick : titleAdvance(title);
    const qreal slack = quick ? 0.1 : 0;
    int titleHeight = 0;
    if (advance * (1 + slack) <= titleWidth) {
        // Most titles fit on their line: their advance says so without laying the text out.
        titleHeight = m_oneLine;
    } else if (advance * (1 - slack) > maxLaidOutLines * titleWidth) {
        // Squeezed into many lines: only layouts trying their narrowest ask for such widths, and
        // a row built there is measured for real. Words that do not fill their line are left out.
        const int lines = int(std::ceil(advance / titleWidth));
        titleHeight = int(std::ceil((lines - 1) * m_titleMetrics.lineSpacing() + m_titleMetrics.height()));
    } else {
        titleHeight = WrappingLabel::heightFor(title, m_titleFont, titleWidth);
    }
    return std::max(m_floor[meta ? 1 : 0], titleHeight + m_aroundTitle);
}

// ---------------------------------------------------------------------------------------------
// EarlierTodoRow

EarlierTodoRow::EarlierTodoRow(const TaskItem& todo, Date now, const Calendar& calendar, QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(52);
    auto* layout = rowLayout(this, 10);

    m_titleArea = new ClickableArea(this);
    m_titleArea->setObjectName(QStringLiteral("titleArea"));
    m_titleArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* column = new QVBoxLayout(m_titleArea);
    column->setContentsMargins(0, 8, 0, 8);
    column->setSpacing(2);
    m_title = new WrappingLabel(QString(), m_titleArea);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setFont(Theme::font(14, QFont::DemiBold));
    column->addWidget(m_title);
    m_from = plainLabel(QString(), Theme::font(12, QFont::Medium), FocusColor::alert(), m_titleArea);
    m_from->setObjectName(QStringLiteral("fromLabel"));
    column->addWidget(m_from);
    connect(m_titleArea, &QAbstractButton::clicked, this, &EarlierTodoRow::openClicked);
    layout->addWidget(m_titleArea, 1, Qt::AlignVCenter);

    m_menu = new QMenu(this);
    m_options = new QToolButton(this);
    m_options->setObjectName(QStringLiteral("optionsButton"));
    m_options->setAutoRaise(true);
    m_options->setFixedSize(30, 30);
    m_options->setIcon(Symbols::icon(Symbol::ellipsis, FocusColor::textSecondary(), 14));
    m_options->setIconSize(QSize(int(Symbols::boxSize(14)), int(Symbols::boxSize(14))));
    m_options->setPopupMode(QToolButton::InstantPopup);
    m_options->setMenu(m_menu);
    // The menu's arrow is hidden: the ellipsis says enough.
    m_options->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"
                                            "QToolButton::menu-indicator { image: none; width: 0; }"));
    layout->addWidget(m_options, 0, Qt::AlignVCenter);

    setTodo(todo, now, calendar);
}

void EarlierTodoRow::setTodo(const TaskItem& todo, Date now, const Calendar& calendar)
{
    m_todo = todo;
    m_title->setText(todo.title);
    m_titleArea->setAccessibleName(todo.title);
    m_from->setText(fromText(todo, now, calendar));
    m_options->setAccessibleName(tr("Options for %1").arg(todo.title));
}

QString EarlierTodoRow::fromText(const TaskItem& todo, Date now, const Calendar& calendar)
{
    const Date day = todo.dueDate.value_or(todo.createdAt);
    const qint64 days = calendar.daysBetween(day, now);
    const QDate date = calendar.localDate(day);
    const QLocale locale;
    if (days == 1)
        return tr("From yesterday");
    if (days > 6) {
        return tr("From %1").arg(
            LocaleFormats::effective(locale).toString(date, LocaleFormats::dayMonthPattern(locale)));
    }
    return tr("From %1").arg(locale.dayName(date.dayOfWeek(), QLocale::LongFormat));
}
