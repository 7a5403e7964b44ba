// The Block page and its sheets on a real store: keys, follow-up sheets, what reaches the store,
// and that nothing reports success the store did not give.
#include "AccessibleNames.h"
#include "OfflineSiteIcons.h"
#include "PageRig.h"
#include "TmpfsMount.h"
#include "model/SharedState.h"
#include "screens/block/AddRuleSheet.h"
#include "screens/block/BlockRulesView.h"
#include "screens/block/BlockingBypassCooldownSheet.h"
#include "screens/block/DoomScrollCard.h"
#include "screens/block/DoomScrollConfigSheet.h"
#include "screens/block/ManageRuleSheet.h"
#include "screens/block/SiteRow.h"
#include "ui/ChoiceDialog.h"
#include "ui/FocusButton.h"
#include "ui/Headings.h"
#include "ui/WrappingLabel.h"

#include <QAccessible>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

using namespace BlockTest;

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

template <typename T = QWidget> T* child(QWidget* parent, const char* name)
{
    T* found = parent ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    if (!found)
        qWarning("no child named %s", name);
    return found;
}

bool shown(QWidget* parent, const char* name)
{
    QWidget* w = child(parent, name);
    return w && w->isVisibleTo(parent);
}

void click(QWidget* parent, const char* name)
{
    QWidget* w = child(parent, name);
    QVERIFY(w);
    QTest::mouseClick(w, Qt::LeftButton);
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The wait of a cool-down, on its own clock.
void waitOut(PageRig& rig, BlockingBypassCooldownSheet* sheet)
{
    rig.monotonic.value += 15;
    sheet->tick();
}

} // namespace

class BlockScreensTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { useOfflineSiteIcons(); }
    void cooldownKeys_data();
    void cooldownKeys();
    void cooldownGrowsWithItsTexts_data();
    void cooldownGrowsWithItsTexts();
    void addSheetSavesOnceAndOnlyWhenStored_data();
    void addSheetSavesOnceAndOnlyWhenStored();
    void doomSheetReturnAddsOnly();
    void sheetsAskBeforeDroppingEdits_data();
    void sheetsAskBeforeDroppingEdits();
    void chipsSayWhichIsChosen_data();
    void chipsSayWhichIsChosen();
    void everyControlIsNamed_data();
    void everyControlIsNamed();
    void limitChipsAllInSight();
    void manageLoosenWaitsForCooldown_data();
    void manageLoosenWaitsForCooldown();
    void manageRemoveFailureIsNoSuccess_data();
    void manageRemoveFailureIsNoSuccess();
    void loosenOnAFullDiskIsNotSaved_data();
    void loosenOnAFullDiskIsNotSaved();
    void urgentBreakTheDiskRefusesSaysWhy();
    void pageFollowsStoreAndEngine();
    void aRunningPauseCanBeEndedFromThePage_data();
    void aRunningPauseCanBeEndedFromThePage();
    void longSiteListBuildsWhatIsShown();
    void urgentBreakWithoutASiteSaysWhere_data();
    void urgentBreakWithoutASiteSaysWhere();
    void unreadableRuleIsSetAsideAndSaid_data();
    void unreadableRuleIsSetAsideAndSaid();
};

void BlockScreensTest::cooldownGrowsWithItsTexts_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("focus");
    QTest::newRow("short") << "YouTube"
                           << "Write the report";
    QTest::newRow("three-line focus") << "YouTube"
                                      << "Finish the quarterly report for the board, with the numbers from every "
                                         "region and the forecast for the next two quarters";
    QTest::newRow("long site, no focus") << "news.ycombinator.com and its many discussion threads" << QString();
}

void BlockScreensTest::cooldownGrowsWithItsTexts()
{
    // Whatever the texts, the ring and the focus card stand apart, every text shows whole and
    // the buttons stay below the rest, inside the sheet.
    QFETCH(QString, site);
    QFETCH(QString, focus);
    PageRig rig;
    BlockingBypassCooldownSheet sheet(
        BlockingBypassKind::urgentBreak(site), focus.isEmpty() ? std::nullopt : std::optional<QString>(focus),
        [] { return true; }, rig.monotonic);
    sheet.open();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QCoreApplication::processEvents();
    const auto area = [&sheet](QWidget* w) { return QRect(w->mapTo(&sheet, QPoint()), w->size()); };
    const QRect ring = area(child<QWidget>(&sheet, "ring"));
    const QRect confirm = area(child<QWidget>(&sheet, "confirmButton"));
    QVERIFY(sheet.rect().contains(confirm));
    QVERIFY(confirm.top() >= ring.bottom());
    if (!focus.isEmpty()) {
        const QRect card = area(child<QWidget>(&sheet, "focusReminder"));
        QVERIFY2(!card.intersects(ring),
                 qPrintable(QStringLiteral("card %1 ring %2").arg(card.top()).arg(ring.bottom())));
        QVERIFY(confirm.top() >= card.bottom());
    }
    for (QLabel* label : sheet.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&sheet) || !label->wordWrap())
            continue;
        QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->text()));
    }
}

void BlockScreensTest::cooldownKeys_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("closes");
    using P = BypassCooldown::Phase;
    QTest::newRow("counting, Escape") << int(P::counting) << int(Qt::Key_Escape) << true;
    QTest::newRow("counting, Return") << int(P::counting) << int(Qt::Key_Return) << false;
    QTest::newRow("ready, Return does not confirm") << int(P::ready) << int(Qt::Key_Return) << false;
    QTest::newRow("granted, Escape") << int(P::granted) << int(Qt::Key_Escape) << false;
    QTest::newRow("granted, Return is Done") << int(P::granted) << int(Qt::Key_Return) << true;
    QTest::newRow("failed, Escape is Close") << int(P::failed) << int(Qt::Key_Escape) << true;
}

