#pragma once

// The small square picture of a site: its icon on a white rounded tile, or the first letter of
// its name until an icon arrives. It loads the icon itself through a SiteIconStore while it is
// shown. Hidden from assistive technologies (the site's name stands beside it).

#include <QImage>
#include <QPixmap>
#include <QWidget>

class SiteIconStore;

class SiteIconView : public QWidget {
    Q_OBJECT
public:
    // `store` defaults to SiteIconStore::shared().
    SiteIconView(const QString& domain, const QString& name, qreal size, QWidget* parent = nullptr,
                 SiteIconStore* store = nullptr);

    QString domain() const { return m_domain; }
    void setDomain(const QString& domain);
    void setName(const QString& name);
    void setIconSize(qreal size);
    // The icon being shown; a null image while the letter tile shows.
    const QImage& image() const { return m_image; }

    // Inset of the icon inside the tile: size × 0.18 for icons narrower than 96 pixels, else 0.
    static qreal imageInset(qreal size, int imageWidth);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void setImage(const QImage& image);

    SiteIconStore* m_store;
    QString m_domain;
    QString m_name;
    qreal m_size;
    QImage m_image;
    QPixmap m_scaled; // the image fitted and clipped for the last size and pixel ratio
    quint64 m_generation = 0;
};
