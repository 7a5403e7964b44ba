#include "app/MainWindow.h"
#include "app/AppLogo.h"

#include "files/Defaults.h"
#include "linux/WindowBuffer.h"
#include "model/BlockRule.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/FocusButton.h"
#include "ui/Headings.h"
#include "ui/Layouts.h"
#include "ui/PageGuard.h"
#include "ui/Palette.h"
#include "ui/Sheet.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WindowFit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStackedLayout>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <latch>
#include <memory>
#include <utility>

namespace {

// The toolkit splits a large fill or blend (a sheet's page, the dimming under it) over the shared
// pool's threads and waits for them; each thread it has to start first costs the window's thread
// a few hundred microseconds (1-2 ms of the first sheet's opening). Once the window is on screen
// every thread is started from one of the pool's own, and kept (the pool's threads do not expire).
void startPaintingThreads()
{
    static bool started = false;
    if (std::exchange(started, true))
        return;
    QThreadPool* pool = QThreadPool::globalInstance();
    const int count = pool->maxThreadCount();
    if (count < 2)
        return;
    // Each holds its thread until all are running, so that no two share one.
    auto together = std::make_shared<std::latch>(count);
    pool->start([pool, together, count] {
        for (int i = 1; i < count; ++i)
            if (!pool->tryStart([together] { together->arrive_and_wait(); }))
                together->count_down();
        together->arrive_and_wait();
    });
}

using Destination = AppRouter::Destination;

struct RailEntry {
    Destination destination;
    char16_t glyph; // "Material Icons"
    const char* label;
    const char* keys;
};

// scope, lock, notes, tune
constexpr RailEntry railEntries[] = {
    {Destination::todos, 0xE39E, "Today", "Ctrl+1"},
    {Destination::block, 0xE897, "Block", "Ctrl+2"},
    {Destination::notes, 0xE26C, "Notes", "Ctrl+3"},
    {Destination::settings, 0xE429, "Settings", "Ctrl+,"},
};

// A 44-point tile with one symbol; ink behind it when selected.
class RailItem : public QAbstractButton {
public:
    RailItem(const RailEntry& entry, QWidget* parent) : QAbstractButton(parent), m_glyph(entry.glyph)
    {
        setCheckable(true);
        Accessibility::setRole(this, QAccessible::PageTab);
        setFixedSize(44, 44);
        setCursor(Qt::PointingHandCursor);
        setObjectName(QStringLiteral("rail-%1").arg(AppRouter::rawValue(entry.destination)));
        setAccessibleName(QString::fromLatin1(entry.label));
        setToolTip(QStringLiteral("%1 (%2)").arg(QLatin1String(entry.label), QLatin1String(entry.keys)));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (isChecked()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(FocusColor::ink());
            painter.drawRoundedRect(QRectF(rect()), 13, 13);
        }
        painter.setFont(MainWindow::railFace());
        painter.setPen(isChecked() ? FocusColor::white() : FocusColor::textSecondary());
        painter.drawText(rect(), Qt::AlignCenter, QString(QChar(m_glyph)));
    }

private:
    char16_t m_glyph;
};

} // namespace

QFont MainWindow::railFace()
{
    // Every symbol is in the font: no other face is looked for.
    QFont f(QStringLiteral("Material Icons"));
    f.setPixelSize(22);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::NoFontMerging);
    return f;
}