void BlockScreensTest::cooldownKeys()
{
    QFETCH(int, phase);
    QFETCH(int, key);
    QFETCH(bool, closes);
    PageRig rig;
    int grants = 0;
    BlockingBypassCooldownSheet sheet(
        BlockingBypassKind::urgentBreak(QStringLiteral("YouTube")), QStringLiteral("Write the report"),
        [&] {
            ++grants;
            return phase != int(BypassCooldown::Phase::failed);
        },
        rig.monotonic);
    sheet.open();
    QVERIFY(shown(&sheet, "focusReminder"));
    auto* confirm = child<FocusButton>(&sheet, "confirmButton");
    QVERIFY(!confirm->isEnabled());
    if (phase != int(BypassCooldown::Phase::counting)) {
        waitOut(rig, &sheet);
        QCOMPARE(confirm->text(), QStringLiteral("Unlock for 10 minutes"));
    }
    if (phase == int(BypassCooldown::Phase::granted) || phase == int(BypassCooldown::Phase::failed)) {
        QTest::mouseClick(confirm, Qt::LeftButton);
        QCOMPARE(grants, 1);
        const bool failed = phase == int(BypassCooldown::Phase::failed);
        QCOMPARE(shown(&sheet, "failureText"), failed);
        QCOMPARE(shown(&sheet, "grantedTitle"), !failed);
        QVERIFY(!shown(&sheet, "focusReminder"));
    }
    const int before = grants;
    QTest::keyClick(&sheet, Qt::Key(key));
    QCOMPARE(!sheet.isVisible(), closes);
    QCOMPARE(grants, before); // no key ever runs the step
}

void BlockScreensTest::addSheetSavesOnceAndOnlyWhenStored_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("stored") << false;
    QTest::newRow("rules file cannot be written") << true;
}

void BlockScreensTest::addSheetSavesOnceAndOnlyWhenStored()
{
    QFETCH(bool, refused);
    PageRig rig;
    BlockRulesView page(rig.context);
    if (refused)
        rig.breakRulesFile();
    page.showAddSheet();
    AddRuleSheet* sheet = page.addSheet();
    QVERIFY(sheet && sheet->isVisible());
    auto* field = child<QLineEdit>(sheet, "websiteField");
    QTest::keyClick(field, Qt::Key_Return); // nothing to save yet
    QVERIFY(!shown(sheet, "saveError"));
    QTest::keyClicks(field, QStringLiteral("www.youtube.com"));
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Return); // during the short "Saved" moment
    QCOMPARE(shown(sheet, "savedLabel"), !refused);
    if (refused) {
        QCOMPARE(child<QLabel>(sheet, "saveError")->text(), rig.store.core().lastError().value_or(QString()));
        QTest::qWait(600); // past the moment after which a saved sheet would have closed
        QVERIFY(page.addSheet() && sheet->isVisible());
        return;
    }
    QCOMPARE(rig.store.blocking().rules().size(), size_t(1));
    QCOMPARE(rig.store.blocking().rules().front().domain, QStringLiteral("youtube.com"));
    QTRY_VERIFY_WITH_TIMEOUT(!page.addSheet(), 5000); // closes by itself and is deleted

    // Escape leaves without saving, once the typing is given up.
    page.showAddSheet();
    QTest::keyClicks(child(page.addSheet(), "websiteField"), QStringLiteral("reddit.com"));
    QTest::keyClick(page.addSheet(), Qt::Key_Escape);
    QVERIFY(page.addSheet()->openQuestion());
    QVERIFY(page.addSheet()->openQuestion()->choose(QStringLiteral("Discard Changes")));
    QTRY_VERIFY(!page.addSheet());
    QCOMPARE(rig.store.blocking().rules().size(), size_t(1));
}

