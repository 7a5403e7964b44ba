#include "ui/FocusCards.h"

#include "ui/Accessibility.h"
#include "ui/CardShadow.h"
#include "ui/ClickableArea.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// PriorityCheckCircle

PriorityCheckCircle::PriorityCheckCircle(TaskItem::Priority priority, bool isDone, qreal size, QWidget* parent)
    : QWidget(parent), m_priority(priority), m_isDone(isDone), m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PriorityCheckCircle::setState(TaskItem::Priority priority, bool isDone)
{
    m_priority = priority;
    m_isDone = isDone;
    update();
}

void PriorityCheckCircle::setDiameter(qreal size)
{
    m_size = size;
    updateGeometry();
    update();
}

const QColor& PriorityCheckCircle::ringColor(TaskItem::Priority priority, bool isDone)
{
    if (isDone)
        return FocusColor::green();
    switch (priority) {
    case TaskItem::Priority::high:
        return FocusColor::priorityHigh();
    case TaskItem::Priority::medium:
        return FocusColor::priorityMedium();
    case TaskItem::Priority::low:
        return FocusColor::priorityLow();
    }
    return FocusColor::priorityMedium();
}

void PriorityCheckCircle::paint(QPainter& painter, const QRectF& rect, qreal size, TaskItem::Priority priority,
                                bool isDone)
{
    constexpr qreal ring = 2;
    const QRectF circle(rect.center().x() - size / 2, rect.center().y() - size / 2, size, size);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDone ? FocusColor::green() : FocusColor::white());
    painter.drawEllipse(circle);
    // The ring lies inside the circle's edge.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ringColor(priority, isDone), ring));
    painter.drawEllipse(circle.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));
    painter.restore();
    if (isDone) {
        const qreal textSize = size * 0.5;
        Symbols::paint(painter, circle, Symbol::checkmark, FocusColor::white(), textSize, textSize * 0.1);
    }
}

QSize PriorityCheckCircle::sizeHint() const
{
    const int edge = int(std::ceil(m_size));
    return {edge, edge};
}

void PriorityCheckCircle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, rect(), m_size, m_priority, m_isDone);
}

// ---------------------------------------------------------------------------------------------
// Card frame

namespace {

struct CardMetrics {
    int paddingX;
    int paddingY;
    qreal radius;
    qreal shadowRadius;
    qreal shadowOffset;
    qreal buttonTextSize;
};

CardMetrics metricsFor(bool compact)
{
    return compact ? CardMetrics{20, 20, 20, 15, 10, 13} : CardMetrics{30, 28, 26, 22, 14, 14};
}

bool hasTime(const TaskItem& todo)
{
    return !todo.time.isEmpty() && todo.time != TaskItem::anytime;
}

// The faces of the cards' parts, for the cards and for what they say they draw.
constexpr qreal eyebrowSize = 11.5;
QFont heroTitleFace(bool compact)
{
    return Theme::font(compact ? 26 : 34, QFont::DemiBold, Theme::Design::serif);
}
QFont emptyTitleFace(bool compact)
{
    return Theme::font(compact ? 24 : 34, QFont::DemiBold, Theme::Design::serif);
}
QFont timeFace()
{
    return Theme::font(12.5, QFont::Medium);
}
QFont detailFace()
{
    return Theme::font(12, QFont::Medium);
}
QFont stepFace()
{
    return Theme::font(14);
}
QFont notesFace()
{
    return Theme::font(13.5);
}
QFont subtitleFace()
{
    return Theme::font(13, QFont::Medium);
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            // Out of sight and out of findChildren at once; deleted later, because the click
            // that led here may still be running in one of these widgets.
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        } else if (QLayout* child = item->layout())
            clearLayout(child);
        delete item;
    }
}

WrappingLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = new WrappingLabel(text, parent);
    label->setFont(font);
    label->setColor(color);
    return label;
}

