// Renders every design-system component in each of its states with fixed sample data.

#include "Screenshots.h"

#include "browsers/ExtensionSetup.h"
#include "ui/Controls.h"
#include "ui/ExtensionInstallDialog.h"
#include "ui/Eyebrow.h"
#include "ui/FlowLayout.h"
#include "ui/FocusButton.h"
#include "ui/FocusCards.h"
#include "ui/FocusPage.h"
#include "ui/Headings.h"
#include "ui/Palette.h"
#include "ui/SiteIconStore.h"
#include "ui/SiteIconView.h"
#include "ui/Theme.h"
#include "ui/TodoRows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QVBoxLayout>

namespace {

// Saves at a fixed width and the height the content needs there (wrapping text).
void saveAt(QWidget* widget, const QString& name, int width)
{
    widget->setFixedWidth(width);
    const int height = widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
    Screenshots::save(widget, name, QSize(width, height));
}

QWidget* surface(const QColor& color, QLayout* layout, int margin = 24)
{
    auto* w = new QWidget;
    QPalette p = w->palette();
    p.setColor(QPalette::Window, color);
    w->setPalette(p);
    w->setAutoFillBackground(true);
    layout->setContentsMargins(margin, margin, margin, margin);
    w->setLayout(layout);
    return w;
}

QLabel* caption(const QString& text, const QColor& color = FocusColor::textSecondary())
{
    auto* label = new QLabel(text);
    label->setFont(Theme::font(11));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}

TaskItem sampleTodo()
{
    TaskItem t;
    t.id = QUuid::fromString(QStringLiteral("{6F2C1D3E-1111-4A4B-9C9D-000000000001}"));
    t.title = QStringLiteral("Finish the quarterly report draft");
    t.time = QStringLiteral("9:30 AM");
    t.priority = TaskItem::Priority::high;
    t.createdAt = 1764590400; // 2025-12-01 12:00 UTC
    for (int i = 0; i < 3; ++i) {
        Subtask s;
        s.id = QUuid::fromString(QStringLiteral("{6F2C1D3E-2222-4A4B-9C9D-00000000000%1}").arg(i));
        s.title = QStringList{QStringLiteral("Collect the sales numbers"),
                              QStringLiteral("Write the summary for the board, with the three charts and the long "
                                             "explanation of the holiday dip"),
                              QStringLiteral("Send to Ana")}
                      .at(i);
        s.isCompleted = i == 0;
        t.subtasks.push_back(s);
    }
    return t;
}

void buttons()
{
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(12);
    int row = 0;
    const auto add = [&](const QString& name, const FocusButtonStyle& style, const QString& text, bool dark) {
        auto* idle = new FocusButton(text, style);
        auto* pressed = new FocusButton(text, style);
        pressed->setDown(true);
        auto* hovered = new FocusButton(text, style);
        hovered->setAttribute(Qt::WA_UnderMouse);
        auto* disabled = new FocusButton(text, style);
        disabled->setEnabled(false);
        auto* focused = new FocusButton(text, style);
        focused->setObjectName(QStringLiteral("focusedCell"));
        auto* cells = new QHBoxLayout;
        cells->setSpacing(16);
        cells->addWidget(idle);
        cells->addWidget(hovered);
        cells->addWidget(pressed);
        cells->addWidget(disabled);
        cells->addWidget(focused);
        QWidget* box = surface(dark ? FocusColor::ink() : FocusColor::paper(), cells, 10);
        box->setMinimumWidth(820);
        grid->addWidget(caption(name), row, 0);
        grid->addWidget(box, row, 1);
        ++row;
    };
    add(QStringLiteral("gold"), FocusGoldButtonStyle{false, 14}, QStringLiteral("Mark done"), true);
    add(QStringLiteral("gold, full width"), FocusGoldButtonStyle{true, 13}, QStringLiteral("Add a priority"), true);
    add(QStringLiteral("ghost"), FocusGhostButtonStyle{14}, QStringLiteral("Skip to next"), true);
    add(QStringLiteral("link"), FocusLinkButtonStyle{13, FocusColor::text()}, QStringLiteral("Open settings"), false);
    add(QStringLiteral("plain"), FocusPlainButtonStyle{13.5, FocusColor::textSecondary()}, QStringLiteral("Cancel"),
        false);
    add(QStringLiteral("charcoal"), FocusCharcoalButtonStyle{13}, QStringLiteral("Add site"), false);
    add(QStringLiteral("pill"), FocusPillButtonStyle{false, 13}, QStringLiteral("All day"), false);
    add(QStringLiteral("pill, selected"), FocusPillButtonStyle{true, 13}, QStringLiteral("All day"), false);
    add(QStringLiteral("pill, empty"), FocusPillButtonStyle{false, 13}, QString(), false);
    add(QStringLiteral("sheet primary"), FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::primary, true},
        QStringLiteral("Save"), false);
    add(QStringLiteral("sheet outline"), FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, true},
        QStringLiteral("Cancel"), false);
    add(QStringLiteral("sheet outline, not enabled"),
        FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, false}, QStringLiteral("Cancel"), false);
    grid->addWidget(caption(QStringLiteral("columns: idle · hover · pressed · disabled · keyboard focus")), row, 1);
    QWidget* page = surface(FocusColor::paper(), grid);
    // One focus ring at a time: the picture shows it on the charcoal button.
    page->show();
    QApplication::setActiveWindow(page);
    const QList<FocusButton*> focused = page->findChildren<FocusButton*>(QStringLiteral("focusedCell"));
    if (focused.size() > 4)
        focused.at(5)->setFocus(Qt::TabFocusReason);
    Screenshots::save(page, QStringLiteral("ui_buttons"));

    auto* symbols = new QHBoxLayout;
    symbols->setSpacing(16);
    auto* done = new FocusButton(QStringLiteral("Mark done"), FocusGoldButtonStyle{false, 14});
    done->setSymbol(Symbol::checkmark);
    auto* add2 = new FocusButton(QStringLiteral("Add a priority"), FocusGoldButtonStyle{false, 13});
    add2->setSymbol(Symbol::plus);
    symbols->addWidget(done);
    symbols->addWidget(add2);
    symbols->addStretch();
    Screenshots::save(surface(FocusColor::ink(), symbols), QStringLiteral("ui_buttons_symbols"));
}