MainWindow::MainWindow(AppContext& context, const WindowScreens& screens, QWidget* parent)
    : QWidget(parent, Qt::Window), m_context(context), m_screens(screens)
{
    Q_INIT_RESOURCE(blocking);
    setObjectName(QStringLiteral("main"));
    Accessibility::setRole(this, QAccessible::Window);
    setWindowTitle(WindowFit::programTitle(QString()));
    WindowFit::preferSize(this, QSize(1240, 800), QSize(880, 620));
    Theme::fillBackground(this, FocusColor::paper());

    auto* row = rowLayout(this, 0);

    auto* rail = new QWidget(this);
    rail->setObjectName(QStringLiteral("rail"));
    Accessibility::setRole(rail, QAccessible::PageTabList); // before anything makes it known as a filler
    rail->setAccessibleName(QStringLiteral("Pages"));
    rail->setFixedWidth(76);
    auto* railLayout = new QVBoxLayout(rail);
    railLayout->setContentsMargins(16, 16, 16, 18);
    railLayout->setSpacing(8);
    auto* logo = new AppLogo(34, 9, rail);
    railLayout->addWidget(logo, 0, Qt::AlignHCenter);
    railLayout->addSpacing(18 - 8);
    for (const RailEntry& entry : railEntries) {
        if (entry.destination == Destination::settings)
            railLayout->addStretch(1);
        auto* item = new RailItem(entry, rail);
        connect(item, &QAbstractButton::clicked, this,
                [this, d = entry.destination] { m_context.router->setDestination(d); });
        railLayout->addWidget(item, 0, Qt::AlignHCenter);
        m_railItems[size_t(entry.destination)] = item;
    }
    row->addWidget(rail);

    auto* divider = new QWidget(this);
    divider->setFixedWidth(1);
    Theme::fillBackground(divider, FocusColor::hairline());
    row->addWidget(divider);

    auto* pageHost = new QWidget(this);
    m_stack = new QStackedLayout(pageHost);
    row->addWidget(pageHost, 1);

    connect(m_context.router, &AppRouter::destinationChanged, this, &MainWindow::destinationChanged);
    // The pages' sheets wait in the same line as the window's own: one sheet at a time.
    m_context.presentSheet = [this](QDialog* sheet) { presentSheet(sheet); };
    connect(m_context.router, &AppRouter::urgentBreakRuleIDChanged, this, &MainWindow::checkUrgentBreak);
    // No page yet: the first is built when the window is first shown, so a start that stays in
    // the tray builds none.
    markRail(m_context.router->destination());
}

void MainWindow::markRail(Destination destination)
{
    for (size_t i = 0; i < m_railItems.size(); ++i)
        m_railItems[i]->setChecked(i == size_t(destination));
}

QString MainWindow::title(Destination destination)
{
    for (const RailEntry& entry : railEntries)
        if (entry.destination == destination)
            return QString::fromLatin1(entry.label);
    return {};
}

QWidget* MainWindow::placeholderPage(Destination destination, QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(48, 40, 48, 40);
    layout->addWidget(new FocusHeadline(QString(), title(destination), 36), 0, Qt::AlignTop);
    layout->addStretch(1);
    setPageTitle(page, title(destination));
    return page;
}

const WindowScreens& MainWindow::placeholders()
{
    class Placeholders : public WindowScreens {
    public:
        QWidget* page(Destination destination, AppContext&, QWidget* parent) const override
        {
            return placeholderPage(destination, parent);
        }
        QDialog* onboarding(AppContext&, std::function<void()>, QWidget*) const override { return nullptr; }
        QDialog* urgentBreak(AppContext&, const BlockRule&, QWidget*) const override { return nullptr; }
    };
    static const Placeholders screens;
    return screens;
}

void MainWindow::destinationChanged()
{
    const Destination wanted = m_context.router->destination();
    if (!m_page) {
        markRail(wanted);
        return;
    }
    if (wanted == m_shown)
        return;
    // An editor with changes on the page is not thrown away unasked (a link, the tray's menu).
    if (auto* guard = dynamic_cast<PageGuard*>(m_page)) {
        QPointer<MainWindow> self(this);
        const auto leave = [self, wanted] {
            if (self)
                self->m_context.router->setDestination(wanted);
        };
        if (!guard->mayLeave(leave)) {
            // Until the person decides, the rail and the router stay on the page they are on.
            m_context.router->setDestination(m_shown);
            markRail(m_shown);
            return;
        }
    }
    showPage();
}

