#include "app/Popover.h"
#include "app/AppLogo.h"

#include "app/PopoverContent.h"
#include "blocking/BrowserAutomationService.h"
#include "platform/WindowHints.h"
#include "router/MenuBlockingStatus.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/ClickableArea.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/FocusCards.h"
#include "ui/Layouts.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/RoundedPanel.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/TodoRows.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

using Destination = AppRouter::Destination;

} // namespace

Popover::Popover(AppContext& context, std::function<void(Destination)> openMainWindow, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_context(context),
      m_open(std::move(openMainWindow))
{
    Q_INIT_RESOURCE(blocking);
    setObjectName(QStringLiteral("popover"));
    Accessibility::setRole(this, QAccessible::Window);
    setWindowTitle(QStringLiteral("Quillharbour"));
    setFixedWidth(width);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);

    StorageService* storage = m_context.storage;
    for (auto signal : {&TodoStore::todosChanged, &TodoStore::focusTodoIDChanged})
        connect(&storage->todos(), signal, this, &Popover::scheduleRefresh);
    for (auto signal :
         {&BlockingStore::rulesChanged, &BlockingStore::stateChanged, &BlockingStore::doomScrollConfigChanged})
        connect(&storage->blocking(), signal, this, &Popover::scheduleRefresh);
    if (m_context.browsers)
        connect(m_context.browsers, &BrowserAutomationService::accessChanged, this, &Popover::scheduleRefresh);
    connect(storage, &StorageService::todosCameIn, this, &Popover::scheduleRefresh);
    refresh();
}

void Popover::scheduleRefresh()
{
    m_queuedRefresh.request();
}

void Popover::refresh()
{
    m_queuedRefresh.cancel();
    const bool fieldHadFocus = m_field && m_field->hasFocus();
    if (m_field)
        m_newTitle = m_field->text();
    if (m_body) {
        // Later, as a click handler inside it may still be running.
        m_layout->removeWidget(m_body);
        m_body->hide();
        m_body->setParent(nullptr);
        m_body->deleteLater();
    }
    m_field = nullptr;
    m_body = new QWidget(this);
    auto* column = new QVBoxLayout(m_body);
    // The focus cards' shadows spread into the popover's padding, so that their visible edges
    // line up with the other sections rather than stand inside them.
    static const QMargins shadow = FocusCardFrame(true).shadowMargins();
    column->setContentsMargins(18 - shadow.left(), 18, 18 - shadow.right(), 18);
    column->setSpacing(16);
    for (QWidget* section : {header(), banner(), priorityArea(), following(), footer()}) {
        if (!section)
            continue;
        if (qobject_cast<FocusCardFrame*>(section)) {
            column->addWidget(section);
            continue;
        }
        auto* inset = new QVBoxLayout;
        inset->setContentsMargins(shadow.left(), 0, shadow.right(), 0);
        inset->addWidget(section);
        column->addLayout(inset);
    }
    m_layout->addWidget(m_body);
    // A child added to a visible window is shown only later, and a hidden body measures 0 high:
    // the window would collapse (and the window manager unmap it) under the person's click.
    m_body->show();
    // A fixed width; the height follows the content at that width.
    m_layout->activate();
    setFixedHeight(m_layout->hasHeightForWidth() ? m_layout->heightForWidth(width) : m_layout->sizeHint().height());
    if (m_field && fieldHadFocus)
        m_field->setFocus();
}

QWidget* Popover::header()
{
    auto* row = new QWidget;
    auto* layout = rowLayout(row, 9);
    auto* logo = new AppLogo(26, 7);
    Accessibility::hide(logo);
    layout->addWidget(logo);
    const Date now = m_context.clock->now();
    QLabel* date = plainLabel(PopoverContent::dateText(now, m_context.calendar()), 13, QFont::Bold, FocusColor::text());
    date->setObjectName(QStringLiteral("date"));
    layout->addWidget(date);
    layout->addStretch(1);
    if (m_context.storage->todos().focusTodo() && !m_adding) {
        auto* add = new FocusButton(QStringLiteral("Add"), FocusPillButtonStyle{false, 12.5});
        add->setSymbol(Symbol::plus);
        add->setObjectName(QStringLiteral("addChip"));
        add->setToolTip(QStringLiteral("Add a priority for today"));
        connect(add, &QAbstractButton::clicked, this, &Popover::beginAdding);
        layout->addWidget(add);
    }
    return row;
}