void smallPieces()
{
    auto* column = new QVBoxLayout;
    column->setSpacing(14);
    column->addWidget(new Eyebrow(QStringLiteral("Right now · High priority"), FocusColor::textSecondary(), 12));
    auto* keys = new QHBoxLayout;
    keys->addWidget(new KeyHint(QStringLiteral("Ctrl+N")));
    keys->addWidget(new KeyHint(QStringLiteral("Ctrl+Shift+B")));
    keys->addStretch();
    column->addLayout(keys);
    for (const qreal fraction : {-0.2, 0.0, 0.5, 1.5}) {
        column->addWidget(caption(QStringLiteral("meter %1").arg(fraction)));
        column->addWidget(new FocusMeter(fraction, FocusColor::ink(), FocusColor::wash(), 6));
    }
    auto* circles = new QHBoxLayout;
    circles->setSpacing(12);
    for (const auto priority : {TaskItem::Priority::high, TaskItem::Priority::medium, TaskItem::Priority::low})
        circles->addWidget(new PriorityCheckCircle(priority, false, 22));
    circles->addWidget(new PriorityCheckCircle(TaskItem::Priority::high, true, 22));
    circles->addWidget(new PriorityCheckCircle(TaskItem::Priority::low, true, 17));
    circles->addStretch();
    column->addLayout(circles);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new FocusOKText(QStringLiteral("Connected")));
    controls->addSpacing(20);
    controls->addWidget(new FocusSwitch(QStringLiteral("Launch at login"), true));
    controls->addWidget(new FocusSwitch(QStringLiteral("Sync"), false));
    controls->addStretch();
    column->addLayout(controls);
    saveAt(surface(FocusColor::paper(), column), QStringLiteral("ui_small_pieces"), 320);
}

