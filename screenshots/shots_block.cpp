// Renders the Block page and each of its sheets in their states, with fixed sample data.

#include "OfflineSiteIcons.h"
#include "PageRig.h"
#include "Screenshots.h"
#include "screens/block/AddRuleSheet.h"
#include "screens/block/BlockRulesView.h"
#include "screens/block/BlockingBypassCooldownSheet.h"
#include "screens/block/DoomScrollCard.h"
#include "screens/block/DoomScrollConfigSheet.h"
#include "screens/block/ManageRuleSheet.h"
#include "ui/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

using namespace BlockTest;

namespace {

const SupportedBrowser& browser(const char* id)
{
    return *SupportedBrowser::withId(QString::fromLatin1(id));
}

void type(QWidget* sheet, const char* field, const QString& text)
{
    auto* edit = sheet->findChild<QLineEdit*>(QString::fromLatin1(field));
    edit->setFocus();
    QTest::keyClicks(edit, text);
}

void press(QWidget* sheet, const char* name, int index = 0)
{
    QTest::mouseClick(sheet->findChildren<QAbstractButton*>(QString::fromLatin1(name)).at(index), Qt::LeftButton);
}

void pages()
{
    // Each page goes before the rig that feeds it, whose store then writes its data and whose
    // folder is removed.
    PageRig empty;
    BlockRulesView emptyPage(empty.context);
    Screenshots::save(&emptyPage, QStringLiteral("block_page_empty"), QSize(760, 900));
    PageRig rig;
    const BlockRule youtube = rig.add(rule(QStringLiteral("youtube.com"), allDay(), {}, std::nullopt, true));
    const BlockRule reddit = rig.add(rule(QStringLiteral("reddit.com"), dailyLimit(), {}, 30));
    const BlockRule instagram = rig.add(rule(QStringLiteral("instagram.com"), dailyLimit(), {2, 3, 4, 5, 6}, 15));
    rig.add(rule(QStringLiteral("linkedin.com"), window(9, 0, 17, 0), {2, 3, 4, 5, 6}));
    rig.add(rule(QStringLiteral("x.com"), window(14, 0, 15, 30)));
    const BlockRule tiktok = rig.add(rule(QStringLiteral("tiktok.com"), allDay(), {1, 7}, std::nullopt, true));
    rig.add(rule(QStringLiteral("netflix.com"), window(20, 0, 23, 0), {5}));
    rig.store.blocking().recordUsage(reddit, 754);
    rig.store.blocking().recordUsage(instagram, 15 * 60);
    rig.store.blocking().startUrgentBreak(youtube.id);
    Q_UNUSED(tiktok);
    DoomScrollConfig doom{true,
                          {{QUuid::createUuid(), QStringLiteral("reddit.com")},
                           {QUuid::createUuid(), QStringLiteral("news.ycombinator.com")},
                           {QUuid::createUuid(), QStringLiteral("x.com")}},
                          20,
                          10};
    rig.store.blocking().updateDoomScrollConfig(doom);
    rig.store.blocking().recordDoomScrollUsage(7 * 60);
    rig.workspace.installed = {browser("chrome").id, browser("brave").id};
    rig.engine->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::connected), browser("chrome"));
    rig.engine->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::notConnected), browser("brave"));
    rig.engine->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::notInstalled), browser("edge"));
    BlockRulesView rulesPage(rig.context);
    BlockRulesView* page = &rulesPage;
    QCoreApplication::processEvents();
    page->refresh();
    Screenshots::save(page, QStringLiteral("block_page_rules"), QSize(760, 1320));

    rig.store.blocking().recordDoomScrollUsage(20 * 60);
    page->refresh();
    Screenshots::save(page->doomScrollCard(), QStringLiteral("block_doom_card_on_break"), QSize(640, 190));
    doom.isEnabled = false;
    rig.store.blocking().updateDoomScrollConfig(doom);
    Screenshots::save(page->doomScrollCard(), QStringLiteral("block_doom_card_off"), QSize(640, 190));
    DoomScrollCard setUpCard(empty.context);
    Screenshots::save(&setUpCard, QStringLiteral("block_doom_card_set_up"), QSize(640, 200));

    // The same rules while the pause runs.
    PageRig paused([](StoreFixture& f) {
        SharedState s = SharedState::fresh(f.clock.now(), f.calendar);
        s.blockingPausedUntil = f.clock.now() + 1800;
        QFile file(f.file(BlockingStore::stateFile));
        if (file.open(QIODevice::WriteOnly))
            file.write(stateFileText(s));
    });
    for (const BlockRule& r : rig.store.blocking().rules())
        paused.add(r);
    BlockRulesView pausedPage(paused.context);
    Screenshots::save(&pausedPage, QStringLiteral("block_page_paused"), QSize(760, 1000));

    page->manage(reddit.id);
    Screenshots::save(page->manageSheet(), QStringLiteral("block_manage_limit"));
    page->manageSheet()->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    page->manage(youtube.id);
    Screenshots::save(page->manageSheet(), QStringLiteral("block_manage_all_day"));
    page->manageSheet()->openEditSheet();
    Screenshots::save(page->manageSheet()->editSheet(), QStringLiteral("block_edit_sheet"));

    // A name and an address longer than the sheet is wide.
    PageRig named;
    BlockRule forum =
        rule(QStringLiteral("a-very-long-domain-name-for-a-forum-and-more.example.org"), dailyLimit(), {}, 30);
    forum.displayName = QStringLiteral("The forum where the whole team talks about everything");
    forum = named.add(forum);
    BlockRulesView forumPage(named.context);
    forumPage.manage(forum.id);
    Screenshots::save(forumPage.manageSheet(), QStringLiteral("block_manage_long_name"));
}