QWidget* Popover::banner()
{
    const bool needsBrowser = m_context.browsers && m_context.browsers->needsAttention();
    const MenuBlockingStatus status =
        resolveMenuBlockingStatus(*m_context.storage, needsBrowser, m_context.clock->now());
    Symbol symbol = Symbol::lockOpen;
    QColor tint = FocusColor::textSecondary();
    QString message;
    QString button;
    std::function<void()> action;
    switch (status) {
    case MenuBlockingStatus::active:
        return nullptr;
    case MenuBlockingStatus::noRules:
        message = QStringLiteral("No sites are blocked yet.");
        button = QStringLiteral("Block a site");
        action = [this] { m_open(Destination::block); };
        break;
    case MenuBlockingStatus::needsBrowser:
        symbol = Symbol::warning;
        tint = FocusColor::alert();
        message = QStringLiteral("Blocking isn't working. Connect your browser.");
        button = QStringLiteral("Fix");
        action = [this] { m_open(Destination::settings); };
        break;
    case MenuBlockingStatus::paused:
        symbol = Symbol::pause;
        message = pausedBlockingText(*m_context.storage, m_context.calendar());
        button = QStringLiteral("Resume now");
        action = [this] { m_context.storage->blocking().resumeBlocking(); };
        break;
    }
    auto* panel = new RoundedPanel(FocusColor::withOpacity(FocusColor::white(), 0.72), FocusColor::hairline(), 12);
    panel->setObjectName(QStringLiteral("banner"));
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);
    auto* mark = new SymbolLabel(symbol, 13, tint);
    layout->addWidget(mark, 0, Qt::AlignVCenter);
    QLabel* text =
        plainLabel(message, 12.5, QFont::DemiBold, tint == FocusColor::textSecondary() ? FocusColor::text() : tint);
    text->setObjectName(QStringLiteral("bannerText"));
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    layout->addSpacing(6);
    // A plain button beside the words, as the footer is: no underline.
    auto* link = new FocusButton(button, FocusPlainButtonStyle{12.5, FocusColor::text()});
    link->setObjectName(QStringLiteral("bannerButton"));
    connect(link, &QAbstractButton::clicked, this, action);
    layout->addWidget(link, 0, Qt::AlignVCenter);
    return panel;
}

QWidget* Popover::priorityArea()
{
    StorageService& storage = *m_context.storage;
    if (m_adding) {
        auto* card = new RoundedPanel(FocusColor::ink(), Qt::transparent, 20);
        card->setObjectName(QStringLiteral("quickAddCard"));
        auto* layout = new QVBoxLayout(card);
        layout->setContentsMargins(20, 20, 20, 20);
        layout->setSpacing(12);
        layout->addWidget(new Eyebrow(QStringLiteral("Today"), FocusColor::gold(), 11.5));
        m_field = new QLineEdit(m_newTitle);
        m_field->setObjectName(QStringLiteral("quickAddField"));
        m_field->setAccessibleName(QStringLiteral("New priority"));
        m_field->setPlaceholderText(QStringLiteral("What matters today?"));
        m_field->setFrame(false);
        m_field->setFont(Theme::font(22, QFont::DemiBold, Theme::Design::serif));
        QPalette palette = m_field->palette();
        palette.setColor(QPalette::Base, Qt::transparent);
        palette.setColor(QPalette::Text, FocusColor::white());
        palette.setColor(QPalette::PlaceholderText, FocusColor::mutedOnDark());
        m_field->setPalette(palette);
        m_field->installEventFilter(this);
        connect(m_field, &QLineEdit::returnPressed, this, &Popover::addTodo);
        layout->addWidget(m_field);
        auto* hintRow = new QHBoxLayout;
        hintRow->addWidget(
            plainLabel(QStringLiteral("Press Return to add"), 12, QFont::Medium, FocusColor::mutedOnDark()));
        hintRow->addStretch(1);
        auto* cancel = new FocusButton(QStringLiteral("Cancel"), FocusLinkButtonStyle{12.5, FocusColor::white()});
        cancel->setObjectName(QStringLiteral("cancelAdding"));
        connect(cancel, &QAbstractButton::clicked, this, &Popover::cancelAdding);
        hintRow->addWidget(cancel);
        layout->addLayout(hintRow);
        return card;
    }
    // No empty card while the to-dos are read: it would say there are none.
    if (!storage.todosLoaded()) {
        QLabel* loading =
            plainLabel(QStringLiteral("Loading your to-dos…"), 13, QFont::Medium, FocusColor::textSecondary());
        loading->setObjectName(QStringLiteral("todosLoading"));
        return loading;
    }
    if (const auto focus = storage.todos().focusTodo()) {
        auto* card = new FocusHeroCard(*focus, true, storage.todos().openTodos().size() > 1);
        card->setObjectName(QStringLiteral("heroCard"));
        const QUuid id = focus->id;
        connect(card, &FocusHeroCard::doneClicked, this, [this, id] { m_context.storage->todos().toggleTodo(id); });
        connect(card, &FocusHeroCard::skipClicked, this, [this] { m_context.storage->todos().advanceFocus(); });
        connect(card, &FocusHeroCard::openClicked, this, [this] { m_open(Destination::todos); });
        if (m_fadedFocus != id) {
            m_fadedFocus = id;
            Motion::fadeIn(card, 0.25);
        }
        return card;
    }
    auto* card = new FocusEmptyCard(!storage.todos().todayTodos().empty(), true);
    card->setObjectName(QStringLiteral("emptyCard"));
    connect(card, &FocusEmptyCard::addClicked, this, &Popover::beginAdding);
    return card;
}

