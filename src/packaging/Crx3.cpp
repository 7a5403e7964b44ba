#include "packaging/Crx3.h"

#include "files/FileSafety.h"

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace Crx3 {

namespace {

void appendVarint(QByteArray& out, quint64 value)
{
    while (value >= 0x80) {
        out.append(char(0x80 | (value & 0x7f)));
        value >>= 7;
    }
    out.append(char(value));
}

// A length-delimited protobuf field.
void appendField(QByteArray& out, quint32 number, const QByteArray& bytes)
{
    appendVarint(out, (quint64(number) << 3) | 2);
    appendVarint(out, quint64(bytes.size()));
    out.append(bytes);
}

void appendLittleEndian(QByteArray& out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

QByteArray idBytes(const QByteArray& publicKeyDer)
{
    return QCryptographicHash::hash(publicKeyDer, QCryptographicHash::Sha256).left(16);
}

QByteArray signedHeaderData(const QByteArray& publicKeyDer)
{
    QByteArray data;
    appendField(data, 1, idBytes(publicKeyDer)); // SignedData.crx_id
    return data;
}

constexpr quint32 signedHeaderDataField = 10000;

// OpenSSL's libcrypto, opened the first time a key is needed: only an install signs, and the
// program that can install itself should not map and relocate the library on every start.
// Every function the signing takes from it, named once for the table and for its look-up.
#define QH_CRYPTO_FUNCTIONS(QH_CRYPTO)                                                                                 \
    QH_CRYPTO(EVP_PKEY_free)                                                                                           \
    QH_CRYPTO(BIO_new_mem_buf)                                                                                         \
    QH_CRYPTO(PEM_read_bio_PrivateKey)                                                                                 \
    QH_CRYPTO(BIO_free)                                                                                                \
    QH_CRYPTO(EVP_PKEY_get_base_id)                                                                                    \
    QH_CRYPTO(EVP_PKEY_Q_keygen)                                                                                       \
    QH_CRYPTO(BIO_new)                                                                                                 \
    QH_CRYPTO(BIO_s_mem)                                                                                               \
    QH_CRYPTO(PEM_write_bio_PrivateKey)                                                                                \
    QH_CRYPTO(BIO_ctrl)                                                                                                \
    QH_CRYPTO(i2d_PUBKEY)                                                                                              \
    QH_CRYPTO(CRYPTO_free)                                                                                             \
    QH_CRYPTO(EVP_MD_CTX_new)                                                                                          \
    QH_CRYPTO(EVP_DigestSignInit)                                                                                      \
    QH_CRYPTO(EVP_sha256)                                                                                              \
    QH_CRYPTO(EVP_DigestSign)                                                                                          \
    QH_CRYPTO(EVP_MD_CTX_free)

struct Libcrypto {
#define QH_CRYPTO(name) decltype(&::name) name = nullptr;
    QH_CRYPTO_FUNCTIONS(QH_CRYPTO)
#undef QH_CRYPTO
};

// Null, with `error` set, when the library or one of its functions is missing.
const Libcrypto* libcrypto(QString* error)
{
    static const std::optional<Libcrypto> loaded = []() -> std::optional<Libcrypto> {
        void* handle = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return std::nullopt;
        Libcrypto l;
        bool all = true;
#define QH_CRYPTO(name) all = all && (l.name = reinterpret_cast<decltype(l.name)>(::dlsym(handle, #name))) != nullptr;
        QH_CRYPTO_FUNCTIONS(QH_CRYPTO)
#undef QH_CRYPTO
        if (!all)
            return std::nullopt;
        return l;
    }();
    if (!loaded && error)
        *error = QStringLiteral("OpenSSL 3's libcrypto.so.3, which signs the package, could not be loaded");
    return loaded ? &*loaded : nullptr;
}

} // namespace

QString extensionId(const QByteArray& publicKeyDer)
{
    QString id;
    for (const char c : idBytes(publicKeyDer).toHex())
        id.append(QChar(u'a' + (c <= '9' ? c - '0' : c - 'a' + 10)));
    return id;
}

QByteArray signedPayload(const QByteArray& publicKeyDer, const QByteArray& archive)
{
    const QByteArray data = signedHeaderData(publicKeyDer);
    QByteArray payload("CRX3 SignedData", 16); // with its terminating zero
    appendLittleEndian(payload, quint32(data.size()));
    payload.append(data);
    payload.append(archive);
    return payload;
}

QByteArray assemble(const QByteArray& publicKeyDer, const QByteArray& signature, const QByteArray& archive)
{
    QByteArray proof;
    appendField(proof, 1, publicKeyDer);
    appendField(proof, 2, signature);
    QByteArray header;
    appendField(header, 2, proof); // CrxFileHeader.sha256_with_rsa
    appendField(header, signedHeaderDataField, signedHeaderData(publicKeyDer));

    QByteArray out("Cr24");
    appendLittleEndian(out, 3);
    appendLittleEndian(out, quint32(header.size()));
    out.append(header);
    out.append(archive);
    return out;
}

// Made only once libcrypto is loaded.
struct SigningKey::Key {
    const Libcrypto& crypto;
    EVP_PKEY* pkey = nullptr;
    explicit Key(const Libcrypto& c) : crypto(c) {}
    ~Key() { crypto.EVP_PKEY_free(pkey); }
};

SigningKey::SigningKey(std::unique_ptr<Key> key) : m_key(std::move(key)) {}
SigningKey::~SigningKey() = default;
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;

std::unique_ptr<SigningKey> SigningKey::fromPem(const QByteArray& pem, QString* error)
{
    const Libcrypto* c = libcrypto(error);
    if (!c)
        return nullptr;
    BIO* bio = c->BIO_new_mem_buf(pem.constData(), int(pem.size()));
    auto key = std::make_unique<Key>(*c);
    // An empty passphrase, so that a protected key is refused instead of prompting on a terminal.
    key->pkey = bio ? c->PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>("")) : nullptr;
    c->BIO_free(bio);
    if (!key->pkey || c->EVP_PKEY_get_base_id(key->pkey) != EVP_PKEY_RSA) {
        if (error)
            *error = QStringLiteral("not an RSA private key in PEM form");
        return nullptr;
    }
    return std::unique_ptr<SigningKey>(new SigningKey(std::move(key)));
}

std::unique_ptr<SigningKey> SigningKey::loadOrCreate(const QString& path, QString* error)
{
    const auto fail = [&](const QString& why) -> std::unique_ptr<SigningKey> {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return nullptr;
    };
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return fail(QStringLiteral("not a regular file"));
        if (st.st_mode & (S_IRWXG | S_IRWXO))
            return fail(QStringLiteral("others can read or change this key, so it may have leaked; "
                                       "remove it to have a new one made, or make it mode 0600"));
        if (st.st_uid != ::geteuid())
            return fail(QStringLiteral("the key belongs to another user"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(file.errorString());
        QString why;
        auto key = fromPem(file.read(64 * 1024), &why);
        return key ? std::move(key) : fail(why);
    }
    if (errno != ENOENT)
        return fail(QString::fromLocal8Bit(strerror(errno)));

    QString missing;
    const Libcrypto* c = libcrypto(&missing);
    if (!c)
        return fail(missing);
    auto key = std::make_unique<Key>(*c);
    key->pkey = c->EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(2048));
    if (!key->pkey)
        return fail(QStringLiteral("could not make a key"));
    BIO* bio = c->BIO_new(c->BIO_s_mem());
    QByteArray pem;
    if (bio && c->PEM_write_bio_PrivateKey(bio, key->pkey, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
        char* data = nullptr;
        const long size = c->BIO_ctrl(bio, BIO_CTRL_INFO, 0, &data);
        pem = QByteArray(data, qsizetype(size));
    }
    c->BIO_free(bio);
    if (pem.isEmpty())
        return fail(QStringLiteral("could not write the key"));
    QString why;
    // Owner-only, as the key must stay.
    if (!FileSafety::writeAtomically(path, pem, &why))
        return fail(why);
    return std::unique_ptr<SigningKey>(new SigningKey(std::move(key)));
}

QByteArray SigningKey::publicKeyDer() const
{
    unsigned char* der = nullptr;
    const Libcrypto& c = m_key->crypto;
    const int size = c.i2d_PUBKEY(m_key->pkey, &der);
    if (size <= 0)
        return {};
    QByteArray out(reinterpret_cast<const char*>(der), size);
    c.CRYPTO_free(der, __FILE__, __LINE__);
    return out;
}

QByteArray SigningKey::sign(const QByteArray& bytes) const
{
    const Libcrypto& c = m_key->crypto;
    EVP_MD_CTX* ctx = c.EVP_MD_CTX_new();
    QByteArray signature;
    size_t size = 0;
    if (ctx && c.EVP_DigestSignInit(ctx, nullptr, c.EVP_sha256(), nullptr, m_key->pkey) == 1 &&
        c.EVP_DigestSign(ctx, nullptr, &size, nullptr, 0) == 1) {
        signature.resize(qsizetype(size));
        if (c.EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(signature.data()), &size,
                             reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size())) == 1)
            signature.resize(qsizetype(size));
        else
            signature.clear();
    }
    c.EVP_MD_CTX_free(ctx);
    return signature;
}

QByteArray pack(const SigningKey& key, const QByteArray& archive)
{
    const QByteArray publicKey = key.publicKeyDer();
    const QByteArray signature = publicKey.isEmpty() ? QByteArray() : key.sign(signedPayload(publicKey, archive));
    return signature.isEmpty() ? QByteArray() : assemble(publicKey, signature, archive);
}

} // namespace Crx3