void BlockScreensTest::doomSheetReturnAddsOnly()
{
    PageRig rig;
    BlockRulesView page(rig.context);
    DoomScrollCard* card = page.doomScrollCard();
    click(card, "setUpButton");
    DoomScrollConfigSheet* sheet = card->configSheet();
    QVERIFY(sheet && sheet->isVisible());
    auto* field = child<QLineEdit>(sheet, "addField");
    QCOMPARE(sheet->focusWidget(), field); // the sheet opens on its first field
    QTest::keyClicks(field, QStringLiteral("www.Reddit.com"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(sheet->form().domains.size(), size_t(1));
    QVERIFY(sheet->isVisible()); // Return in the field did not press Save
    QVERIFY(rig.store.blocking().doomScrollConfig().domains.empty());
    click(sheet, "enableSwitch");
    click(sheet, "saveButton");
    QTRY_VERIFY(!card->configSheet());
    QVERIFY(rig.store.blocking().doomScrollConfig().isEnabled);
    QCOMPARE(rig.store.blocking().doomScrollConfig().domains.front().domain, QStringLiteral("reddit.com"));
    QTRY_COMPARE(child<QLabel>(card, "doomStatus")->text(), QStringLiteral("0 of 20 min used"));
    // The keyboard is back on the card, on "Edit" where "Set up" was.
    QCOMPARE(page.focusWidget(), child<QWidget>(card, "editButton"));

    // Saved with the switch off, the sites stay on the card, marked off.
    click(card, "editButton");
    click(card->configSheet(), "enableSwitch");
    click(card->configSheet(), "saveButton");
    QTRY_COMPARE(child<QLabel>(card, "doomBadge")->text(), QStringLiteral("Off"));
    QCOMPARE(child<QLabel>(card, "doomSites")->text(), QStringLiteral("Reddit"));
    QCOMPARE(child<QLabel>(card, "doomStatus")->text(), QStringLiteral("Breaks are off. Turn them on with Edit."));
    QVERIFY(!child<QWidget>(card, "doomMeter")->isVisibleTo(card));
}

using SheetEdit = std::function<void(QDialog*)>;
Q_DECLARE_METATYPE(SheetEdit)

void BlockScreensTest::sheetsAskBeforeDroppingEdits_data()
{
    QTest::addColumn<bool>("doom");      // the doom-scroll sheet, else the add-rule sheet
    QTest::addColumn<SheetEdit>("edit"); // what the person did in the sheet
    QTest::addColumn<QString>("close");  // "Escape", or the button clicked
    QTest::addColumn<QString>("answer"); // pressed on the question: a button, or "Return"/"Escape"
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("staysOpen");
    QTest::addColumn<QStringList>("kept"); // sites the sheet still holds afterwards
    const auto type = [](const char* field, const QString& text) {
        return SheetEdit([field, text](QDialog* sheet) { QTest::keyClicks(child(sheet, field), text); });
    };
    const auto addSites = [](const QStringList& sites) {
        return SheetEdit([sites](QDialog* sheet) {
            for (const QString& site : sites) {
                QTest::keyClicks(child(sheet, "addField"), site);
                QTest::keyClick(child(sheet, "addField"), Qt::Key_Return);
            }
        });
    };
    const auto pressed = [](const char* name, const char* property = nullptr, int value = 0) {
        return SheetEdit([=](QDialog* sheet) {
            for (auto* b : sheet->findChildren<QAbstractButton*>(QLatin1String(name)))
                if (!property || b->property(property).toInt() == value) {
                    b->click();
                    return;
                }
            QFAIL(name);
        });
    };
    const SheetEdit nothing = [](QDialog*) {};
    const QStringList none;
    const QStringList two{"reddit.com", "news.ycombinator.com"};

    QTest::newRow("add: untouched, Escape") << false << nothing << "Escape"
                                            << "" << false << false << none;
    QTest::newRow("add: typed, Escape, Keep Editing") << false << type("websiteField", "reddit.com") << "Escape"
                                                      << "Keep Editing" << true << true << QStringList{"reddit.com"};
    QTest::newRow("add: typed, Return on the question keeps editing")
        << false << type("websiteField", "reddit.com") << "Escape"
        << "Return" << true << true << QStringList{"reddit.com"};
    QTest::newRow("add: typed, Cancel, Discard Changes")
        << false << type("websiteField", "reddit.com") << "cancelButton"
        << "Discard Changes" << true << false << none;
    QTest::newRow("add: another limit, Escape on the question") << false << SheetEdit([](QDialog* sheet) {
        for (auto* b : sheet->findChildren<QAbstractButton*>(QStringLiteral("mode")))
            if (b->property("mode") == RuleForm::modeText(RuleForm::Mode::dailyLimit))
                b->click();
        for (auto* b : sheet->findChildren<QAbstractButton*>(QStringLiteral("limit")))
            if (b->property("minutes").toInt() == 60)
                b->click();
    }) << "Escape"
                                                                << "Escape" << true << true << none;
    QTest::newRow("add: typed and erased") << false << SheetEdit([](QDialog* sheet) {
        QTest::keyClicks(child(sheet, "websiteField"), QStringLiteral("ab"));
        QTest::keyClick(child(sheet, "websiteField"), Qt::Key_Backspace);
        QTest::keyClick(child(sheet, "websiteField"), Qt::Key_Backspace);
    }) << "Escape"
                                           << "" << false << false << none;
    QTest::newRow("doom: untouched, Cancel") << true << nothing << "cancelButton"
                                             << "" << false << false << none;
    QTest::newRow("doom: two sites, Escape, Keep Editing") << true << addSites(two) << "Escape"
                                                           << "Keep Editing" << true << true << two;
    QTest::newRow("doom: two sites, Escape, Discard Changes") << true << addSites(two) << "Escape"
                                                              << "Discard Changes" << true << false << none;
    QTest::newRow("doom: a site typed, not added") << true << type("addField", "reddit.com") << "Escape"
                                                   << "Keep Editing" << true << true << none;
    QTest::newRow("doom: another break length") << true << pressed("break", "minutes", 10) << "cancelButton"
                                                << "Keep Editing" << true << true << none;
    QTest::newRow("doom: switched on and off again") << true << SheetEdit([](QDialog* sheet) {
        child<QAbstractButton>(sheet, "enableSwitch")->click();
        child<QAbstractButton>(sheet, "enableSwitch")->click();
    }) << "Escape"
                                                     << "" << false << false << none;
}

void BlockScreensTest::sheetsAskBeforeDroppingEdits()
{
    // Every sheet that holds edits asks before they are thrown away, "Keep Editing" first.
    QFETCH(bool, doom);
    QFETCH(SheetEdit, edit);
    QFETCH(QString, close);
    QFETCH(QString, answer);
    PageRig rig;
    BlockRulesView page(rig.context);
    page.show();
    const auto sheet = [&]() -> QDialog* {
        if (doom)
            return page.doomScrollCard()->configSheet();
        return page.addSheet();
    };
    const auto question = [&]() -> ChoiceDialog* {
        if (auto* s = qobject_cast<DoomScrollConfigSheet*>(sheet()))
            return s->openQuestion();
        if (auto* s = qobject_cast<AddRuleSheet*>(sheet()))
            return s->openQuestion();
        return nullptr;
    };
    if (doom)
        click(page.doomScrollCard(), "setUpButton");
    else
        page.showAddSheet();
    QVERIFY(sheet() && sheet()->isVisible());
    edit(sheet());
    if (close == QLatin1String("Escape"))
        QTest::keyClick(sheet(), Qt::Key_Escape);
    else
        click(sheet(), qPrintable(close));
    QTEST(question() != nullptr, "asks");
    if (ChoiceDialog* q = question()) {
        QCOMPARE(q->title(), QStringLiteral("Discard your changes?"));
        QCOMPARE(q->buttonTexts(), (QStringList{"Discard Changes", "Keep Editing"}));
        QCOMPARE(q->buttonTexts().value(q->defaultChoice()), QStringLiteral("Keep Editing"));
        if (answer == QLatin1String("Return"))
            QTest::keyClick(q, Qt::Key_Return);
        else if (answer == QLatin1String("Escape"))
            QTest::keyClick(q, Qt::Key_Escape);
        else
            QVERIFY(q->choose(answer));
        QTRY_VERIFY(!question());
    }
    QFETCH(bool, staysOpen);
    QTRY_COMPARE(sheet() != nullptr, staysOpen);
    QFETCH(QStringList, kept);
    if (staysOpen) {
        QVERIFY(sheet()->isVisible());
        QStringList held;
        if (auto* s = qobject_cast<DoomScrollConfigSheet*>(sheet()))
            for (const DoomScrollDomain& d : s->form().domains)
                held.append(d.domain);
        else if (!child<QLineEdit>(sheet(), "websiteField")->text().isEmpty())
            held.append(child<QLineEdit>(sheet(), "websiteField")->text());
        QCOMPARE(held, kept);
    }
    QVERIFY(rig.store.blocking().rules().empty());
    QVERIFY(rig.store.blocking().doomScrollConfig().domains.empty());
}

using ChipsOpen = std::function<QDialog*(PageRig&, BlockRulesView&)>;
Q_DECLARE_METATYPE(ChipsOpen)

void BlockScreensTest::chipsSayWhichIsChosen_data()
{
    QTest::addColumn<ChipsOpen>("open");
    QTest::addColumn<QString>("group");  // the chips' object name
    QTest::addColumn<QString>("press");  // the chip pressed next (its text), or nothing
    QTest::addColumn<QString>("chosen"); // the one checked chip's text, as drawn selected
    const ChipsOpen limitRule = [](PageRig& rig, BlockRulesView& page) -> QDialog* {
        const BlockRule stored = rig.add(rule(QStringLiteral("example.com"), dailyLimit(), {1, 7}, 45));
        page.manage(stored.id);
        page.manageSheet()->openEditSheet();
        return page.manageSheet()->editSheet();
    };
    const ChipsOpen doom = [](PageRig&, BlockRulesView& page) -> QDialog* {
        click(page.doomScrollCard(), "setUpButton");
        return page.doomScrollCard()->configSheet();
    };
    QTest::newRow("stored daily limit") << limitRule << "limit"
                                        << ""
                                        << "45 min";
    QTest::newRow("another limit pressed") << limitRule << "limit"
                                           << "1 h"
                                           << "1 h";
    QTest::newRow("stored weekend days") << limitRule << "weekdayPreset"
                                         << ""
                                         << "Weekends";
    QTest::newRow("break after, the default") << doom << "usage"
                                              << ""
                                              << "20 min";
    QTest::newRow("break length pressed") << doom << "break"
                                          << "10 min"
                                          << "10 min";
}

void BlockScreensTest::chipsSayWhichIsChosen()
{
    // A group of chips reads as radio buttons: exactly one checked, the one drawn selected.
    QFETCH(ChipsOpen, open);
    QFETCH(QString, group);
    QFETCH(QString, press);
    QFETCH(QString, chosen);
    PageRig rig;
    BlockRulesView page(rig.context);
    page.show();
    QDialog* sheet = open(rig, page);
    QVERIFY(sheet && sheet->isVisible());
    const QList<FocusButton*> chips = sheet->findChildren<FocusButton*>(group);
    QVERIFY(chips.size() >= 2);
    for (FocusButton* chip : chips)
        if (chip->text() == press)
            chip->click();
    QStringList checked, drawn;
    for (FocusButton* chip : chips) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(chip);
        QCOMPARE(a->role(), QAccessible::RadioButton);
        if (a->state().checked)
            checked.append(a->text(QAccessible::Name));
        if (std::get<FocusPillButtonStyle>(chip->buttonStyle()).isSelected)
            drawn.append(chip->text());
    }
    QCOMPARE(checked, QStringList{chosen});
    QCOMPARE(drawn, QStringList{chosen});
}

void BlockScreensTest::everyControlIsNamed_data()
{
    QTest::addColumn<ChipsOpen>("open");
    QTest::addColumn<int>("mode"); // of the rule sheet: the "When to block" card pressed, or -1
    const ChipsOpen add = [](PageRig&, BlockRulesView& page) -> QDialog* {
        page.showAddSheet();
        return page.addSheet();
    };
    const ChipsOpen limitRule = [](PageRig& rig, BlockRulesView& page) -> QDialog* {
        const BlockRule stored = rig.add(rule(QStringLiteral("example.com"), dailyLimit(), {1, 7}, 45));
        page.manage(stored.id);
        return page.manageSheet();
    };
    const ChipsOpen editLimit = [limitRule](PageRig& rig, BlockRulesView& page) -> QDialog* {
        limitRule(rig, page);
        page.manageSheet()->openEditSheet();
        return page.manageSheet()->editSheet();
    };
    const ChipsOpen doom = [](PageRig&, BlockRulesView& page) -> QDialog* {
        click(page.doomScrollCard(), "setUpButton");
        return page.doomScrollCard()->configSheet();
    };
    for (int mode = 0; mode < 3; ++mode)
        QTest::addRow("new rule, way %d", mode) << add << mode;
    QTest::newRow("a rule's sheet") << limitRule << -1;
    QTest::newRow("editing a daily limit") << editLimit << -1;
    QTest::newRow("doom-scroll breaks") << doom << -1;
}

void BlockScreensTest::everyControlIsNamed()
{
    // A screen reader tells every control apart: the two groups of "20 min", the ways to block
    // and the seven days included.
    QFETCH(ChipsOpen, open);
    QFETCH(int, mode);
    PageRig rig;
    BlockRulesView page(rig.context);
    page.show();
    QDialog* sheet = open(rig, page);
    QVERIFY(sheet && sheet->isVisible());
    if (mode >= 0) {
        const QList<QAbstractButton*> modes = sheet->findChildren<QAbstractButton*>(QStringLiteral("mode"));
        QCOMPARE(modes.size(), 3);
        modes[mode]->click();
        for (QAbstractButton* card : modes)
            QCOMPARE(QAccessible::queryAccessibleInterface(card)->role(), QAccessible::RadioButton);
    }
    QCoreApplication::processEvents();
    const QStringList problems = AccessibleNames::problems(sheet);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void BlockScreensTest::limitChipsAllInSight()
{
    // Every daily limit can be seen whole, without scrolling the row.
    PageRig rig;
    BlockRulesView page(rig.context);
    page.show();
    page.showAddSheet();
    AddRuleSheet* sheet = page.addSheet();
    for (auto* b : sheet->findChildren<QAbstractButton*>(QStringLiteral("mode")))
        if (b->property("mode") == RuleForm::modeText(RuleForm::Mode::dailyLimit))
            b->click();
    const QList<FocusButton*> chips = sheet->findChildren<FocusButton*>(QStringLiteral("limit"));
    QCOMPARE(chips.size(), RuleForm::limitOptions().size());
    for (FocusButton* chip : chips)
        QTRY_VERIFY2(chip->isVisible() && chip->visibleRegion() == QRegion(chip->rect()), qPrintable(chip->text()));
}

void BlockScreensTest::manageLoosenWaitsForCooldown_data()
{
    QTest::addColumn<bool>("grant");
    QTest::newRow("granted") << true;
    QTest::newRow("kept") << false;
}

void BlockScreensTest::manageLoosenWaitsForCooldown()
{
    QFETCH(bool, grant);
    PageRig rig;
    const BlockRule rule = rig.add(BlockTest::rule(QStringLiteral("youtube.com"), dailyLimit(), {}, 30));
    BlockRulesView page(rig.context);
    page.manage(rule.id);
    ManageRuleSheet* manage = page.manageSheet();
    QVERIFY(manage);
    // As tall as what it shows: no band of paper under the schedule.
    QTRY_COMPARE(manage->height(), manage->layout()->totalHeightForWidth(manage->width()));
    QCOMPARE(manage->height() - 1 - child<QWidget>(manage, "editButton")->geometry().bottom(), 24);
    QTest::keyClick(manage, Qt::Key_Return); // "Edit block"
    AddRuleSheet* edit = manage->editSheet();
    QVERIFY(edit && edit->isVisible());
    QTest::mouseClick(edit->findChildren<QWidget*>(QStringLiteral("limit")).at(6), Qt::LeftButton); // 1 h
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(!edit->isVisible());
    QVERIFY(!manage->cooldownSheet()); // the cool-down waits until the edit sheet has closed
    QTRY_VERIFY(manage->cooldownSheet());
    QTRY_VERIFY(!manage->editSheet());
    BlockingBypassCooldownSheet* cooldown = manage->cooldownSheet();
    QCOMPARE(rig.store.blocking().rules().front().dailyLimitMinutes, std::optional<qint64>(30)); // nothing stored yet
    waitOut(rig, cooldown);
    click(cooldown, grant ? "confirmButton" : "cancelButton");
    QCOMPARE(rig.store.blocking().rules().front().dailyLimitMinutes, std::optional<qint64>(grant ? 60 : 30));
    if (grant) {
        QCOMPARE(child<QLabel>(cooldown, "grantedTitle")->text(), QStringLiteral("Block updated"));
        QTest::keyClick(cooldown, Qt::Key_Return);
    }
    QTRY_VERIFY(!manage->cooldownSheet());
    QVERIFY(manage->isVisible()); // the rule is still there: the manage sheet stays

    // A later edit back to 30 minutes is a tightening of the stored rule: stored at once.
    QTest::keyClick(manage, Qt::Key_Return);
    QTest::mouseClick(manage->editSheet()->findChildren<QWidget*>(QStringLiteral("limit")).at(4), Qt::LeftButton);
    QTest::keyClick(manage->editSheet(), Qt::Key_Return);
    QTRY_VERIFY(!page.manageSheet());
    QCOMPARE(rig.store.blocking().rules().front().dailyLimitMinutes, std::optional<qint64>(30));
}

void BlockScreensTest::manageRemoveFailureIsNoSuccess_data()
{
    QTest::addColumn<bool>("removedElsewhere");
    QTest::newRow("rules file cannot be written") << false;
    QTest::newRow("rule removed elsewhere during the wait") << true;
}

void BlockScreensTest::manageRemoveFailureIsNoSuccess()
{
    QFETCH(bool, removedElsewhere);
    PageRig rig;
    const BlockRule rule = rig.add(BlockTest::rule(QStringLiteral("reddit.com")));
    BlockRulesView page(rig.context);
    page.manage(rule.id);
    ManageRuleSheet* manage = page.manageSheet();
    if (!removedElsewhere)
        rig.breakRulesFile();
    click(manage, "removeButton");
    BlockingBypassCooldownSheet* cooldown = manage->cooldownSheet();
    QVERIFY(cooldown);
    if (removedElsewhere)
        QVERIFY(rig.store.blocking().removeRule(rule.id));
    waitOut(rig, cooldown);
    click(cooldown, "confirmButton");
    QVERIFY(!shown(cooldown, "grantedTitle")); // no "Block removed"
    QVERIFY(shown(cooldown, "failureText"));
    click(cooldown, "closeButton");
    if (removedElsewhere) {
        QTRY_VERIFY(!page.manageSheet()); // the rule is gone, and so is its sheet
        return;
    }
    // A removal the disk refused is not made: the rule still blocks and its sheet stays.
    QTRY_VERIFY(!manage->cooldownSheet());
    QCOMPARE(rig.store.blocking().rules().size(), size_t(1));
    QCOMPARE(rig.store.blocking().state().blockedNow.size(), size_t(1));
    QVERIFY(page.manageSheet());
    page.manageSheet()->close();
    QTRY_VERIFY(!page.manageSheet());

    // A tightening the store cannot write keeps the edit sheet open with the store's message.
    QVERIFY(QDir(rig.f.file(BlockingStore::rulesFile)).removeRecursively());
    const BlockRule other = rig.add(BlockTest::rule(QStringLiteral("x.com"), dailyLimit(), {}, 30));
    rig.breakRulesFile();
    page.manage(other.id);
    page.manageSheet()->openEditSheet();
    AddRuleSheet* edit = page.manageSheet()->editSheet();
    QTest::mouseClick(edit->findChildren<QWidget*>(QStringLiteral("limit")).at(0), Qt::LeftButton); // 5 min
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(edit->isVisible());
    QCOMPARE(child<QLabel>(edit, "saveError")->text(), rig.store.core().lastError().value_or(QStringLiteral("(none)")));
    QVERIFY(page.manageSheet()->isVisible());
}

void BlockScreensTest::loosenOnAFullDiskIsNotSaved_data()
{
    QTest::addColumn<bool>("realDisk"); // a full tmpfs, or a save file that loses its bytes
    QTest::newRow("full tmpfs") << true;
    QTest::newRow("bytes lost on the way to the disk") << false;
}

// The cool-down never says "Block updated" for a loosening the disk did not take: it says why,
// the rule is as before, and the same loosening is saved once there is space.
void BlockScreensTest::loosenOnAFullDiskIsNotSaved()
{
    QFETCH(bool, realDisk);
    QTemporaryDir root;
    TmpfsMount disk(root.filePath(QStringLiteral("disk")));
    if (realDisk && !disk.error.isEmpty())
        QSKIP(qPrintable(QStringLiteral("a full disk needs a tmpfs, which could not be mounted: ") + disk.error));
    PageRig rig([&](StoreFixture& f) { f.dataFolder = realDisk ? disk.path : QString(); });
    const BlockRule rule = rig.add(BlockTest::rule(QStringLiteral("youtube.com"), dailyLimit(), {}, 30));
    const QByteArray stored = readBytes(rig.f.file(BlockingStore::rulesFile));
    QVERIFY(realDisk ? disk.fill() : (rig.f.losing = {BlockingStore::rulesFile}, true));
    BlockRulesView page(rig.context);
    const auto loosen = [&]() -> BlockingBypassCooldownSheet* {
        page.manage(rule.id);
        page.manageSheet()->openEditSheet();
        AddRuleSheet* edit = page.manageSheet()->editSheet();
        QTest::mouseClick(edit->findChildren<QWidget*>(QStringLiteral("limit")).at(6), Qt::LeftButton); // 1 h
        QTest::keyClick(edit, Qt::Key_Return);
        if (!QTest::qWaitFor([&] { return page.manageSheet()->cooldownSheet() != nullptr; }, 30000))
            return nullptr;
        BlockingBypassCooldownSheet* cooldown = page.manageSheet()->cooldownSheet();
        waitOut(rig, cooldown);
        click(cooldown, "confirmButton");
        return cooldown;
    };
    BlockingBypassCooldownSheet* cooldown = loosen();
    QVERIFY(cooldown && !shown(cooldown, "grantedTitle") && shown(cooldown, "failureText"));
    const QString why = child<QLabel>(cooldown, "failureText")->text();
    QVERIFY2(why.contains(BlockingStore::rulesFile), qPrintable(why));
    QVERIFY2(!realDisk || why.contains(QLatin1String("No space left on device")), qPrintable(why));
    QCOMPARE(readBytes(rig.f.file(BlockingStore::rulesFile)), stored);
    QCOMPARE(rig.store.blocking().rules().front().dailyLimitMinutes, std::optional<qint64>(30));
    click(cooldown, "closeButton");
    QTRY_VERIFY(!page.manageSheet()->cooldownSheet());
    page.manageSheet()->close();
    QTRY_VERIFY(!page.manageSheet());

    disk.release();
    rig.f.losing.clear();
    QVERIFY((cooldown = loosen()));
    QCOMPARE(child<QLabel>(cooldown, "grantedTitle")->text(), QStringLiteral("Block updated"));
    const QJsonArray onDisk = QJsonDocument::fromJson(readBytes(rig.f.file(BlockingStore::rulesFile))).array();
    QCOMPARE(decodeBlockRule(onDisk.first())->dailyLimitMinutes, std::optional<qint64>(60));
}

// An urgent break whose rules file cannot be written is not granted, and the sheet says why
// rather than that the break is no longer offered.
void BlockScreensTest::urgentBreakTheDiskRefusesSaysWhy()
{
    PageRig rig;
    const BlockRule rule = rig.add(BlockTest::rule(QStringLiteral("youtube.com"), allDay(), {}, std::nullopt, true));
    rig.f.losing = {BlockingStore::rulesFile};
    std::unique_ptr<BlockingBypassCooldownSheet> sheet(
        BlockingBypassCooldownSheet::forUrgentBreak(rig.context, rule.id));
    QVERIFY(sheet);
    waitOut(rig, sheet.get());
    click(sheet.get(), "confirmButton");
    QVERIFY(!shown(sheet.get(), "grantedTitle") && !rig.store.blocking().state().urgentBreak);
    QVERIFY(child<QLabel>(sheet.get(), "failureText")->text().contains(BlockingStore::rulesFile));
}

void BlockScreensTest::urgentBreakWithoutASiteSaysWhere_data()
{
    QTest::addColumn<int>("sites"); // all-day blocks that allow the break, beside one that does not
    QTest::addColumn<QString>("hint");
    QTest::newRow("none") << 0 << "No site can take an urgent break right now.";
    QTest::newRow("one: its break is offered") << 1 << QString();
    QTest::newRow("two") << 2 << "Choose the site: Take Urgent Break… is in its ⋯ menu.";
}

void BlockScreensTest::urgentBreakWithoutASiteSaysWhere()
{
    // The quit window's "Take an urgent break instead" names no site.
    QFETCH(int, sites);
    QFETCH(QString, hint);
    PageRig rig;
    rig.add(rule(QStringLiteral("x.com")));
    std::vector<QUuid> open;
    for (const QString& site : QStringList{"youtube.com", "reddit.com"}.mid(0, sites))
        open.push_back(rig.add(rule(site, allDay(), {}, std::nullopt, true)).id);
    BlockRulesView page(rig.context);
    page.resize(900, 900);
    page.show();
    rig.router.requestUrgentBreakChoice();
    QTRY_VERIFY(shown(&page, "urgentBreakHint") || rig.router.urgentBreakRuleID());
    QCOMPARE(rig.router.urgentBreakRuleID(), sites == 1 ? std::optional<QUuid>(open.front()) : std::nullopt);
    QCOMPARE(child<QLabel>(&page, "urgentBreakHint")->text(), hint);
    if (sites == 2)
        QCOMPARE(page.focusWidget(), child<QWidget>(page.row(open.front()), "optionsButton"));
}

void BlockScreensTest::aRunningPauseCanBeEndedFromThePage_data()
{
    // Minutes from now (10:00) to the pause's end; none: no pause stored.
    QTest::addColumn<std::optional<int>>("endsIn");
    QTest::addColumn<QString>("text");
    QTest::newRow("no pause") << std::optional<int>() << QString();
    QTest::newRow("a pause that ended") << std::optional<int>(-5) << QString();
    QTest::newRow("a pause that runs") << std::optional<int>(30)
                                       << QStringLiteral("Blocking is paused until 10:30\u00a0AM.");
}

void BlockScreensTest::aRunningPauseCanBeEndedFromThePage()
{
    QFETCH(std::optional<int>, endsIn);
    QFETCH(QString, text);
    PageRig rig([&](StoreFixture& f) {
        if (!endsIn)
            return;
        SharedState state;
        state.dayId = SharedState::dayIdFor(f.clock.now(), f.calendar);
        state.blockingPausedUntil = f.clock.now() + *endsIn * 60;
        QFile file(f.file(BlockingStore::stateFile));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(encodeSharedState(state)).toJson());
    });
    BlockRulesView page(rig.context);
    page.resize(900, 900);
    page.show();
    QCOMPARE(shown(&page, "pausedNote"), !text.isEmpty());
    if (text.isEmpty())
        return;
    QCOMPARE(child<QLabel>(&page, "pausedText")->text(), text);
    click(&page, "resumeBlocking");
    QVERIFY(!rig.store.blocking().state().blockingPausedUntil);
    QTRY_VERIFY(!shown(&page, "pausedNote"));
}

void BlockScreensTest::pageFollowsStoreAndEngine()
{
    PageRig rig;
    rig.workspace.installed = {QStringLiteral("chrome")};
    BlockRulesView page(rig.context);
    page.resize(900, 900);
    page.show(); // rows are built only for what is in view
    auto* header = child<FocusSectionHeader>(&page, "sitesHeader");
    QVERIFY(shown(&page, "sitesEmpty"));
    // Shown before blocking has started, the page has the browsers listed itself.
    QVERIFY(!shown(&page, "browsersEmpty"));
    QCOMPARE(page.findChildren<QWidget*>(QStringLiteral("connectButton")).size(), 1);

    const BlockRule all = rig.add(rule(QStringLiteral("youtube.com"), allDay(), {}, std::nullopt, true));
    const BlockRule limit = rig.add(rule(QStringLiteral("reddit.com"), dailyLimit(), {}, 30));
    QTRY_VERIFY(page.row(limit.id));
    QVERIFY(!shown(&page, "sitesEmpty"));
    QVERIFY(header->findChild<QLabel*>()->text().contains(QStringLiteral("2")));
    QCOMPARE(page.row(all.id)->content().status.text, QStringLiteral("Blocked all day"));
    QCOMPARE(page.row(all.id)->menuItems().value(1).first, QStringLiteral("Take Urgent Break…"));
    SiteRow* kept = page.row(all.id);

    // One store call, one rebuild; rows are kept by id.
    QVERIFY(rig.store.blocking().startUrgentBreak(all.id));
    QTRY_COMPARE(page.row(all.id)->content().status.text, QStringLiteral("On an urgent break"));
    QCOMPARE(page.row(all.id), kept);

    // A row's urgent-break wish goes to the router; a double click manages.
    emit kept->urgentBreakRequested();
    QCOMPARE(rig.router.urgentBreakRuleID(), std::optional<QUuid>(all.id));
    QTest::mouseDClick(kept, Qt::LeftButton);
    QVERIFY(page.manageSheet());

    // Browsers: only those the engine has seen installed are listed; only "connected" reads so.
    rig.engine->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::connected),
                          *SupportedBrowser::withId(QStringLiteral("chrome")));
    rig.engine->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::problem, QStringLiteral("x")),
                          *SupportedBrowser::withId(QStringLiteral("brave")));
    rig.engine->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::notInstalled),
                          *SupportedBrowser::withId(QStringLiteral("edge")));
    QTRY_COMPARE(page.findChildren<QWidget*>(QStringLiteral("browserRow")).size(), 2);
    QCOMPARE(page.findChildren<QWidget*>(QStringLiteral("connectedText")).size(), 1);
    QCOMPARE(page.findChildren<QWidget*>(QStringLiteral("connectButton")).size(), 1);

    // Connected in one profile, another left out: that one is named, with the way to add it there.
    rig.engine->setAccess({BrowserAccessState::Kind::profilesLeftOut, {}, {QStringLiteral("Work")}},
                          *SupportedBrowser::withId(QStringLiteral("chrome")));
    QTRY_COMPARE(page.findChildren<QWidget*>(QStringLiteral("connectedText")).size(), 0);
    const QList<QLabel*> said = page.findChildren<QLabel*>(QStringLiteral("browserStateText"));
    QCOMPARE(said.size(), 1);
    QCOMPARE(said.first()->text(), QStringLiteral("Not protected in “Work”"));
    QVERIFY(said.first()->toolTip().contains(QLatin1String("Open that profile in Google Chrome")));
    const QList<QAbstractButton*> buttons = page.findChildren<QAbstractButton*>(QStringLiteral("connectButton"));
    QVERIFY(std::any_of(buttons.cbegin(), buttons.cend(),
                        [](const QAbstractButton* b) { return b->text() == QLatin1String("Add Extension"); }));

    // A connected browser that was closed: what happens when it starts, and no button that
    // would start nothing.
    rig.engine->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::browserClosed),
                          *SupportedBrowser::withId(QStringLiteral("chrome")));
    QTRY_COMPARE(page.findChildren<QWidget*>(QStringLiteral("connectedText")).size(), 0);
    QTRY_COMPARE(page.findChildren<QWidget*>(QStringLiteral("connectButton")).size(), 1);
    QCOMPARE(child<QLabel>(&page, "browserStateText")->text(),
             QStringLiteral("Closed. Protected again as soon as Google Chrome starts."));
}