QWidget* Popover::following()
{
    const auto following = PopoverContent::followingTodos(*m_context.storage);
    const int more = std::max<int>(int(following.size()), 2) - 2;
    const auto summary = PopoverContent::summaryLine(*m_context.storage, more);
    if (following.empty() && !summary)
        return nullptr;
    auto* section = new QWidget;
    auto* layout = columnLayout(section, 0);
    if (!following.empty()) {
        auto* then = new Eyebrow(QStringLiteral("Then"), FocusColor::textSecondary(), 11);
        then->setContentsMargins(6, 0, 0, 2);
        layout->addWidget(then);
        for (size_t i = 0; i < following.size() && i < 2; ++i) {
            auto* row = new QuietTodoRow(following[i], 13, 38);
            row->setObjectName(QStringLiteral("followingRow"));
            const QUuid id = following[i].id;
            connect(row, &QuietTodoRow::toggleClicked, this, [this, id] { m_context.storage->todos().toggleTodo(id); });
            connect(row, &QuietTodoRow::openClicked, this, [this] { m_open(Destination::todos); });
            layout->addWidget(row);
        }
    }
    if (summary) {
        const QColor color =
            m_context.storage->todos().earlierTodos().empty() ? FocusColor::textSecondary() : FocusColor::alert();
        // Quiet text that opens Today, not an underlined link in running text.
        auto* button = new FocusButton(*summary, FocusPlainButtonStyle{11.5, color});
        button->setObjectName(QStringLiteral("summary"));
        button->setToolTip(QStringLiteral("Open Today in Quillharbour"));
        connect(button, &QAbstractButton::clicked, this, [this] { m_open(Destination::todos); });
        layout->addSpacing(8);
        // In line with the "Then" eyebrow and the rows' circles.
        auto* line = new QHBoxLayout;
        line->setContentsMargins(6, 0, 6, 0);
        line->addWidget(button);
        line->addStretch(1);
        layout->addLayout(line);
    }
    return section;
}

QWidget* Popover::footer()
{
    // A plain button the width of the popover: the words and the arrow are one target, not
    // underlined as a link in running text would be.
    auto* button = new ClickableArea;
    button->setObjectName(QStringLiteral("openMain"));
    button->setAccessibleName(QStringLiteral("Open Quillharbour"));
    button->setCursor(Qt::PointingHandCursor);
    auto* row = rowLayout(button, 6);
    row->setContentsMargins(6, 8, 6, 8);
    row->addWidget(plainLabel(QStringLiteral("Open Quillharbour"), 12.5, QFont::Bold, FocusColor::text(), button));
    row->addStretch(1);
    row->addWidget(new SymbolLabel(Symbol::arrowUpRight, 11, FocusColor::text(), button));
    connect(button, &QAbstractButton::clicked, this, [this] { m_open(Destination::todos); });
    auto* area = new QWidget;
    auto* layout = new QHBoxLayout(area);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->addWidget(button);
    area->setProperty("topHairline", true);
    return area;
}