void MainWindow::showPage()
{
    const Destination destination = m_context.router->destination();
    m_shown = destination;
    markRail(destination);
    // A page reached by its shortcut or a link takes the keyboard from the tile or the page left
    // (which goes now): the focus goes with the chosen tile, not to the first tile by default.
    QWidget* focused = focusWidget();
    const bool onRail = std::find(m_railItems.begin(), m_railItems.end(), focused) != m_railItems.end();
    if (m_page && (onRail || (focused && m_page->isAncestorOf(focused))))
        m_railItems[size_t(destination)]->setFocus(Qt::OtherFocusReason);
    ++m_pagesBuilt;
    // Each visit builds the page afresh, as a page keeps no state between visits.
    if (m_page) {
        m_stack->removeWidget(m_page);
        m_page->hide();
        m_page->setParent(nullptr);
        m_page->deleteLater();
    }
    m_page = m_screens.page(destination, m_context, this);
    m_page->setObjectName(m_page->objectName().isEmpty()
                              ? QStringLiteral("page-%1").arg(AppRouter::rawValue(destination))
                              : m_page->objectName());
    m_stack->addWidget(m_page);
    m_stack->setCurrentWidget(m_page);
    // The window is titled after its page, as the pages title themselves.
    setWindowTitle(WindowFit::programTitle(m_page->windowTitle()));
}

void MainWindow::setVisible(bool visible)
{
    // Built before the window maps, so its first frame shows the page laid out.
    if (visible && !m_page)
        showPage();
    QWidget::setVisible(visible);
}

void MainWindow::preparePage()
{
    if (!m_page)
        showPage();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The show event comes before the window is on screen. Under Wayland a sheet shown now gets
    // no transient parent and no keyboard: it opens behind the window it blocks, and the window
    // takes no input. The window's sheets wait until it is exposed.
    QWindow* handle = windowHandle();
    if (handle && handle->isExposed()) {
        checkSheetsOnShow();
        return;
    }
    m_sheetsWaitForExposure = true;
    if (handle && handle != m_watchedHandle) {
        if (m_watchedHandle)
            m_watchedHandle->removeEventFilter(this);
        m_watchedHandle = handle;
        handle->installEventFilter(this);
    }
}

void MainWindow::checkSheetsOnShow()
{
    m_sheetsWaitForExposure = false;
    if (!isVisible())
        return; // the next showing asks again
    startPaintingThreads();
    checkOnboarding();
    checkUrgentBreak();
}

void MainWindow::changeEvent(QEvent* event)
{
    // A window blocked by a sheet passes the keyboard on: clicking it, or the window manager
    // activating it after its sheet appeared, must not leave the person in front of a window
    // that takes no input.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_sheet)
        QTimer::singleShot(0, this, [this] {
            if (isActiveWindow())
                bringSheetForward();
        });
    QWidget::changeEvent(event);
}

bool MainWindow::bringSheetForward()
{
    QDialog* sheet = m_sheet;
    if (!sheet || !sheet->isVisible())
        return false;
    if (sheet->windowState() & Qt::WindowMinimized)
        sheet->setWindowState(sheet->windowState() & ~Qt::WindowMinimized);
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Exposed: the window draws its first frame while this event is handled, so its sheets come a
    // turn later, over a window the desktop has mapped.
    if (watched == m_watchedHandle && event->type() == QEvent::Expose && m_sheetsWaitForExposure &&
        m_watchedHandle->isExposed()) {
        m_sheetsWaitForExposure = false;
        QTimer::singleShot(0, this, &MainWindow::checkSheetsOnShow);
    }
    // A sheet belongs to its window: minimised alone it would leave the window frozen with
    // nothing to bring it back.
    if (event->type() == QEvent::WindowStateChange && watched == m_sheet.data() &&
        (m_sheet->windowState() & Qt::WindowMinimized))
        QTimer::singleShot(0, this, [this] {
            if (!(windowState() & Qt::WindowMinimized))
                bringSheetForward();
        });
    return QWidget::eventFilter(watched, event);
}

