#pragma once

#include <QHash>
#include <QObject>
#include <QUrl>
#include <QUuid>
#include <optional>

// Where the main window is and what the screens were asked to do; also reads the links of the
// "quillharbour://" scheme that the block page opens.
class AppRouter : public QObject {
    Q_OBJECT
public:
    enum class Destination { todos, block, notes, settings };
    enum class NewItem { todo, note };

    explicit AppRouter(QObject* parent = nullptr) : QObject(parent) {}

    static QString rawValue(Destination destination);
    static std::optional<Destination> destinationFromRaw(const QString& text);

    Destination destination() const { return m_destination; }
    void setDestination(Destination destination);
    std::optional<QUuid> urgentBreakRuleID() const { return m_urgentBreakRuleID; }
    void setUrgentBreakRuleID(const std::optional<QUuid>& id);
    std::optional<NewItem> newItemRequest() const { return m_newItemRequest; }
    void setNewItemRequest(const std::optional<NewItem>& request);
    qint64 showTodayRequest() const { return m_showTodayRequest; }
    void requestShowToday();
    // An urgent break asked for without naming a site (the quit window): the Block page, once it
    // shows, takes the wish and offers the break or says where it is taken.
    void requestUrgentBreakChoice();
    bool takeUrgentBreakChoice();

    // The host alone decides, compared as written: "urgent-break" (with "rule"), "settings",
    // anything else the to-dos. QUrl lower-cases every host, so a link that arrives as text
    // goes to the first form; a QUrl has already lost the host's letter case.
    void handle(const QString& link);
    void handle(const QUrl& url);
    // The query items, the last value of a name winning and an item without a value removing it.
    static std::optional<QHash<QString, QString>> queryParameters(const QUrl& url);

signals:
    void destinationChanged();
    void urgentBreakRuleIDChanged();
    void newItemRequestChanged();
    void showTodayRequestChanged();
    void urgentBreakChoiceRequested();

private:
    void route(const QString& host, const QUrl& url);

    Destination m_destination = Destination::todos;
    std::optional<QUuid> m_urgentBreakRuleID;
    std::optional<NewItem> m_newItemRequest;
    qint64 m_showTodayRequest = 0;
    bool m_urgentBreakChoice = false;
};