// Thousands of rules: the rows in view are built, in the store's order, and follow its changes.
void BlockScreensTest::longSiteListBuildsWhatIsShown()
{
    PageRig rig([](StoreFixture& f) {
        QJsonArray rules;
        for (int i = 0; i < 2000; ++i)
            rules.append(encodeBlockRule(rule(QStringLiteral("site%1.example").arg(i, 4, 10, QLatin1Char('0')))));
        QDir().mkpath(f.dataPath());
        QFile file(f.file(BlockingStore::rulesFile));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(rules).toJson()) > 0);
    });
    QCOMPARE(rig.store.blocking().rules().size(), size_t(2000));
    BlockRulesView page(rig.context);
    page.resize(900, 900);
    page.show();
    const auto shownMatchStore = [&] {
        QList<SiteRow*> rows = page.findChildren<SiteRow*>();
        rows.removeIf([](SiteRow* r) { return !r->isVisible(); });
        std::sort(rows.begin(), rows.end(), [&](SiteRow* a, SiteRow* b) {
            return a->mapTo(&page, QPoint()).y() < b->mapTo(&page, QPoint()).y();
        });
        const std::vector<BlockRule>& rules = rig.store.blocking().rules();
        const auto at = std::find_if(rules.begin(), rules.end(), [&](const BlockRule& r) {
            return !rows.isEmpty() && r.id == rows[0]->content().rule.id;
        });
        if (rows.isEmpty() || rows.size() > 40 || at == rules.end() || rules.end() - at < rows.size())
            return QList<SiteRow*>();
        for (qsizetype i = 0; i < rows.size(); ++i)
            if (!(rows[i]->content().rule == at[i]) || page.row(at[i].id) != rows[i])
                return QList<SiteRow*>();
        return rows;
    };
    QTRY_VERIFY(!shownMatchStore().isEmpty());
    QCOMPARE(shownMatchStore().first()->content().rule.id, rig.store.blocking().rules().front().id);

    QScrollBar* bar = page.findChild<QScrollArea*>()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 1000 * SiteRow::minimumRowHeight);
    bar->setValue(bar->maximum());
    QTRY_VERIFY(!shownMatchStore().isEmpty() &&
                shownMatchStore().last()->content().rule.id == rig.store.blocking().rules().back().id);

    // A change to a rule in view reaches its row, which stays the same widget.
    const QList<SiteRow*> before = shownMatchStore();
    SiteRow* kept = before.at(before.size() / 2);
    BlockRule renamed = kept->content().rule;
    renamed.displayName = QStringLiteral("Renamed");
    rig.store.blocking().updateRule(renamed);
    QTRY_COMPARE(kept->content().rule.displayName, QStringLiteral("Renamed"));
    QCOMPARE(shownMatchStore(), before);
}

