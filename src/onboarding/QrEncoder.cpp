#include "onboarding/QrEncoder.h"

#include <QHash>
#include <dlfcn.h>
#include <qrencode.h>

QrEncoder::QrEncoder(const char* name)
{
    void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        m_error = QStringLiteral("The QR code cannot be drawn: %1").arg(QString::fromLocal8Bit(why ? why : name));
        return;
    }
    m_encode = reinterpret_cast<Encode*>(::dlsym(handle, "QRcode_encodeData"));
    m_free = reinterpret_cast<Free*>(::dlsym(handle, "QRcode_free"));
    if (!loaded())
        m_error = QStringLiteral("The QR code cannot be drawn: %1 lacks the functions it needs")
                      .arg(QString::fromLocal8Bit(name));
}

const QrEncoder& QrEncoder::library(const char* name)
{
    // Main thread only, as the widgets that draw codes; never closed, as the loader keeps it anyway.
    static QHash<QByteArray, QrEncoder*> opened;
    QrEncoder*& encoder = opened[QByteArray(name)];
    if (!encoder)
        encoder = new QrEncoder(name);
    return *encoder;
}

QImage QrEncoder::modules(const QString& text) const
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || !loaded())
        return {};
    // Typed as the header declares them, so a change of the library's interface fails to build.
    static_assert(std::is_same_v<decltype(&QRcode_encodeData), QRcode* (*)(int, const unsigned char*, int, QRecLevel)>);
    auto* code = static_cast<QRcode*>(
        m_encode(int(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()), 0, QR_ECLEVEL_M));
    if (!code)
        return {};
    const int n = code->width;
    QImage image(n, n, QImage::Format_RGB32);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            image.setPixel(x, y, (code->data[y * n + x] & 1) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    m_free(code);
    return image;
}
