#include "ui/CardShadow.h"

#include <QCache>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <vector>

namespace {

// The blur radius is read as twice the standard deviation, and the shadow is drawn out to 1.5
// deviations: further out it is fainter than one level of an 8-bit channel.
qreal sigmaOf(qreal blurRadius)
{
    return blurRadius / 2;
}

int reachOf(qreal blurRadius)
{
    return int(std::ceil(sigmaOf(blurRadius) * 1.5));
}

// One box blur of width 2r+1 along rows (or columns) of an 8-bit alpha image.
void boxBlur(QImage& image, int r, bool horizontal)
{
    if (r < 1)
        return;
    const int w = image.width();
    const int h = image.height();
    const int lines = horizontal ? h : w;
    const int length = horizontal ? w : h;
    // Raw rows: scanLine() checks for sharing on every call, which is most of a blur's cost.
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const qsizetype step = horizontal ? 1 : stride;
    std::vector<int> source(size_t(length), 0);
    const int window = 2 * r + 1;
    for (int line = 0; line < lines; ++line) {
        uchar* const first = bits + (horizontal ? line * stride : line);
        for (int i = 0; i < length; ++i)
            source[size_t(i)] = first[i * step];
        int sum = 0;
        for (int i = -r; i <= r; ++i)
            sum += (i >= 0 && i < length) ? source[size_t(i)] : 0;
        for (int i = 0; i < length; ++i) {
            first[i * step] = uchar((sum + window / 2) / window);
            const int out = i - r;
            const int in = i + r + 1;
            sum += (in < length ? source[size_t(in)] : 0) - (out >= 0 ? source[size_t(out)] : 0);
        }
    }
}

// Three box blurs approximate a Gaussian of the given deviation.
void gaussianBlur(QImage& image, qreal sigma)
{
    const int r = int(std::round((std::sqrt(12 * sigma * sigma / 3 + 1) - 1) / 2));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(image, r, true);
        boxBlur(image, r, false);
    }
}

// The shadow of a rounded rectangle just large enough that its middle row and column are flat;
// `slice` is where the flat middle starts, counted from each edge.
QImage shadowTile(qreal cornerRadius, qreal blurRadius, qreal ratio, int* slice)
{
    const int reach = reachOf(blurRadius);
    const int pad = reach + int(std::ceil(sigmaOf(blurRadius) * 2));
    const int corner = int(std::ceil(cornerRadius)) + pad;
    const int card = 2 * corner + 1;
    const int edge = card + 2 * pad;
    QImage image(QSize(edge, edge) * ratio, QImage::Format_Alpha8);
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(ratio, ratio);
        QPainterPath path;
        path.addRoundedRect(QRectF(pad, pad, card, card), cornerRadius, cornerRadius);
        painter.fillPath(path, Qt::black);
    }
    gaussianBlur(image, sigmaOf(blurRadius) * ratio);
    image.setDevicePixelRatio(ratio);
    *slice = pad + corner;
    return image;
}

} // namespace

namespace CardShadow {

QMargins extent(qreal blurRadius, qreal offsetY)
{
    const int reach = reachOf(blurRadius);
    const int dy = int(std::ceil(offsetY));
    return QMargins(reach, std::max(0, reach - dy), reach, reach + dy);
}

void paint(QPainter& painter, const QRectF& card, qreal cornerRadius, qreal blurRadius, qreal offsetY,
           const QColor& color)
{
    const qreal ratio = painter.device()->devicePixelRatioF();
    struct Tile {
        QImage image; // tinted
        int slice = 0;
        int pad = 0;
    };
    static QCache<QString, Tile> cache(16);
    const QString key =
        QStringLiteral("%1/%2/%3/%4").arg(cornerRadius).arg(blurRadius).arg(ratio).arg(color.rgba(), 8, 16);
    Tile* tile = cache.object(key);
    if (!tile) {
        tile = new Tile;
        const QImage alpha = shadowTile(cornerRadius, blurRadius, ratio, &tile->slice);
        tile->pad = reachOf(blurRadius) + int(std::ceil(sigmaOf(blurRadius) * 2));
        tile->image = QImage(alpha.size(), QImage::Format_ARGB32_Premultiplied);
        // The tint and the mask share their pixel ratio, or the mask covers a quarter of the tile.
        tile->image.setDevicePixelRatio(alpha.devicePixelRatio());
        tile->image.fill(color);
        QPainter p(&tile->image);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(0, 0, alpha);
        p.end();
        cache.insert(key, tile);
    }

    // The tile's card stands `pad` in from its edges: grow the card by as much, move it down.
    const qreal pad = tile->pad;
    const QRectF target = card.adjusted(-pad, -pad + offsetY, pad, pad + offsetY);
    const qreal s = tile->slice;
    const qreal e = tile->image.width() / ratio;
    const auto piece = [&](qreal tx, qreal ty, qreal tw, qreal th, qreal sx, qreal sy, qreal sw, qreal sh) {
        if (tw <= 0 || th <= 0)
            return;
        painter.drawImage(QRectF(tx, ty, tw, th), tile->image, QRectF(sx * ratio, sy * ratio, sw * ratio, sh * ratio));
    };
    if (target.width() < 2 * s + 1 || target.height() < 2 * s + 1) {
        painter.drawImage(target, tile->image);
        return;
    }
    const qreal x0 = target.left();
    const qreal y0 = target.top();
    const qreal x1 = target.right() - s;
    const qreal y1 = target.bottom() - s;
    const qreal midW = target.width() - 2 * s;
    const qreal midH = target.height() - 2 * s;
    piece(x0, y0, s, s, 0, 0, s, s);
    piece(x0 + s, y0, midW, s, s, 0, 1, s);
    piece(x1, y0, s, s, e - s, 0, s, s);
    piece(x0, y0 + s, s, midH, 0, s, s, 1);
    piece(x0 + s, y0 + s, midW, midH, s, s, 1, 1);
    piece(x1, y0 + s, s, midH, e - s, s, s, 1);
    piece(x0, y1, s, s, 0, e - s, s, s);
    piece(x0 + s, y1, midW, s, s, e - s, 1, s);
    piece(x1, y1, s, s, e - s, e - s, s, s);
}

} // namespace CardShadow