void Popover::beginAdding()
{
    m_adding = true;
    refresh();
    if (auto* card = findChild<QWidget*>(QStringLiteral("quickAddCard")))
        Motion::fadeIn(card, 0.2);
    // The keyboard goes to the field at once: keys typed straight after the press that opened it
    // are already on their way, and would land on the button it replaced.
    if (m_field)
        m_field->setFocus(Qt::OtherFocusReason);
    QTimer::singleShot(50, this, [this] {
        if (m_field) {
            m_field->setFocus();
            m_field->activateWindow();
        }
    });
}

void Popover::cancelAdding()
{
    m_newTitle.clear();
    if (m_field)
        m_field->clear();
    m_adding = false;
    refresh();
}

void Popover::addTodo()
{
    const QString text = m_field ? m_field->text() : m_newTitle;
    const auto todo = PopoverContent::quickTodo(text, m_context.clock->now(), m_context.calendar());
    if (!todo)
        return; // blank: the card stays open with its text
    if (!m_context.storage->todos().addTodo(*todo))
        return; // not kept (the disk refused it): the text stays for another try
    m_newTitle.clear();
    if (m_field)
        m_field->clear();
    m_adding = false;
    refresh();
}

bool Popover::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this)
        m_pressed.start();
    // Escape in the field cancels adding and leaves the popover open.
    if (watched == m_field && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        cancelAdding();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Popover::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Popover::changeEvent(QEvent* event)
{
    // Decided a turn later, once the window manager has said where the activation went.
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow())
        QTimer::singleShot(0, this, &Popover::closeIfLeft);
    QWidget::changeEvent(event);
}

void Popover::closeIfLeft()
{
    if (!isVisible() || isActiveWindow())
        return;
    // A click inside can hand the activation to another of our windows on the way; a click
    // outside, or another program taking over, closes it.
    const bool clickedInside = m_pressed.isValid() && m_pressed.elapsed() < 1500 &&
                               frameGeometry().contains(QCursor::pos()) && QApplication::activeWindow();
    if (clickedInside) {
        raise();
        activateWindow();
        return;
    }
    hide();
}

void Popover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), FocusColor::paper());
    painter.setPen(QPen(FocusColor::hairline(), 1));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    // The rule over the footer link.
    for (const QWidget* child : findChildren<QWidget*>())
        if (child->property("topHairline").toBool() && child->isVisible()) {
            const QPoint topLeft = child->mapTo(this, QPoint(0, 8));
            painter.drawLine(QPointF(topLeft.x(), topLeft.y() + 0.5),
                             QPointF(topLeft.x() + child->width(), topLeft.y() + 0.5));
        }
}

void Popover::popUp(const QRect& trayIcon)
{
    refresh();
    adjustSize();
    // A Wayland session tells a program the pointer's position only over its own windows: what
    // QCursor says there is where it last was, not the tray.
    std::optional<QPoint> cursor;
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        cursor = QCursor::pos();
    const QScreen* screen = trayIcon.isEmpty() ? (cursor ? QGuiApplication::screenAt(*cursor) : nullptr)
                                               : QGuiApplication::screenAt(trayIcon.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QPoint at = PopoverContent::position(trayIcon, cursor, size(), screen ? screen->geometry() : QRect(),
                                               screen ? screen->availableGeometry() : QRect());
    move(at);
    show();
    // Wayland leaves the place to the compositor; Plasma's takes it from us.
    if (m_context.windowHints)
        m_context.windowHints->place(windowHandle(), at);
    raise();
    activateWindow();
}

void Popover::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Presses anywhere inside, whichever child takes them.
    qApp->installEventFilter(this);
}

void Popover::hideEvent(QHideEvent* event)
{
    qApp->removeEventFilter(this);
    m_pressed.invalidate();
    QWidget::hideEvent(event);
}