void cooldowns()
{
    PageRig rig;
    const auto grant = [] { return true; };
    BlockingBypassCooldownSheet counting(BlockingBypassKind::urgentBreak(QStringLiteral("YouTube")),
                                         QStringLiteral("Finish the quarterly report"), grant, rig.monotonic);
    rig.monotonic.value += 4.2;
    counting.tick();
    Screenshots::save(&counting, QStringLiteral("block_cooldown_counting"));

    BlockingBypassCooldownSheet ready(BlockingBypassKind::removeRule(QStringLiteral("Reddit")), std::nullopt, grant,
                                      rig.monotonic);
    rig.monotonic.value += 15;
    ready.tick();
    Screenshots::save(&ready, QStringLiteral("block_cooldown_ready"));

    BlockingBypassCooldownSheet granted(BlockingBypassKind::loosenRule(QStringLiteral("YouTube")), std::nullopt, grant,
                                        rig.monotonic);
    rig.monotonic.value += 15;
    granted.tick();
    press(&granted, "confirmButton");
    Screenshots::save(&granted, QStringLiteral("block_cooldown_granted"));

    BlockingBypassCooldownSheet failed(
        BlockingBypassKind::urgentBreak(QStringLiteral("Instagram")), QStringLiteral("Call the bank"),
        [] { return false; }, rig.monotonic);
    rig.monotonic.value += 15;
    failed.tick();
    press(&failed, "confirmButton");
    Screenshots::save(&failed, QStringLiteral("block_cooldown_failed"));
}

void addSheets()
{
    ManualClock clock(at(2026, 12, 7, 10));
    const QSet<QString> taken{QStringLiteral("reddit.com")};
    const auto ok = [](const BlockRule&) { return std::optional<QString>(); };
    Screenshots::save(new AddRuleSheet(std::nullopt, taken, ok, clock), QStringLiteral("block_add_new"));

    auto* typed = new AddRuleSheet(std::nullopt, taken, ok, clock);
    type(typed, "websiteField", QStringLiteral("www.youtube.com"));
    Screenshots::save(typed, QStringLiteral("block_add_preview"));

    auto* duplicate = new AddRuleSheet(std::nullopt, taken, ok, clock);
    type(duplicate, "websiteField", QStringLiteral("www.www.reddit.com"));
    Screenshots::save(duplicate, QStringLiteral("block_add_duplicate"));

    auto* hours = new AddRuleSheet(std::nullopt, taken, ok, clock);
    press(hours, "preset", 1);
    press(hours, "mode", 2);
    press(hours, "weekdayPreset", 1);
    Screenshots::save(hours, QStringLiteral("block_add_hours"));

    auto* limit = new AddRuleSheet(std::nullopt, taken, ok, clock);
    press(limit, "preset", 2);
    press(limit, "mode", 1);
    press(limit, "limit", 5);
    press(limit, "weekday", 0);
    press(limit, "breakSwitch");
    Screenshots::save(limit, QStringLiteral("block_add_limit"));

    auto* saved = new AddRuleSheet(std::nullopt, taken, ok, clock);
    press(saved, "preset", 3);
    saved->save();
    Screenshots::save(saved, QStringLiteral("block_add_saved"));

    auto* refused = new AddRuleSheet(
        std::nullopt, taken,
        [](const BlockRule&) {
            return std::optional<QString>(QStringLiteral("“rules.json” could not be written: No space left on device"));
        },
        clock);
    press(refused, "preset", 0);
    refused->save();
    Screenshots::save(refused, QStringLiteral("block_add_refused"));
}

void doomSheets()
{
    const auto ignore = [](const DoomScrollConfig&) {};
    Screenshots::save(new DoomScrollConfigSheet(DoomScrollConfig{}, ignore), QStringLiteral("block_doom_sheet_empty"));
    DoomScrollConfig config{true,
                            {{QUuid::createUuid(), QStringLiteral("tiktok.com")},
                             {QUuid::createUuid(), QStringLiteral("instagram.com")},
                             {QUuid::createUuid(), QStringLiteral("reddit.com")},
                             {QUuid::createUuid(), QStringLiteral("news.ycombinator.com")}},
                            25,
                            60};
    auto* sheet = new DoomScrollConfigSheet(config, ignore);
    type(sheet, "addField", QStringLiteral("www.TikTok.com"));
    QTest::keyClick(sheet->findChild<QLineEdit*>(QStringLiteral("addField")), Qt::Key_Return);
    Screenshots::save(sheet, QStringLiteral("block_doom_sheet_sites"));
}

} // namespace

int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    useOfflineSiteIcons();
    pages();
    cooldowns();
    addSheets();
    doomSheets();
    return Screenshots::exitCode();
}