void cards()
{
    TaskItem todo = sampleTodo();
    const auto shot = [](QWidget* card, const QString& name, int width) {
        auto* layout = new QVBoxLayout;
        layout->addWidget(card);
        saveAt(surface(FocusColor::paper(), layout, 16), name, width);
    };
    shot(new FocusHeroCard(todo, false, true), QStringLiteral("ui_hero_full_steps"), 700);
    TaskItem notes = todo;
    notes.subtasks.clear();
    notes.time = TaskItem::anytime;
    notes.priority = TaskItem::Priority::medium;
    notes.notes = QStringLiteral("Use the numbers from the finance export, not the dashboard. Keep it to two pages; "
                                 "the board reads the summary only. Mention the holiday dip and what caused it, and "
                                 "link the appendix.\nSecond paragraph that should not show.");
    shot(new FocusHeroCard(notes, false, false), QStringLiteral("ui_hero_full_notes"), 700);
    shot(new FocusHeroCard(todo, true, true), QStringLiteral("ui_hero_compact"), 380);
    TaskItem markup = todo;
    markup.title = QStringLiteral("<img src=file:///etc/passwd> <b>not bold</b>");
    markup.subtasks.clear();
    shot(new FocusHeroCard(markup, true, false), QStringLiteral("ui_hero_compact_plain_text"), 380);
    shot(new FocusEmptyCard(false, false), QStringLiteral("ui_empty_full"), 700);
    shot(new FocusEmptyCard(true, false), QStringLiteral("ui_empty_all_done"), 700);
    shot(new FocusEmptyCard(false, true), QStringLiteral("ui_empty_compact"), 380);
    shot(new FocusEmptyCard(true, true), QStringLiteral("ui_empty_compact_all_done"), 380);
}

void rows()
{
    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    TaskItem open = sampleTodo();
    open.priority = TaskItem::Priority::medium;
    TaskItem done = open;
    done.isCompleted = true;
    done.title = QStringLiteral("Call the dentist");
    done.time = TaskItem::anytime;
    done.repeatOption = RepeatOption::weekly;
    TaskItem plain = open;
    plain.title = QStringLiteral("A to-do with a long title that needs two lines to show everything it says here");
    plain.time = TaskItem::anytime;
    plain.subtasks.clear();
    plain.priority = TaskItem::Priority::low;
    column->addWidget(new QuietTodoRow(open, 14, 44));
    column->addWidget(new QuietTodoRow(done, 14, 44));
    column->addWidget(new QuietTodoRow(plain, 14, 44));
    column->addSpacing(16);
    const Calendar calendar(QTimeZone("America/New_York"), 1, QLocale(QLocale::English, QLocale::UnitedStates));
    const Date now = calendar.date(QDate(2025, 12, 8), 10, 0);
    TaskItem yesterday = open;
    yesterday.title = QStringLiteral("Renew the library books");
    yesterday.createdAt = calendar.date(QDate(2025, 12, 7), 9, 0);
    TaskItem weekAgo = open;
    weekAgo.title = QStringLiteral("Book flights for the conference");
    weekAgo.dueDate = calendar.date(QDate(2025, 12, 1), 9, 0);
    TaskItem threeDays = open;
    threeDays.title = QStringLiteral("Reply to Sam");
    threeDays.createdAt = calendar.date(QDate(2025, 12, 5), 9, 0);
    for (const TaskItem& t : {yesterday, weekAgo, threeDays}) {
        auto* row = new EarlierTodoRow(t, now, calendar);
        row->menu()->addAction(QStringLiteral("Move to today"));
        column->addWidget(row);
    }
    saveAt(surface(FocusColor::paper(), column), QStringLiteral("ui_todo_rows"), 460);
}