// The 18-point box of a step on the dark card.
class StepBox : public QWidget {
public:
    StepBox(bool done, QWidget* parent) : QWidget(parent), m_done(done)
    {
        setFixedSize(18, 18);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        constexpr qreal line = 1.75;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(rect());
        if (m_done) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(FocusColor::gold());
            painter.drawRoundedRect(box, 5, 5);
        }
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(m_done ? FocusColor::gold() : FocusColor::withOpacity(FocusColor::white(), 0.55), line));
        painter.drawRoundedRect(box.adjusted(line / 2, line / 2, -line / 2, -line / 2), 5 - line / 2, 5 - line / 2);
        if (m_done)
            Symbols::paint(painter, box, Symbol::checkmark, FocusColor::ink(), 9, 0.9);
    }

private:
    bool m_done;
};

} // namespace

FocusCardFrame::FocusCardFrame(bool compact, QWidget* parent) : QWidget(parent), m_compact(compact)
{
    m_content = new QVBoxLayout(this);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    applyMetrics();
}

void FocusCardFrame::setCompact(bool compact)
{
    m_compact = compact;
    applyMetrics();
}

QMargins FocusCardFrame::shadowMargins() const
{
    const CardMetrics m = metricsFor(m_compact);
    return CardShadow::extent(m.shadowRadius, m.shadowOffset);
}

QRect FocusCardFrame::cardRect() const
{
    return rect().marginsRemoved(shadowMargins());
}

void FocusCardFrame::applyMetrics()
{
    const CardMetrics m = metricsFor(m_compact);
    const QMargins shadow = shadowMargins();
    m_content->setContentsMargins(shadow + QMargins(m.paddingX, m.paddingY, m.paddingX, m.paddingY));
    updateGeometry();
    update();
}

void FocusCardFrame::paintEvent(QPaintEvent*)
{
    const CardMetrics m = metricsFor(m_compact);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card(cardRect());
    CardShadow::paint(painter, card, m.radius, m.shadowRadius, m.shadowOffset,
                      FocusColor::withOpacity(FocusColor::ink(), 0.22));
    QPainterPath path;
    path.addRoundedRect(card, m.radius, m.radius);
    painter.fillPath(path, FocusColor::ink());
}

// ---------------------------------------------------------------------------------------------
// FocusHeroCard

FocusHeroCard::FocusHeroCard(const TaskItem& todo, bool compact, bool canSkip, QWidget* parent)
    : FocusCardFrame(compact, parent), m_todo(todo), m_canSkip(canSkip)
{
    rebuild();
}

void FocusHeroCard::setTodo(const TaskItem& todo)
{
    if (todo == m_todo)
        return;
    m_todo = todo;
    rebuild();
}

void FocusHeroCard::setCanSkip(bool canSkip)
{
    if (canSkip == m_canSkip)
        return;
    m_canSkip = canSkip;
    rebuild();
}

void FocusHeroCard::setCompactForm(bool compact)
{
    if (compact == isCompact())
        return;
    setCompact(compact);
    rebuild();
}

QString FocusHeroCard::priorityLabel(TaskItem::Priority priority)
{
    switch (priority) {
    case TaskItem::Priority::high:
        return tr("High priority");
    case TaskItem::Priority::medium:
        return tr("Medium priority");
    case TaskItem::Priority::low:
        return tr("Low priority");
    }
    return {};
}

QString FocusHeroCard::compactDetailText(const TaskItem& todo)
{
    QStringList parts{priorityLabel(todo.priority)};
    if (const auto steps = todo.stepsProgressText())
        parts << *steps;
    if (hasTime(todo))
        parts << tr("by ") + todo.displayTime();
    return parts.join(QStringLiteral(" \u00B7 "));
}

QList<QFont> FocusHeroCard::faces(const TaskItem& todo, bool compact, bool canSkip)
{
    const CardMetrics m = metricsFor(compact);
    QList<QFont> faces{Eyebrow::face(eyebrowSize)};
    if (!compact && hasTime(todo))
        faces.append(timeFace());
    faces.append(heroTitleFace(compact));
    if (compact)
        faces.append(detailFace());
    else if (!todo.subtasks.empty())
        faces.append(stepFace());
    else if (todo.notes && !todo.notes->isEmpty())
        faces.append(notesFace());
    faces += FocusButton::faces(FocusGoldButtonStyle{compact, m.buttonTextSize}, true);
    if (canSkip)
        faces += FocusButton::faces(FocusGhostButtonStyle{m.buttonTextSize}, false);
    return faces;
}

