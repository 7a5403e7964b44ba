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
    m_title->setFont(Theme::font(size, QFont::DemiBold));
    titleLayout->addWidget(m_title);
    connect(m_titleArea, &QAbstractButton::clicked, this, &QuietTodoRow::openClicked);
    layout->addWidget(m_titleArea, 1, Qt::AlignVCenter);

    m_meta = plainLabel(QString(), Theme::font(size - 2.5), FocusColor::textSecondary(), this);
    m_meta->setObjectName(QStringLiteral("metaLabel"));
    layout->addWidget(m_meta, 0, Qt::AlignVCenter);

    refresh();
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

QuietRowMeter::QuietRowMeter(qreal size, qreal height)
    : m_size(size), m_height(height), m_probe(std::make_unique<QuietTodoRow>(TaskItem{}, size, height)),
      m_titleMetrics(m_probe->m_title->font())
{
}

QuietRowMeter::~QuietRowMeter() = default;

int QuietRowMeter::measure(const TaskItem& todo, int width)
{
    // A row of its own, never shown: reusing one leaves sizes cached in its layouts.
    const QuietTodoRow row(todo, m_size, m_height);
    // What a layout gives the row as a child: at least its minimum size.
    return std::max({row.heightForWidth(width), row.minimumHeight(), row.minimumSizeHint().height()});
}

const QuietRowMeter::OneLine& QuietRowMeter::oneLine(const TaskItem& todo, const QString& meta, int width)
{
    const QPair<QString, int> key{meta, width};
    auto it = m_oneLine.find(key);
    if (it != m_oneLine.end())
        return *it;
    TaskItem sample = todo;
    sample.title = QStringLiteral("M");
    OneLine line;
    line.height = measure(sample, width);
    m_probe->setTodo(sample);
    for (QWidget* w : m_probe->findChildren<QWidget*>())
        w->updateGeometry();
    m_probe->m_titleArea->layout()->invalidate();
    m_probe->layout()->invalidate();
    m_probe->resize(width, line.height);
    m_probe->layout()->activate();
    m_probe->m_titleArea->layout()->activate();
    line.titleWidth = m_probe->m_title->width();
    return *m_oneLine.insert(key, line);
}

int QuietRowMeter::height(const TaskItem& todo, int width)
{
    const QString& title = todo.title;
    const bool breaks =
        title.contains(u'\n') || title.contains(QChar::LineSeparator) || title.contains(QChar::ParagraphSeparator);
    if (title.isEmpty() || breaks)
        return measure(todo, width);
    const OneLine& line = oneLine(todo, todo.focusMetaText().value_or(QString()), width);
    if (titleAdvance(title) <= line.titleWidth)
        return line.height;
    return measure(todo, width);
}

qreal QuietRowMeter::titleAdvance(const QString& title)
{
    return m_titleMetrics.horizontalAdvance(title);
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
