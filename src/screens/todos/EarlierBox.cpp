#include "screens/todos/EarlierBox.h"

#include "ui/Accessibility.h"

#include "ui/ClickableArea.h"
#include "ui/Headings.h"
#include "ui/Layouts.h"
#include "ui/LazyRows.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/TodoRows.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// A row with the hairline above it, the one unit the list builds or measures.
QWidget* entryWidget(const TaskItem& todo, Date now, const Calendar& calendar, EarlierTodoRow** row, QWidget* parent)
{
    auto* entry = new QWidget(parent);
    auto* column = columnLayout(entry, 0);
    column->addWidget(new FocusGroupDivider(14, entry));
    *row = new EarlierTodoRow(todo, now, calendar, entry);
    (*row)->setProperty("todoId", todo.id);
    (*row)->setContentsMargins(14, 0, 14, 0);
    column->addWidget(*row);
    return entry;
}

// The box's chevron: pointing down while the box is closed, turned half round while it is open,
// turning as the person opens or closes it.
class TurningChevron : public QWidget {
public:
    TurningChevron(bool open, bool turn, QWidget* parent)
        : QWidget(parent), m_angle(new Tween(0.2, QEasingCurve::InOutQuad, this))
    {
        setObjectName(QStringLiteral("earlierChevron"));
        setFixedSize(16, 16);
        const double to = open ? 180 : 0;
        m_angle->jumpTo(turn ? 180 - to : to);
        connect(m_angle, &Tween::valueChanged, this, qOverload<>(&QWidget::update));
        if (turn)
            m_angle->moveTo(to);
        setProperty("angle", m_angle->value());
        connect(m_angle, &Tween::valueChanged, this, [this](double angle) { setProperty("angle", angle); });
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(QRectF(rect()).center());
        p.rotate(m_angle->value());
        p.translate(-QRectF(rect()).center());
        Symbols::paint(p, QRectF(rect()), Symbol::chevronDown, FocusColor::textSecondary(), 12);
    }

private:
    Tween* m_angle;
};

} // namespace

EarlierBox::EarlierBox(std::vector<TaskItem> earlier, bool open, bool easeIn, bool turn, Date now,
                       const Calendar& calendar, const QFont& countFace, Actions actions, QWidget* parent)
    : RoundedPanel(FocusColor::withOpacity(FocusColor::white(), 0.72), FocusColor::hairline(), 16, parent),
      m_earlier(std::move(earlier)), m_now(now), m_calendar(calendar), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("earlierBox"));
    auto* v = columnLayout(this, 0);

    auto* toggle = new ClickableArea(this);
    toggle->setObjectName(QStringLiteral("earlierToggle"));
    toggle->setMinimumHeight(50);
    toggle->setCursor(Qt::PointingHandCursor);
    const QString count = m_earlier.size() == 1
                              ? QStringLiteral("1 unfinished from this past week")
                              : QStringLiteral("%1 unfinished from this past week").arg(m_earlier.size());
    toggle->setAccessibleName(count);
    Accessibility::setExpanded(toggle, open);
    auto* h = new QHBoxLayout(toggle);
    h->setContentsMargins(14, 0, 14, 0);
    h->setSpacing(10);
    auto* clock = new SymbolLabel(Symbol::history, 14, FocusColor::alert(), toggle);
    clock->setFixedWidth(32);
    h->addWidget(clock);
    auto* text = plainLabel(count, countFace, FocusColor::text(), toggle);
    text->setObjectName(QStringLiteral("earlierCount"));
    h->addWidget(text);
    h->addStretch(1);
    h->addWidget(new TurningChevron(open, easeIn || turn, toggle));
    connect(toggle, &QAbstractButton::clicked, this, [this] { m_actions.toggle(); });
    v->addWidget(toggle);
    if (!open)
        return;

    // One column, so that opening the box eases its rows in together; a box rebuilt by a store
    // change while open shows its rows at once.
    m_rows = new LazyRows([this](int i, QWidget* p) { return makeEntry(m_earlier[size_t(i)], p); },
                          [this](int i, int width) { return expectedHeight(m_earlier[size_t(i)], width); }, this);
    m_rows->setObjectName(QStringLiteral("earlierRows"));
    m_rows->setEstimate([this](int width) {
        TaskItem oneLine;
        oneLine.title = QStringLiteral("A");
        oneLine.createdAt = m_now;
        return expectedHeight(oneLine, width);
    });
    std::vector<QUuid> keys;
    keys.reserve(m_earlier.size());
    for (const TaskItem& t : m_earlier)
        keys.push_back(t.id);
    m_rows->setKeys(std::move(keys));
    v->addWidget(m_rows);
    // The fade draws the whole column offscreen at every frame: a long one would hold the window
    // for seconds, so it shows at once.
    constexpr size_t easedAtMost = 24;
    if (easeIn && m_earlier.size() <= easedAtMost)
        Motion::fadeIn(m_rows, 0.2);
}

EarlierBox::~EarlierBox() = default;

int EarlierBox::expectedHeight(const TaskItem& todo, int width)
{
    if (!m_probe)
        m_probe.reset(entryWidget(todo, m_now, m_calendar, &m_probeRow, nullptr));
    else
        m_probeRow->setTodo(todo, m_now, m_calendar);
    return std::max(m_probe->heightForWidth(width), m_probe->minimumSizeHint().height());
}

QWidget* EarlierBox::makeEntry(const TaskItem& todo, QWidget* parent)
{
    EarlierTodoRow* row = nullptr;
    QWidget* entry = entryWidget(todo, m_now, m_calendar, &row, parent);
    m_actions.fillMenu(row->menu(), todo);
    row->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(row, &EarlierTodoRow::openClicked, this, [this, row] { m_actions.open(row->todo()); });
    connect(row, &QWidget::customContextMenuRequested, this, [this, row](const QPoint& at) {
        QMenu menu;
        m_actions.fillMenu(&menu, row->todo());
        menu.exec(row->mapToGlobal(at));
    });
    return entry;
}