// One number JSON cannot hold costs its own rule: the others load and block, and the page says
// that a rule was set aside.
void BlockScreensTest::unreadableRuleIsSetAsideAndSaid_data()
{
    QTest::addColumn<QByteArray>("bad"); // what the limit rule's limit becomes in the file
    QTest::addColumn<bool>("said");
    QTest::newRow("readable") << QByteArray("30") << false;
    QTest::newRow("beyond a double") << QByteArray("1e400") << true;
    QTest::newRow("not a number") << QByteArray("thirty") << true;
}

void BlockScreensTest::unreadableRuleIsSetAsideAndSaid()
{
    QFETCH(QByteArray, bad);
    QFETCH(bool, said);
    const BlockRule plain = rule(QStringLiteral("plain.example"));
    BlockRule limited = rule(QStringLiteral("limited.example"));
    limited.blockApplySchedule.isAllDay = false;
    limited.blockApplySchedule.isAfterMaxDailyTime = true;
    limited.dailyLimitMinutes = 30;
    PageRig rig([&](StoreFixture& f) {
        QByteArray text = QJsonDocument(QJsonArray{encodeBlockRule(limited), encodeBlockRule(plain)}).toJson();
        QVERIFY(text.contains("\"dailyLimitMinutes\": 30"));
        text.replace("\"dailyLimitMinutes\": 30", "\"dailyLimitMinutes\": " + bad);
        QDir().mkpath(f.dataPath());
        QFile file(f.file(BlockingStore::rulesFile));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
    });
    QCOMPARE(rig.store.blocking().rules().size(), said ? size_t(1) : size_t(2));
    QCOMPARE(rig.store.blocking().rules().back().id, plain.id);
    QVERIFY(std::any_of(rig.store.blocking().state().blockedNow.begin(), rig.store.blocking().state().blockedNow.end(),
                        [&](const BlockedSiteSnapshot& b) { return b.ruleId == plain.id; }));
    QCOMPARE(rig.store.blocking().rulesSetAside(), said);
    BlockRulesView page(rig.context);
    page.resize(900, 900);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* notice = page.findChild<WrappingLabel*>(QStringLiteral("rulesSetAside"));
    QCOMPARE(notice != nullptr && notice->isVisible(), said);
    if (said)
        QVERIFY(notice->text().contains(QLatin1String("set aside")));
}

QTEST_MAIN(BlockScreensTest)
#include "tst_block_screens.moc"