void MainWindow::checkOnboarding()
{
    if (m_onboardingShown || !m_context.defaults || !m_context.storage)
        return;
    if (m_context.defaults->boolean(onboardingCompletedKey).value_or(false))
        return;
    // Whether there are to-dos is known once they are read.
    if (!m_context.storage->todosLoaded()) {
        connect(m_context.storage, &StorageService::todosCameIn, this, &MainWindow::checkOnboarding,
                Qt::SingleShotConnection);
        return;
    }
    if (!m_context.storage->blocking().rules().empty() || !m_context.storage->todos().todos().empty()) {
        m_context.defaults->set(onboardingCompletedKey, true);
        return;
    }
    m_onboardingShown = true;
    QPointer<MainWindow> self(this);
    auto holder = std::make_shared<QPointer<QDialog>>();
    QDialog* sheet = m_screens.onboarding(
        m_context,
        [self, holder] {
            if (self)
                self->m_onboardingShown = false;
            if (*holder)
                (*holder)->accept();
        },
        this);
    *holder = sheet;
    if (sheet)
        presentSheet(sheet);
    else
        m_onboardingShown = false;
}

void MainWindow::checkUrgentBreak()
{
    const auto id = m_context.router->urgentBreakRuleID();
    if (!id) {
        if (m_urgentSheet)
            m_urgentSheet->reject();
        return;
    }
    if (m_urgentSheet || !isVisible())
        return;
    const auto clear = [router = m_context.router] { router->setUrgentBreakRuleID(std::nullopt); };
    const auto& rules = m_context.storage->blocking().rules();
    const auto rule = std::find_if(rules.begin(), rules.end(), [&](const BlockRule& r) { return r.id == *id; });
    QDialog* sheet = nullptr;
    if (rule == rules.end())
        sheet = unavailableSheet(clear, this);
    else
        sheet = m_screens.urgentBreak(m_context, *rule, this);
    if (!sheet)
        return;
    m_urgentSheet = sheet;
    // Every way out of the sheet ends the request.
    connect(sheet, &QDialog::finished, m_context.router, clear);
    presentSheet(sheet);
}

namespace {

// Return closes it: the design's buttons are not push buttons, so the dialog has no default one.
class UnavailableSheet : public QDialog {
public:
    using QDialog::QDialog;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            accept();
        else
            QDialog::keyPressEvent(event);
    }
};

} // namespace

QDialog* MainWindow::unavailableSheet(std::function<void()> onClose, QWidget* parent)
{
    auto* sheet = new UnavailableSheet(parent);
    sheet->setObjectName(QStringLiteral("urgentBreakUnavailable"));
    WindowFit::fixWidthGrowHeight(sheet, 400);
    Theme::fillBackground(sheet, FocusColor::paper());
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(16);
    auto* message = plainLabel(QStringLiteral("This urgent break is no longer available."),
                               Theme::font(24, QFont::DemiBold, Theme::Design::serif), FocusColor::text(), sheet);
    message->setWordWrap(true);
    layout->addWidget(message);
    auto* close = new FocusButton(QStringLiteral("Close"), FocusSheetButtonStyle{}, sheet);
    close->setObjectName(QStringLiteral("close"));
    layout->addWidget(close);
    QObject::connect(close, &QAbstractButton::clicked, sheet, &QDialog::accept);
    QObject::connect(sheet, &QDialog::finished, sheet, [onClose](int) {
        if (onClose)
            onClose();
    });
    return sheet;
}

void MainWindow::presentSheet(QDialog* sheet)
{
    if (!sheet)
        return;
    Sheet::attach(sheet, this);
    sheet->installEventFilter(this);
    connect(
        sheet, &QDialog::finished, this,
        [this, sheet] {
            if (!Sheet::isKeptAfterClose(sheet))
                sheet->deleteLater();
            if (m_sheet == sheet)
                m_sheet.clear();
            // The next sheet opens after this one has gone.
            QTimer::singleShot(0, this, &MainWindow::showNextSheet);
        },
        Qt::SingleShotConnection);
    m_waiting.push_back(sheet);
    showNextSheet();
}

void MainWindow::showNextSheet()
{
    if (m_sheet)
        return;
    while (!m_waiting.empty()) {
        QPointer<QDialog> next = m_waiting.front();
        m_waiting.pop_front();
        if (next) {
            m_sheet = next;
            next->open();
            WindowBuffer::prepare(next->backingStore(), next->size());
            if (isActiveWindow() || QApplication::activeWindow() == nullptr)
                bringSheetForward();
            return;
        }
    }
}
