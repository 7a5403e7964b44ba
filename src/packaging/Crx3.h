#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

// Chromium's signed extension package (CRX3): "Cr24", format 3, the length of a protobuf
// header, the header, then the zip archive. The header holds the RSA public key with its
// PKCS#1 v1.5 SHA-256 signature and, signed with the archive, the package's 16-byte id.
namespace Crx3 {

// An extension's id: the first 16 bytes of the SHA-256 of its public key (DER
// SubjectPublicKeyInfo), each hex digit written as a letter a to p.
QString extensionId(const QByteArray& publicKeyDer);

// What the signature covers: a fixed prefix, the signed header data with its length, the archive.
QByteArray signedPayload(const QByteArray& publicKeyDer, const QByteArray& archive);

// The whole package from its parts.
QByteArray assemble(const QByteArray& publicKeyDer, const QByteArray& signature, const QByteArray& archive);

// An RSA key kept as a PEM file only its owner can read.
class SigningKey {
public:
    ~SigningKey();
    SigningKey(SigningKey&&) noexcept;
    SigningKey& operator=(SigningKey&&) noexcept;

    // Reads the key at `path`, or creates a 2048-bit one there when nothing is. A key that others
    // can read, or that belongs to someone else, may have leaked: it is refused, not reused.
    static std::unique_ptr<SigningKey> loadOrCreate(const QString& path, QString* error);
    static std::unique_ptr<SigningKey> fromPem(const QByteArray& pem, QString* error);

    QByteArray publicKeyDer() const;
    // Empty when signing failed.
    QByteArray sign(const QByteArray& bytes) const;

private:
    struct Key;
    explicit SigningKey(std::unique_ptr<Key> key);
    std::unique_ptr<Key> m_key;
};

// The signed package of `archive`, or an empty array when signing failed.
QByteArray pack(const SigningKey& key, const QByteArray& archive);

} // namespace Crx3