void chips()
{
    auto* column = new QVBoxLayout;
    column->addWidget(
        new FlowingChips({QStringLiteral("youtube.com"), QStringLiteral("reddit.com"), QStringLiteral("x.com"),
                          QStringLiteral("news.ycombinator.com"), QStringLiteral("instagram.com"),
                          QStringLiteral("a-very-long-domain-name.example.org"), QStringLiteral("tiktok.com")}));
    saveAt(surface(FocusColor::paper(), column), QStringLiteral("ui_chips"), 340);
}

QByteArray samplePng(int edge, const QColor& color)
{
    QImage image(edge, edge, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(color);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(0, 0, edge, edge));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(edge * 0.3, edge * 0.3, edge * 0.4, edge * 0.4));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void siteIcons()
{
    QTemporaryDir dir;
    // Icons "downloaded on an earlier run": a small favicon and a large touch icon.
    const auto put = [&dir](const QString& key, const QByteArray& bytes) {
        QFile file(dir.path() + u'/' + key + QStringLiteral(".icon"));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    };
    put(QStringLiteral("small.example"), samplePng(32, FocusColor::priorityHigh()));
    put(QStringLiteral("large.example"), samplePng(180, FocusColor::priorityLow()));
    SiteIconStoreOptions options;
    options.directory = dir.path();
    options.isAllowed = [](const QHostAddress&) { return false; }; // never reach the network
    SiteIconStore store(options);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(new SiteIconView(QStringLiteral("small.example"), QStringLiteral("Small"), 40, nullptr, &store));
    row->addWidget(new SiteIconView(QStringLiteral("large.example"), QStringLiteral("Large"), 40, nullptr, &store));
    row->addWidget(new SiteIconView(QStringLiteral("example.com"), QStringLiteral("Example"), 40, nullptr, &store));
    row->addWidget(new SiteIconView(QStringLiteral("reddit.com"), QStringLiteral("reddit"), 28, nullptr, &store));
    row->addWidget(new SiteIconView(QStringLiteral("nothing.example"), QString(), 40, nullptr, &store));
    row->addStretch();
    Screenshots::save(surface(FocusColor::paper(), row), QStringLiteral("ui_site_icons"));
}

QWidget* sampleMain()
{
    auto* main = new QWidget;
    auto* column = new QVBoxLayout(main);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(22);
    column->addWidget(new FocusHeadline(QStringLiteral("Block"), QStringLiteral("Sites that wait until you are done"),
                                        30, new KeyHint(QStringLiteral("Ctrl+B"))));
    column->addWidget(new FocusHeadline(QString(),
                                        QStringLiteral("A headline without an eyebrow hides its trailing view"), 22,
                                        new KeyHint(QStringLiteral("hidden"))));
    auto* section = new QWidget;
    auto* sectionLayout = new QVBoxLayout(section);
    sectionLayout->setContentsMargins(0, 0, 0, 0);
    sectionLayout->setSpacing(8);
    sectionLayout->addWidget(new FocusSectionHeader(
        QStringLiteral("Your sites"), new FocusButton(QStringLiteral("Add site"), FocusCharcoalButtonStyle{13})));
    for (int i = 0; i < 3; ++i) {
        auto* label = caption(QStringLiteral("Site row %1").arg(i + 1), FocusColor::text());
        label->setMinimumHeight(36);
        sectionLayout->addWidget(label);
        sectionLayout->addWidget(new FocusGroupDivider(i == 2 ? 0 : 44));
    }
    column->addWidget(section);
    return main;
}

QWidget* sampleSide()
{
    auto* side = new QWidget;
    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    column->addWidget(new FocusSectionHeader(QStringLiteral("Browsers")));
    column->addWidget(new FocusOKText(QStringLiteral("Connected")));
    column->addWidget(new FocusMeter(0.4, FocusColor::ink(), FocusColor::wash(), 6));
    return side;
}

