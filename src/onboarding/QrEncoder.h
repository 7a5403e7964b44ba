#pragma once

#include <QImage>
#include <QString>

// The QR code library, opened the first time a code is drawn: only the sync step of the first-run
// sheet draws one, and a start that never shows it need not load the library.
class QrEncoder {
public:
    static constexpr const char* defaultLibrary = "libqrencode.so.4";

    // The encoder of `library` (a file name the dynamic loader looks up), opened once per name.
    static const QrEncoder& library(const char* name = defaultLibrary);

    bool loaded() const { return m_encode && m_free; }
    // Why the library could not be used; empty once loaded.
    const QString& error() const { return m_error; }
    // One pixel per module, dark modules black; null when the text cannot be encoded or the
    // library is missing.
    QImage modules(const QString& text) const;

private:
    explicit QrEncoder(const char* name);

    using Encode = void*(int, const unsigned char*, int, int);
    using Free = void(void*);
    Encode* m_encode = nullptr;
    Free* m_free = nullptr;
    QString m_error;
};