void FocusHeroCard::rebuild()
{
    // The control that had the keyboard focus gets it back after the rebuild (a step row by its
    // step), so checking steps with the keyboard does not lose the place.
    QString focusedName;
    QVariant focusedStep;
    if (QWidget* focused = focusWidget(); focused && isAncestorOf(focused)) {
        focusedName = focused->objectName();
        focusedStep = focused->property("stepId");
    }
    const bool compact = isCompact();
    const CardMetrics m = metricsFor(compact);
    QVBoxLayout* layout = contentLayout();
    clearLayout(layout);
    layout->setSpacing(compact ? 12 : 16);

    // Header: eyebrow, and the time on the right in the full form.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    const QString eyebrow =
        compact ? tr("Right now") : tr("Right now") + QStringLiteral(" \u00B7 ") + priorityLabel(m_todo.priority);
    auto* eyebrowLabel = new Eyebrow(eyebrow, FocusColor::gold(), eyebrowSize, this);
    eyebrowLabel->setObjectName(QStringLiteral("eyebrow"));
    header->addWidget(eyebrowLabel);
    header->addStretch(1);
    if (!compact && hasTime(m_todo)) {
        QLabel* time = plainLabel(tr("by ") + m_todo.displayTime(), timeFace(), FocusColor::mutedOnDark(), this);
        time->setObjectName(QStringLiteral("timeLabel"));
        header->addWidget(time);
    }
    layout->addLayout(header);

    // Title: a click opens the to-do.
    auto* titleButton = new ClickableArea(this);
    titleButton->setObjectName(QStringLiteral("titleButton"));
    titleButton->setToolTip(tr("Open this to-do"));
    titleButton->setHoverTint(FocusColor::withOpacity(FocusColor::white(), 0.07));
    titleButton->setAccessibleName(m_todo.title);
    auto* titleLayout = new QVBoxLayout(titleButton);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    auto* title = textLabel(m_todo.title, heroTitleFace(compact), FocusColor::white(), titleButton);
    title->setObjectName(QStringLiteral("title"));
    Accessibility::markHeader(title);
    titleLayout->addWidget(title);
    connect(titleButton, &QAbstractButton::clicked, this, &FocusHeroCard::openClicked);
    layout->addWidget(titleButton);

    // Detail.
    if (compact) {
        auto* detail = textLabel(compactDetailText(m_todo), detailFace(), FocusColor::mutedOnDark(), this);
        detail->setObjectName(QStringLiteral("detail"));
        layout->addWidget(detail);
    } else if (!m_todo.subtasks.empty()) {
        auto* steps = new QVBoxLayout;
        steps->setSpacing(2);
        for (const Subtask& step : m_todo.subtasks) {
            auto* row = new ClickableArea(this);
            row->setObjectName(QStringLiteral("step"));
            row->setProperty("stepId", step.id);
            row->setAccessibleName((step.isCompleted ? tr("Uncheck ") : tr("Check ")) + step.title);
            row->setMinimumHeight(32);
            row->setHoverTint(FocusColor::withOpacity(FocusColor::white(), 0.07));
            auto* stepRow = rowLayout(row, 12);
            stepRow->addWidget(new StepBox(step.isCompleted, row), 0, Qt::AlignVCenter);
            auto* stepTitle = textLabel(step.title, stepFace(),
                                        step.isCompleted ? FocusColor::completedStepTitle() : FocusColor::white(), row);
            stepTitle->setStrikeOut(step.isCompleted);
            stepRow->addWidget(stepTitle, 1, Qt::AlignVCenter);
            connect(row, &QAbstractButton::clicked, this, [this, step] { emit stepClicked(step); });
            steps->addWidget(row);
        }
        layout->addLayout(steps);
    } else if (m_todo.notes && !m_todo.notes->isEmpty()) {
        auto* notes = textLabel(*m_todo.notes, notesFace(), FocusColor::mutedOnDark(), this);
        notes->setObjectName(QStringLiteral("notes"));
        notes->setMaxLines(3);
        layout->addWidget(notes);
    }

    // Actions.
    layout->addSpacing(2);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(10);
    auto* done = new FocusButton(tr("Mark done"), FocusGoldButtonStyle{compact, m.buttonTextSize}, this);
    done->setObjectName(QStringLiteral("markDoneButton"));
    done->setSymbol(Symbol::checkmark);
    connect(done, &QAbstractButton::clicked, this, &FocusHeroCard::doneClicked);
    actions->addWidget(done);
    if (m_canSkip) {
        auto* skip =
            new FocusButton(compact ? tr("Next") : tr("Skip to next"), FocusGhostButtonStyle{m.buttonTextSize}, this);
        skip->setObjectName(QStringLiteral("skipButton"));
        skip->setToolTip(tr("Show your next priority here"));
        connect(skip, &QAbstractButton::clicked, this, &FocusHeroCard::skipClicked);
        actions->addWidget(skip);
    }
    if (!compact)
        actions->addStretch(1);
    layout->addLayout(actions);
    // Any height beyond what the content needs stays below it.
    layout->addStretch(1);

    if (!focusedName.isEmpty()) {
        for (QWidget* candidate : findChildren<QWidget*>(focusedName)) {
            if (candidate->property("stepId") == focusedStep) {
                // New children are shown by a queued call of the layout; focus them after it.
                QMetaObject::invokeMethod(
                    candidate, [candidate] { candidate->setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// FocusEmptyCard

FocusEmptyCard::FocusEmptyCard(bool allDone, bool compact, QWidget* parent)
    : FocusCardFrame(compact, parent), m_allDone(allDone)
{
    rebuild();
}

void FocusEmptyCard::setAllDone(bool allDone)
{
    if (allDone == m_allDone)
        return;
    m_allDone = allDone;
    rebuild();
}

void FocusEmptyCard::setCompactForm(bool compact)
{
    if (compact == isCompact())
        return;
    setCompact(compact);
    rebuild();
}

QList<QFont> FocusEmptyCard::faces(bool allDone, bool compact)
{
    const CardMetrics m = metricsFor(compact);
    QList<QFont> faces{Eyebrow::face(eyebrowSize), emptyTitleFace(compact), subtitleFace()};
    if (allDone)
        faces += FocusButton::faces(FocusGhostButtonStyle{m.buttonTextSize}, false);
    else
        faces += FocusButton::faces(FocusGoldButtonStyle{compact, m.buttonTextSize}, true);
    return faces;
}

void FocusEmptyCard::rebuild()
{
    const bool compact = isCompact();
    const CardMetrics m = metricsFor(compact);
    QVBoxLayout* layout = contentLayout();
    clearLayout(layout);
    layout->setSpacing(compact ? 10 : 14);

    auto* eyebrow = new Eyebrow(m_allDone ? tr("All done") : tr("Today"), FocusColor::gold(), eyebrowSize, this);
    eyebrow->setObjectName(QStringLiteral("eyebrow"));
    layout->addWidget(eyebrow);
    auto* title =
        textLabel(m_allDone ? tr("Everything for today is done.") : tr("What's the one thing that matters today?"),
                  emptyTitleFace(compact), FocusColor::white(), this);
    title->setObjectName(QStringLiteral("title"));
    layout->addWidget(title);
    auto* subtitle =
        textLabel(m_allDone ? tr("Enjoy the time you saved.") : tr("Add it here. Everything else can wait."),
                  subtitleFace(), FocusColor::mutedOnDark(), this);
    subtitle->setObjectName(QStringLiteral("subtitle"));
    layout->addWidget(subtitle);

    layout->addSpacing(2);
    auto* row = new QHBoxLayout;
    FocusButton* add = nullptr;
    if (m_allDone) {
        add = new FocusButton(tr("Add another"), FocusGhostButtonStyle{m.buttonTextSize}, this);
    } else {
        add = new FocusButton(tr("Add a priority"), FocusGoldButtonStyle{compact, m.buttonTextSize}, this);
        add->setSymbol(Symbol::plus);
    }
    add->setObjectName(QStringLiteral("addButton"));
    connect(add, &QAbstractButton::clicked, this, &FocusEmptyCard::addClicked);
    row->addWidget(add);
    if (!(compact && !m_allDone))
        row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
}