void pages()
{
    Screenshots::save(new FocusPage(sampleMain(), sampleSide(), 40), QStringLiteral("ui_page_one_column"),
                      QSize(900, 640));
    Screenshots::save(new FocusPage(sampleMain(), sampleSide(), 40), QStringLiteral("ui_page_two_columns"),
                      QSize(1240, 640));
    Screenshots::save(new FocusPage(sampleMain()), QStringLiteral("ui_page_no_side"), QSize(1240, 520));
}

} // namespace

// The browser rows' extension sheets, with the texts the action itself writes.
void extensionSheets()
{
    QTemporaryDir root;
    const QDir dir(root.path());
    dir.mkpath(QStringLiteral("build/browser-extension/chromium"));
    QFile manifest(dir.filePath(QStringLiteral("build/browser-extension/chromium/manifest.json")));
    if (manifest.open(QIODevice::WriteOnly))
        manifest.write("{}");
    manifest.close();
    QFile xpi(dir.filePath(QStringLiteral("build/browser-extension/quillharbour-firefox.xpi")));
    if (xpi.open(QIODevice::WriteOnly))
        xpi.write("xpi");
    xpi.close();
    const ExtensionSetup::Places places{QStringLiteral("/home/ada/.local/bin/quillharbour"),
                                        dir.filePath(QStringLiteral("build")),
                                        root.filePath(QStringLiteral("home")),
                                        root.filePath(QStringLiteral("data")),
                                        {}};
    using Kind = BrowserAccessState::Kind;
    const struct {
        const char* name;
        const char* browser;
        Kind kind;
    } sheets[] = {
        {"extension_add_chromium", "chromium", Kind::extensionMissing},
        {"extension_add_firefox", "firefox", Kind::extensionMissing},
        {"extension_repair", "brave", Kind::hostMissing},
        {"extension_private_windows", "chromium", Kind::privateWindowsHidden},
    };
    for (const auto& s : sheets) {
        const ExtensionSetup::Sheet sheet =
            ExtensionSetup::prepare(*SupportedBrowser::withId(QLatin1String(s.browser)), s.kind, places);
        ExtensionInstallDialog::Content content{
            sheet.title,    sheet.done,       sheet.error,     sheet.steps, sheet.path,
            sheet.pathName, sheet.pageToOpen, sheet.openTitle, false,       {}};
        if (sheet.machine)
            content.machineRouteText = sheet.machine->instead;
        auto* dialog = new ExtensionInstallDialog(content, {});
        Screenshots::save(dialog, QLatin1String(s.name));
        delete dialog;
    }
    // Where pkexec is: the install for everyone first, then as it ends.
    const ExtensionSetup::Sheet sheet =
        ExtensionSetup::prepare(*SupportedBrowser::withId(QStringLiteral("chromium")), Kind::extensionMissing, places);
    for (const bool ok : {true, false}) {
        ExtensionInstallDialog::Content content{
            sheet.title,    sheet.done,       sheet.error,     sheet.steps, sheet.path,
            sheet.pathName, sheet.pageToOpen, sheet.openTitle, true,        {}};
        ExtensionInstallDialog::Actions actions;
        actions.runMachineRoute = [ok](std::function<void(const QString&, bool)> done) {
            ExtensionSetup::MachineRoute route;
            route.terminal =
                QStringLiteral("sudo /home/ada/.local/bin/quillharbour --install-for-everyone --prefix "
                               "/usr/local --extension /home/ada/.local/share/quillharbour/browser-extension");
            done(ExtensionSetup::machineRouteOutcome(route, ok ? 0 : 126, {}), ok);
        };
        auto* dialog = new ExtensionInstallDialog(content, actions);
        dialog->findChild<QAbstractButton*>(QStringLiteral("installForEveryone"))->click();
        Screenshots::save(dialog,
                          QLatin1String(ok ? "extension_add_for_everyone" : "extension_add_for_everyone_refused"));
        delete dialog;
    }
}

int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    buttons();
    smallPieces();
    cards();
    rows();
    chips();
    siteIcons();
    pages();
    extensionSheets();
    return Screenshots::exitCode();
}
